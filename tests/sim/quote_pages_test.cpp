// The demo service's pages read back through the scanner's own page parsers
// into the quote the synthetic market describes.
#include "sim/quote_pages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>

#include "market/option_page.h"
#include "market/page_scan.h"
#include "market/stock_page.h"
#include "scan/scan_parts.h"

namespace quillon::sim {
namespace {

constexpr DateTime kToday{2026, 12, 1, 10, 0, 0};

// What the scanner parses: the whole response, upper-cased, tags stripped.
std::string Received(const std::string& response) {
    std::string upper = response;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return StripTags(upper);
}

class QuotePagesTest : public ::testing::Test {
  protected:
    // Parses the two pages as a server scan does; the parsers' results.
    std::pair<bool, bool> Parse(const std::string& stockPage, const std::string& optionPage,
                                const std::string& ticker) {
        QuoteState& q = parsed.quote;
        q.Ticker = ticker;
        q.PageText = Received(stockPage);
        q.ScanPos = 1;
        const bool stock = ParseStockPage(parsed);
        q.PageText = Received(optionPage);
        q.ScanPos = 1;
        return {stock, ParseOptionPage(parsed)};
    }

    FixedClock clock{kToday};
    ScriptedMessages messages;
    CountingBeeper beeper;
    Context parsed{clock, messages, beeper};
    Context expected{clock, messages, beeper};
    const Market market{1, kToday};
};

bool Near(double a, double b) {
    return std::fabs(a - b) <= 1e-4 * std::max(1.0, std::fabs(b));
}

constexpr std::string QuoteRecord::*kTexts[] = {
    &QuoteRecord::CompanyName,   &QuoteRecord::OptionRoot, &QuoteRecord::LastTick,
    &QuoteRecord::Exchange,      &QuoteRecord::SaleTime,   &QuoteRecord::BidAskSize,
    &QuoteRecord::ExDividendDate};
constexpr float QuoteRecord::*kFigures[] = {
    &QuoteRecord::LastSale,      &QuoteRecord::OpenPrice,
    &QuoteRecord::HighPrice,     &QuoteRecord::LowPrice,
    &QuoteRecord::Bid,           &QuoteRecord::Ask,
    &QuoteRecord::NetChange,     &QuoteRecord::PercentChange,
    &QuoteRecord::PreviousClose, &QuoteRecord::High52Week,
    &QuoteRecord::Low52Week,     &QuoteRecord::HistVolatility,
    &QuoteRecord::Dividend,      &QuoteRecord::EarningsPerShare,
    &QuoteRecord::PriceEarnings, &QuoteRecord::YieldPercent};
constexpr ChainArray<float> OptionChain::*kOptionFigures[] = {
    &OptionChain::OptLast, &OptionChain::OptColumn2, &OptionChain::OptBid,
    &OptionChain::OptAsk,  &OptionChain::OptVolume,  &OptionChain::OptOpenInterest};

void ExpectSameQuote(const QuoteRecord& got, const QuoteRecord& want) {
    for (auto text : kTexts)
        EXPECT_EQ(got.*text, want.*text);
    for (auto figure : kFigures)
        EXPECT_TRUE(Near(got.*figure, want.*figure)) << got.*figure << " for " << want.*figure;
    EXPECT_EQ(got.Volume, want.Volume);
    EXPECT_EQ(got.SharesOutstanding, want.SharesOutstanding);
}

// The chain as parsed against the chain the market describes. A figure
// without a value (-1) is written "N/A" or "&nbsp;", which reads as 0; so
// does the change of an option that has not traded.
void ExpectSameChain(const OptionChain& got, const OptionChain& want) {
    for (int t = 0; t < kOptionTypes; ++t) {
        for (int s = 0; s < kStrikeSlots; ++s) {
            for (int m = 0; m < kMonthSlots; ++m) {
                ASSERT_EQ(got.OptSymbol[t][s][m], want.OptSymbol[t][s][m]) << t << s << m;
                if (want.OptSymbol[t][s][m].empty()) continue;
                const bool traded = want.OptLast[t][s][m] != -1;
                for (auto figure : kOptionFigures) {
                    float shown = (want.*figure)[t][s][m];
                    if (figure == &OptionChain::OptColumn2 ? !traded : shown == -1) shown = 0;
                    EXPECT_TRUE(Near((got.*figure)[t][s][m], shown)) << t << s << m;
                }
            }
        }
    }
}

// Every stock of the market, its quote and its near options, in all the
// page's forms: fractions and decimals, "N/A" and "&nbsp;", short roots.
TEST_F(QuotePagesTest, EveryStockReadsBackAsTheMarketDescribesIt) {
    int fractions = 0, withoutValue = 0, shortRoots = 0;
    for (const std::string& ticker : market.Universe()) {
        const SimStock stock = *market.Stock(ticker);
        const std::vector<SimOption> options = market.Options(stock);
        const std::string stockPage = StockPage(stock);
        const std::string optionPage =
            options.empty() ? NoOptionsPage(ticker) : OptionPage(stock, options);
        const auto [haveStock, haveOptions] = Parse(stockPage, optionPage, ticker);
        FillQuoteState(stock, options, expected);

        EXPECT_TRUE(haveStock) << ticker;
        EXPECT_EQ(haveOptions, expected.quote.HaveOptionData) << ticker;
        SCOPED_TRACE(ticker);
        ExpectSameQuote(parsed.quote.Quote, expected.quote.Quote);
        ExpectSameChain(parsed.quote.Chain, expected.quote.Chain);
        fractions += stock.QuotedInSixteenths && stockPage.find("/16<") != std::string::npos;
        withoutValue += optionPage.find(">N/A<") != std::string::npos &&
                        optionPage.find(">&nbsp;<") != std::string::npos;
        shortRoots += optionPage.find(" (.") != std::string::npos && stock.OptionRoot.size() < 3;
    }
    EXPECT_GT(fractions, 5);
    EXPECT_GT(withoutValue, 5);
    EXPECT_GT(shortRoots, 5);
}

// Megabytes of rows of further months ahead of the near rows lose none of
// them.
TEST_F(QuotePagesTest, PaddedOptionPageKeepsItsRows) {
    const SimStock stock = *market.Stock(market.Universe()[40]);
    const std::vector<SimOption> options = market.Options(stock);
    ASSERT_FALSE(options.empty());
    const std::string padded = OptionPage(stock, options, 4u << 20);
    EXPECT_GE(padded.size(), 4u << 20);
    EXPECT_GT(padded.find(" (." + options.front().Symbol + ")"), 1u << 20);

    Parse(StockPage(stock), padded, stock.Ticker);
    FillQuoteState(stock, options, expected);
    ExpectSameChain(parsed.quote.Chain, expected.quote.Chain);
    EXPECT_EQ(parsed.quote.Quote.OptionRoot, expected.quote.Quote.OptionRoot);
}

// Without a name from the stock page the name before "(TICKER)" is taken.
TEST_F(QuotePagesTest, OptionPageNamesTheCompany) {
    const SimStock stock = *market.Stock("ALDA");
    SimStock nameless = stock;
    nameless.CompanyName.clear();
    EXPECT_EQ(Parse(StockPage(nameless), OptionPage(stock, market.Options(stock)), stock.Ticker),
              std::make_pair(true, true));
    EXPECT_EQ(parsed.quote.Quote.CompanyName, "ALDERBROOK AIRLINES INC ");
}

// The pages that are not quotes: status line, a correct length, and no
// stock or option data for the parsers.
TEST_F(QuotePagesTest, OtherAnswersAreNoQuotes) {
    const struct {
        std::string page;
        const char* status;
    } cases[] = {{UnknownSymbolPage("ZZZZ"), "HTTP/1.0 200 OK\r\n"},
                 {NoOptionsPage("ZZZZ"), "HTTP/1.0 200 OK\r\n"},
                 {RefusalPage(), "HTTP/1.0 401 Unauthorized\r\n"},
                 {BadRequestPage(), "HTTP/1.0 400 Bad Request\r\n"},
                 {NotFoundPage(), "HTTP/1.0 404 Not Found\r\n"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.page);
        EXPECT_TRUE(c.page.starts_with(c.status));
        const std::size_t body = c.page.find("\r\n\r\n") + 4;
        EXPECT_NE(c.page.find("Content-Length: " + std::to_string(c.page.size() - body) + "\r\n"),
                  std::string::npos);
        EXPECT_EQ(Parse(c.page, c.page, "ZZZZ"), std::make_pair(false, false));
    }
    EXPECT_NE(Received(UnknownSymbolPage("ZZZZ")).find("PLEASE TRY AGAIN"), std::string::npos);
    EXPECT_NE(Received(NoOptionsPage("ZZZZ")).find("SYMBOL_NOT_FOUND"), std::string::npos);
    // A symbol is shown as text, never as markup.
    EXPECT_EQ(UnknownSymbolPage("<B>").find("<B>"), std::string::npos);
}

}  // namespace
}  // namespace quillon::sim
