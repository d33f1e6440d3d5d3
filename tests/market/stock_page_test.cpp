#include "market/stock_page.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "market/page_scan.h"
#include "scan/scan_parts.h"
#include "tests/support/crlf_lines.h"

namespace quillon {
namespace {

using testing::Lines;

// What the scan driver makes of a received page: ASCII letters upper-cased,
// then the tags stripped.
std::string Received(const std::string& page) {
    std::string upper = page;
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return StripTags(upper);
}

// A stock page as the quote service sends it: status line and headers, then
// the labels and values in table cells on lines of their own.
const std::string kQuotePage = Lines({
    "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n",
    "<html><head><title>Quote</title></head><body bgcolor=\"#FFFFFF\">",
    "<a href=\"/edgar?s=ibm\">SEC Filings</a> | <a href=\"/t?s=ibm\">Trade</a>",
    "<td class=\"name\"><b>International Business Machines Corporation</b></td>",
    "<table border=0 cellpadding=2>",
    "<tr><td>Last Sale</td>\r\n<td align=right>124 5/8</td></tr>",
    "<tr><td>Tick</td>\r\n<td>Up</td></tr>",
    "<tr><td>Net Change</td>\r\n<td><font color=red>- 2 1/16</font></td></tr>",
    "<tr><td>Percent Change</td>\r\n<td>-1.63%</td></tr>",
    "<tr><td>Exchange</td>\r\n<td>NYSE</td></tr>",
    "<tr><td>Time of Last Sale</td>\r\n<td>16:01</td></tr>",
    "<tr><td>Bid</td>\r\n<td>124 1/2</td>\r\n<td>Size Bid/Ask</td>\r\n<td>5x10</td>",
    "\t<td>Ask</td>\r\n<td>124 3/4</td></tr>",
    "<tr><td>Open</td>\r\n<td>126</td><td>High</td>\r\n<td>126 1/2</td><td>Low</td>",
    "<td>124</td></tr>",
    "<tr><td>Volume</td>\r\n<td>4512300</td></tr>",
    "<tr><td>Previous Close</td>\r\n<td>126 11/16</td></tr>",
    "<tr><td>52 Week High</td>\r\n<td>140 1/4</td></tr>",
    "<tr><td>52 Week Low</td>\r\n<td>90 1/8</td></tr>",
    "<tr><td>Volatility</td>\r\n<td>23.5</td></tr>",
    "<tr><td>Ex-Dividend Date</td>\r\n<td>Feb 08</td></tr>",
    "<tr><td>Indicated Annual Dividend</td>\r\n<td>.60</td></tr>",
    "<tr><td>EPS</td>\r\n<td>5.25</td><td>P/E</td>\r\n<td>23.7</td></tr>",
    "<tr><td>Yield</td>\r\n<td>0.48</td></tr>",
    "<tr><td>Shares Outstanding</td>\r\n<td>172500</td></tr>",
    "</table></body></html>",
});

class StockPageTest : public ::testing::Test {
  protected:
    bool Parse(const std::string& page) {
        context.quote.PageText = Received(page);
        return ParseStockPage(context);
    }
    // A page of label and value lines after the company name's links.
    bool ParseFields(const std::vector<std::string>& lines) {
        return Parse(Lines({"SEC Filings", "Trade", "Name Inc"}) + Lines(lines));
    }

    FixedClock clock{DateTime{2026, 12, 1, 9, 5}};
    ScriptedMessages messages;
    SilentBeeper beeper;
    Context context{clock, messages, beeper};
    QuoteRecord& q = context.quote.Quote;
};

TEST_F(StockPageTest, ReadsEveryFieldOfAQuotePage) {
    ASSERT_TRUE(Parse(kQuotePage));
    EXPECT_EQ(q.CompanyName, "INTERNATIONAL BUSINESS MACHINES CORP");
    EXPECT_FLOAT_EQ(q.LastSale, 124.625f);
    EXPECT_EQ(q.LastTick, "UP");
    EXPECT_FLOAT_EQ(q.NetChange, -2.0625f);
    EXPECT_FLOAT_EQ(q.PercentChange, -1.63f);
    EXPECT_EQ(q.Exchange, "NYSE");
    EXPECT_EQ(q.SaleTime, "16:01");
    EXPECT_FLOAT_EQ(q.Bid, 124.5f);
    EXPECT_EQ(q.BidAskSize, "5X10");
    EXPECT_FLOAT_EQ(q.Ask, 124.75f);
    EXPECT_FLOAT_EQ(q.OpenPrice, 126);
    EXPECT_FLOAT_EQ(q.HighPrice, 126.5f);
    EXPECT_FLOAT_EQ(q.LowPrice, 124);
    EXPECT_EQ(q.Volume, 4512300);
    EXPECT_FLOAT_EQ(q.PreviousClose, 126.6875f);
    EXPECT_FLOAT_EQ(q.High52Week, 140.25f);
    EXPECT_FLOAT_EQ(q.Low52Week, 90.125f);
    EXPECT_FLOAT_EQ(q.HistVolatility, 23.5f);
    EXPECT_EQ(q.ExDividendDate, "FEB 08");
    EXPECT_FLOAT_EQ(q.Dividend, 0.6f);
    EXPECT_FLOAT_EQ(q.EarningsPerShare, 5.25f);
    EXPECT_FLOAT_EQ(q.PriceEarnings, static_cast<float>(124.625 / 5.25));
    EXPECT_FLOAT_EQ(q.YieldPercent, 0.48f);
    EXPECT_EQ(q.SharesOutstanding, 172500000);
    EXPECT_EQ(context.strikes.StrikeLetters, (std::array<char, 5>{'C', 'D', 'E', 'F', 'G'}));
    // Cut after the 36 characters of the name; the cursor after the last value.
    EXPECT_TRUE(context.quote.PageText.starts_with("ORATION\r\n"));
    EXPECT_EQ(context.quote.PageText.substr(context.quote.ScanPos - 1), "\r\n\r\n");
}

TEST_F(StockPageTest, KeepsOnlyCompanyNamesThatDoNotBeginWithADigit) {
    struct Case {
        std::string links;
        std::string name;
    };
    const Case cases[] = {
        {"SEC Filings\r\nTrade\r\n3Com Corp\r\n", "3COM CORP"},
        {"SEC Filings\r\nTrade\r\n1-800 Contacts\r\n", ""},
        {"SEC Filings\r\nTrade\r\n&nbsp;\r\n", ""},
        {"Trade\r\nAcme Widgets\r\n", ""},        // no name without SEC FILINGS
        {"SEC Filings\r\nAcme Widgets\r\n", ""},  // nor without TRADE
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(Parse(c.links + "Last Sale\r\n10\r\n")) << c.links;
        EXPECT_EQ(q.CompanyName, c.name) << c.links;
    }
}

TEST_F(StockPageTest, PageThatSaysPleaseTryAgainGivesAResetQuote) {
    q.CompanyName = "OLD";
    EXPECT_FALSE(Parse(kQuotePage + "Please try again later.\r\n"));
    EXPECT_EQ(q.CompanyName, "");
    EXPECT_EQ(q.LastSale, 0);
}

TEST_F(StockPageTest, ValueOnTheKeywordsOwnLineIsNotRead) {
    EXPECT_FALSE(Parse("Last Sale 12\r\n"));
    EXPECT_EQ(q.LastSale, 0);
    EXPECT_TRUE(Parse("Last Sale: 12\r\n13 1/4\r\n"));
    EXPECT_FLOAT_EQ(q.LastSale, 13.25f);
}

TEST_F(StockPageTest, WithoutSecFilingsTheWholePageIsSearched) {
    const std::string page = Received("HTTP/1.0 200 OK\r\nX-Open:\r\n7\r\nLast Sale\r\n10\r\n");
    context.quote.PageText = page;
    EXPECT_TRUE(ParseStockPage(context));
    EXPECT_FLOAT_EQ(q.OpenPrice, 7);  // found in the headers
    EXPECT_EQ(context.quote.PageText, page);
}

TEST_F(StockPageTest, PriceEarningsFollowsFromPriceAndEarnings) {
    struct Case {
        std::string last;
        std::string eps;
        float pe;
    };
    const Case cases[] = {
        {"100", "0.0005", 100000}, {"100", "0", 100000},    {"100", "N/A", 100000},
        {"100", ".002", 50000},    {"500", ".002", 100000}, {"50", "-2.5", -20},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(ParseFields({"Last Sale", c.last, "EPS", c.eps, "P/E", "12"}));
        EXPECT_FLOAT_EQ(q.PriceEarnings, c.pe) << c.last << " / " << c.eps;
    }
}

TEST_F(StockPageTest, ThousandsCommasAndLargeVolumes) {
    ASSERT_TRUE(
        ParseFields({"Last Sale", "10", "Volume", "1,234,500", "Shares Outstanding", "250,000"}));
    EXPECT_EQ(q.Volume, 1);
    EXPECT_EQ(q.SharesOutstanding, 250000);
    ASSERT_TRUE(ParseFields({"Last Sale", "10", "Volume", "3000000000"}));
    EXPECT_EQ(q.Volume, 3000000000.0L);  // not negative past 2^31
}

TEST_F(StockPageTest, DividendAmountOnlyWithoutIndicatedDividend) {
    ASSERT_TRUE(ParseFields(
        {"Last Sale", "10", "Dividend Amount", "1", "Indicated Annual Dividend", ".5"}));
    EXPECT_FLOAT_EQ(q.Dividend, 0.5f);
    ASSERT_TRUE(ParseFields({"Last Sale", "10", "Dividend Amount", "1"}));
    EXPECT_FLOAT_EQ(q.Dividend, 1);
}

}  // namespace
}  // namespace quillon
