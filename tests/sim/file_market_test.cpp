// The quote service's market read from CSV files: which files of a directory
// it takes, what it refuses, and its pages read back through the scanner's
// own page parsers into the figures the importer keeps for the same rows.
#include "sim/file_market.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <memory>

#include "market/page_scan.h"
#include "platform/base64.h"
#include "scan/scan_parts.h"
#include "sim/quote_pages.h"
#include "sim/quote_service.h"
#include "tests/support/temp_dir.h"

namespace quillon::sim {
namespace {

using testing::TempDir;

// Tuesday 8 December 2026: the expirations of December, January and
// February are Friday 18 December, 15 January and 19 February.
constexpr DateTime kToday{2026, 12, 8, 10, 0, 0};
constexpr CivilDay kDate{2026, 12, 8};

const char* const kStocks =
    "symbol,name,last,change,percentChange,bid,ask,open,high,low,previousClose,volume,"
    "52WeekHigh,52WeekLow,dividendRate,eps,dividendYield,sharesOutstanding,exchange,"
    "exDividendDate,historicalVolatility\r\n"
    // A name with a comma, a dividend and its date.
    "ACME,\"Acme, Robotics Corp\",47.3,0.85,1.83,47.28,47.33,46.6,47.55,46.41,46.45,3820400,"
    "58.12,31.07,0.48,2.15,1.01,412500000,NYSE,2026-11-14,31.4\r\n"
    // A name with a line break and a tab, a negative EPS, no exchange, no
    // dividend: the empty texts must stay empty on the page.
    "F,\"Ford\nMotor\tCo\",12.5,-0.1,-0.79,12.49,12.51,12.6,12.7,12.4,12.6,50123400,"
    "14.2,9.9,,-0.3,,3990000000,,,28.5\r\n"
    // Strikes above 100, no earnings, tag brackets in the exchange (dropped,
    // or they would hide the page up to the next tag from the scan).
    "GOOGL,Goog Holdings,152.6,-1.95,-1.26,152.55,152.68,154.2,154.88,151.9,154.55,1210300,"
    "171.4,120.25,2.4,0,1.57,98300000,NASDAQ <GS>,2026-10-30,24.8\r\n"
    // A stock without options, and no name.
    "NOOPT,,5.25,0,0,5.2,5.3,5.25,5.3,5.2,5.25,1000,6,4,,,,1000000,NYSE,,\r\n";

const char* const kChain =
    "contractSymbol,lastPrice,bid,ask,change,volume,openInterest\r\n"
    "ACME261218C00045000,2.61,2.53,2.7,-0.1,68,374\r\n"
    "ACME261218P00050000,3.05,2.95,3.15,0.2,120,980\r\n"
    "ACME270115C00040000,8.1,7.9,8.3,,15,2200\r\n"  // no change
    "ACME270219P00055000,,7.7,8.2,,,40\r\n"         // never traded
    "F     261218C00012500,0.35,0.34,0.36,0.05,4500,31000\r\n"
    "F270115P00010000,0.12,,0.14,-0.01,300,7000\r\n"  // no bid
    "GOOGL270115C00155000,6.4,6.3,6.5,-1.2,810,5400\r\n"
    "GOOGL261224C00155000,2.1,2,2.2,0.1,10,20\r\n";  // a weekly: left out

std::string Received(const std::string& response) {
    std::string upper = response;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return StripTags(upper);
}

std::string Upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

bool Near(double a, double b) {
    return std::fabs(a - b) <= 1e-4 * std::max(1.0, std::fabs(b));
}

class FileMarketTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir.Write("stocks.csv", kStocks);
        dir.Write("chain.csv", kChain);
        std::string error;
        market = FileMarket::Load({dir.File("stocks.csv"), {dir.File("chain.csv")}}, kDate, summary,
                                  error);
        ASSERT_TRUE(market) << error;
    }

    // The two pages of a ticker parsed as a server scan parses them.
    std::pair<bool, bool> ParsePages(const std::string& ticker) {
        const std::optional<SimStock> stock = market->Stock(ticker);
        if (!stock) return {false, false};
        const std::vector<SimOption> options = market->Options(*stock);
        QuoteState& q = parsed.quote;
        q.Ticker = ticker;
        q.PageText = Received(StockPage(*stock));
        q.ScanPos = 1;
        const bool haveStock = ParseStockPage(parsed);
        q.PageText =
            Received(options.empty() ? NoOptionsPage(ticker) : OptionPage(*stock, options));
        q.ScanPos = 1;
        return {haveStock, ParseOptionPage(parsed)};
    }

    TempDir dir;
    import::ImportSummary summary;
    std::unique_ptr<FileMarket> market;
    FixedClock clock{kToday};
    ScriptedMessages messages;
    CountingBeeper beeper;
    Context parsed{clock, messages, beeper};
};

// Each stock's pages give the scan the figures the importer keeps for its
// rows: the quote, and every kept option under the symbol the scan looks for.
// Texts arrive upper-cased; a figure without a value reads as 0, not -1.
TEST_F(FileMarketTest, PagesReadBackToTheImportedFigures) {
    struct Case {
        const char* ticker;
        const char* name;      // as the scan reads it
        const char* exchange;  // as the scan reads it
        int options;           // kept and served
    };
    const Case cases[] = {
        {"ACME", "ACME, ROBOTICS CORP", "NYSE", 4},
        {"F", "FORD MOTOR CO", "", 2},
        {"GOOGL", "GOOG HOLDINGS", "NASDAQ GS", 1},
        {"NOOPT", "", "NYSE", 0},
    };
    ASSERT_EQ(market->Book().Stocks().size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.ticker);
        const auto [haveStock, haveOptions] = ParsePages(c.ticker);
        QuoteState want;
        market->Book().FillQuoteState(market->Book().Stocks()[i], want);
        const QuoteRecord& got = parsed.quote.Quote;
        EXPECT_TRUE(haveStock);
        EXPECT_EQ(haveOptions, c.options > 0);
        EXPECT_EQ(got.CompanyName, c.name);
        EXPECT_EQ(got.Exchange, c.exchange);
        EXPECT_EQ(got.LastTick, "");
        EXPECT_EQ(got.SaleTime, "");
        EXPECT_EQ(got.BidAskSize, "");
        EXPECT_EQ(got.ExDividendDate, Upper(want.Quote.ExDividendDate));
        EXPECT_EQ(got.OptionRoot, want.Quote.OptionRoot);
        for (float QuoteRecord::*figure :
             {&QuoteRecord::LastSale, &QuoteRecord::OpenPrice, &QuoteRecord::HighPrice,
              &QuoteRecord::LowPrice, &QuoteRecord::Bid, &QuoteRecord::Ask, &QuoteRecord::NetChange,
              &QuoteRecord::PercentChange, &QuoteRecord::PreviousClose, &QuoteRecord::High52Week,
              &QuoteRecord::Low52Week, &QuoteRecord::HistVolatility, &QuoteRecord::Dividend,
              &QuoteRecord::EarningsPerShare, &QuoteRecord::PriceEarnings,
              &QuoteRecord::YieldPercent}) {
            EXPECT_TRUE(Near(got.*figure, want.Quote.*figure))
                << got.*figure << " for " << want.Quote.*figure;
        }
        EXPECT_EQ(got.Volume, want.Quote.Volume);
        EXPECT_EQ(got.SharesOutstanding, want.Quote.SharesOutstanding);

        int served = 0;
        const OptionChain& gc = parsed.quote.Chain;
        const OptionChain& wc = want.Chain;
        for (int t = 0; t < kOptionTypes; ++t) {
            for (int s = 0; s < kStrikeSlots; ++s) {
                for (int m = 0; m < kMonthSlots; ++m) {
                    ASSERT_EQ(gc.OptSymbol[t][s][m], wc.OptSymbol[t][s][m]) << t << s << m;
                    if (wc.OptSymbol[t][s][m].empty()) continue;
                    ++served;
                    for (auto figure : {&OptionChain::OptLast, &OptionChain::OptColumn2,
                                        &OptionChain::OptBid, &OptionChain::OptAsk,
                                        &OptionChain::OptVolume, &OptionChain::OptOpenInterest}) {
                        // A figure without a value (-1) is shown as "N/A" or
                        // "&nbsp;" and reads as 0; so does the change of an
                        // option that has not traded.
                        const bool traded = wc.OptLast[t][s][m] != -1;
                        float shown = (wc.*figure)[t][s][m];
                        if (figure == &OptionChain::OptColumn2 ? !traded : shown == -1) shown = 0;
                        EXPECT_TRUE(Near((gc.*figure)[t][s][m], shown))
                            << t << s << m << ": " << (gc.*figure)[t][s][m] << " for " << shown;
                    }
                }
            }
        }
        EXPECT_EQ(served, c.options);
    }
    EXPECT_FALSE(market->Stock("NONE"));
    EXPECT_EQ(summary.optionsKept, 7);
    EXPECT_EQ(summary.leftOut[static_cast<int>(import::LeftOut::NotMonthly)], 1);
}

// The service answers from whatever source it is given.
TEST_F(FileMarketTest, TheServiceServesTheFileMarket) {
    QuoteService service(std::move(market), "guest", "lantern4");
    const std::string auth = "Authorization: Basic " + EncodeBase64("guest:lantern4") + "\r\n\r\n";
    const std::string stock =
        service.Answer("GET /cgi-bin/getquote.dll?TICKER=acme\r\n" + auth, false);
    EXPECT_NE(stock.find("Acme, Robotics Corp"), std::string::npos) << stock;
    const std::string options =
        service.Answer("GET /cgi-bin/options.dll?TICKER=ACME\r\n" + auth, false);
    EXPECT_NE(options.find(" (.ACM"), std::string::npos) << options;
    EXPECT_NE(service.Answer("GET /cgi-bin/options.dll?TICKER=NOOPT\r\n" + auth, false)
                  .find("symbol_not_found"),
              std::string::npos);
    EXPECT_NE(service.Answer("GET /cgi-bin/getquote.dll?TICKER=ZZZ\r\n" + auth, false)
                  .find("Please try again"),
              std::string::npos);
}

// The files of a directory are told apart by their headers; a directory
// that does not hold exactly one stock file and some chain files is refused
// with a message that says why.
TEST(FindMarketFiles, TellsStockFilesFromChainFilesByTheirHeaders) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> files;
        std::string stocks;               // the stock file found, or empty
        std::vector<std::string> chains;  // the chain files found
        std::string error;                // a part of the message, when refused
    };
    const std::string stocks = "Symbol,Last Price\r\nACME,47.3\r\n";
    const std::string contracts = "contractSymbol,lastPrice\r\n";
    const std::string columns = "underlying,expiration,type,strike,last\r\n";
    const Case cases[] = {
        {"one of each form",
         {{"a.csv", stocks}, {"b.CSV", contracts}, {"c.csv", columns}},
         "a.csv",
         {"b.CSV", "c.csv"},
         ""},
        // A strike without the other separate columns is half-recognised:
        // refused, never read as contract symbols in the symbol column.
        {"a symbol column beside a strike",
         {{"s.csv", stocks}, {"opt.csv", "symbol,strike,last\r\n"}},
         "",
         {},
         "opt.csv: line 1: no column 'expiration', 'type'"},
        {"other files ignored",
         {{"s.csv", stocks}, {"o.csv", columns}, {"notes.txt", "x"}, {".hidden.csv", stocks}},
         "s.csv",
         {"o.csv"},
         ""},
        {"two stock files",
         {{"a.csv", stocks}, {"b.csv", stocks}, {"c.csv", columns}},
         "",
         {},
         "two stock-quote files"},
        {"no chain file", {{"a.csv", stocks}}, "", {}, "no option-chain file"},
        {"no stock file: the chains' prices serve", {{"c.csv", columns}}, "", {"c.csv"}, ""},
        {"an empty file", {{"a.csv", stocks}, {"e.csv", ""}}, "", {}, "e.csv: no header row"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        for (const auto& [name, text] : c.files)
            dir.Write(name, text);
        MarketFiles found;
        std::string error;
        const bool ok = FindMarketFiles(dir.Path(), found, error);
        ASSERT_EQ(ok, c.error.empty()) << error;
        if (!ok) {
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
            continue;
        }
        EXPECT_EQ(found.stocksFile, c.stocks.empty() ? "" : dir.File(c.stocks));
        std::vector<std::string> chains;
        for (const std::string& name : c.chains)
            chains.push_back(dir.File(name));
        EXPECT_EQ(found.chainFiles, chains);
    }
    MarketFiles found;
    std::string error;
    EXPECT_FALSE(FindMarketFiles("/nonexistent/quillon", found, error));
    EXPECT_NE(error.find("cannot read the directory"), std::string::npos) << error;
}

// Files that cannot be served are refused whole, naming the file and line.
TEST(FileMarketLoad, RefusesFilesItCannotServe) {
    struct Case {
        const char* what;
        std::string stocks, chain;
        std::string error;  // a part of the message
    };
    const std::string stocks = "symbol,last\r\nACME,47.3\r\n";
    const std::string chain = "contractSymbol,last\r\nACME261218C00045000,2.6\r\n";
    const Case cases[] = {
        {"no last price column", "symbol,name\r\nACME,Acme\r\n", chain,
         "stocks.csv: no header row among the first 40 lines"},
        {"no stock read", "symbol,last\r\nBAD.SYM,1\r\nZERO,0\r\n", chain,
         "no stock could be read (ACME: no stock quote"},
        {"a chain without a contract or the four columns", stocks, "last,bid\r\n1,2\r\n",
         "chain.csv: no header row"},
        {"a chain file that is a directory", stocks, "", "chain.csv"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        dir.Write("stocks.csv", c.stocks);
        if (c.chain.empty()) {
            std::filesystem::create_directory(dir.File("chain.csv"));
        } else {
            dir.Write("chain.csv", c.chain);
        }
        import::ImportSummary summary;
        std::string error;
        EXPECT_FALSE(FileMarket::Load({dir.File("stocks.csv"), {dir.File("chain.csv")}}, kDate,
                                      summary, error));
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
}

TEST_F(FileMarketTest, SummarySaysWhatIsServed) {
    const std::string text = ServedSummaryText(summary, "data");
    EXPECT_TRUE(text.starts_with("4 stocks and 7 options served from data\n")) << text;
    EXPECT_NE(text.find("not a standard monthly expiration: 1"), std::string::npos) << text;
    EXPECT_EQ(text.find("not archived"), std::string::npos) << text;
}

}  // namespace
}  // namespace quillon::sim
