#pragma once
// The pass history on disk: one SQLite database (History.db in the working
// directory) holding a row per pass and a row per symbol and as-of date.
//
// The database is opened in WAL mode so that a reader (the desktop program,
// quillon-history) may read while a scan writes, with a short busy timeout so
// that a database locked by another program fails a write instead of
// stalling the scan. Rows are keyed by (symbol, day): recording a symbol again
// on the same day replaces the day's row, so a later pass of the same day and
// a resumed pass that redoes a symbol both leave exactly one row.
//
// A pass records its rows into a table of recent days keyed by (day,
// symbol), so that its 5,000 rows fill a few hundred pages at one end of it;
// Settle moves the recent days into the table keyed by (symbol, day) a month
// of them at a time, and keeps each symbol's last IV30 figures and last
// sales beside it, so that a pass reads its IV rank windows as one short row
// a symbol. Every reader sees both tables as one.
//
// Every call answers whether it worked; Error() then says why, in SQLite's
// words ("database is locked", "file is not a database", ...). Nothing here
// throws. What each user may call is in history_access.h.
//
// The file (schema version 5, PRAGMA user_version; WAL journal). Days are
// YYYYMMDD integers; a figure the quote or chain did not give is NULL;
// verdicts are the texts "UP", "DOWN", "SAVED", "REJECTED", "NOQUOTE".
//
//   passes      one row a pass
//     id INTEGER PRIMARY KEY, as_of INTEGER (the day its quotes are of),
//     started TEXT, ended TEXT (ISO 8601 local time; ended '' while
//     unfinished), source TEXT ('server', 'local', 'import'), filters TEXT
//     (the filter values as the settings file keeps them), symbols INTEGER,
//     saved INTEGER, finished INTEGER (0/1), saved_kept INTEGER (0/1: its
//     saved set is in pass_saved), partial INTEGER (0/1: it went past
//     symbols it has no row of), changes TEXT (its change block, NULL when
//     it has none), changes_written INTEGER (0/1: Changes.txt has the block)
//   days        the settled rows, PRIMARY KEY (symbol, day) WITHOUT ROWID,
//               index days_by_day (day, symbol)
//     symbol TEXT, day INTEGER, pass_id INTEGER (the pass that wrote it),
//     last, change, volume, high52, low52, pe, yield, quote_volatility,
//     market_cap, call_volume, put_volume, call_oi, put_oi, zorc, zorp,
//     iv30, iv30_call, iv30_put REAL, days_near, days_next INTEGER (days to
//     the two expirations IV30 used), verdict TEXT, failed_test TEXT (the
//     first test failed, '' when none)
//   recent      the rows recorded since the last Settle: the columns of
//               days, PRIMARY KEY (day, symbol) WITHOUT ROWID. A (symbol,
//               day) is in days or in recent, never both.
//   pass_saved  the saved set of a finished pass, PRIMARY KEY (pass_id,
//               symbol) WITHOUT ROWID: pass_id, symbol, verdict TEXT, zorc,
//               zorp REAL
//   windows     each symbol's last figures of days (a rowid table): symbol
//               TEXT UNIQUE, iv30 BLOB (its last kKeptIvDays IV30 figures),
//               last BLOB (its last kKeptLastSales last sales), last_day
//               BLOB (their days), oldest first, each value a little-endian
//               IEEE 754 double, 8 bytes
//   meta        name TEXT PRIMARY KEY, value INTEGER, WITHOUT ROWID:
//               'windows_through' is the last day of days the windows hold;
//               without it the windows are being built anew
//
// A newer schema is refused; an older one is brought up to date step by step
// when the file is opened (history_store.cpp, kMigrations).

#include "history/history_access.h"
#include "history/history_row.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace quillon {

class HistoryStore final : public HistoryPassWriter, public HistoryReader, public HistoryDayStream {
  public:
    HistoryStore();
    ~HistoryStore() override;
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    // Opens (creating when missing) the database at `file` and brings its
    // schema to the current version. False when the file cannot be opened,
    // is not a database, is locked, or has a newer schema than this build
    // knows.
    bool Open(const std::string& file);
    // Opens the existing database at `file` for reading only: nothing is
    // written to it, and no file is left beside it that was not there. A
    // file or directory this process may not write is read too (in a
    // directory it may not write, as it stands when it has no log). A file
    // of an earlier schema is brought up to date first where it may be
    // written, and refused where it may not. False when it is missing,
    // unreadable, not a history, or of a newer schema.
    bool OpenForReading(const std::string& file);
    // How long a call waits for another program's write to end before it
    // fails with "database is locked" (Open sets one second, so that the
    // scan does not stall on a database another program holds).
    void SetBusyTimeout(int milliseconds);
    bool IsOpen() const { return db_ != nullptr; }
    void Close();
    const std::string& Error() const override { return error_; }
    // SQLite's primary result code of the last failure (SQLITE_FULL, ...; 0
    // when it had none) and the system's errno value beside it.
    int ErrorCode() const { return errorCode_; }
    int SystemError() const { return systemError_; }
    bool ErrorMayPass() const override;
    int ErrorErrno() const override;

    // The schema version this build writes (PRAGMA user_version).
    static int SchemaVersion();
    // Recent days that make a settle due, and the longest windows kept: a
    // pass asking for longer ones reads them from the table.
    static constexpr int kSettleDays = 20;
    static constexpr int kKeptIvDays = 252;
    static constexpr int kKeptLastSales = 20;

    // HistoryPassWriter
    std::int64_t BeginPass(const HistoryPass& pass) override;
    bool EndPass(std::int64_t id, int symbols, int saved, bool finished,
                 const std::string& ended) override;
    std::optional<HistoryPass> LastScanPass() const override;
    std::optional<HistoryPass> Pass(std::int64_t id) const override;
    bool KeepChanges(std::int64_t id, const std::string& block) override;
    bool MarkChangesWritten(std::int64_t id) override;
    std::optional<std::vector<KeptChanges>> UnwrittenChanges() const override;
    bool Record(const HistoryRow& row) override;
    bool BeginBatch() override;
    bool CommitBatch() override;
    void RollbackBatch() override;
    bool InBatch() const { return inBatch_; }
    bool Settle(HistoryDay before = 99991231) override;
    bool SettleDue(HistoryDay day) const override;
    std::vector<HistoryRow> RowsOfPass(std::int64_t pass) const override;
    bool KeepSavedSet(std::int64_t pass, const std::vector<HistoryRow>& saved) override;
    int KeepSavedSetOfPass(std::int64_t pass) override;
    std::vector<HistoryRow> SavedOnlyBy(std::int64_t pass, std::int64_t other) const override;
    std::vector<HistoryRow> SavedNoLonger(std::int64_t pass, std::int64_t previous) const override;
    std::vector<TurnedRow> SavedTurned(std::int64_t pass, std::int64_t previous) const override;
    std::vector<HistoryRow> SavedSet(std::int64_t pass) const override;
    std::optional<HistoryPass> LastKeptPass(const std::string& filters,
                                            std::int64_t before) const override;

    // HistoryReader and HistoryDayStream
    bool BeginRead() const override;
    void EndRead() const override;
    std::vector<HistoryDay> Days() const override;
    std::vector<HistoryPass> Passes() const override;
    std::vector<HistoryDay> PartialDays(HistoryDay from = 0,
                                        HistoryDay to = 99991231) const override;
    std::vector<HistoryRow> Rows(const std::string& symbol, HistoryDay from = 0,
                                 HistoryDay to = 99991231) const override;
    std::vector<HistoryRow> RowsOfDay(HistoryDay day) const override;
    std::vector<std::string> Symbols() const override;
    std::unordered_map<std::string, std::vector<double>> Iv30Windows(HistoryDay before,
                                                                     int n) const override;
    std::unordered_map<std::string, std::vector<double>> LastSaleWindows(HistoryDay before,
                                                                         int n) const override;
    PastWindows Windows(HistoryDay before, int ivDays, int saleDays) const override;
    bool ForEachDay(HistoryDay from, HistoryDay to, const std::vector<RowFigure>& figures,
                    const std::function<bool(HistoryDay, std::vector<HistoryRow>&)>& day,
                    std::size_t blockBytes = 24 << 20) const override;

    // PRAGMA integrity_check answered "ok".
    bool IntegrityOk();

  private:
    bool Exec(const char* sql);
    // Ends a transaction a call began itself: committed when `ok` and the
    // commit works, else rolled back with the first failure kept in Error().
    bool CommitOwn(bool ok);
    bool Fail(const char* what) const;
    void NoteErrorCode() const;
    // The connection's last failure in words: SQLite's, or the system's
    // for a failed read or write.
    std::string Why() const;
    // Whether step answer `rc` is a failure (Error() then says it).
    bool StepFailed(int rc) const;
    // Opens `name`, reads its schema version; SQLITE_OK or the failure's
    // extended code (Error() says it, and the connection is closed).
    int Connect(const std::string& name, int flags, int& version);
    // Whether this build can use schema `version` (Error() says why not).
    bool KnownVersion(int version) const;
    bool Migrate();
    // The last settled day and the day the kept windows reach (nothing while
    // they are dropped), read afresh inside each write transaction.
    bool ReadSettled();
    bool DropWindows();
    bool BuildWindows(HistoryDay before);
    bool UpdateWindows(HistoryDay before);
    sqlite3_stmt* Prepare(const char* sql) const;
    // The rows of a saved set that `s` steps through (symbol, verdict, ZORC,
    // ZORP), as pass `pass`'s.
    std::vector<HistoryRow> SavedRows(sqlite3_stmt* s, std::int64_t pass) const;
    sqlite3* db_ = nullptr;
    sqlite3_stmt* record_ = nullptr;      // the upsert, prepared once
    sqlite3_stmt* recordPast_ = nullptr;  // drops a settled row a recorded one replaces
    bool inBatch_ = false;
    mutable bool reading_ = false;  // BeginRead's transaction is open
    int busyMs_ = 1000;
    HistoryDay settledThrough_ = 0;
    std::optional<HistoryDay> windowsThrough_;
    mutable std::string error_;
    mutable int errorCode_ = 0;
    mutable int systemError_ = 0;
};

}  // namespace quillon
