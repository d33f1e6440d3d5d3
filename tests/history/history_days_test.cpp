// The day-by-day reading of History.db the back-test makes, and its two
// helpers that stand in for slower exact forms: the IV window beside
// IvRankAndPercentile and merged return samples beside one sample.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "analytics/iv_history.h"
#include "history/backtest.h"
#include "history/history_store.h"
#include "tests/support/temp_dir.h"

namespace quillon {
namespace {

using testing::TempDir;

// Whatever the block size, every row of the range comes once, on its day,
// with the figures asked for (and only those), days in order and each
// day's rows by symbol; a stop is honoured.
TEST(HistoryDaysTest, EveryRowComesOnItsDayWithTheFiguresAskedFor) {
    TempDir dir;
    HistoryStore store;
    ASSERT_TRUE(store.Open(dir.File("History.db"))) << store.Error();
    std::mt19937 random(11);
    std::vector<HistoryDay> recorded;
    for (int d = 0; d < 40; ++d) {
        const HistoryDay day = 20260101 + d;
        for (int s = 0; s < 7; ++s) {
            if ((d * 7 + s) % 5 == 3) continue;  // some symbols missing some days
            HistoryRow row;
            row.Symbol = std::string(1, static_cast<char>('A' + s)) + "X";
            row.Day = day;
            row.PassId = d + 1;
            row.Last = 10 + d + s;
            if (random() % 3 != 0) row.Zorc = static_cast<double>(random() % 1000);
            row.Iv30 = 30 + s;  // never asked for below
            row.Verdict = Verdict::SavedUp;
            ASSERT_TRUE(store.Record(row)) << store.Error();
        }
        recorded.push_back(day);
    }
    const std::vector<HistoryStore::RowFigure> figures = {&HistoryRow::Zorc, &HistoryRow::Last};
    struct Case {
        HistoryDay from, to;
        std::size_t blockBytes;
        HistoryDay stopAfter;
    };
    const Case cases[] = {
        {0, 99991231, 24 << 20, 0},  // one block
        {0, 99991231, 1, 0},         // a day a block
        {0, 99991231, 500, 0},       // a few days a block, runs cut at their ends
        {20260105, 20260130, 700, 0}, {0, 99991231, 500, 20260112},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.blockBytes) + " " + std::to_string(c.from));
        std::vector<HistoryDay> days;
        const bool read = store.ForEachDay(
            c.from, c.to, figures,
            [&](HistoryDay day, std::vector<HistoryRow>& rows) {
                days.push_back(day);
                std::vector<HistoryRow> expected = store.RowsOfDay(day);
                EXPECT_EQ(rows.size(), expected.size()) << day;
                for (std::size_t i = 0; i < std::min(rows.size(), expected.size()); ++i) {
                    EXPECT_EQ(rows[i].Symbol, expected[i].Symbol);
                    EXPECT_EQ(rows[i].Day, day);
                    EXPECT_EQ(rows[i].PassId, expected[i].PassId);
                    EXPECT_EQ(rows[i].Last, expected[i].Last);
                    EXPECT_EQ(rows[i].Zorc, expected[i].Zorc);
                    EXPECT_EQ(rows[i].Iv30, std::nullopt) << "not asked for";
                    EXPECT_EQ(rows[i].Verdict, std::nullopt);
                }
                rows.clear();  // the reader's rows are the caller's to change
                return day != c.stopAfter;
            },
            c.blockBytes);
        EXPECT_TRUE(read) << store.Error();
        std::vector<HistoryDay> expected;
        for (HistoryDay day : recorded) {
            if (day < c.from || day > c.to) continue;
            if (c.stopAfter != 0 && day > c.stopAfter) break;
            expected.push_back(day);
        }
        EXPECT_EQ(days, expected);
    }
}

// The window's standing equals IvRankAndPercentile over the same days and
// today's, for windows short of 20 days, filling up, rolling over, flat,
// and with today at either end.
TEST(HistoryDaysTest, IvWindowStandsAsIvRankAndPercentile) {
    struct Case {
        const char* name;
        std::size_t windowDays;
        std::vector<double> days;
        double today;
    };
    std::vector<double> rolling;
    for (int i = 0; i < 300; ++i)
        rolling.push_back(20 + (i * 37 % 101) * 0.25);
    const Case cases[] = {
        {"too few days", 62, {30, 31, 32}, 31},
        {"19 days and today make 20", 62, std::vector<double>(19, 25.5), 26},
        {"flat", 62, std::vector<double>(40, 25.5), 25.5},
        {"rolled over", 62, rolling, 33.25},
        {"today lowest", 125, rolling, 1},
        {"today highest", 251, rolling, 99},
        {"today equal to some", 251, rolling, 30},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        IvWindow window(c.windowDays);
        for (double iv : c.days)
            window.Push(iv);
        const std::size_t kept = std::min(c.days.size(), c.windowDays);
        std::vector<double> exact(c.days.end() - static_cast<std::ptrdiff_t>(kept), c.days.end());
        exact.push_back(c.today);
        const IvStanding want = IvRankAndPercentile(exact);
        const IvStanding got = window.StandingWith(c.today);
        EXPECT_EQ(window.Size(), kept);
        EXPECT_EQ(got.Days, want.Days);
        EXPECT_EQ(got.Rank, want.Rank);
        EXPECT_EQ(got.Percentile, want.Percentile);
    }
}

// Samples merged, exact or binned, give the figures of one sample of all
// their values.
TEST(HistoryDaysTest, MergedSamplesAreOneSample) {
    std::mt19937 random(5);
    std::normal_distribution<double> returns(0, 6);
    struct Case {
        std::size_t limit;
        std::vector<int> sizes;
    };
    const Case cases[] = {
        {1000, {10, 20, 30}},  // exact throughout
        {100, {60, 70}},       // exact parts, binned whole
        {50, {500, 5, 400}},   // binned parts
    };
    for (const Case& c : cases) {
        ReturnSample whole(c.limit), merged(c.limit);
        for (int size : c.sizes) {
            ReturnSample part(c.limit);
            for (int i = 0; i < size; ++i) {
                const double r = returns(random);
                part.Add(r);
                whole.Add(r);
            }
            merged.Merge(part);
        }
        EXPECT_EQ(merged.Count(), whole.Count());
        EXPECT_EQ(merged.Approximate(), whole.Approximate());
        EXPECT_NEAR(merged.Mean(), whole.Mean(), 1e-12);
        EXPECT_EQ(merged.HitRate(), whole.HitRate());
        for (double p : {0.0, 0.1, 0.5, 0.9, 1.0})
            EXPECT_DOUBLE_EQ(merged.QuantileOf(p), whole.QuantileOf(p)) << p;
    }
}

}  // namespace
}  // namespace quillon
