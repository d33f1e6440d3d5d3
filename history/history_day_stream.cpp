// The history store's day stream: every row from one day to another, a block of days at a time, for
// the back-test.

#include "history/history_store.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iterator>
#include <limits>
#include <string_view>

#include <sys/stat.h>
#include <unistd.h>

#include "history/store_sql.h"

namespace quillon {

using namespace store_sql;

namespace {

using RowFigure = HistoryStore::RowFigure;

// The rows of a block of days, kept compact until each day is handed on: a
// row's symbol, its pass and where its figures start in `values` (NaN for
// nothing: SQLite keeps no NaN).
struct DayBlock {
    struct Kept {
        std::uint32_t symbol;
        std::uint32_t at;
        std::int64_t pass;
    };
    std::vector<std::vector<Kept>> days;  // by day of the block
    std::vector<double> values;
    std::vector<bool> mixed;  // a day with rows of both tables
    std::size_t width = 0;    // figures a row

    void Keep(std::size_t day, std::size_t symbol, sqlite3_stmt* s, int passColumn) {
        days[day].push_back(Kept{static_cast<std::uint32_t>(symbol),
                                 static_cast<std::uint32_t>(values.size()),
                                 sqlite3_column_int64(s, passColumn)});
        for (std::size_t i = 0; i < width; ++i) {
            const int column = static_cast<int>(i) + passColumn + 1;
            values.push_back(sqlite3_column_type(s, column) == SQLITE_NULL
                                 ? std::numeric_limits<double>::quiet_NaN()
                                 : sqlite3_column_double(s, column));
        }
    }
};

// The figures of `figures` this table has, in the order asked for, and the
// columns that read them after the day and the pass.
std::vector<RowFigure> KnownFigures(const std::vector<RowFigure>& figures, std::string& columns) {
    std::vector<RowFigure> known;
    columns = "day, pass_id";
    for (RowFigure figure : figures) {
        const auto* at = std::find(std::begin(kRowFigures), std::end(kRowFigures), figure);
        if (at == std::end(kRowFigures)) continue;
        known.push_back(figure);
        columns += std::string(", ") + kRowFigureColumns[at - std::begin(kRowFigures)];
    }
    return known;
}

// The settled days start..end-1 of `days`, symbol by symbol along the key.
bool ReadSettledDays(sqlite3_stmt* rows, const std::vector<std::string>& symbols,
                     const std::vector<HistoryDay>& days, std::size_t start, std::size_t end,
                     DayBlock& block) {
    for (std::size_t symbol = 0; symbol < symbols.size(); ++symbol) {
        sqlite3_reset(rows);
        BindText(rows, 1, symbols[symbol]);
        sqlite3_bind_int(rows, 2, days[start]);
        sqlite3_bind_int(rows, 3, days[end - 1]);
        std::size_t at = start;
        int rc;
        while ((rc = sqlite3_step(rows)) == SQLITE_ROW) {
            const HistoryDay rowDay = sqlite3_column_int(rows, 0);
            while (at < end && days[at] < rowDay)
                ++at;
            if (at == end) break;
            block.Keep(at - start, symbol, rows, 1);
        }
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) return false;
    }
    return true;
}

// The recent days of the block, in one read along their key.
bool ReadRecentDays(sqlite3_stmt* recentRows, const std::vector<std::string>& symbols,
                    const std::vector<HistoryDay>& days, std::size_t start, std::size_t end,
                    DayBlock& block) {
    sqlite3_reset(recentRows);
    sqlite3_bind_int(recentRows, 1, days[start]);
    sqlite3_bind_int(recentRows, 2, days[end - 1]);
    int rc;
    while ((rc = sqlite3_step(recentRows)) == SQLITE_ROW) {
        const std::string symbol = ColumnText(recentRows, 0);
        const HistoryDay rowDay = sqlite3_column_int(recentRows, 1);
        const auto at = std::lower_bound(days.begin() + static_cast<long>(start),
                                         days.begin() + static_cast<long>(end), rowDay);
        const auto name = std::lower_bound(symbols.begin(), symbols.end(), symbol);
        if (at == days.end() || *at != rowDay || name == symbols.end() || *name != symbol) continue;
        const auto d = static_cast<std::size_t>(at - days.begin()) - start;
        block.mixed[d] = block.mixed[d] || !block.days[d].empty();
        block.Keep(d, static_cast<std::size_t>(name - symbols.begin()), recentRows, 2);
    }
    return rc == SQLITE_DONE;
}

// Day d of the block (the day `day`) as rows, in the order of their symbols.
void FillDayRows(DayBlock& block, std::size_t d, HistoryDay day,
                 const std::vector<std::string>& symbols, const std::vector<RowFigure>& known,
                 std::vector<HistoryRow>& dayRows) {
    std::vector<DayBlock::Kept>& kept = block.days[d];
    if (block.mixed[d]) {
        std::sort(kept.begin(), kept.end(), [](const DayBlock::Kept& a, const DayBlock::Kept& b) {
            return a.symbol < b.symbol;
        });
        block.mixed[d] = false;
    }
    dayRows.resize(kept.size());
    for (std::size_t i = 0; i < kept.size(); ++i) {
        // Every field set afresh, without building a row anew.
        HistoryRow& row = dayRows[i];
        for (RowFigure figure : kRowFigures)
            (row.*figure).reset();
        row.DaysToNear.reset();
        row.DaysToNext.reset();
        row.Verdict.reset();
        row.FailedTest.clear();
        row.Symbol = symbols[kept[i].symbol];
        row.Day = day;
        row.PassId = kept[i].pass;
        const double* figure = block.values.data() + kept[i].at;
        for (std::size_t f = 0; f < block.width; ++f) {
            if (!std::isnan(figure[f])) row.*known[f] = figure[f];
        }
    }
    kept.clear();
}

}  // namespace

bool HistoryStore::ForEachDay(HistoryDay from, HistoryDay to, const std::vector<RowFigure>& figures,
                              const std::function<bool(HistoryDay, std::vector<HistoryRow>&)>& day,
                              std::size_t blockBytes) const {
    error_.clear();
    if (db_ == nullptr) {
        error_ = "the history is not open";
        return false;
    }
    // Reading the table in the order of the by-day index would look every
    // row up by its key, one random read each. Instead the rows of a block
    // of days are read symbol by symbol along the key, a short ordered run
    // for each symbol, kept in a compact form and handed on day by day. A
    // block holds about blockBytes of figures however many years the table
    // holds; SQLite's page cache is raised for the read so that each page is
    // read from the file about once.
    constexpr int kReadCacheKiB = 32768;
    const auto failed = [this] {
        error_ = Why();
        return false;
    };
    std::string columns;
    const std::vector<RowFigure> known = KnownFigures(figures, columns);

    ReadTransaction transaction(db_);
    // The days of the range and the symbols of both tables.
    std::vector<HistoryDay> days;
    if (!DaysBetween(db_, from, to, days)) return failed();
    const std::vector<std::string> symbols = Symbols();
    if (!error_.empty()) return false;
    if (days.empty() || symbols.empty()) return true;

    const std::string sql =
        "SELECT " + columns + " FROM days WHERE symbol = ? AND day >= ? AND day <= ? ORDER BY day";
    Statement rows{Prepare(sql.c_str())};
    const std::string recentSql = "SELECT symbol, " + columns +
                                  " FROM recent WHERE day >= ? AND day <= ? ORDER BY day, symbol";
    Statement recentRows{Prepare(recentSql.c_str())};
    if (rows.s == nullptr || recentRows.s == nullptr) return false;
    const PageCache cache(db_, kReadCacheKiB);

    DayBlock block;
    block.width = known.size();
    const std::size_t rowBytes = sizeof(DayBlock::Kept) + block.width * sizeof(double);
    const std::size_t blockDays = std::max<std::size_t>(1, blockBytes / rowBytes / symbols.size());
    block.days.resize(std::min(blockDays, days.size()));
    block.mixed.resize(block.days.size());
    std::vector<HistoryRow> dayRows;
    for (std::size_t start = 0; start < days.size(); start += blockDays) {
        const std::size_t end = std::min(start + blockDays, days.size());
        block.values.clear();
        if (!ReadSettledDays(rows.s, symbols, days, start, end, block)) return failed();
        if (!ReadRecentDays(recentRows.s, symbols, days, start, end, block)) return failed();
        for (std::size_t d = start; d < end; ++d) {
            FillDayRows(block, d - start, days[d], symbols, known, dayRows);
            if (!day(days[d], dayRows)) return true;
        }
    }
    return true;
}

}  // namespace quillon
