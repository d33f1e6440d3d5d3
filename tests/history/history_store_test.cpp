#include "history/history_store.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "tests/support/temp_dir.h"

namespace quillon {
namespace {

using testing::TempDir;

HistoryRow Row(const std::string& symbol, HistoryDay day, std::int64_t pass, double last) {
    HistoryRow row;
    row.Symbol = symbol;
    row.Day = day;
    row.PassId = pass;
    row.Last = last;
    row.Verdict = Verdict::Rejected;
    return row;
}

// Runs one statement on a second connection: what another program sees.
std::string OtherConnectionAnswer(const std::string& file, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* s = nullptr;
    std::string answer = "error";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) == SQLITE_OK &&
        sqlite3_step(s) == SQLITE_ROW) {
        const unsigned char* text = sqlite3_column_text(s, 0);
        answer = text ? reinterpret_cast<const char*>(text) : "";
    }
    sqlite3_finalize(s);
    sqlite3_close(db);
    return answer;
}

struct RecordedRow {
    std::string Symbol;
    HistoryDay Day;
    std::int64_t Pass;
    double Last;
};

// Each case records its rows in order; what the store then holds, by symbol
// and day.
struct KeyingCase {
    const char* Name;
    std::vector<RecordedRow> Writes;
    std::vector<RecordedRow> Kept;  // ordered by day, then symbol
    int SettleAfter = -1;           // writes before every recorded day settles
};

TEST(HistoryStoreTest, OneRowPerSymbolAndDay) {
    const KeyingCase cases[] = {
        {"a later pass of the same day replaces the day's row",
         {{"ACME", 20251017, 1, 10}, {"ACME", 20251017, 2, 11}},
         {{"ACME", 20251017, 2, 11}}},
        {"a resumed pass redoing symbols leaves one row each",
         {{"ACME", 20251017, 1, 10},
          {"DUNE", 20251017, 1, 20},
          {"DUNE", 20251017, 2, 21},
          {"ZETA", 20251017, 2, 30}},
         {{"ACME", 20251017, 1, 10}, {"DUNE", 20251017, 2, 21}, {"ZETA", 20251017, 2, 30}}},
        {"days are kept apart",
         {{"ACME", 20251016, 1, 9}, {"ACME", 20251017, 2, 10}, {"ACME", 20251020, 3, 12}},
         {{"ACME", 20251016, 1, 9}, {"ACME", 20251017, 2, 10}, {"ACME", 20251020, 3, 12}}},
        {"an older day recorded later does not touch the newer one",
         {{"ACME", 20251017, 2, 10}, {"ACME", 20251016, 3, 9}},
         {{"ACME", 20251016, 3, 9}, {"ACME", 20251017, 2, 10}}},
        {"symbols differing only in case are different symbols",
         {{"acme", 20251017, 1, 1}, {"ACME", 20251017, 1, 2}},
         {{"ACME", 20251017, 1, 2}, {"acme", 20251017, 1, 1}}},
        {"the last settled day recorded again replaces its settled row",
         {{"AAA", 20251016, 1, 9}, {"AAA", 20251017, 1, 10}, {"AAA", 20251017, 2, 12}},
         {{"AAA", 20251016, 1, 9}, {"AAA", 20251017, 2, 12}},
         2},
    };
    for (const KeyingCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDir dir;
        HistoryStore store;
        ASSERT_TRUE(store.Open(dir.File("History.db"))) << store.Error();
        ASSERT_TRUE(store.BeginBatch());
        for (std::size_t i = 0; i < c.Writes.size(); ++i) {
            if (static_cast<int>(i) == c.SettleAfter) {
                ASSERT_TRUE(store.Settle()) << store.Error();
            }
            const RecordedRow& w = c.Writes[i];
            ASSERT_TRUE(store.Record(Row(w.Symbol, w.Day, w.Pass, w.Last))) << store.Error();
        }
        ASSERT_TRUE(store.CommitBatch());
        std::vector<RecordedRow> kept, bySymbol;
        std::map<std::string, std::vector<double>> sales;
        for (HistoryDay day : store.Days()) {
            for (const HistoryRow& row : store.RowsOfDay(day)) {
                kept.push_back({row.Symbol, row.Day, row.PassId, row.Last.value_or(-1)});
                sales[row.Symbol].push_back(row.Last.value_or(-1));
                for (const HistoryRow& own : store.Rows(row.Symbol, day, day))
                    bySymbol.push_back({own.Symbol, own.Day, own.PassId, own.Last.value_or(-1)});
            }
        }
        ASSERT_EQ(bySymbol.size(), kept.size()) << "Rows and RowsOfDay differ";
        for (const auto& [symbol, last] : sales)
            EXPECT_EQ(store.LastSaleWindows(99991231, 10)[symbol], last) << symbol;
        ASSERT_EQ(kept.size(), c.Kept.size());
        for (std::size_t i = 0; i < kept.size(); ++i) {
            EXPECT_EQ(kept[i].Symbol, c.Kept[i].Symbol) << i;
            EXPECT_EQ(kept[i].Day, c.Kept[i].Day) << i;
            EXPECT_EQ(kept[i].Pass, c.Kept[i].Pass) << i;
            EXPECT_EQ(kept[i].Last, c.Kept[i].Last) << i;
        }
    }
}

TEST(HistoryStoreTest, EveryFigureComesBackAndMissingOnesStayMissing) {
    TempDir dir;
    HistoryStore store;
    ASSERT_TRUE(store.Open(dir.File("History.db"))) << store.Error();
    HistoryRow full;
    full.Symbol = "ACME";
    full.Day = 20251017;
    full.PassId = 7;
    double value = 1.25;
    for (std::optional<double>* figure :
         {&full.Last, &full.Change, &full.Volume, &full.High52, &full.Low52, &full.PeRatio,
          &full.Yield, &full.QuoteVolatility, &full.MarketCap, &full.CallVolume, &full.PutVolume,
          &full.CallOpenInterest, &full.PutOpenInterest, &full.Zorc, &full.Zorp, &full.Iv30,
          &full.Iv30Call, &full.Iv30Put}) {
        *figure = value;
        value += 1;  // each figure its own value: a swapped column shows
    }
    full.DaysToNear = 9;
    full.DaysToNext = 37;
    full.Verdict = Verdict::SavedUp;
    HistoryRow empty;
    empty.Symbol = "DUNE";
    empty.Day = 20251017;
    empty.Verdict = Verdict::Rejected;
    empty.FailedTest = "MinVolume";
    ASSERT_TRUE(store.Record(full)) << store.Error();
    ASSERT_TRUE(store.Record(empty)) << store.Error();

    const std::vector<HistoryRow> rows = store.Rows("ACME");
    ASSERT_EQ(rows.size(), 1u);
    const HistoryRow& r = rows[0];
    EXPECT_EQ(r.PassId, 7);
    EXPECT_EQ(r.Last, 1.25);
    EXPECT_EQ(r.Change, 2.25);
    EXPECT_EQ(r.Volume, 3.25);
    EXPECT_EQ(r.High52, 4.25);
    EXPECT_EQ(r.Low52, 5.25);
    EXPECT_EQ(r.PeRatio, 6.25);
    EXPECT_EQ(r.Yield, 7.25);
    EXPECT_EQ(r.QuoteVolatility, 8.25);
    EXPECT_EQ(r.MarketCap, 9.25);
    EXPECT_EQ(r.CallVolume, 10.25);
    EXPECT_EQ(r.PutVolume, 11.25);
    EXPECT_EQ(r.CallOpenInterest, 12.25);
    EXPECT_EQ(r.PutOpenInterest, 13.25);
    EXPECT_EQ(r.Zorc, 14.25);
    EXPECT_EQ(r.Zorp, 15.25);
    EXPECT_EQ(r.Iv30, 16.25);
    EXPECT_EQ(r.Iv30Call, 17.25);
    EXPECT_EQ(r.Iv30Put, 18.25);
    EXPECT_EQ(r.DaysToNear, 9);
    EXPECT_EQ(r.DaysToNext, 37);
    EXPECT_EQ(r.Verdict, Verdict::SavedUp);

    const std::vector<HistoryRow> bare = store.Rows("DUNE");
    ASSERT_EQ(bare.size(), 1u);
    EXPECT_FALSE(bare[0].Last.has_value());
    EXPECT_FALSE(bare[0].Iv30.has_value());
    EXPECT_FALSE(bare[0].DaysToNear.has_value());
    EXPECT_EQ(bare[0].FailedTest, "MinVolume");
    EXPECT_EQ(store.Symbols(), (std::vector<std::string>{"ACME", "DUNE"}));
}

TEST(HistoryStoreTest, RowsOfASymbolBetweenTwoDaysInclusive) {
    TempDir dir;
    HistoryStore store;
    ASSERT_TRUE(store.Open(dir.File("History.db"))) << store.Error();
    for (HistoryDay day : {20251020, 20251016, 20251017, 20251021}) {
        ASSERT_TRUE(store.Record(Row("ACME", day, 1, day % 100)));
    }
    ASSERT_TRUE(store.Record(Row("DUNE", 20251017, 1, 5)));
    std::vector<HistoryDay> days;
    for (const HistoryRow& row : store.Rows("ACME", 20251017, 20251020))
        days.push_back(row.Day);
    EXPECT_EQ(days, (std::vector<HistoryDay>{20251017, 20251020}));
    EXPECT_EQ(store.Rows("ACME").size(), 4u);
    EXPECT_EQ(store.Days(), (std::vector<HistoryDay>{20251016, 20251017, 20251020, 20251021}));
}

TEST(HistoryStoreTest, Iv30WindowsHoldTheLastDaysBeforeTheDateOldestFirst) {
    TempDir dir;
    HistoryStore store;
    ASSERT_TRUE(store.Open(dir.File("History.db"))) << store.Error();
    ASSERT_TRUE(store.BeginBatch());
    for (int i = 1; i <= 6; ++i) {
        HistoryRow row = Row("ACME", 20251000 + i, 1, 10);
        row.Iv30 = 20.0 + i;
        if (i == 4) row.Iv30.reset();  // a day without IV30 is no day of the window
        ASSERT_TRUE(store.Record(row));
    }
    HistoryRow dune = Row("DUNE", 20251002, 1, 5);
    dune.Iv30 = 40;
    ASSERT_TRUE(store.Record(dune));
    HistoryRow late = Row("LATE", 20251006, 1, 5);  // only on the day itself
    late.Iv30 = 50;
    ASSERT_TRUE(store.Record(late));
    ASSERT_TRUE(store.CommitBatch());

    const auto windows = store.Iv30Windows(20251006, 3);
    ASSERT_EQ(windows.size(), 2u);
    EXPECT_EQ(windows.at("ACME"), (std::vector<double>{22, 23, 25}));
    EXPECT_EQ(windows.at("DUNE"), (std::vector<double>{40}));
    EXPECT_TRUE(store.Iv30Windows(20251006, 0).empty());

    // Both windows from one read: the same IV30, and the last sales of the
    // last two days before the date (day 4 without IV30 still has a sale).
    const HistoryStore::PastWindows both = store.Windows(20251006, 3, 2);
    EXPECT_EQ(both.Iv30, windows);
    ASSERT_EQ(both.LastSales.size(), 2u);
    EXPECT_EQ(both.LastSales.at("ACME").size(), 2u);
    EXPECT_EQ(both.LastSales.at("DUNE").size(), 1u);
}

// What the store holds, kept beside it in the test: each reader's answer
// worked out from it, whichever rows are settled and whether the kept
// windows stand or were dropped.
class StoreModel {
  public:
    void Record(HistoryStore& store, const HistoryRow& row) {
        ASSERT_TRUE(store.Record(row)) << store.Error();
        rows_[{row.Symbol, row.Day}] = row;
    }

    void ExpectReadersAgree(const HistoryStore& store, const std::string& when) const {
        SCOPED_TRACE(when);
        std::vector<HistoryDay> days;
        std::vector<std::string> symbols;
        for (const auto& [key, row] : rows_) {
            days.push_back(key.second);
            symbols.push_back(key.first);
        }
        std::sort(days.begin(), days.end());
        days.erase(std::unique(days.begin(), days.end()), days.end());
        symbols.erase(std::unique(symbols.begin(), symbols.end()), symbols.end());
        EXPECT_EQ(store.Days(), days);
        EXPECT_EQ(store.Symbols(), symbols);
        for (const std::string& symbol : symbols) {
            std::vector<std::pair<HistoryDay, std::optional<double>>> want, got;
            for (const auto& [key, row] : rows_)
                if (key.first == symbol) want.emplace_back(key.second, row.Iv30);
            for (const HistoryRow& row : store.Rows(symbol))
                got.emplace_back(row.Day, row.Iv30);
            EXPECT_EQ(got, want) << symbol;
        }
        // Every day as the back-test reads it, in small blocks of days.
        std::map<HistoryDay, std::vector<std::pair<std::string, std::optional<double>>>> want;
        for (const auto& [key, row] : rows_)
            want[key.second].emplace_back(key.first, row.Iv30);
        for (auto& [day, list] : want)
            std::sort(list.begin(), list.end());
        std::map<HistoryDay, std::vector<std::pair<std::string, std::optional<double>>>> got;
        ASSERT_TRUE(store.ForEachDay(
            0, 99991231, {&HistoryRow::Iv30},
            [&](HistoryDay day, std::vector<HistoryRow>& rows) {
                for (const HistoryRow& row : rows)
                    got[day].emplace_back(row.Symbol, row.Iv30);
                EXPECT_EQ(store.RowsOfDay(day).size(), rows.size());
                return true;
            },
            4096));
        EXPECT_EQ(got, want);
        // Windows shorter and longer than the kept ones, before days inside
        // and after the history.
        for (const HistoryDay before : {days[days.size() / 3], days.back(), days.back() + 1}) {
            for (const auto& [ivDays, saleDays] :
                 {std::pair{3, 2}, std::pair{251, 20}, std::pair{252, 20}, std::pair{300, 25}}) {
                const HistoryStore::PastWindows windows = store.Windows(before, ivDays, saleDays);
                EXPECT_EQ(store.Error(), "");
                EXPECT_EQ(windows.Iv30, Window(before, ivDays, &HistoryRow::Iv30))
                    << "IV30 before " << before << ", " << ivDays << " days";
                EXPECT_EQ(windows.LastSales, Window(before, saleDays, &HistoryRow::Last))
                    << "last sales before " << before << ", " << saleDays << " days";
                EXPECT_EQ(windows.LastSaleDays, SaleDays(before, saleDays))
                    << "days of the last sales before " << before << ", " << saleDays;
            }
        }
    }

  private:
    std::unordered_map<std::string, std::vector<HistoryDay>> SaleDays(HistoryDay before,
                                                                      int n) const {
        std::unordered_map<std::string, std::vector<HistoryDay>> days;
        for (const auto& [key, row] : rows_)
            if (key.second < before && row.Last) days[key.first].push_back(key.second);
        for (auto& [symbol, list] : days)
            if (list.size() > static_cast<std::size_t>(n)) list.erase(list.begin(), list.end() - n);
        return days;
    }

    std::unordered_map<std::string, std::vector<double>> Window(
        HistoryDay before, int n, std::optional<double> HistoryRow::*figure) const {
        std::unordered_map<std::string, std::vector<double>> windows;
        for (const auto& [key, row] : rows_)
            if (key.second < before && row.*figure) windows[key.first].push_back(*(row.*figure));
        for (auto& [symbol, values] : windows)
            if (values.size() > static_cast<std::size_t>(n))
                values.erase(values.begin(), values.end() - n);
        return windows;
    }

    std::map<std::pair<std::string, HistoryDay>, HistoryRow> rows_;
};

// Recorded rows go into the recent days and settle into the table by symbol
// now and then; every reader answers the same all along: before a settle,
// after one that kept the windows up to date, after a past day was recorded
// again (the kept windows dropped), and after the settle that builds them
// anew.
TEST(HistoryStoreTest, ReadersAnswerTheSameWhateverHasSettled) {
    TempDir dir;
    HistoryStore store;
    ASSERT_TRUE(store.Open(dir.File("History.db"))) << store.Error();
    StoreModel model;
    // 300 ordinal days (the store orders days as numbers); ACME on all of
    // them, DUNE on every third, ZETA only late; some days without IV30 or
    // without a last sale.
    const auto day = [](int i) { return 20240000 + i; };
    const auto record = [&](int from, int to) {
        ASSERT_TRUE(store.BeginBatch());
        for (int i = from; i <= to; ++i) {
            for (const char* symbol : {"ACME", "DUNE", "ZETA"}) {
                if (symbol[0] == 'D' && i % 3 != 0) continue;
                if (symbol[0] == 'Z' && i < 290) continue;
                HistoryRow row = Row(symbol, day(i), 1, 10 + i * 0.5);
                if (i % 7 != 0) row.Iv30 = 20 + (i * 37 % 101) * 0.25 + symbol[0];
                if (i % 11 == 0) row.Last.reset();
                model.Record(store, row);
            }
        }
        ASSERT_TRUE(store.CommitBatch()) << store.Error();
    };

    EXPECT_FALSE(store.SettleDue(day(1)));
    record(1, 280);
    model.ExpectReadersAgree(store, "nothing settled");
    EXPECT_TRUE(store.SettleDue(day(281)));
    EXPECT_FALSE(store.SettleDue(day(280))) << "a day with rows of its own settles no more";

    ASSERT_TRUE(store.Settle(day(200))) << store.Error();
    model.ExpectReadersAgree(store, "settled before day 200");
    ASSERT_TRUE(store.Settle(day(281))) << store.Error();
    EXPECT_FALSE(store.SettleDue(day(281)));
    record(281, 300);
    model.ExpectReadersAgree(store, "settled before day 281, later days recent");

    // A past day recorded again replaces its settled row.
    HistoryRow again = Row("ACME", day(250), 2, 99);
    again.Iv30 = 77;
    model.Record(store, again);
    EXPECT_TRUE(store.SettleDue(day(301))) << "the kept windows were dropped";
    model.ExpectReadersAgree(store, "windows dropped");

    ASSERT_TRUE(store.Settle(day(301))) << store.Error();
    model.ExpectReadersAgree(store, "all settled, windows built anew");
    EXPECT_FALSE(store.SettleDue(day(301)));
    EXPECT_EQ(OtherConnectionAnswer(dir.File("History.db"), "SELECT count(*) FROM recent"), "0");
    EXPECT_TRUE(store.IntegrityOk()) << store.Error();
}

TEST(HistoryStoreTest, PassesAreNumberedAndEndedWithTheirCounts) {
    TempDir dir;
    HistoryStore store;
    ASSERT_TRUE(store.Open(dir.File("History.db"))) << store.Error();
    HistoryPass pass;
    pass.AsOf = 20251017;
    pass.Started = "2025-10-17T04:40:00";
    pass.Source = "local";
    pass.Filters = "250\n8";
    const std::int64_t first = store.BeginPass(pass);
    const std::int64_t second = store.BeginPass(pass);
    ASSERT_GT(first, 0) << store.Error();
    ASSERT_GT(second, first);
    ASSERT_TRUE(store.EndPass(second, 12, 3, true, "2025-10-17T04:41:00")) << store.Error();
    EXPECT_FALSE(store.EndPass(second + 5, 1, 1, true, "x")) << "no such pass";

    const std::vector<HistoryPass> passes = store.Passes();
    ASSERT_EQ(passes.size(), 2u);
    EXPECT_FALSE(passes[0].Finished);
    EXPECT_EQ(passes[0].Ended, "");
    EXPECT_EQ(passes[1].Id, second);
    EXPECT_EQ(passes[1].AsOf, 20251017);
    EXPECT_EQ(passes[1].Source, "local");
    EXPECT_EQ(passes[1].Filters, "250\n8");
    EXPECT_EQ(passes[1].Symbols, 12);
    EXPECT_EQ(passes[1].Saved, 3);
    EXPECT_TRUE(passes[1].Finished);
    EXPECT_EQ(passes[1].Ended, "2025-10-17T04:41:00");
}

// Rows of a batch reach other readers at its commit and not before; a batch
// never committed (the program killed, or rolled back) leaves nothing.
TEST(HistoryStoreTest, ABatchIsWrittenWholeOrNotAtAll) {
    TempDir dir;
    const std::string file = dir.File("History.db");
    const std::string count = "SELECT (SELECT count(*) FROM days) + (SELECT count(*) FROM recent)";
    {
        HistoryStore store;
        ASSERT_TRUE(store.Open(file)) << store.Error();
        ASSERT_TRUE(store.BeginBatch());
        ASSERT_TRUE(store.Record(Row("ACME", 20251017, 1, 1)));
        ASSERT_TRUE(store.Record(Row("DUNE", 20251017, 1, 1)));
        EXPECT_EQ(OtherConnectionAnswer(file, count), "0");
        ASSERT_TRUE(store.CommitBatch());
        EXPECT_EQ(OtherConnectionAnswer(file, count), "2");

        ASSERT_TRUE(store.BeginBatch());
        ASSERT_TRUE(store.Record(Row("ZETA", 20251017, 1, 1)));
        store.RollbackBatch();
        EXPECT_EQ(OtherConnectionAnswer(file, count), "2");

        ASSERT_TRUE(store.BeginBatch());
        ASSERT_TRUE(store.Record(Row("ZETA", 20251017, 1, 1)));
    }  // closed inside the batch
    HistoryStore again;
    ASSERT_TRUE(again.Open(file)) << again.Error();
    EXPECT_EQ(again.Rows("ZETA").size(), 0u);
    EXPECT_EQ(again.RowsOfDay(20251017).size(), 2u);
    EXPECT_TRUE(again.IntegrityOk()) << again.Error();
    EXPECT_EQ(OtherConnectionAnswer(file, "PRAGMA journal_mode"), "wal");
    EXPECT_EQ(OtherConnectionAnswer(file, "PRAGMA user_version"),
              std::to_string(HistoryStore::SchemaVersion()));
}

TEST(HistoryStoreTest, AnOlderSchemaIsMigratedAndANewerOneRefused) {
    TempDir dir;
    const std::string file = dir.File("History.db");
    {
        // An empty database of another tool: version 0.
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
        sqlite3_exec(db, "CREATE TABLE notes (t TEXT)", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    {
        HistoryStore store;
        ASSERT_TRUE(store.Open(file)) << store.Error();
        ASSERT_TRUE(store.Record(Row("ACME", 20251017, 1, 1)));
    }
    EXPECT_EQ(OtherConnectionAnswer(file, "PRAGMA user_version"),
              std::to_string(HistoryStore::SchemaVersion()));
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
        sqlite3_exec(db, "PRAGMA user_version=99", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    HistoryStore store;
    EXPECT_FALSE(store.Open(file));
    EXPECT_NE(store.Error().find("newer"), std::string::npos) << store.Error();
    EXPECT_FALSE(store.IsOpen());
    EXPECT_FALSE(store.Record(Row("ACME", 20251018, 1, 1)));
    // No version writes a negative one: the file is damaged or another's.
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
        sqlite3_exec(db, "PRAGMA user_version=-1", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    for (const bool reading : {false, true}) {
        EXPECT_FALSE(reading ? store.OpenForReading(file) : store.Open(file));
        EXPECT_NE(store.Error().find("damaged, or not a pass history"), std::string::npos)
            << store.Error();
    }
}

// A reader opens an existing history only, of the current schema or one it
// may bring up to date, and writes nothing through it.
TEST(HistoryStoreTest, AReaderOpensAnExistingHistoryAndWritesNothing) {
    TempDir dir;
    const std::string file = dir.File("History.db");
    HistoryStore store;
    EXPECT_FALSE(store.OpenForReading(file));
    EXPECT_FALSE(dir.Exists("History.db")) << "a reader makes no history";
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
        sqlite3_exec(db, "CREATE TABLE notes (t TEXT)", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    ASSERT_TRUE(store.OpenForReading(file)) << "brought up to date: " << store.Error();
    EXPECT_TRUE(store.Days().empty());
    EXPECT_EQ(store.Error(), "");
    EXPECT_FALSE(store.Record(Row("ACME", 20251017, 1, 1)));
    EXPECT_EQ(store.BeginPass(HistoryPass{}), 0);
    EXPECT_NE(store.Error().find("readonly"), std::string::npos) << store.Error();
    store.Close();
    EXPECT_FALSE(dir.Exists("History.db-wal"));
    EXPECT_FALSE(dir.Exists("History.db-shm"));
}

// A History.db the scan cannot use is refused with SQLite's reason, at once
// or after the short busy wait, never after a long stall.
// A database of the first release: its passes and rows stay, and the saved
// sets are kept from then on. An old finished pass has no kept set and is
// not compared with.
TEST(HistoryStoreTest, AFirstReleaseDatabaseIsMigratedWithItsRows) {
    TempDir dir;
    const std::string file = dir.File("History.db");
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
        const char* v1 =
            "CREATE TABLE passes (id INTEGER PRIMARY KEY, as_of INTEGER NOT NULL,"
            " started TEXT NOT NULL DEFAULT '', ended TEXT NOT NULL DEFAULT '',"
            " source TEXT NOT NULL DEFAULT '', filters TEXT NOT NULL DEFAULT '',"
            " symbols INTEGER NOT NULL DEFAULT 0, saved INTEGER NOT NULL DEFAULT 0,"
            " finished INTEGER NOT NULL DEFAULT 0);"
            "CREATE TABLE days (symbol TEXT NOT NULL, day INTEGER NOT NULL,"
            " pass_id INTEGER NOT NULL DEFAULT 0, last REAL, change REAL, volume REAL,"
            " high52 REAL, low52 REAL, pe REAL, yield REAL, quote_volatility REAL,"
            " market_cap REAL, call_volume REAL, put_volume REAL, call_oi REAL, put_oi REAL,"
            " zorc REAL, zorp REAL, iv30 REAL, iv30_call REAL, iv30_put REAL,"
            " days_near INTEGER, days_next INTEGER, verdict TEXT NOT NULL DEFAULT '',"
            " failed_test TEXT NOT NULL DEFAULT '', PRIMARY KEY (symbol, day)) WITHOUT ROWID;"
            "CREATE INDEX days_by_day ON days (day, symbol);"
            "INSERT INTO passes (as_of, filters, finished) VALUES (20261208, 'A', 1);"
            "INSERT INTO days (symbol, day, pass_id, verdict) VALUES ('ACME', 20261208, 1, 'UP');"
            "PRAGMA user_version=1;";
        ASSERT_EQ(sqlite3_exec(db, v1, nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
    HistoryStore store;
    ASSERT_TRUE(store.Open(file)) << store.Error();
    EXPECT_EQ(OtherConnectionAnswer(file, "PRAGMA user_version"),
              std::to_string(HistoryStore::SchemaVersion()));
    ASSERT_EQ(store.Passes().size(), 1u);
    EXPECT_EQ(store.RowsOfDay(20261208).size(), 1u);
    // Its rows have no kept windows yet: the next pass builds them first.
    EXPECT_TRUE(store.SettleDue(20261209));
    ASSERT_TRUE(store.Settle(20261209)) << store.Error();
    EXPECT_EQ(OtherConnectionAnswer(file, "SELECT count(*) FROM windows"), "1");
    EXPECT_FALSE(store.SettleDue(20261209));
    EXPECT_FALSE(store.LastKeptPass("A", 99).has_value());
    HistoryRow saved = Row("ACME", 20261208, 1, 1);
    saved.Verdict = Verdict::SavedUp;
    saved.Zorc = 2;
    ASSERT_TRUE(store.KeepSavedSet(1, {saved})) << store.Error();
    ASSERT_TRUE(store.LastKeptPass("A", 99).has_value());
    EXPECT_FALSE(store.LastKeptPass("B", 99).has_value());
    const std::vector<HistoryRow> kept = store.SavedSet(1);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].Verdict, Verdict::SavedUp);
    EXPECT_EQ(kept[0].Zorc, 2);
    EXPECT_FALSE(kept[0].Zorp.has_value());
    EXPECT_FALSE(store.KeepSavedSet(7, {})) << "no pass 7";
    EXPECT_TRUE(store.IntegrityOk()) << store.Error();
}

TEST(HistoryStoreTest, AnUnusableDatabaseIsRefusedWithItsReason) {
    struct Case {
        const char* Name;
        std::function<void(const TempDir&)> Prepare;
        const char* File;
        const char* Reason;
        bool NeedsPermissions = false;  // permissions do not bind root
    };
    const Case cases[] = {
        {"corrupt bytes", [](const TempDir& d) { d.Write("History.db", std::string(8192, 'x')); },
         "History.db", "not a database"},
        {"a read-only file",
         [](const TempDir& d) {
             HistoryStore s;
             ASSERT_TRUE(s.Open(d.File("History.db")));
             s.Close();
             ::chmod(d.File("History.db").c_str(), 0444);
         },
         "History.db", "readonly", true},
        {"a read-only directory", [](const TempDir& d) { ::mkdir(d.File("ro").c_str(), 0555); },
         "ro/History.db", "unable to open", true},
        {"a directory in its place",
         [](const TempDir& d) { ::mkdir(d.File("History.db").c_str(), 0755); }, "History.db",
         "unable to open"},
    };
    const bool permissionsBind = ::geteuid() != 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        if (c.NeedsPermissions && !permissionsBind) continue;
        TempDir dir;
        c.Prepare(dir);
        HistoryStore store;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(store.Open(dir.File(c.File)));
        EXPECT_NE(store.Error().find(c.Reason), std::string::npos) << store.Error();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
        EXPECT_FALSE(store.BeginBatch());
        ::chmod(dir.File("ro").c_str(), 0755);
    }
}

TEST(HistoryStoreTest, ADatabaseLockedByAnotherProgramFailsTheWriteAfterAShortWait) {
    TempDir dir;
    const std::string file = dir.File("History.db");
    HistoryStore store;
    ASSERT_TRUE(store.Open(file)) << store.Error();
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);

    const auto start = std::chrono::steady_clock::now();
    const bool began = store.BeginBatch();
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(began);
    EXPECT_NE(store.Error().find("database is locked"), std::string::npos) << store.Error();
    EXPECT_GE(waited, std::chrono::milliseconds(900));
    EXPECT_LT(waited, std::chrono::seconds(3));

    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_TRUE(store.BeginBatch()) << "free again";
    EXPECT_TRUE(store.Record(Row("ACME", 20251017, 1, 1)));
    EXPECT_TRUE(store.CommitBatch());
}

}  // namespace
}  // namespace quillon
