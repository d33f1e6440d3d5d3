// The chart's series of a symbol, read back from a made-up History.db: the
// 52-week IV30 band, HV20 over the recorded last sales, the saved markers,
// and what a missing database or an unknown symbol gives.
#include "history/history_series.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "history/history_store.h"
#include "tests/support/temp_dir.h"

namespace quillon {
namespace {

using testing::TempDir;

// The n-th day of a run of days: 2024-01-01 on, 28 days a month, so every
// key is a real date and the days stay in order.
HistoryDay DayAt(int n) {
    return 20240000 + (1 + n / (28 * 12)) * 10000 + (1 + n / 28 % 12) * 100 + 1 + n % 28;
}

HistoryRow Row(const std::string& symbol, int n) {
    HistoryRow row;
    row.Symbol = symbol;
    row.Day = DayAt(n);
    row.Verdict = Verdict::Rejected;
    return row;
}

// Records `rows` and reads the symbol's series back through the file.
ChartSeries Recorded(const TempDir& dir, const std::vector<HistoryRow>& rows,
                     const std::string& symbol) {
    {
        HistoryStore store;
        EXPECT_TRUE(store.Open(dir.File("History.db"))) << store.Error();
        EXPECT_TRUE(store.BeginBatch());
        for (const HistoryRow& row : rows)
            EXPECT_TRUE(store.Record(row)) << store.Error();
        EXPECT_TRUE(store.CommitBatch());
    }
    ChartSeries series;
    std::string error;
    EXPECT_TRUE(LoadChartSeries(dir.File("History.db"), symbol, series, error)) << error;
    return series;
}

TEST(ChartSeriesTest, BandSpansTheLast252DaysWithAnIv30) {
    // 300 days: IV30 30 to 36 in a cycle, a high of 90 on day 0, a low of 5
    // on day 10, and no IV30 at all on day 100 (it does not count in the
    // window). Another symbol's rows lie among them.
    TempDir dir;
    std::vector<HistoryRow> rows;
    for (int n = 0; n < 300; ++n) {
        HistoryRow row = Row("ABC", n);
        if (n == 0) {
            row.Iv30 = 90;
        } else if (n == 10) {
            row.Iv30 = 5;
        } else if (n != 100) {
            row.Iv30 = 30 + n % 7;
        }
        rows.push_back(row);
        HistoryRow other = Row("XYZ", n);
        other.Iv30 = 200;
        rows.push_back(other);
    }
    const ChartSeries series = Recorded(dir, rows, "ABC");
    ASSERT_EQ(series.Points.size(), 300u);
    EXPECT_EQ(series.Iv30Days(), 299);

    struct Case {
        int day;
        std::optional<double> low, high;
    } const cases[] = {
        {0, 90, 90},  // the first day alone
        {1, 31, 90},   {10, 5, 90},
        {99, 5, 90},   {100, std::nullopt, std::nullopt},  // no IV30: no band
        {252, 5, 90},                                      // days 0..252 less day 100: 252 days
        {253, 5, 36},                                      // day 0 has left the window
        {262, 5, 36},                                      // days 10..262 less day 100
        {263, 30, 36},                                     // day 10 has left it too
        {299, 30, 36},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.day);
        const ChartPoint& p = series.Points[static_cast<std::size_t>(c.day)];
        EXPECT_EQ(p.Day, DayAt(c.day));
        EXPECT_EQ(p.BandLow, c.low);
        EXPECT_EQ(p.BandHigh, c.high);
        EXPECT_EQ(p.Iv30.has_value(), c.day != 100);
    }
}

TEST(ChartSeriesTest, Hv20ReadsTheLast21RecordedLastSales) {
    // Last sales moving up and down 1 % in turn (log returns of +-0.01):
    // any 20 returns hold ten of each, mean 0, sample deviation
    // 0.01 * sqrt(20 / 19); HV20 = 100 * sqrt(252) * that = 16.2869.
    // Day 5 has no last sale and day 8 a last sale of 0: both are passed
    // over, not taken as prices.
    TempDir dir;
    std::vector<HistoryRow> rows;
    double price = 50;
    int step = 0;
    for (int n = 0; n < 30; ++n) {
        HistoryRow row = Row("ABC", n);
        if (n == 8) {
            row.Last = 0;
        } else if (n != 5) {
            price *= std::exp(step++ % 2 == 0 ? 0.01 : -0.01);
            row.Last = price;
        }
        rows.push_back(row);
    }
    const ChartSeries series = Recorded(dir, rows, "ABC");
    ASSERT_EQ(series.Points.size(), 30u);
    EXPECT_EQ(series.LastDays(), 28);
    // The 21st price comes on day 22 (days 5 and 8 have none).
    struct Case {
        int day;
        bool hv20;
    } const cases[] = {{0, false}, {5, false}, {8, false}, {21, false}, {22, true}, {29, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.day);
        const ChartPoint& p = series.Points[static_cast<std::size_t>(c.day)];
        ASSERT_EQ(p.Hv20.has_value(), c.hv20);
        if (c.hv20) {
            EXPECT_NEAR(*p.Hv20, 16.2869, 1e-4);
        }
        EXPECT_EQ(p.Last.has_value(), c.day != 5 && c.day != 8);
    }
}

TEST(ChartSeriesTest, HighReturnsRaiseHv20AndLeaveIt20DaysLater) {
    // Flat at 100 for 25 days, one jump to 110 on day 25, then flat: the
    // window holds the jump's return (ln 1.1) from day 25 to day 44; its
    // sample deviation is ln(1.1) / sqrt(20); before and after, HV20 is 0.
    TempDir dir;
    std::vector<HistoryRow> rows;
    for (int n = 0; n < 50; ++n) {
        HistoryRow row = Row("ABC", n);
        row.Last = n < 25 ? 100 : 110;
        rows.push_back(row);
    }
    const ChartSeries series = Recorded(dir, rows, "ABC");
    const double jump = 100 * std::sqrt(252.0) * std::log(1.1) / std::sqrt(20.0);
    struct Case {
        int day;
        double hv20;
    } const cases[] = {{20, 0}, {24, 0}, {25, jump}, {44, jump}, {45, 0}, {49, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.day);
        const ChartPoint& p = series.Points[static_cast<std::size_t>(c.day)];
        ASSERT_TRUE(p.Hv20);
        EXPECT_NEAR(*p.Hv20, c.hv20, 1e-9);
    }
}

TEST(ChartSeriesTest, MarkersFollowTheVerdict) {
    struct Case {
        const char* verdict;
        ChartMark mark;
    } const cases[] = {
        {"UP", ChartMark::Up},         {"DOWN", ChartMark::Down},    {"SAVED", ChartMark::Saved},
        {"REJECTED", ChartMark::None}, {"NOQUOTE", ChartMark::None}, {"", ChartMark::None},
        {"up", ChartMark::None},  // verdicts are recorded in capitals
    };
    TempDir dir;
    std::vector<HistoryRow> rows;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        HistoryRow row = Row("ABC", static_cast<int>(i));
        row.Verdict = VerdictNamed(cases[i].verdict);
        rows.push_back(row);
    }
    const ChartSeries series = Recorded(dir, rows, "ABC");
    ASSERT_EQ(series.Points.size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].verdict);
        EXPECT_EQ(series.Points[i].Mark, cases[i].mark);
    }
    EXPECT_EQ(series.MarkedDays(), 3);
}

TEST(ChartSeriesTest, LastDayTextGivesTheLastDaysFigures) {
    // 25 days of IV30 20, 21, ..., 44 and last sales moving 1 % up and down
    // in turn (HV20 16.2869, as above); the last day's IV30 is the highest.
    std::vector<HistoryRow> rows;
    double price = 50;
    for (int n = 0; n < 25; ++n) {
        HistoryRow row = Row("ABC", n);
        row.Iv30 = 20 + n;
        price *= std::exp(n % 2 == 0 ? 0.01 : -0.01);
        row.Last = price;
        rows.push_back(row);
    }
    HistoryRow bare = Row("ABC", 25);  // neither IV30 nor a last sale
    struct Case {
        const char* name;
        std::vector<HistoryRow> rows;
        std::string text;
    } const cases[] = {
        {"figures", rows,
         "2025-01-25: IV30 44.0  IV rank 100.0  IV pctl 96.0  (25 days of 52 wk)  HV20 16.3"},
        {"a last day without them",
         [&] {
             std::vector<HistoryRow> more = rows;
             more.push_back(bare);
             return more;
         }(),
         "2025-01-26: IV30 n/a  IV rank n/a (25 days)  IV pctl n/a (25 days)  (25 days of 52 "
         "wk)  HV20 n/a"},
        {"no day", {}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(LastDayText(ChartSeriesOf(c.rows)), c.text);
    }
}

TEST(ChartSeriesTest, MissingDatabaseIsToldAndNotCreated) {
    TempDir dir;
    ChartSeries series;
    series.Points.resize(3);
    std::string error;
    EXPECT_FALSE(LoadChartSeries(dir.File("History.db"), "ABC", series, error));
    EXPECT_NE(error.find("does not exist"), std::string::npos) << error;
    EXPECT_TRUE(series.Empty());
    EXPECT_FALSE(dir.Exists("History.db"));

    // A file that is no database is told, and left as it was.
    dir.Write("History.db", std::string(4096, 'x'));
    EXPECT_FALSE(LoadChartSeries(dir.File("History.db"), "ABC", series, error));
    EXPECT_NE(error.find("not a database"), std::string::npos) << error;
    EXPECT_EQ(dir.Read("History.db"), std::string(4096, 'x'));
}

TEST(ChartSeriesTest, UnknownSymbolIsAnEmptySeries) {
    TempDir dir;
    HistoryRow row = Row("ABC", 0);
    row.Iv30 = 25;
    Recorded(dir, {row}, "ABC");
    ChartSeries series;
    std::string error;
    EXPECT_TRUE(LoadChartSeries(dir.File("History.db"), "ZZZ", series, error));
    EXPECT_TRUE(series.Empty());
    EXPECT_TRUE(error.empty());
}

}  // namespace
}  // namespace quillon
