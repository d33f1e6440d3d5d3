#include "market/option_page.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "market/page_scan.h"
#include "scan/scan_parts.h"

namespace quillon {
namespace {

const std::vector<std::string> kValues = {"2 1/2", "1/8", "2 3/8", "2 5/8", "120", "4500"};

// One option row as the quote service sends it: the description with the
// symbol after " (.", then one cell per line for each value.
std::string Row(const std::string& symbol, const std::vector<std::string>& values = kValues) {
    std::string row =
        "<tr><td><a href=\"/q?s=" + symbol + "\">Dec 45.00 (." + symbol + ")</a></td>\r\n";
    for (const std::string& value : values)
        row += "<td align=right>" + value + "</td>\r\n";
    return row;
}

class OptionPageTest : public ::testing::Test {
  protected:
    // A stock at 47.3 on Tuesday 1 December 2026: strikes 35 to 55 (G H I J
    // K), call months L A B, put months X M N.
    void Begin(const std::string& ticker) {
        context.quote.Ticker = ticker;
        ResetQuote(context.quote);
        BuildExpirationCalendar(context.calendar, clock.Now());
        SelectStrikes(context.strikes, 47.3f);
    }

    // Parses `page` as the scan driver hands it over: upper case, no tags.
    bool Parse(std::string page) {
        for (char& c : page) {
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        }
        context.quote.PageText = StripTags(page);
        return ParseOptionPage(context);
    }

    // The stored symbols in chain order, joined by ",".
    std::string Stored() const {
        std::string symbols;
        for (const auto& strikes : context.quote.Chain.OptSymbol) {
            for (const auto& months : strikes) {
                for (const std::string& symbol : months) {
                    if (symbol.empty()) continue;
                    symbols += (symbols.empty() ? "" : ",") + symbol;
                }
            }
        }
        return symbols;
    }

    FixedClock clock{DateTime{2026, 12, 1, 9, 5}};
    ScriptedMessages messages;
    SilentBeeper beeper;
    Context context{clock, messages, beeper};
    QuoteRecord& q = context.quote.Quote;
    OptionChain& chain = context.quote.Chain;
};

TEST_F(OptionPageTest, StoresRowsAtTheirTypeStrikeAndMonth) {
    Begin("IBM");
    ASSERT_TRUE(
        Parse("HTTP/1.0 200 OK\r\n\r\n<html><h2>International Business Machines (IBM) "
              "Options</h2>\r\n<table>\r\n" +
              Row("IBMLI") + Row("IBMMJ", {"4", "0", "3 7/8", "4 1/8", "0", "17"}) + Row("IBMBG") +
              "</table>Data delayed 20 minutes\r\n"));
    EXPECT_EQ(Stored(), "IBMBG,IBMLI,IBMMJ");
    EXPECT_EQ(chain.OptSymbol[0][2][0], "IBMLI");
    EXPECT_FLOAT_EQ(chain.OptLast[0][2][0], 2.5f);
    EXPECT_FLOAT_EQ(chain.OptColumn2[0][2][0], 0.125f);
    EXPECT_FLOAT_EQ(chain.OptBid[0][2][0], 2.375f);
    EXPECT_FLOAT_EQ(chain.OptAsk[0][2][0], 2.625f);
    EXPECT_FLOAT_EQ(chain.OptVolume[0][2][0], 120);
    EXPECT_FLOAT_EQ(chain.OptOpenInterest[0][2][0], 4500);
    EXPECT_EQ(chain.OptSymbol[0][0][2], "IBMBG");
    EXPECT_EQ(chain.OptSymbol[1][3][1], "IBMMJ");
    EXPECT_FLOAT_EQ(chain.OptBid[1][3][1], 3.875f);
    EXPECT_FLOAT_EQ(chain.OptOpenInterest[1][3][1], 17);
    EXPECT_FLOAT_EQ(chain.OptLast[0][1][0], -1);
    EXPECT_EQ(q.OptionRoot, "IBM");
    EXPECT_EQ(q.CompanyName, "INTERNATIONAL BUSINESS MACHINES ");
    EXPECT_EQ(context.quote.PageText, "DATA DELAYED 20 MINUTES\r\n");
    EXPECT_EQ(context.quote.ScanPos, 1);
}

TEST_F(OptionPageTest, AcceptsRowsOfTheStocksRootMonthsAndStrikesOnly) {
    struct Case {
        std::string ticker;
        std::vector<std::string> symbols;
        bool result;
        std::string root;
        std::string stored;
    };
    const Case cases[] = {
        {"GE", {"GE LI"}, true, "GE", "GE LI"},
        {"GE", {"GELI)"}, false, "GE", ""},  // two-letter root without its blank
        {"IBM", {"IBKLI", "IBMLI"}, true, "IBM", "IBMLI"},
        {"MSFT", {"MSQLI", "MSFMH"}, true, "MSQ", "MSQLI,MSFMH"},
        {"IBM", {"IBMCI", "IBMLA", "IBMLY"}, false, "IBM", ""},
        {"ABCD", {"IBXLI", "IXMLI", "ABCLI"}, true, "ABC", "ABCLI"},
        {"ABCD", {}, false, "", ""},
    };
    for (const Case& c : cases) {
        Begin(c.ticker);
        std::string page = "<h2>Options</h2>\r\n";
        for (const std::string& symbol : c.symbols)
            page += Row(symbol);
        EXPECT_EQ(Parse(page + "End\r\n"), c.result) << c.ticker << " " << c.stored;
        EXPECT_EQ(q.OptionRoot, c.root) << c.ticker << " " << c.stored;
        EXPECT_EQ(Stored(), c.stored) << c.ticker;
    }
}

TEST_F(OptionPageTest, LaterRowForTheSameSlotWins) {
    Begin("IBM");
    ASSERT_TRUE(Parse(Row("IBMLI") + Row("IBMLI", {"3", "0", "2", "4", "9", "8"}) + "End"));
    EXPECT_FLOAT_EQ(chain.OptLast[0][2][0], 3);
    EXPECT_FLOAT_EQ(chain.OptOpenInterest[0][2][0], 8);
}

TEST_F(OptionPageTest, RowAtTheEndOfThePageIsStoredButDoesNotCount) {
    Begin("IBM");
    EXPECT_FALSE(Parse(Row("IBMLI")));
    EXPECT_FLOAT_EQ(chain.OptOpenInterest[0][2][0], 4500);

    Begin("IBM");
    EXPECT_TRUE(Parse(Row("IBMAI") + Row("IBMLI")));
    EXPECT_FLOAT_EQ(chain.OptOpenInterest[0][2][0], 4500);

    Begin("IBM");
    EXPECT_FALSE(Parse(Row("IBMLI", {"2", "0", "1 7/8"})));
    EXPECT_FLOAT_EQ(chain.OptBid[0][2][0], 1.875f);
    EXPECT_FLOAT_EQ(chain.OptAsk[0][2][0], -1);
}

TEST_F(OptionPageTest, SymbolNotFoundChangesNothing) {
    Begin("IBM");
    EXPECT_FALSE(Parse("Symbol_Not_Found\r\nIBM Corp (IBM)\r\n" + Row("IBMLI") + "End"));
    EXPECT_EQ(q.OptionRoot, "");
    EXPECT_EQ(q.CompanyName, "");
    EXPECT_EQ(Stored(), "");
}

TEST_F(OptionPageTest, CompanyNameFromThePageOnlyWhenTheStockPageGaveNone) {
    Begin("IBM");
    q.CompanyName = "ACME";
    EXPECT_FALSE(Parse("Big Blue (IBM)\r\n"));
    EXPECT_EQ(q.CompanyName, "ACME");

    Begin("IBM");
    EXPECT_FALSE(Parse("Big Blue (IBM)\r\n"));
    EXPECT_EQ(q.CompanyName, "BIG BLUE ");
}

}  // namespace
}  // namespace quillon
