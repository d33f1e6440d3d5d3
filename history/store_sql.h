#pragma once
// What the parts of the history store share: SQLite statements that finalize
// themselves, binding and reading columns, a row of the days tables, the kept
// windows' packing, and the page cache and read transaction of a connection.
// For history/ alone.

#include <sqlite3.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "history/history_row.h"

namespace quillon::store_sql {

inline constexpr const char* kRowColumns =
    "symbol, day, pass_id, last, change, volume, high52, low52, pe, yield, quote_volatility,"
    " market_cap, call_volume, put_volume, call_oi, put_oi, zorc, zorp, iv30, iv30_call,"
    " iv30_put, days_near, days_next, verdict, failed_test";

// Finalizes a statement when it goes out of scope.
struct Statement {
    sqlite3_stmt* s = nullptr;
    ~Statement() { sqlite3_finalize(s); }
};

inline sqlite3_stmt* PrepareOn(sqlite3* db, const char* sql) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) != SQLITE_OK) {
        sqlite3_finalize(s);
        return nullptr;
    }
    return s;
}

inline void BindText(sqlite3_stmt* s, int i, const std::string& text) {
    sqlite3_bind_text(s, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

inline void BindDouble(sqlite3_stmt* s, int i, const std::optional<double>& value) {
    if (value) {
        sqlite3_bind_double(s, i, *value);
    } else {
        sqlite3_bind_null(s, i);
    }
}

inline void BindInt(sqlite3_stmt* s, int i, const std::optional<int>& value) {
    if (value) {
        sqlite3_bind_int(s, i, *value);
    } else {
        sqlite3_bind_null(s, i);
    }
}

inline std::string ColumnText(sqlite3_stmt* s, int i) {
    const unsigned char* text = sqlite3_column_text(s, i);
    if (text == nullptr) return {};
    return std::string(reinterpret_cast<const char*>(text),
                       static_cast<std::size_t>(sqlite3_column_bytes(s, i)));
}

inline std::optional<double> ColumnDouble(sqlite3_stmt* s, int i) {
    if (sqlite3_column_type(s, i) == SQLITE_NULL) return std::nullopt;
    return sqlite3_column_double(s, i);
}

inline std::optional<int> ColumnInt(sqlite3_stmt* s, int i) {
    if (sqlite3_column_type(s, i) == SQLITE_NULL) return std::nullopt;
    return sqlite3_column_int(s, i);
}

// The figures of a row, in the order of their columns after symbol, day
// and pass.
inline constexpr std::optional<double> HistoryRow::*kRowFigures[] = {
    &HistoryRow::Last,
    &HistoryRow::Change,
    &HistoryRow::Volume,
    &HistoryRow::High52,
    &HistoryRow::Low52,
    &HistoryRow::PeRatio,
    &HistoryRow::Yield,
    &HistoryRow::QuoteVolatility,
    &HistoryRow::MarketCap,
    &HistoryRow::CallVolume,
    &HistoryRow::PutVolume,
    &HistoryRow::CallOpenInterest,
    &HistoryRow::PutOpenInterest,
    &HistoryRow::Zorc,
    &HistoryRow::Zorp,
    &HistoryRow::Iv30,
    &HistoryRow::Iv30Call,
    &HistoryRow::Iv30Put,
};

// The columns of those figures, in the same order.
inline constexpr const char* kRowFigureColumns[] = {
    "last",       "change",    "volume",           "high52",     "low52",
    "pe",         "yield",     "quote_volatility", "market_cap", "call_volume",
    "put_volume", "call_oi",   "put_oi",           "zorc",       "zorp",
    "iv30",       "iv30_call", "iv30_put"};
static_assert(std::size(kRowFigureColumns) == std::size(kRowFigures));

// A row of the days table, its columns in kRowColumns order.
inline HistoryRow RowOf(sqlite3_stmt* s) {
    HistoryRow row;
    row.Symbol = ColumnText(s, 0);
    row.Day = sqlite3_column_int(s, 1);
    row.PassId = sqlite3_column_int64(s, 2);
    int column = 3;
    for (std::optional<double> HistoryRow::*figure : kRowFigures)
        row.*figure = ColumnDouble(s, column++);
    row.DaysToNear = ColumnInt(s, column++);
    row.DaysToNext = ColumnInt(s, column++);
    row.Verdict = VerdictNamed(ColumnText(s, column++));
    row.FailedTest = ColumnText(s, column++);
    return row;
}

// The days from `from` to `to` of `table` (one of this file's own names),
// each found by one step down the by-day index or the key, however many rows
// a day has.
inline bool TableDays(sqlite3* db, const char* table, HistoryDay from, HistoryDay to,
                      std::vector<HistoryDay>& days) {
    days.clear();
    const std::string sql = std::string("SELECT day FROM ") + table +
                            " WHERE day > ? AND day <= ? ORDER BY day LIMIT 1";
    Statement next{PrepareOn(db, sql.c_str())};
    if (next.s == nullptr) return false;
    HistoryDay after = from - 1;
    for (;;) {
        sqlite3_reset(next.s);
        sqlite3_bind_int(next.s, 1, after);
        sqlite3_bind_int(next.s, 2, to);
        const int rc = sqlite3_step(next.s);
        if (rc == SQLITE_DONE) return true;
        if (rc != SQLITE_ROW) return false;
        after = sqlite3_column_int(next.s, 0);
        days.push_back(after);
    }
}

// A kept window: its figures as 8-byte little-endian IEEE doubles.
inline std::string PackedValues(const std::vector<double>& values) {
    std::string bytes(values.size() * 8, '\0');
    for (std::size_t i = 0; i < values.size(); ++i) {
        const auto bits = std::bit_cast<std::uint64_t>(values[i]);
        for (int b = 0; b < 8; ++b)
            bytes[i * 8 + static_cast<std::size_t>(b)] = static_cast<char>(bits >> (8 * b));
    }
    return bytes;
}

// Appends the last `most` figures of a kept window to `values`.
inline void AppendUnpacked(sqlite3_stmt* s, int column, std::vector<double>& values,
                           std::size_t most = std::numeric_limits<std::size_t>::max()) {
    const auto* bytes = static_cast<const unsigned char*>(sqlite3_column_blob(s, column));
    const auto count = static_cast<std::size_t>(sqlite3_column_bytes(s, column)) / 8;
    if (bytes == nullptr) return;
    const std::size_t skip = count > most ? count - most : 0;
    bytes += skip * 8;
    if constexpr (std::endian::native == std::endian::little) {
        const std::size_t at = values.size();
        values.resize(at + count - skip);
        std::memcpy(values.data() + at, bytes, (count - skip) * 8);
        return;
    }
    for (std::size_t i = 0; i < count - skip; ++i) {
        std::uint64_t bits = 0;
        for (int b = 7; b >= 0; --b)
            bits = bits << 8 | bytes[i * 8 + static_cast<std::size_t>(b)];
        values.push_back(std::bit_cast<double>(bits));
    }
}

// Keeps the last `n` of `values`.
template <typename T>
void KeepLast(std::vector<T>& values, std::size_t n) {
    if (values.size() > n) values.erase(values.begin(), values.end() - static_cast<long>(n));
}

// SQLite's page cache of a connection raised to `kib` for a while: a settle
// changes thousands of pages, one or more per symbol, and a large cache
// holds them until the commit instead of spilling them into the log before
// it. Other work keeps SQLite's default of about 2 MB, which a pass's
// appends and the read of the kept windows need no more than.
class PageCache {
  public:
    PageCache(sqlite3* db, int kib) : db_(db) {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(db_, "PRAGMA cache_size", -1, &s, nullptr) == SQLITE_OK &&
            sqlite3_step(s) == SQLITE_ROW) {
            before_ = sqlite3_column_int(s, 0);
        }
        sqlite3_finalize(s);
        const std::string sql = "PRAGMA cache_size=-" + std::to_string(kib);
        sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
    }
    ~PageCache() {
        const std::string sql = "PRAGMA cache_size=" + std::to_string(before_);
        sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
    }
    PageCache(const PageCache&) = delete;
    PageCache& operator=(const PageCache&) = delete;

  private:
    sqlite3* db_;
    int before_ = -2000;
};

// A read of several statements sees one state of the file: a Settle by
// another program between them would show its rows twice or not at all.
class ReadTransaction {
  public:
    explicit ReadTransaction(sqlite3* db)
        : db_(db), own_(db != nullptr && sqlite3_get_autocommit(db) != 0) {
        if (own_) sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr);
    }
    ~ReadTransaction() {
        if (own_ && sqlite3_get_autocommit(db_) == 0)
            sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    }
    ReadTransaction(const ReadTransaction&) = delete;
    ReadTransaction& operator=(const ReadTransaction&) = delete;

  private:
    sqlite3* db_;
    bool own_;
};

// The days from `from` to `to` of both tables, each found by one step down
// the by-day index or the key, however many rows a day has.
inline bool DaysBetween(sqlite3* db, HistoryDay from, HistoryDay to,
                        std::vector<HistoryDay>& days) {
    days.clear();
    for (const char* table : {"days", "recent"}) {
        std::vector<HistoryDay> found;
        if (!TableDays(db, table, from, to, found)) return false;
        std::vector<HistoryDay> both;
        std::set_union(days.begin(), days.end(), found.begin(), found.end(),
                       std::back_inserter(both));
        days.swap(both);
    }
    return true;
}

}  // namespace quillon::store_sql
