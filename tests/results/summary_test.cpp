#include "results/summary.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "analytics/calendar.h"
#include "analytics/zor.h"
#include "market/quote.h"
#include "platform/clock.h"
#include "results/report.h"

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

// The ZOR totals a saved symbol's block prints in Results.txt, each stock taken
// the way a scan takes it: reset, chain filled, ZOR computed, block rendered
// and appended. The option products are added to each total in double and the
// sum stored back to 32 bits after every option; a total kept in 32-bit float
// arithmetic throughout ends a little off (1255634, 2999994) and prints so.
TEST(ResultsZorTotals, AreSummedInDoubleBeforeEachStore) {
    // Last prices of a 50.00 stock on 1 December 2026 (strikes 45, 50, 55;
    // December and January), slots [strike 1..3][month 0..1].
    const float callPrices[3][2] = {{5.5f, 6.25f}, {1.75f, 2.875f}, {0.375f, 0.9375f}};
    const float putPrices[3][2] = {{0.4375f, 1.0625f}, {1.5f, 2.4375f}, {5.25f, 5.875f}};
    struct Stock {
        const char* ticker;
        std::array<float, 6> callVolumes;  // strike 1 month 0, strike 1 month 1, ...
        std::array<float, 6> putVolumes;
        const char* totals;  // the "Ttl ZORC." line
    };
    const Stock stocks[] = {
        {"QLA",
         {2509, 4509, 8704, 6112, 9049, 233},
         {},
         "Ttl ZORC. 1255633     Ttl ZORP. n/a         ZORC/ZORP n/a       "},
        {"QLB",
         {2509, 4509, 8704, 6112, 9049, 233},
         {7356, 7206, 3245, 9159, 4353, 41819},
         "Ttl ZORC. 1255633     Ttl ZORP. 2999993     ZORP/ZORC 2.389"},
        {"QLC",
         {},
         {7356, 7206, 3245, 9159, 4353, 41819},
         "Ttl ZORC. n/a         Ttl ZORP. 2999993     ZORC/ZORP n/a       "},
    };

    const DateTime today{2026, 12, 1, 16, 30};
    ExpirationCalendar calendar;
    BuildExpirationCalendar(calendar, today);
    StrikeTable strikes;
    QuoteState state;
    std::string results;
    for (const Stock& stock : stocks) {
        ResetQuote(state);
        state.Ticker = stock.ticker;
        state.Quote.OptionRoot = stock.ticker;
        state.Quote.LastSale = 50;
        SelectStrikes(strikes, 50);
        OptionChain& chain = state.Chain;
        for (int strike = 1; strike <= 3; ++strike) {
            for (int month = 0; month <= 1; ++month) {
                const auto s = static_cast<std::size_t>(strike - 1);
                const auto m = static_cast<std::size_t>(month);
                chain.OptLast[0][strike][month] = callPrices[s][m];
                chain.OptVolume[0][strike][month] = stock.callVolumes[s * 2 + m];
                chain.OptLast[1][strike][month] = putPrices[s][m];
                chain.OptVolume[1][strike][month] = stock.putVolumes[s * 2 + m];
            }
        }
        ComputeZOR(state.Quote, chain,
                   ZorInputs{.Calendar = calendar,
                             .Strikes = strikes,
                             .InterestRate = 0.05f,
                             .DeriveZorFrom = 0});
        AppendResults(results, RenderReport(ReportView{.Quote = state,
                                                       .Calendar = calendar,
                                                       .Strikes = strikes,
                                                       .ProcessCount = 1,
                                                       .SymbolIndex = 1,
                                                       .SymbolCount = 3,
                                                       .InterestRate = 0.05f,
                                                       .DeriveZorFrom = 0,
                                                       .Trend = Verdict::Saved,
                                                       .WrittenAt = today}));
    }

    std::vector<std::string> printed;
    for (std::size_t at = results.find("Ttl ZORC."); at != std::string::npos;
         at = results.find("Ttl ZORC.", at + 1)) {
        printed.push_back(results.substr(at, results.find("\r\n", at) - at));
    }
    ASSERT_EQ(printed.size(), std::size(stocks));
    for (std::size_t i = 0; i < printed.size(); ++i)
        EXPECT_EQ(printed[i], stocks[i].totals) << stocks[i].ticker;
}

}  // namespace
}  // namespace quillon
