// The back-test over a History.db written here: planted picks whose forward
// returns are known, the look-ahead guard, the universe of each day, the
// quantiles and the report's text.
#include "history/backtest.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "history/backtest_report.h"
#include "history/history_store.h"
#include "tests/support/temp_dir.h"

namespace quillon {
namespace {

using testing::TempDir;

constexpr HistoryDay kDays[] = {20260105, 20260106, 20260107, 20260108, 20260109};

// A row judged UP ('U'), DOWN ('D') or neither ('-') by ratio filters of 2.
HistoryRow RowOf(const std::string& symbol, HistoryDay day, double last, char verdict,
                 std::int64_t pass = 1) {
    HistoryRow row;
    row.Symbol = symbol;
    row.Day = day;
    row.PassId = pass;
    row.Last = last;
    row.Volume = 1'000'000;
    row.Zorc = verdict == 'U' ? 300 : 100;
    row.Zorp = verdict == 'D' ? 300 : 100;
    return row;
}

// Each symbol's last sale per day (0: not recorded) and its verdict per day.
struct Planted {
    const char* symbol;
    double last[5];
    const char* verdicts;
};

// A stops being recorded after the third day; E is first recorded then.
// Every return is a multiple of 25 %: the figures below are exact.
const Planted kPlanted[] = {
    {"A", {64, 80, 100, 0, 0}, "UUU--"},   {"B", {64, 48, 48, 36, 36}, "D---D"},
    {"C", {64, 64, 80, 80, 100}, "-U-U-"}, {"D", {64, 64, 64, 64, 64}, "-----"},
    {"E", {0, 0, 64, 32, 32}, "--D--"},
};

FilterValues RatioFilters() {
    FilterSettings filters;
    ClearFilters(filters);
    filters.Values[TX_MinCallPutRatio] = FilterValue::Number(2);
    filters.Values[TX_MinPutCallRatio] = FilterValue::Number(2);
    return filters.Values;
}

class BacktestTest : public ::testing::Test {
  public:
    void SetUp() override { ASSERT_TRUE(store.Open(dir.File("History.db"))) << store.Error(); }

    void Plant() {
        for (const Planted& p : kPlanted) {
            for (int d = 0; d < 5; ++d) {
                if (p.last[d] > 0) Record(RowOf(p.symbol, kDays[d], p.last[d], p.verdicts[d]));
            }
        }
    }

    void Record(const HistoryRow& row) { ASSERT_TRUE(store.Record(row)) << store.Error(); }

    BacktestReport Run(BacktestOptions options) {
        options.Signal = [this](const BacktestSignal& s) { signals.push_back(s); };
        BacktestReport report;
        std::string error;
        EXPECT_TRUE(RunBacktest(store, options, report, error)) << error;
        return report;
    }

    TempDir dir;
    HistoryStore store;
    std::vector<BacktestSignal> signals;
};

BacktestOptions PlantedOptions() {
    BacktestOptions options;
    options.Filters = RatioFilters();
    options.Horizons = {1, 2};
    return options;
}

// Every figure of the report, worked out by hand from kPlanted.
TEST_F(BacktestTest, PlantedPicksGiveTheFiguresWorkedOutByHand) {
    Plant();
    const BacktestReport report = Run(PlantedOptions());
    ASSERT_EQ(report.Days, std::vector<HistoryDay>(std::begin(kDays), std::end(kDays)));
    EXPECT_EQ(report.Rows, 21);
    EXPECT_EQ(report.Symbols, 5);
    ASSERT_EQ(report.Horizons.size(), 2u);

    struct Line {
        const char* name;
        const GroupResult& g;
        long long signals;
        int days;
        long long missing;
        // picks: count, hit %, mean, median, 10 %, 25 %, 75 %, 90 %
        std::vector<double> picks;
        // universe: count, signals, missing, hit %, mean, median, 10 %, 25 %,
        // 75 %, 90 %
        std::vector<double> universe;
        double excess;
        int excessDays;
    };
    const HorizonResult& h1 = report.Horizons[0];
    const HorizonResult& h2 = report.Horizons[1];
    // The universe beside a pick is its day's, signed as the pick, each day's
    // members weighing (picks with a return) / (members with a return). Its
    // missing: A's of day 3 (it stops being recorded), and every member of a
    // day with picks past the last recorded date (4 on day 5; day 4's too at
    // two days). Day 1 has an UP and a DOWN pick: its universe counts both
    // ways beside "all".
    const std::vector<double> universe1 = {16, 21, 5, 37.5, 50.0 / 6, 0, 0, 0, 25, 25};
    const std::vector<double> universe2 = {11, 21,  10,  475.0 / 12, 3.125,
                                           0,  -25, -25, 25,         275.0 / 7};
    const Line lines[] = {
        {"1 day, all",
         h1.Every[kEveryPick],
         8,
         5,
         2,
         {6, 100, 175.0 / 6, 25, 25, 25, 25, 37.5},
         universe1,
         125.0 / 6,
         4},
        {"1 day, UP",
         h1.Every[kUpPicks],
         5,
         4,
         1,
         {4, 100, 25, 25, 25, 25, 25, 25},
         {16, 17, 1, 37.5, 7.8125, 0, 0, 0, 25, 25},
         17.1875,
         3},
        {"1 day, DOWN (turned)",
         h1.Every[kDownPicks],
         3,
         3,
         1,
         {2, 100, 37.5, 37.5, 27.5, 31.25, 43.75, 47.5},
         {8, 13, 5, 37.5, 9.375, 0, -7.5, 0, 25, 32.5},
         28.125,
         2},
        // Every signal of a symbol lies a day after its last: all are kept.
        {"1 day, all, non-overlapping",
         h1.NonOverlapping[kEveryPick],
         8,
         5,
         2,
         {6, 100, 175.0 / 6, 25, 25, 25, 25, 37.5},
         universe1,
         125.0 / 6,
         4},
        {"2 days, all",
         h2.Every[kEveryPick],
         8,
         5,
         4,
         {4, 100, 39.0625, 37.5, 25, 25, 51.5625, 54.375},
         universe2,
         35.9375,
         3},
        // A's signal of the second day overlaps its first within 2 days.
        {"2 days, all, non-overlapping",
         h2.NonOverlapping[kEveryPick],
         7,
         5,
         3,
         {4, 100, 39.0625, 37.5, 25, 25, 51.5625, 54.375},
         universe2,
         35.9375,
         3},
    };
    for (const Line& l : lines) {
        SCOPED_TRACE(l.name);
        EXPECT_EQ(l.g.Signals, l.signals);
        EXPECT_EQ(l.g.Days, l.days);
        EXPECT_EQ(l.g.Missing, l.missing);
        const ReturnStats& p = l.g.Picks;
        const std::vector<double> picks = {
            static_cast<double>(p.Count), p.HitRate, p.Mean, p.Median, p.Q10, p.Q25, p.Q75, p.Q90};
        const ReturnStats& u = l.g.Universe;
        const std::vector<double> universe = {static_cast<double>(u.Count),
                                              static_cast<double>(l.g.UniverseSignals),
                                              static_cast<double>(l.g.UniverseMissing),
                                              u.HitRate,
                                              u.Mean,
                                              u.Median,
                                              u.Q10,
                                              u.Q25,
                                              u.Q75,
                                              u.Q90};
        for (std::size_t i = 0; i < picks.size(); ++i)
            EXPECT_NEAR(picks[i], l.picks[i], 1e-9) << "picks figure " << i;
        for (std::size_t i = 0; i < universe.size(); ++i)
            EXPECT_NEAR(universe[i], l.universe[i], 1e-9) << "universe figure " << i;
        EXPECT_NEAR(l.g.MeanExcess, l.excess, 1e-9);
        EXPECT_EQ(l.g.ExcessDays, l.excessDays);
    }

    // Excess is the mean less the universe's mean printed below it, to the
    // printed precision, on every line of the report (the CSV's are checked
    // by the program's test).
    const std::string text = BacktestReportText(report, PlantedOptions(), "planted");
    int checked = 0;
    double mean = 0, excess = 0;
    bool picksLine = false;
    std::istringstream rows(text);
    for (std::string row; std::getline(rows, row);) {
        std::istringstream fields(row);
        std::vector<std::string> f;
        for (std::string field; fields >> field;)
            f.push_back(field);
        if (f.size() == 12 && (f[0] == "all" || f[0] == "UP" || f[0] == "DOWN")) {
            mean = std::stod(f[5]);
            excess = std::stod(f[11]);
            picksLine = true;
        } else if (f.size() == 11 && f[0] == "universe" && picksLine) {
            EXPECT_NEAR(excess, mean - std::stod(f[5]), 0.01 + 1e-9) << row;
            ++checked;
            picksLine = false;
        }
    }
    EXPECT_EQ(checked, 12) << text;

    // The chart's series: an entry every horizon days, its excess carried to
    // the next; none from an entry past the last date.
    const std::vector<double> cumulative[] = {{25, 37.5, 68.75, 87.5, NAN},
                                              {40.625, 40.625, 78.125, 78.125, NAN}};
    for (std::size_t k = 0; k < 2; ++k) {
        ASSERT_EQ(report.Horizons[k].CumulativeExcess.size(), 5u);
        for (std::size_t d = 0; d < 5; ++d) {
            const double got = report.Horizons[k].CumulativeExcess[d];
            if (std::isnan(cumulative[k][d])) {
                EXPECT_TRUE(std::isnan(got)) << k << " " << d;
            } else {
                EXPECT_NEAR(got, cumulative[k][d], 1e-9) << k << " " << d;
            }
        }
    }

    // Every signal, by day and symbol, with its raw returns (not turned).
    struct Pick {
        HistoryDay day;
        const char* symbol;
        const char* verdict;
        double entry;
        std::optional<double> r1, r2;
        bool kept2;
    };
    const Pick picks[] = {
        {20260105, "A", "UP", 64, 25, 56.25, true},
        {20260105, "B", "DOWN", 64, -25, -25, true},
        {20260106, "A", "UP", 80, 25, std::nullopt, false},
        {20260106, "C", "UP", 64, 25, 25, true},
        {20260107, "A", "UP", 100, std::nullopt, std::nullopt, true},
        {20260107, "E", "DOWN", 64, -50, -50, true},
        {20260108, "C", "UP", 80, 25, std::nullopt, true},
        {20260109, "B", "DOWN", 36, std::nullopt, std::nullopt, true},
    };
    ASSERT_EQ(signals.size(), std::size(picks));
    for (std::size_t i = 0; i < signals.size(); ++i) {
        SCOPED_TRACE(i);
        const BacktestSignal& s = signals[i];
        EXPECT_EQ(s.Day, picks[i].day);
        EXPECT_EQ(s.Symbol, picks[i].symbol);
        EXPECT_STREQ(VerdictName(s.Verdict), picks[i].verdict);
        EXPECT_STREQ(s.Rule, picks[i].verdict[0] == 'U' ? "MinCallPutRatio" : "MinPutCallRatio");
        EXPECT_EQ(s.Entry, picks[i].entry);
        EXPECT_EQ(s.Returns[0], picks[i].r1);
        EXPECT_EQ(s.Returns[1], picks[i].r2);
        EXPECT_TRUE(s.Kept[0]);
        EXPECT_EQ(s.Kept[1], picks[i].kept2);
    }
}

// Survivorship: a day's universe is the symbols recorded that day; a symbol
// no longer recorded leaves its pick and its universe return missing, and a
// range that ends early still reads the days after it for forward prices.
TEST_F(BacktestTest, EachDaysUniverseIsThatDaysAndLeaversAreMissing) {
    Plant();
    struct Case {
        HistoryDay from, to;
        long long signals, missing, universe, universeMissing;
    };
    const Case cases[] = {
        // Day 1: A, B, C and D (E comes later), all recorded a day on.
        {20260105, 20260105, 2, 0, 4, 0},
        // Day 3: A stops (pick and universe member missing); E is there.
        {20260107, 20260107, 2, 1, 4, 1},
        // Day 5: no day after it, for its pick and its 4 universe members.
        {20260109, 20260109, 1, 1, 0, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.from);
        BacktestOptions options = PlantedOptions();
        options.From = c.from;
        options.To = c.to;
        options.Horizons = {1};
        const BacktestReport report = Run(options);
        const GroupResult& g = report.Horizons[0].Every[kEveryPick];
        EXPECT_EQ(g.Signals, c.signals);
        EXPECT_EQ(g.Missing, c.missing);
        EXPECT_EQ(g.Universe.Count, c.universe);
        EXPECT_EQ(g.UniverseSignals, c.universe + c.universeMissing);
        EXPECT_EQ(g.UniverseMissing, c.universeMissing);
    }
}

// Progress counts the days read, up to the total it announced: those of the
// range and the longest horizon after it.
TEST_F(BacktestTest, ProgressEndsAtItsTotal) {
    Plant();
    struct Case {
        HistoryDay from, to;
        std::vector<int> horizons;
        int total;
    };
    const Case cases[] = {
        {0, 99991231, {1, 2}, 5},
        {20260105, 20260105, {1}, 3},
        {20260106, 20260107, {2}, 4},
        {20260108, 20260109, {20}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.from);
        BacktestOptions options = PlantedOptions();
        options.From = c.from;
        options.To = c.to;
        options.Horizons = c.horizons;
        std::vector<std::pair<int, int>> calls;
        options.Progress = [&](int done, int total) { calls.emplace_back(done, total); };
        Run(options);
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.back(), std::make_pair(c.total, c.total));
        for (std::size_t i = 1; i < calls.size(); ++i)
            EXPECT_EQ(calls[i].first, calls[i - 1].first + 1);
    }
}

// A history of random figures: rows of days after `cut` come from another
// seed, with symbols that leave and others that come.
void RandomHistory(HistoryStore& store, unsigned seed, HistoryDay cut, unsigned seedAfter) {
    std::mt19937 early(seed), late(seedAfter);
    HistoryDay day = 20250101;
    for (int d = 0; d < 60; ++d, ++day) {
        std::mt19937& random = day <= cut ? early : late;
        std::uniform_real_distribution<double> unit(0, 1);
        for (int s = 0; s < 12; ++s) {
            if (day > cut && unit(random) < 0.2) continue;  // not recorded that day
            HistoryRow row;
            row.Symbol = (day > cut && s >= 10 ? "N" : "S") + std::to_string(s);
            row.Day = day;
            row.PassId = 1;
            row.Last = std::round(20 + 80 * unit(random));
            row.Volume = std::round(2e6 * unit(random));
            row.CallOpenInterest = std::round(600 * unit(random));
            row.PutOpenInterest = std::round(600 * unit(random));
            row.Zorc = std::round(1000 * unit(random));
            row.Zorp = std::round(1000 * unit(random));
            if (unit(random) < 0.9) row.Iv30 = 20 + 40 * unit(random);
            ASSERT_TRUE(store.Record(row)) << store.Error();
        }
    }
}

using SignalKey = std::tuple<HistoryDay, std::string, std::string, std::string, double>;

// No look-ahead: whatever the rows after a date hold, that date's verdicts
// (and with them the IV rank from earlier days) stay as they were.
TEST(BacktestGuardTest, RowsAfterADateNeverChangeItsVerdicts) {
    FilterSettings defaults;
    SetDefaultFilters(defaults);
    FilterSettings ratios;
    ClearFilters(ratios);
    ratios.Values[TX_MinCallPutRatio] = FilterValue::Number(1.5);
    ratios.Values[TX_MinPutCallRatio] = FilterValue::Number(1.5);
    HistorySettings iv;
    iv.WindowWeeks = 13;
    iv.MinIvRank = FilterValue::Number(40);
    struct Case {
        const char* name;
        FilterValues filters;
        HistorySettings history;
        HistoryDay cut;
    };
    const Case cases[] = {
        {"default filters", defaults.Values, {}, 20250120},
        {"ratios", ratios.Values, {}, 20250201},
        {"ratios and IV rank", ratios.Values, iv, 20250210},
        {"ratios and IV rank, later", ratios.Values, iv, 20250225},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::vector<SignalKey>> runs;
        for (unsigned after : {7u, 8u}) {
            TempDir dir;
            HistoryStore store;
            ASSERT_TRUE(store.Open(dir.File("History.db")));
            RandomHistory(store, 42, c.cut, after);
            BacktestOptions options;
            options.Filters = c.filters;
            options.History = c.history;
            std::vector<SignalKey> keys;
            options.Signal = [&](const BacktestSignal& s) {
                if (s.Day <= c.cut)
                    keys.emplace_back(s.Day, s.Symbol, VerdictName(s.Verdict), s.Rule, s.Entry);
            };
            BacktestReport report;
            std::string error;
            ASSERT_TRUE(RunBacktest(store, options, report, error)) << error;
            runs.push_back(keys);
        }
        EXPECT_GT(runs[0].size(), 3u) << "the case judges something";
        EXPECT_EQ(runs[0], runs[1]);
    }
}

TEST(BacktestQuantileTest, LinearInterpolationBetweenOrderStatistics) {
    struct Case {
        std::vector<double> sorted;
        double p;
        double expected;
    };
    const Case cases[] = {
        {{7}, 0.9, 7},
        {{1, 2}, 0.5, 1.5},
        {{1, 2, 3, 4}, 0.1, 1.3},
        {{1, 2, 3, 4}, 0.25, 1.75},
        {{1, 2, 3, 4}, 0.75, 3.25},
        {{1, 2, 3, 4}, 0.9, 3.7},
        {{-50, -25, 0, 10, 100}, 0.5, 0},
        {{-50, -25, 0, 10, 100}, 0, -50},
        {{-50, -25, 0, 10, 100}, 1, 100},
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(Quantile(c.sorted, c.p), c.expected, 1e-12) << c.p;
        // Equal weights, whatever they are, give the same quantile.
        std::vector<std::pair<double, double>> weighted;
        for (double x : c.sorted)
            weighted.emplace_back(x, 0.75);
        EXPECT_NEAR(WeightedQuantile(weighted, c.p), c.expected, 1e-12) << c.p;
    }
    // Unequal weights: each value at the middle of its weight (0 at 0.5, 10
    // at 2.5, 20 at 4.5 of 0 to 5), read from the first middle to the last.
    const std::vector<std::pair<double, double>> weighted = {{0, 1}, {10, 3}, {20, 1}};
    const std::pair<double, double> expected[] = {{0, 0}, {0.25, 5}, {0.5, 10}, {0.9, 18}, {1, 20}};
    for (const auto& [p, value] : expected)
        EXPECT_NEAR(WeightedQuantile(weighted, p), value, 1e-12) << p;
}

// Past its limit a sample is binned: its mean and hit rate stay exact and
// its quantiles within 0.01 of the exact ones, extremes included.
TEST(BacktestQuantileTest, BinnedSampleStaysWithinABinOfTheExactQuantile) {
    std::mt19937 random(3);
    std::normal_distribution<double> returns(0.5, 8);
    std::vector<double> all;
    ReturnSample exact(100000), binned(50);
    // Weighted as a universe is: its exact quantiles by WeightedQuantile.
    ReturnSample weightedExact(100000), weightedBinned(50);
    std::vector<std::pair<double, double>> weighted;
    for (int i = 0; i < 5000; ++i) {
        double r = returns(random);
        if (i % 1000 == 0) r = i % 2000 == 0 ? -1500 : 2500;  // outside the bins
        all.push_back(r);
        exact.Add(r);
        binned.Add(r);
        const double weight = 1.0 / (1 + i % 7);
        weighted.emplace_back(r, weight);
        weightedExact.Add(r, weight);
        weightedBinned.Add(r, weight);
    }
    // AddAll, once binned, as Add value by value (here with the sign turned
    // twice).
    ReturnSample batched(50);
    std::vector<std::vector<double>> byWeight(7);
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (i < 100) {
            batched.Add(all[i], 1.0 / static_cast<double>(1 + i % 7));
        } else {
            byWeight[i % 7].push_back(-all[i]);
        }
    }
    for (std::size_t k = 0; k < byWeight.size(); ++k)
        batched.AddAll(byWeight[k], -1, 1.0 / static_cast<double>(1 + k));
    EXPECT_EQ(batched.Count(), 5000);
    EXPECT_NEAR(batched.Mean(), weightedExact.Mean(), 1e-9);
    EXPECT_NEAR(batched.HitRate(), weightedExact.HitRate(), 1e-9);
    std::sort(weighted.begin(), weighted.end());
    for (double p : {0.0, 0.1, 0.5, 0.9, 1.0})
        EXPECT_NEAR(batched.QuantileOf(p), weightedBinned.QuantileOf(p), 1e-4) << p;
    EXPECT_NEAR(weightedBinned.Mean(), weightedExact.Mean(), 1e-9);
    EXPECT_NEAR(weightedBinned.HitRate(), weightedExact.HitRate(), 1e-9);
    for (double p : {0.0, 0.0002, 0.1, 0.25, 0.5, 0.75, 0.9, 0.9998, 1.0}) {
        EXPECT_EQ(weightedExact.QuantileOf(p), WeightedQuantile(weighted, p)) << p;
        EXPECT_NEAR(weightedBinned.QuantileOf(p), WeightedQuantile(weighted, p), 0.01) << p;
    }
    EXPECT_FALSE(exact.Approximate());
    EXPECT_TRUE(binned.Approximate());
    EXPECT_EQ(binned.Count(), 5000);
    EXPECT_NEAR(binned.Mean(), exact.Mean(), 1e-9);
    EXPECT_EQ(binned.HitRate(), exact.HitRate());
    std::sort(all.begin(), all.end());
    for (double p : {0.0, 0.0002, 0.1, 0.25, 0.5, 0.75, 0.9, 0.9998, 1.0}) {
        EXPECT_EQ(exact.QuantileOf(p), Quantile(all, p)) << p;
        EXPECT_NEAR(binned.QuantileOf(p), Quantile(all, p), 0.01) << p;
    }
}

TEST_F(BacktestTest, HorizonsMustBeAscendingFromOne) {
    for (const std::vector<int>& horizons : {std::vector<int>{}, std::vector<int>{0, 5},
                                             std::vector<int>{5, 1}, std::vector<int>{1, 1}}) {
        BacktestOptions options;
        options.Horizons = horizons;
        BacktestReport report;
        std::string error;
        EXPECT_FALSE(RunBacktest(store, options, report, error));
        EXPECT_NE(error, "");
    }
}

// The whole text, byte for byte, CR LF line ends; rows of an import are
// noted with the filters that read figures an export may date later, and
// the days no pass has ended whole are named.
TEST_F(BacktestTest, ReportTextIsFixedWidthWithNotes) {
    HistoryPass scan;
    scan.AsOf = kDays[0];
    scan.Source = "server";
    ASSERT_EQ(store.BeginPass(scan), 1);
    HistoryPass imported;
    imported.AsOf = kDays[0];
    imported.Source = "import";
    const std::int64_t pass = store.BeginPass(imported);
    ASSERT_NE(pass, 0);
    const double lasts[] = {64, 80, 100};
    for (int d = 0; d < 3; ++d) {
        Record(RowOf("A", kDays[d], lasts[d], d == 0 ? 'U' : '-', d == 0 ? pass : 1));
        Record(RowOf("B", kDays[d], 64, d == 1 ? 'D' : '-'));
    }
    BacktestOptions options;
    options.Filters = RatioFilters();
    options.Filters[TX_MaxBeta] = FilterValue::Number(90);
    options.Horizons = {1};
    const BacktestReport report = Run(options);
    const std::string text = BacktestReportText(report, options, "settings file Quillon.---");
    const std::string expected =
        "Back-test of History.db\r\n"
        "Filters: settings file Quillon.---: MaxBeta 90, MinCallPutRatio 2, MinPutCallRatio "
        "2\r\n"
        "Days judged: 3, 2026-01-05 to 2026-01-07; 6 rows of 2 symbols; forward prices read "
        "to 2026-01-07\r\n"
        "Horizons, in recorded trading days: 1\r\n"
        "\r\n"
        "Horizon 1 trading day, returns in %\r\n"
        "Picks           Signals    Days  Missing   Hit %     Mean   Median     10 %     25 %"
        "     75 %     90 %   Excess\r\n"
        "all                   2       2        0   50.00    12.50    12.50     2.50     6.25"
        "    18.75    22.50    12.50\r\n"
        "  universe            4       2        0   25.00     0.00     0.00   -17.50    -6.25"
        "     6.25    17.50\r\n"
        "UP                    1       1        0  100.00    25.00    25.00    25.00    25.00"
        "    25.00    25.00    12.50\r\n"
        "  universe            2       1        0   50.00    12.50    12.50     2.50     6.25"
        "    18.75    22.50\r\n"
        "DOWN                  1       1        0    0.00     0.00     0.00     0.00     0.00"
        "     0.00     0.00    12.50\r\n"
        "  universe            2       1        0    0.00   -12.50   -12.50   -22.50   -18.75"
        "    -6.25    -2.50\r\n"
        "Non-overlapping signals\r\n"
        "all                   2       2        0   50.00    12.50    12.50     2.50     6.25"
        "    18.75    22.50    12.50\r\n"
        "  universe            4       2        0   25.00     0.00     0.00   -17.50    -6.25"
        "     6.25    17.50\r\n"
        "UP                    1       1        0  100.00    25.00    25.00    25.00    25.00"
        "    25.00    25.00    12.50\r\n"
        "  universe            2       1        0   50.00    12.50    12.50     2.50     6.25"
        "    18.75    22.50\r\n"
        "DOWN                  1       1        0    0.00     0.00     0.00     0.00     0.00"
        "     0.00     0.00    12.50\r\n"
        "  universe            2       1        0    0.00   -12.50   -12.50   -22.50   -18.75"
        "    -6.25    -2.50\r\n"
        "\r\n"
        "Notes:\r\n"
        "- Returns, in percent: from the last sale recorded on the signal's day to the\r\n"
        "  last sale recorded N trading days later, a trading day being a date\r\n"
        "  History.db holds rows of. DOWN picks count with their sign turned, as a put\r\n"
        "  buyer sees them, in \"all\" too.\r\n"
        "- Universe: every symbol recorded with a last sale on the same days as the\r\n"
        "  picks (that day's symbols, not today's list), signed as each pick: as it is\r\n"
        "  beside an UP pick, turned beside a DOWN one, so that beside \"all\" a day with\r\n"
        "  UP and DOWN picks counts its universe both ways. Its figures weigh each day\r\n"
        "  by its picks with a return, each pick the same: its mean is the mean over\r\n"
        "  the picks of their day's universe mean.\r\n"
        "- Excess: the picks' mean less the universe's mean on the line below, the mean\r\n"
        "  over the picks of each return less its day's universe mean.\r\n"
        "- Hit %: the share of picks with a forward price whose return is above 0; on a\r\n"
        "  universe line, the share of its weight.\r\n"
        "- Quantiles: linear interpolation between order statistics: with n returns\r\n"
        "  sorted x(0) to x(n-1) and h = p(n-1), k the whole part of h and f the rest,\r\n"
        "  the p quantile is x(k) + f(x(k+1) - x(k)); the median is p = 0.5. On a\r\n"
        "  universe line each return stands at the middle of its weight laid end to\r\n"
        "  end, the first at p = 0 and the last at p = 1, read by linear interpolation.\r\n"
        "- Missing: picks without a forward price: the symbol is not recorded N trading\r\n"
        "  days later, is recorded then without a last sale, or the day lies past the\r\n"
        "  last recorded date. They are counted, never dropped. Signals counts them, on\r\n"
        "  every line: on a universe line, Signals is the members of the days and\r\n"
        "  Missing those without a forward price.\r\n"
        "- Non-overlapping: a signal is kept for horizon N only when its symbol has no\r\n"
        "  kept signal in the N recorded trading days before it, so that no two kept\r\n"
        "  returns of a symbol overlap.\r\n"
        "- No look-ahead: a day's verdicts read that day's row alone; IV rank and IV\r\n"
        "  percentile the IV30 of the symbol's earlier recorded days and the day's own.\r\n"
        "- Days judged with rows from imported files (pass source \"import\"): 1 of 3. An\r\n"
        "  export may have taken the 52-week high and low and the historical volatility\r\n"
        "  from a later day than the row's; MaxBeta read them.\r\n"
        // No pass of these days has ended.
        "- Partial days: 2026-01-05, 2026-01-06, 2026-01-07 have no pass that ended\r\n"
        "  whole (a scan may still be writing them); their figures may be incomplete.\r\n";
    EXPECT_EQ(text, expected);
}

}  // namespace
}  // namespace quillon
