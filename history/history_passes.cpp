// The history store's passes read back, their rows, their saved sets and change blocks, and the
// symbols.

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

constexpr const char* kPassColumns =
    "id, as_of, started, ended, source, filters, symbols, saved, finished, partial";

HistoryPass PassOf(sqlite3_stmt* s) {
    HistoryPass pass;
    pass.Id = sqlite3_column_int64(s, 0);
    pass.AsOf = sqlite3_column_int(s, 1);
    pass.Started = ColumnText(s, 2);
    pass.Ended = ColumnText(s, 3);
    pass.Source = ColumnText(s, 4);
    pass.Filters = ColumnText(s, 5);
    pass.Symbols = sqlite3_column_int(s, 6);
    pass.Saved = sqlite3_column_int(s, 7);
    pass.Finished = sqlite3_column_int(s, 8) != 0;
    pass.Partial = sqlite3_column_int(s, 9) != 0;
    return pass;
}

}  // namespace

std::vector<HistoryPass> HistoryStore::Passes() const {
    std::vector<HistoryPass> passes;
    error_.clear();
    const std::string sql = std::string("SELECT ") + kPassColumns + " FROM passes ORDER BY id";
    Statement s{Prepare(sql.c_str())};
    if (s.s == nullptr) return passes;
    int rc;
    while ((rc = sqlite3_step(s.s)) == SQLITE_ROW)
        passes.push_back(PassOf(s.s));
    if (StepFailed(rc)) return {};
    return passes;
}

namespace {

// The rows of pass ?1 and of the unfinished passes it went on from: those
// after the last finished pass of the same source and filters. Their rows
// lie on their as-of dates or later (a pass that goes on past midnight): the
// by-day index finds the settled ones without reading the years before.
// `own` holds the passes, `mine` their rows with the columns given.
std::string PassRowsSql(const std::string& columns) {
    return "WITH own(id, as_of) AS (SELECT o.id, o.as_of FROM passes o, passes p"
           " WHERE p.id = ?1 AND (o.id = p.id OR (o.id < p.id AND o.finished = 0"
           " AND o.source = p.source AND o.filters = p.filters AND o.id > IFNULL(("
           "SELECT MAX(f.id) FROM passes f WHERE f.id < p.id AND f.finished = 1"
           " AND f.source = p.source AND f.filters = p.filters), 0)))),"
           " mine AS (SELECT " +
           columns +
           " FROM days INDEXED BY days_by_day WHERE day >= (SELECT MIN(as_of) FROM own)"
           " AND pass_id IN (SELECT id FROM own) UNION ALL SELECT " +
           columns +
           " FROM recent WHERE day >= (SELECT MIN(as_of) FROM own)"
           " AND pass_id IN (SELECT id FROM own))";
}

// The last row of each symbol of pass ?1 (a symbol judged again after
// midnight has two), as `latest`.
std::string LatestPassRowsSql() {
    return PassRowsSql("symbol, day, verdict, failed_test, zorc, zorp") +
           ", latest AS (SELECT symbol, verdict, failed_test, zorc, zorp, MAX(day) AS day"
           " FROM mine GROUP BY symbol)";
}

constexpr const char* kSavedVerdicts = "('UP', 'DOWN', 'SAVED')";

}  // namespace

std::vector<HistoryRow> HistoryStore::RowsOfPass(std::int64_t pass) const {
    std::vector<HistoryRow> rows;
    error_.clear();
    const std::string sql =
        PassRowsSql(kRowColumns) + " SELECT " + kRowColumns + " FROM mine ORDER BY symbol";
    Statement s{Prepare(sql.c_str())};
    if (s.s == nullptr) return rows;
    sqlite3_bind_int64(s.s, 1, pass);
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(s.s)) == SQLITE_ROW)
        rows.push_back(RowOf(s.s));
    if (rc != SQLITE_DONE) error_ = Why();
    return rows;
}

int HistoryStore::KeepSavedSetOfPass(std::int64_t pass) {
    error_.clear();
    if (db_ == nullptr) {
        error_ = "the history is not open";
        return -1;
    }
    const bool own = !inBatch_;
    if (own && !Exec("BEGIN IMMEDIATE")) return -1;
    int saved = -1;
    {
        Statement clear{Prepare("DELETE FROM pass_saved WHERE pass_id = ?")};
        const std::string sql = LatestPassRowsSql() +
                                " INSERT INTO pass_saved (pass_id, symbol, verdict, zorc, zorp)"
                                " SELECT ?1, symbol, verdict, zorc, zorp FROM latest"
                                " WHERE verdict IN " +
                                kSavedVerdicts;
        Statement insert{Prepare(sql.c_str())};
        Statement mark{Prepare("UPDATE passes SET saved_kept = 1 WHERE id = ?")};
        bool ok = clear.s != nullptr && insert.s != nullptr && mark.s != nullptr;
        if (ok) {
            sqlite3_bind_int64(clear.s, 1, pass);
            sqlite3_bind_int64(insert.s, 1, pass);
            sqlite3_bind_int64(mark.s, 1, pass);
            ok = (sqlite3_step(clear.s) == SQLITE_DONE || Fail("delete saved set")) &&
                 (sqlite3_step(insert.s) == SQLITE_DONE || Fail("keep saved set"));
        }
        if (ok) saved = sqlite3_changes(db_);
        ok = ok && (sqlite3_step(mark.s) == SQLITE_DONE || Fail("mark saved set"));
        if (ok && sqlite3_changes(db_) != 1) {
            error_ = "no pass " + std::to_string(pass);
            ok = false;
        }
        if (!ok) saved = -1;
    }
    if (!own) return saved;
    if (saved >= 0 && Exec("COMMIT")) return saved;
    const std::string why = error_;
    if (sqlite3_get_autocommit(db_) == 0) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    error_ = why;
    return -1;
}

std::vector<HistoryRow> HistoryStore::SavedRows(sqlite3_stmt* s, std::int64_t pass) const {
    std::vector<HistoryRow> rows;
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
        HistoryRow row;
        row.Symbol = ColumnText(s, 0);
        row.PassId = pass;
        row.Verdict = VerdictNamed(ColumnText(s, 1));
        row.Zorc = ColumnDouble(s, 2);
        row.Zorp = ColumnDouble(s, 3);
        rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE) error_ = Why();
    return rows;
}

std::vector<HistoryRow> HistoryStore::SavedOnlyBy(std::int64_t pass, std::int64_t other) const {
    error_.clear();
    Statement s{
        Prepare("SELECT n.symbol, n.verdict, n.zorc, n.zorp FROM pass_saved n WHERE n.pass_id = ?1"
                " AND NOT EXISTS (SELECT 1 FROM pass_saved o WHERE o.pass_id = ?2"
                " AND o.symbol = n.symbol) ORDER BY n.symbol")};
    if (s.s == nullptr) return {};
    sqlite3_bind_int64(s.s, 1, pass);
    sqlite3_bind_int64(s.s, 2, other);
    return SavedRows(s.s, pass);
}

std::vector<HistoryStore::TurnedRow> HistoryStore::SavedTurned(std::int64_t pass,
                                                               std::int64_t previous) const {
    error_.clear();
    Statement s{
        Prepare("SELECT n.symbol, n.verdict, n.zorc, n.zorp, o.verdict FROM pass_saved n"
                " JOIN pass_saved o ON o.pass_id = ?2 AND o.symbol = n.symbol"
                " WHERE n.pass_id = ?1 AND o.verdict <> n.verdict"
                " AND o.verdict IN ('UP', 'DOWN') AND n.verdict IN ('UP', 'DOWN')"
                " ORDER BY n.symbol")};
    if (s.s == nullptr) return {};
    sqlite3_bind_int64(s.s, 1, pass);
    sqlite3_bind_int64(s.s, 2, previous);
    std::vector<TurnedRow> turned;
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(s.s)) == SQLITE_ROW) {
        TurnedRow row;
        row.Now.Symbol = ColumnText(s.s, 0);
        row.Now.PassId = pass;
        row.Now.Verdict = VerdictNamed(ColumnText(s.s, 1));
        if (sqlite3_column_type(s.s, 2) != SQLITE_NULL)
            row.Now.Zorc = sqlite3_column_double(s.s, 2);
        if (sqlite3_column_type(s.s, 3) != SQLITE_NULL)
            row.Now.Zorp = sqlite3_column_double(s.s, 3);
        row.Was = VerdictNamed(ColumnText(s.s, 4));
        turned.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE) {
        error_ = Why();
        return {};
    }
    return turned;
}

std::vector<HistoryRow> HistoryStore::SavedNoLonger(std::int64_t pass,
                                                    std::int64_t previous) const {
    std::vector<HistoryRow> rows;
    error_.clear();
    // The symbols of the earlier set the pass did not keep, each beside the
    // pass's last row of it when it has one.
    const std::string sql = LatestPassRowsSql() +
                            ", gone AS (SELECT o.symbol FROM pass_saved o WHERE o.pass_id = ?2"
                            " AND NOT EXISTS (SELECT 1 FROM pass_saved n WHERE n.pass_id = ?1"
                            " AND n.symbol = o.symbol))"
                            " SELECT gone.symbol, latest.verdict, latest.failed_test FROM gone"
                            " LEFT JOIN latest ON latest.symbol = gone.symbol ORDER BY gone.symbol";
    Statement s{Prepare(sql.c_str())};
    if (s.s == nullptr) return rows;
    sqlite3_bind_int64(s.s, 1, pass);
    sqlite3_bind_int64(s.s, 2, previous);
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(s.s)) == SQLITE_ROW) {
        HistoryRow row;
        row.Symbol = ColumnText(s.s, 0);
        row.PassId = pass;
        row.Verdict = VerdictNamed(ColumnText(s.s, 1));
        row.FailedTest = ColumnText(s.s, 2);
        rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE) error_ = Why();
    return rows;
}

bool HistoryStore::KeepSavedSet(std::int64_t pass, const std::vector<HistoryRow>& saved) {
    error_.clear();
    if (db_ == nullptr) {
        error_ = "the history is not open";
        return false;
    }
    const bool own = !inBatch_;
    if (own && !Exec("BEGIN IMMEDIATE")) return false;
    bool ok = true;
    {
        Statement clear{Prepare("DELETE FROM pass_saved WHERE pass_id = ?")};
        ok = clear.s != nullptr;
        if (ok) {
            sqlite3_bind_int64(clear.s, 1, pass);
            ok = sqlite3_step(clear.s) == SQLITE_DONE || Fail("delete saved set");
        }
    }
    {
        Statement insert{Prepare(
            "INSERT INTO pass_saved (pass_id, symbol, verdict, zorc, zorp) VALUES (?,?,?,?,?)")};
        ok = ok && insert.s != nullptr;
        for (std::size_t i = 0; ok && i < saved.size(); ++i) {
            sqlite3_reset(insert.s);
            sqlite3_bind_int64(insert.s, 1, pass);
            BindText(insert.s, 2, saved[i].Symbol);
            BindText(insert.s, 3, std::string(VerdictText(saved[i].Verdict)));
            BindDouble(insert.s, 4, saved[i].Zorc);
            BindDouble(insert.s, 5, saved[i].Zorp);
            ok = sqlite3_step(insert.s) == SQLITE_DONE || Fail("insert saved set");
        }
    }
    {
        Statement mark{Prepare("UPDATE passes SET saved_kept = 1 WHERE id = ?")};
        ok = ok && mark.s != nullptr;
        if (ok) {
            sqlite3_bind_int64(mark.s, 1, pass);
            ok = sqlite3_step(mark.s) == SQLITE_DONE || Fail("mark saved set");
        }
        if (ok && sqlite3_changes(db_) != 1) {
            error_ = "no pass " + std::to_string(pass);
            ok = false;
        }
    }
    if (!own) return ok;
    if (CommitOwn(ok)) return true;
    return false;
}

std::vector<HistoryRow> HistoryStore::SavedSet(std::int64_t pass) const {
    error_.clear();
    Statement s{Prepare(
        "SELECT symbol, verdict, zorc, zorp FROM pass_saved WHERE pass_id = ? ORDER BY symbol")};
    if (s.s == nullptr) return {};
    sqlite3_bind_int64(s.s, 1, pass);
    return SavedRows(s.s, pass);
}

std::optional<HistoryPass> HistoryStore::LastKeptPass(const std::string& filters,
                                                      std::int64_t before) const {
    error_.clear();
    const std::string sql = std::string("SELECT ") + kPassColumns +
                            " FROM passes WHERE finished = 1 AND saved_kept = 1 AND filters = ?"
                            " AND id < ? ORDER BY id DESC LIMIT 1";
    Statement s{Prepare(sql.c_str())};
    if (s.s == nullptr) return std::nullopt;
    BindText(s.s, 1, filters);
    sqlite3_bind_int64(s.s, 2, before);
    const int rc = sqlite3_step(s.s);
    if (rc == SQLITE_ROW) return PassOf(s.s);
    if (rc != SQLITE_DONE) error_ = Why();
    return std::nullopt;
}

std::optional<HistoryPass> HistoryStore::LastScanPass() const {
    error_.clear();
    const std::string sql = std::string("SELECT ") + kPassColumns +
                            " FROM passes WHERE source <> 'import' ORDER BY id DESC LIMIT 1";
    Statement s{Prepare(sql.c_str())};
    if (s.s == nullptr) return std::nullopt;
    const int rc = sqlite3_step(s.s);
    if (rc == SQLITE_ROW) return PassOf(s.s);
    if (rc != SQLITE_DONE) Fail("read passes");
    return std::nullopt;
}

bool HistoryStore::KeepChanges(std::int64_t id, const std::string& block) {
    error_.clear();
    Statement s{Prepare("UPDATE passes SET changes = ?, changes_written = 0 WHERE id = ?")};
    if (s.s == nullptr) return false;
    BindText(s.s, 1, block);
    sqlite3_bind_int64(s.s, 2, id);
    if (sqlite3_step(s.s) != SQLITE_DONE) return Fail("keep changes");
    return true;
}

bool HistoryStore::MarkChangesWritten(std::int64_t id) {
    error_.clear();
    Statement s{Prepare("UPDATE passes SET changes_written = 1 WHERE id = ?")};
    if (s.s == nullptr) return false;
    sqlite3_bind_int64(s.s, 1, id);
    if (sqlite3_step(s.s) != SQLITE_DONE) return Fail("mark changes written");
    return true;
}

std::optional<std::vector<HistoryStore::KeptChanges>> HistoryStore::UnwrittenChanges() const {
    error_.clear();
    Statement s{
        Prepare("SELECT id, changes FROM passes WHERE changes IS NOT NULL"
                " AND changes_written = 0 ORDER BY id")};
    if (s.s == nullptr) return std::nullopt;
    std::vector<KeptChanges> kept;
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(s.s)) == SQLITE_ROW)
        kept.push_back({sqlite3_column_int64(s.s, 0), ColumnText(s.s, 1)});
    if (rc != SQLITE_DONE) {
        Fail("read changes");
        return std::nullopt;
    }
    return kept;
}

std::optional<HistoryPass> HistoryStore::Pass(std::int64_t id) const {
    error_.clear();
    const std::string sql = std::string("SELECT ") + kPassColumns + " FROM passes WHERE id = ?";
    Statement s{Prepare(sql.c_str())};
    if (s.s == nullptr) return std::nullopt;
    sqlite3_bind_int64(s.s, 1, id);
    const int rc = sqlite3_step(s.s);
    if (rc == SQLITE_ROW) return PassOf(s.s);
    error_ = rc == SQLITE_DONE ? "no pass " + std::to_string(id) : Why();
    return std::nullopt;
}

std::vector<std::string> HistoryStore::Symbols() const {
    error_.clear();
    ReadTransaction transaction(db_);
    // The settled symbols each found by one step down the key, however many
    // days each has; the recent ones, a month of days, read whole.
    std::vector<std::string> tables[2];
    {
        Statement first{Prepare("SELECT symbol FROM days ORDER BY symbol LIMIT 1")};
        Statement next{Prepare("SELECT symbol FROM days WHERE symbol > ? ORDER BY symbol LIMIT 1")};
        if (first.s == nullptr || next.s == nullptr) return {};
        sqlite3_stmt* s = first.s;
        int rc;
        while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
            tables[0].push_back(ColumnText(s, 0));
            s = next.s;
            sqlite3_reset(s);
            BindText(s, 1, tables[0].back());
        }
        if (rc != SQLITE_DONE) {
            error_ = Why();
            return {};
        }
    }
    {
        Statement s{Prepare("SELECT DISTINCT symbol FROM recent ORDER BY symbol")};
        if (s.s == nullptr) return {};
        int rc;
        while ((rc = sqlite3_step(s.s)) == SQLITE_ROW)
            tables[1].push_back(ColumnText(s.s, 0));
        if (StepFailed(rc)) return {};
    }
    std::vector<std::string> symbols;
    std::set_union(tables[0].begin(), tables[0].end(), tables[1].begin(), tables[1].end(),
                   std::back_inserter(symbols));
    return symbols;
}

}  // namespace quillon
