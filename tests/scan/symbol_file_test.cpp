#include "scan/symbol_file.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

using Symbols = std::vector<std::string>;

TEST(SymbolFile, CleansSortsAndDropsDuplicates) {
    struct Case {
        const char* name;
        std::string text;
        Symbols expected;
    };
    const Case cases[] = {
        {"case folding and duplicates", "msft\r\nMSFT\r\nMsft,Microsoft\r\n", {"MSFT"}},
        {"at most six characters", "ABCDEFGH\n", {"ABCDEF"}},
        {"run ends at a point", "BRK.A\n", {"BRK"}},
        {"leading blank or tab gives nothing", "  IBM\n\tINTC\nGE\n", {"GE"}},
        {"rest of the line ignored", "ibm, International Business Machines\n", {"IBM"}},
        {"digits before letters, prefix first",
         "IBMX\nIBM\nZ\n3COM\nA\n",
         {"3COM", "A", "IBM", "IBMX", "Z"}},
        {"empty lines and no final line end", "\n\r\n\nQQQ", {"QQQ"}},
        {"only non-symbol lines", "\n-\n .\n", {}},
        {"bytes above 127 end the run", "AB\xE9Z\n\xFFX\n", {"AB"}},
        {"NUL ends the run", std::string("AB\0C\n", 5), {"AB"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseSymbolText(c.text), c.expected) << c.name;
    }
}

TEST(SymbolFile, ProgressReadsTwoIntegersAndLeavesUnreadOnesZero) {
    struct Case {
        std::string text;
        int processCount;
        int symbolIndex;
    };
    const Case cases[] = {
        {"3 7", 3, 7},
        {"  12\r\n\t103  trailing", 12, 103},
        {"", 0, 0},
        {"5", 5, 0},
        {"x 7", 0, 0},
        {"4 y", 4, 0},
        {"4 7z", 4, 0},
        {"-2 -9", -2, -9},
        {"+3 +4", 3, 4},
        {"99999999999 1", 0, 0},
        {"1 99999999999", 1, 0},
    };
    for (const Case& c : cases) {
        ProgressPoint p = ParseProgress(c.text);
        EXPECT_EQ(p.ProcessCount, c.processCount) << '"' << c.text << '"';
        EXPECT_EQ(p.SymbolIndex, c.symbolIndex) << '"' << c.text << '"';
    }
}

}  // namespace
}  // namespace quillon
