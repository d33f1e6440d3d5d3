// The history store's passes and rows: a pass begun and ended, rows recorded in batches, a symbol's
// or a day's rows read, the days and the partial ones.

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

std::int64_t HistoryStore::BeginPass(const HistoryPass& pass) {
    error_.clear();
    Statement s{Prepare(
        "INSERT INTO passes (as_of, started, ended, source, filters, symbols, saved, finished, "
        "partial) VALUES (?,?,?,?,?,?,?,?,?)")};
    if (s.s == nullptr) return 0;
    sqlite3_bind_int(s.s, 1, pass.AsOf);
    BindText(s.s, 2, pass.Started);
    BindText(s.s, 3, pass.Ended);
    BindText(s.s, 4, pass.Source);
    BindText(s.s, 5, pass.Filters);
    sqlite3_bind_int(s.s, 6, pass.Symbols);
    sqlite3_bind_int(s.s, 7, pass.Saved);
    sqlite3_bind_int(s.s, 8, pass.Finished ? 1 : 0);
    sqlite3_bind_int(s.s, 9, pass.Partial ? 1 : 0);
    if (sqlite3_step(s.s) != SQLITE_DONE) {
        Fail("insert pass");
        return 0;
    }
    return sqlite3_last_insert_rowid(db_);
}

bool HistoryStore::EndPass(std::int64_t id, int symbols, int saved, bool finished,
                           const std::string& ended) {
    error_.clear();
    Statement s{
        Prepare("UPDATE passes SET symbols = ?, saved = ?, finished = ?, ended = ? "
                "WHERE id = ?")};
    if (s.s == nullptr) return false;
    sqlite3_bind_int(s.s, 1, symbols);
    sqlite3_bind_int(s.s, 2, saved);
    sqlite3_bind_int(s.s, 3, finished ? 1 : 0);
    BindText(s.s, 4, ended);
    sqlite3_bind_int64(s.s, 5, id);
    if (sqlite3_step(s.s) != SQLITE_DONE) return Fail("update pass");
    if (sqlite3_changes(db_) != 1) {
        error_ = "no pass " + std::to_string(id);
        return false;
    }
    return true;
}

bool HistoryStore::Record(const HistoryRow& row) {
    error_.clear();
    if (record_ == nullptr) {
        error_ = "the history is not open";
        return false;
    }
    const bool own = !inBatch_;
    if (own && !(Exec("BEGIN IMMEDIATE") && ReadSettled())) {
        const std::string why = error_;
        if (sqlite3_get_autocommit(db_) == 0) Exec("ROLLBACK");
        error_ = why;
        return false;
    }
    bool ok = true;
    if (row.Day <= settledThrough_) {
        // A day already settled: its row there gives way to this one, and
        // the kept windows, which end later, no longer hold.
        sqlite3_stmt* s = recordPast_;
        sqlite3_reset(s);
        BindText(s, 1, row.Symbol);
        sqlite3_bind_int(s, 2, row.Day);
        ok = sqlite3_step(s) == SQLITE_DONE || Fail("delete settled row");
        sqlite3_reset(s);
    }
    if (ok && windowsThrough_ && row.Day <= *windowsThrough_) ok = DropWindows();
    if (ok) {
        sqlite3_stmt* s = record_;
        sqlite3_reset(s);
        sqlite3_clear_bindings(s);
        BindText(s, 1, row.Symbol);
        sqlite3_bind_int(s, 2, row.Day);
        sqlite3_bind_int64(s, 3, row.PassId);
        int column = 4;
        for (std::optional<double> HistoryRow::*figure : kRowFigures)
            BindDouble(s, column++, row.*figure);
        BindInt(s, column++, row.DaysToNear);
        BindInt(s, column++, row.DaysToNext);
        BindText(s, column++, std::string(VerdictText(row.Verdict)));
        BindText(s, column++, row.FailedTest);
        ok = sqlite3_step(s) == SQLITE_DONE || Fail("insert row");
        sqlite3_reset(s);
    }
    if (!own) return ok;
    if (CommitOwn(ok)) return true;
    return false;
}

bool HistoryStore::BeginBatch() {
    error_.clear();
    if (db_ == nullptr) {
        error_ = "the history is not open";
        return false;
    }
    if (inBatch_) return true;
    if (!Exec("BEGIN IMMEDIATE")) return false;
    if (!ReadSettled()) {
        const std::string why = error_;
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        error_ = why;
        return false;
    }
    inBatch_ = true;
    return true;
}

bool HistoryStore::CommitBatch() {
    error_.clear();
    if (!inBatch_) return true;
    if (!Exec("COMMIT")) {
        // A commit that failed leaves the transaction open (SQLITE_BUSY) or
        // already rolled back (a full disk): either way its rows are gone.
        const std::string why = error_;
        RollbackBatch();
        error_ = why;
        return false;
    }
    inBatch_ = false;
    return true;
}

void HistoryStore::RollbackBatch() {
    if (db_ != nullptr && sqlite3_get_autocommit(db_) == 0) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    inBatch_ = false;
}

std::vector<HistoryRow> HistoryStore::Rows(const std::string& symbol, HistoryDay from,
                                           HistoryDay to) const {
    std::vector<HistoryRow> rows;
    error_.clear();
    if (db_ == nullptr) {
        error_ = "the history is not open";
        return rows;
    }
    ReadTransaction transaction(db_);
    const std::string settled =
        std::string("SELECT ") + kRowColumns +
        " FROM days WHERE symbol = ? AND day >= ? AND day <= ? ORDER BY day";
    Statement s{Prepare(settled.c_str())};
    if (s.s == nullptr) return rows;
    BindText(s.s, 1, symbol);
    sqlite3_bind_int(s.s, 2, from);
    sqlite3_bind_int(s.s, 3, to);
    int rc;
    while ((rc = sqlite3_step(s.s)) == SQLITE_ROW)
        rows.push_back(RowOf(s.s));
    if (StepFailed(rc)) return {};
    // The recent days are keyed by day first: the symbol's row of each is
    // one lookup, where a search by symbol would read every recent row.
    std::vector<HistoryDay> days;
    const std::string one =
        std::string("SELECT ") + kRowColumns + " FROM recent WHERE day = ? AND symbol = ?";
    Statement recent{Prepare(one.c_str())};
    if (recent.s == nullptr) return {};
    if (!TableDays(db_, "recent", from, to, days)) {
        error_ = Why();
        return {};
    }
    const std::size_t settledRows = rows.size();
    for (const HistoryDay day : days) {
        sqlite3_reset(recent.s);
        sqlite3_bind_int(recent.s, 1, day);
        BindText(recent.s, 2, symbol);
        rc = sqlite3_step(recent.s);
        if (rc == SQLITE_ROW) rows.push_back(RowOf(recent.s));
        if (StepFailed(rc)) return {};
    }
    if (rows.size() > settledRows && settledRows > 0 &&
        rows[settledRows].Day < rows[settledRows - 1].Day) {
        std::stable_sort(rows.begin(), rows.end(),
                         [](const HistoryRow& a, const HistoryRow& b) { return a.Day < b.Day; });
    }
    return rows;
}

std::vector<HistoryRow> HistoryStore::RowsOfDay(HistoryDay day) const {
    std::vector<HistoryRow> rows;
    error_.clear();
    const std::string sql = std::string("SELECT ") + kRowColumns +
                            " FROM days WHERE day = ?1 UNION ALL SELECT " + kRowColumns +
                            " FROM recent WHERE day = ?1 ORDER BY symbol";
    Statement s{Prepare(sql.c_str())};
    if (s.s == nullptr) return rows;
    sqlite3_bind_int(s.s, 1, day);
    int rc;
    while ((rc = sqlite3_step(s.s)) == SQLITE_ROW)
        rows.push_back(RowOf(s.s));
    if (StepFailed(rc)) return {};
    return rows;
}

std::vector<HistoryDay> HistoryStore::Days() const {
    error_.clear();
    ReadTransaction transaction(db_);
    std::vector<HistoryDay> days;
    if (db_ == nullptr || !DaysBetween(db_, 0, 99991231, days)) {
        error_ = Why();
        return {};
    }
    return days;
}

std::vector<HistoryDay> HistoryStore::PartialDays(HistoryDay from, HistoryDay to) const {
    error_.clear();
    ReadTransaction transaction(db_);
    std::vector<HistoryDay> days;
    if (db_ == nullptr || !DaysBetween(db_, from, to, days)) {
        error_ = Why();
        return {};
    }
    Statement s{
        Prepare("SELECT DISTINCT as_of FROM passes WHERE finished = 1 AND partial = 0"
                " AND as_of >= ? AND as_of <= ? ORDER BY as_of")};
    if (s.s == nullptr) return {};
    sqlite3_bind_int(s.s, 1, from);
    sqlite3_bind_int(s.s, 2, to);
    std::vector<HistoryDay> whole;
    int rc;
    while ((rc = sqlite3_step(s.s)) == SQLITE_ROW)
        whole.push_back(sqlite3_column_int(s.s, 0));
    if (StepFailed(rc)) return {};
    std::vector<HistoryDay> partial;
    std::set_difference(days.begin(), days.end(), whole.begin(), whole.end(),
                        std::back_inserter(partial));
    return partial;
}

}  // namespace quillon
