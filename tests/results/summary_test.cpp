#include "results/summary.h"

#include <gtest/gtest.h>

#include <string>

#include "market/quote.h"

namespace quillon {
namespace {

const std::string kHeading =
    "\r\n"
    " Stock        ZORC:   Stock  % Price\r\n"
    " Symbol Root  ZORP    Price   Change Company Name\r\n"
    "------- ---- ------- ------- ------- ------------------------------------\r\n";

class Summary : public ::testing::Test {
  protected:
    Summary() {
        quote_.Ticker = "QLN";
        quote_.Quote.OptionRoot = "QLN";
        quote_.Quote.CompanyName = "Quillon Test Corp   ";
        quote_.Quote.LastSale = 47.3f;
        quote_.Quote.PercentChange = -1.725f;
    }

    void WriteSummaryLine(float zorc, float zorp) {
        quillon::WriteSummaryLine(SummaryView{.Quote = quote_, .ProcessCount = processCount_}, zorc,
                                  zorp, SummaryTexts{savedSym_, upSym_, downSym_});
    }

    void ClearPending() {
        savedSym_.clear();
        upSym_.clear();
        downSym_.clear();
    }

    QuoteState quote_;
    int processCount_ = 2;
    std::string savedSym_, upSym_, downSym_;
};

// The ratio field and the up or down list follow the two ZOR figures alone.
TEST_F(Summary, RatioFieldAndLists) {
    struct Case {
        float zorc, zorp;
        const char* ratio;
        const char* up;
        const char* down;
    };
    const Case cases[] = {
        {5000, 2000, "   2.50 ", "QLN\r\n", ""},
        {2000, 5000, "d  2.50 ", "", "QLN\r\n"},
        {20, 20, "   1.00 ", "QLN\r\n", ""},
        {5000, 0, "  n/a   ", "", ""},
        {0, 2000, "  n/a   ", "", ""},
        {-1, -1, "  n/a   ", "", ""},
        {123456, 1, " 123456.00 ", "QLN\r\n", ""},
    };
    for (const Case& c : cases) {
        ClearPending();
        WriteSummaryLine(c.zorc, c.zorp);
        const std::string line =
            std::string("QLN     QLN  ") + c.ratio + " $47.30   -1.73 Quillon Test Corp\r\n";
        EXPECT_EQ(savedSym_, line) << c.zorc << " / " << c.zorp;
        EXPECT_EQ(upSym_, c.up) << c.zorc << " / " << c.zorp;
        EXPECT_EQ(downSym_, c.down) << c.zorc << " / " << c.zorp;
    }
}

// The heading comes with the first saved symbol of a pass only; a pass resumed
// with symbols already saved adds none.
TEST_F(Summary, HeadingOncePerPass) {
    const std::string line = "QLN     QLN     2.50  $47.30   -1.73 Quillon Test Corp\r\n";
    for (int count = 1; count <= 3; ++count) {
        processCount_ = count;
        WriteSummaryLine(5000, 2000);
    }
    EXPECT_EQ(savedSym_, kHeading + line + line + line);

    ClearPending();
    processCount_ = 7;
    WriteSummaryLine(5000, 2000);
    EXPECT_EQ(savedSym_, line);
}

// Long tickers and roots widen the line; blanks inside the name stay, only the
// trailing ones go.
TEST_F(Summary, ColumnsAndCompanyName) {
    struct Case {
        const char* ticker;
        const char* root;
        const char* company;
        float last;
        const char* line;
    };
    const Case cases[] = {
        {"AB", "AB ", "  Two  Blanks ", 8.5f,
         "AB      AB      2.50   $8.50   -1.73   Two  Blanks\r\n"},
        {"LONGTICK", "LNGRT", "", 1234.5f, "LONGTICKLNGRT   2.50 $1,234.50   -1.73 \r\n"},
        {"X", "X", "   ", 0, "X       X       2.50   $0.00   -1.73 \r\n"},
        // The price is held as 2.6749999523; its text 2.675 rounds up to the cent.
        {"HALF", "HLF", "Half", 2.675f, "HALF    HLF     2.50   $2.68   -1.73 Half\r\n"},
    };
    for (const Case& c : cases) {
        ClearPending();
        quote_.Ticker = c.ticker;
        quote_.Quote.OptionRoot = c.root;
        quote_.Quote.CompanyName = c.company;
        quote_.Quote.LastSale = c.last;
        WriteSummaryLine(5000, 2000);
        EXPECT_EQ(savedSym_, c.line) << c.ticker;
    }
}

TEST_F(Summary, ResultsGetTheBlockAndAFormFeedLine) {
    std::string results;
    AppendResults(results, "first\r\n");
    AppendResults(results, "second\r\n");
    EXPECT_EQ(results, "first\r\n\f\r\nsecond\r\n\f\r\n");
}

}  // namespace
}  // namespace quillon
