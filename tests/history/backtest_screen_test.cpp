// The scan and the back-test judge with one function: a stock judged by the
// scan and recorded, then judged by the back-test from its recorded row (its
// IV rank from the rows before it), gets the same verdict and failed test.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "history/backtest.h"
#include "history/history_store.h"
#include "scan/context.h"
#include "scan/evaluation.h"
#include "scan/pass_recorder.h"
#include "tests/support/no_alarm.h"
#include "tests/support/temp_dir.h"

namespace quillon {
namespace {

using testing::NoAlarm;

using testing::TempDir;

constexpr HistoryDay kToday = 20261201;

class ScreenPathsTest : public ::testing::Test {
  public:
    void SetUp() override {
        context.files = WorkingFileNames::In(dir.Path());
        ASSERT_TRUE(store.Open(dir.File("History.db"))) << store.Error();
        BuildExpirationCalendar(context.calendar, clock.Now());
        // 25 earlier days: "LOW" had IV30 far below any today, "HIGH" far
        // above; "D18" and "D19" had 18 and 19 days, one short of the 20 that
        // IV rank needs with today and just enough.
        for (int d = 0; d < 25; ++d) {
            for (const auto& [symbol, iv] :
                 {std::pair{"LOW", 5.0 + d * 0.1}, std::pair{"HIGH", 200.0 + d},
                  std::pair{d < 18 ? "D18" : "", 30.0}, std::pair{d < 19 ? "D19" : "", 30.0}}) {
                if (symbol[0] == '\0') continue;
                HistoryRow row;
                row.Symbol = symbol;
                row.Day = 20261101 + d;
                row.PassId = 1;
                row.Last = 50;
                row.Iv30 = iv;
                ASSERT_TRUE(store.Record(row)) << store.Error();
            }
        }
    }

    // Last 50 in a 40 to 60 range, options priced so that IV30 today exists,
    // the totals of ZOR and open interest as given.
    void Quote(const std::string& ticker) {
        ResetQuote(context.quote);
        context.quote.Ticker = ticker;
        context.quote.HaveStockData = true;
        QuoteRecord& q = context.quote.Quote;
        q.LastSale = 50;
        q.Volume = 1'000'000;
        q.PriceEarnings = 20;
        q.SharesOutstanding = 1e8L;
        q.High52Week = 60;
        q.Low52Week = 40;
        SelectStrikes(context.strikes, 50);
        OptionChain& c = context.quote.Chain;
        const float calls[] = {6.0f, 2.5f, 0.8f};
        const float puts[] = {0.8f, 2.4f, 5.9f};
        for (int month = 0; month < 2; ++month) {
            for (int i = 0; i < 3; ++i) {
                const float later = static_cast<float>(month);
                c.OptBid[0][i + 1][month] = calls[i] + later;
                c.OptAsk[0][i + 1][month] = calls[i] + later + 0.2f;
                c.OptBid[1][i + 1][month] = puts[i] + later;
                c.OptAsk[1][i + 1][month] = puts[i] + later + 0.2f;
            }
        }
        context.quote.HaveOptionData = true;
        c.TotalZOR = {5000, 2000};
        c.TotalOpenInterest = {300, 400};
        c.TotalVolume = {20, 30};
    }

    TempDir dir;
    HistoryStore store;
    FixedClock clock{DateTime{2026, 12, 1, 9, 30, 0}};
    ScriptedMessages messages;
    CountingBeeper beeper;
    Context context{clock, messages, beeper};
    NoAlarm alarm;
};

TEST_F(ScreenPathsTest, ScanAndBacktestGiveTheSameVerdictsAndFailedTests) {
    using Setup = std::function<void(Settings&, QuoteState&)>;
    const auto use = [](FilterIndex index, double value) {
        return
            [=](Settings& s, QuoteState&) { s.Filters.Values[index] = FilterValue::Number(value); };
    };
    const auto templ = [](FilterTemplate which) {
        return [=](Settings& s, QuoteState&) { ApplyFilterTemplate(s.Filters, which); };
    };
    const auto ivFilter = [](FilterValue HistorySettings::*filter, double value) {
        return [=](Settings& s, QuoteState&) {
            s.History.WindowWeeks = 13;
            s.History.*filter = FilterValue::Number(value);
        };
    };
    struct Case {
        const char* symbol;
        std::vector<Setup> setups;
        const char* verdict;
        const char* failed;
    };
    const Case cases[] = {
        {"T0",
         {templ(FilterTemplate::DefaultSetting)},
         "REJECTED",
         "MinCallPutRatio or MinPutCallRatio"},
        {"T0UP",
         {templ(FilterTemplate::DefaultSetting),
          [](Settings&, QuoteState& q) {
              q.Chain.TotalZOR = {9000, 1000};
          }},
         "UP",
         ""},
        {"T0OI",
         {templ(FilterTemplate::DefaultSetting),
          [](Settings&, QuoteState& q) {
              q.Chain.TotalOpenInterest = {249, 9000};
          }},
         "REJECTED",
         "MinOptInt"},
        {"T2DN",
         {templ(FilterTemplate::ForSellingStocks),
          [](Settings&, QuoteState& q) {
              q.Chain.TotalZOR = {1000, 8000};
          }},
         "DOWN",
         ""},
        {"T3", {templ(FilterTemplate::ForLowPEStocks)}, "REJECTED", "MaxPE"},
        {"T3NA",
         {templ(FilterTemplate::ForLowPEStocks),
          [](Settings&, QuoteState& q) { q.Quote.PriceEarnings = 100000; }},
         "REJECTED",
         "MaxPE"},
        {"T4",
         {templ(FilterTemplate::ForHighYieldStocks),
          [](Settings&, QuoteState& q) { q.Quote.YieldPercent = 5.5f; }},
         "SAVED",
         ""},
        {"NOVOL", {[](Settings&, QuoteState& q) { q.Quote.Volume = -1; }}, "REJECTED", "Volume"},
        {"VOL",
         {use(TX_MinVolume, 1234.567), [](Settings&, QuoteState& q) { q.Quote.Volume = 1234567; }},
         "SAVED",
         ""},
        {"VOLX",
         {use(TX_MinVolume, 1234.568), [](Settings&, QuoteState& q) { q.Quote.Volume = 1234567; }},
         "REJECTED",
         "MinVolume"},
        {"CAP", {use(TX_MinMktCap, 5000), use(TX_MaxMktCap, 5000)}, "SAVED", ""},
        {"CAPF",
         {use(TX_MaxMktCap, 1234.5), [](Settings&, QuoteState& q) { q.Quote.LastSale = 12.345f; }},
         "REJECTED",
         "MaxMktCap"},
        {"RNG", {use(TX_MinRange, 50), use(TX_MaxRange, 50)}, "SAVED", ""},
        {"RNGX", {use(TX_MinRange, 50.01)}, "REJECTED", "MinRange"},
        {"BETA",
         {use(TX_MaxBeta, 30), [](Settings&, QuoteState& q) { q.Quote.HistVolatility = 30.5f; }},
         "REJECTED",
         "MaxBeta"},
        {"CHG",
         {use(TX_MinPctChange, -1.1),
          [](Settings&, QuoteState& q) { q.Quote.PercentChange = -1.1f; }},
         "REJECTED",
         "MinPctChange"},
        {"NOOPT",
         {use(TX_MinOptVol, 1),
          [](Settings&, QuoteState& q) {
              // As a quote whose option page gave nothing.
              q.HaveOptionData = false;
              q.Chain.TotalZOR = q.Chain.TotalVolume = q.Chain.TotalOpenInterest = {0, 0};
          }},
         "REJECTED",
         "MinOptVol"},
        {"LOW", {ivFilter(&HistorySettings::MinIvRank, 50)}, "SAVED", ""},
        {"HIGH", {ivFilter(&HistorySettings::MinIvRank, 50)}, "REJECTED", "MinIvRank"},
        {"LOW",
         {ivFilter(&HistorySettings::MaxIvPercentile, 50), use(TX_MinCallPutRatio, 2)},
         "REJECTED",
         "MaxIvPercentile"},
        {"HIGH", {ivFilter(&HistorySettings::MaxIvRank, 10), use(TX_MinCallPutRatio, 2)}, "UP", ""},
        {"NEW", {ivFilter(&HistorySettings::MinIvPercentile, 0)}, "REJECTED", "MinIvPercentile"},
        {"D18", {ivFilter(&HistorySettings::MinIvRank, 0)}, "REJECTED", "MinIvRank"},
        {"D19", {ivFilter(&HistorySettings::MinIvRank, 0)}, "SAVED", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.symbol);
        SetDefaultSettings(context.settings);
        ClearFilters(context.settings.Filters);
        Quote(c.symbol);
        for (const Setup& setup : c.setups)
            setup(context.settings, context.quote);
        const FilterValues& f = context.settings.Filters.Values;
        context.counters = ScanCounters{};
        context.counters.SymbolIndex = 1;  // a pass's first symbol reads History.db
        context.counters.RatioFiltersActive =
            f[TX_MinCallPutRatio].InUse() || f[TX_MinPutCallRatio].InUse();
        context.ivHistory = IvHistoryCache{};

        // The scan's path: judged from the quote, recorded as the recorder does.
        EvaluateSymbol(context, alarm);
        const HistoryRow row = HistoryRowOf(context, kToday, 2);
        EXPECT_EQ(VerdictText(row.Verdict), c.verdict);
        EXPECT_EQ(row.FailedTest, c.failed);
        ASSERT_TRUE(store.Record(row)) << store.Error();

        // The back-test's path: the recorded day judged from History.db.
        BacktestOptions options;
        options.Filters = f;
        options.History = context.settings.History;
        options.From = options.To = kToday;
        options.Horizons = {1};
        int judged = 0;
        options.Judged = [&](const HistoryRow& r, const ScreenOutcome& outcome) {
            if (r.Symbol != c.symbol) return;
            ++judged;
            EXPECT_EQ(outcome.Verdict, row.Verdict);
            EXPECT_EQ(outcome.Verdict == Verdict::Rejected ? outcome.Rule : "", row.FailedTest);
        };
        BacktestReport report;
        std::string error;
        ASSERT_TRUE(RunBacktest(store, options, report, error)) << error;
        EXPECT_EQ(judged, 1);
    }
}

}  // namespace
}  // namespace quillon
