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
// throws.
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

class HistoryStore {
  public:
    HistoryStore();
    ~HistoryStore();
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
    // Why the last call failed ("" after a success).
    const std::string& Error() const { return error_; }
    // SQLite's primary result code of the last failure (SQLITE_FULL, ...; 0
    // when it had none) and the system's errno value beside it.
    int ErrorCode() const { return errorCode_; }
    int SystemError() const { return systemError_; }
    // Whether the last failure is one that passes once room is made, the
    // disk reads again or another program lets go of the file (a full disk,
    // an I/O error, a lock), rather than a file this program cannot use.
    bool ErrorMayPass() const;
    // The errno value the last failure stands for (ENOSPC for a full disk,
    // EBUSY for a lock, the system's own for an I/O error).
    int ErrorErrno() const;

    // The schema version this build writes (PRAGMA user_version).
    static int SchemaVersion();

    // A new pass row; its id, or 0 when it could not be written.
    std::int64_t BeginPass(const HistoryPass& pass);
    // Ends pass `id`: its counts, whether it finished, and when it ended.
    bool EndPass(std::int64_t id, int symbols, int saved, bool finished, const std::string& ended);
    // The last pass a scan began (quillon-history add's left out); nothing
    // when there is none or it could not be read (Error() then says why).
    std::optional<HistoryPass> LastScanPass() const;

    // The change block of finished pass `id`, kept with the pass in the
    // transaction that ends it, until Changes.txt has it too.
    bool KeepChanges(std::int64_t id, const std::string& block);
    bool MarkChangesWritten(std::int64_t id);
    struct KeptChanges {
        std::int64_t Pass = 0;
        std::string Block;
    };
    // The kept blocks Changes.txt does not have yet, oldest first; nothing
    // when they could not be read.
    std::optional<std::vector<KeptChanges>> UnwrittenChanges() const;

    // Records one symbol's figures for its day, replacing the day's row.
    bool Record(const HistoryRow& row);

    // Moves the recorded days before `before` into the table keyed by
    // symbol and brings the kept windows up to date (builds them all anew
    // when they were dropped: after a day older than the settled ones was
    // recorded, or in a database of an earlier version). In the batch when
    // one is open, else in a transaction of its own.
    bool Settle(HistoryDay before = 99991231);
    // Whether Settle is due before the first pass of `day`: the windows are
    // dropped, or the recent days before `day` number kSettleDays or more.
    // Never once rows of `day` itself are recorded, so that the later passes
    // of a day do not settle again.
    bool SettleDue(HistoryDay day) const;
    static constexpr int kSettleDays = 20;
    // The longest windows kept: a pass asking for longer ones reads them
    // from the table.
    static constexpr int kKeptIvDays = 252;
    static constexpr int kKeptLastSales = 20;

    // Rows recorded between BeginBatch and CommitBatch are written in one
    // transaction; without a batch each Record is its own. RollbackBatch
    // drops the batch's rows.
    bool BeginBatch();
    bool CommitBatch();
    void RollbackBatch();
    bool InBatch() const { return inBatch_; }

    // Reading. Each read answers whether it read everything: a read that
    // failed part way (a damaged page, a read error) sets Error() and
    // answers nothing, so that "no rows" and "could not read" differ.
    //
    // The reads between BeginRead and EndRead see one state of the file
    // (one read transaction), however long they take and whatever another
    // program commits meanwhile.
    bool BeginRead() const;
    void EndRead() const;
    std::vector<HistoryRow> Rows(const std::string& symbol, HistoryDay from = 0,
                                 HistoryDay to = 99991231) const;  // oldest first
    std::vector<HistoryRow> RowsOfDay(HistoryDay day) const;       // by symbol
    std::vector<HistoryDay> Days() const;                          // oldest first
    std::vector<HistoryPass> Passes() const;                       // by id
    std::vector<std::string> Symbols() const;                      // sorted
    std::optional<HistoryPass> Pass(std::int64_t id) const;
    // The days from `from` to `to` with rows but no pass of that as-of date
    // that finished whole (finished and not partial): a day a pass is still
    // writing, or whose pass stopped early. Oldest first.
    std::vector<HistoryDay> PartialDays(HistoryDay from = 0, HistoryDay to = 99991231) const;

    // The rows pass `pass` wrote, by symbol: its own and those of the
    // unfinished passes of the same source and filters it went on from (a
    // scan opened again goes on under a new pass row). Rows a later pass of
    // the same day replaced are no longer among them.
    std::vector<HistoryRow> RowsOfPass(std::int64_t pass) const;

    // The saved set of a finished pass, kept apart from the daily rows so
    // that later passes of the same day leave it whole: symbol, verdict and
    // ZORC/ZORP of each saved stock. Keeping it again replaces it.
    bool KeepSavedSet(std::int64_t pass, const std::vector<HistoryRow>& saved);
    // Keeps as the saved set of pass `pass` its rows (those RowsOfPass
    // gives, the last of a symbol judged twice) whose verdict saved the
    // stock, in the file without reading them out; how many, or -1 (Error()
    // says why).
    int KeepSavedSetOfPass(std::int64_t pass);
    // The kept saved set of `pass` less the symbols of that of `other`, by
    // symbol: symbol, verdict, ZORC and ZORP of each.
    std::vector<HistoryRow> SavedOnlyBy(std::int64_t pass, std::int64_t other) const;
    // The symbols of the kept saved set of `previous` that pass `pass` did
    // not keep, by symbol, each with the verdict and failed test of the
    // pass's last row of it (both empty when the pass has none).
    std::vector<HistoryRow> SavedNoLonger(std::int64_t pass, std::int64_t previous) const;
    // The symbols both kept saved sets hold with a turned signal (UP in
    // `previous`, DOWN in `pass`, or the other way round), by symbol: the row of `pass` (symbol,
    // verdict, ZORC and ZORP) beside the verdict of `previous`.
    struct TurnedRow {
        HistoryRow Now;
        std::optional<Verdict> Was;
    };
    std::vector<TurnedRow> SavedTurned(std::int64_t pass, std::int64_t previous) const;
    std::vector<HistoryRow> SavedSet(std::int64_t pass) const;  // by symbol
    // The last finished pass before pass `before` with these filter values
    // whose saved set was kept; nothing when there is none.
    std::optional<HistoryPass> LastKeptPass(const std::string& filters, std::int64_t before) const;

    // For every symbol, the IV30 of its last `n` recorded days before
    // `before` that have one, oldest first; in one query.
    std::unordered_map<std::string, std::vector<double>> Iv30Windows(HistoryDay before,
                                                                     int n) const;

    // For every symbol, the last sale of its last `n` recorded days before
    // `before` that have one, oldest first; in one query.
    std::unordered_map<std::string, std::vector<double>> LastSaleWindows(HistoryDay before,
                                                                         int n) const;

    // Both windows above in one read of the table: the IV30 of each symbol's
    // last `ivDays` days before `before` that have one, and the last sale of
    // its last `saleDays` such days, oldest first.
    struct PastWindows {
        std::unordered_map<std::string, std::vector<double>> Iv30;
        std::unordered_map<std::string, std::vector<double>> LastSales;
        // The days of each symbol's last sales, one for one.
        std::unordered_map<std::string, std::vector<HistoryDay>> LastSaleDays;
    };
    PastWindows Windows(HistoryDay before, int ivDays, int saleDays) const;

    // Every row recorded from `from` to `to`, one day at a time, oldest
    // first, each day's rows by symbol, with only `figures` of each read
    // beside its symbol, day and pass (the other figures, the days to
    // expiration, the verdict and the failed test are left empty): `day`
    // gets the day's rows (its to keep or change) and answers whether to go
    // on. The rows are read along the key in blocks of days of about
    // `blockBytes` of figures, the most held at a time. False when the table
    // could not be read (Error() says why); a stop asked for by `day` is no
    // failure.
    using RowFigure = std::optional<double> HistoryRow::*;
    bool ForEachDay(HistoryDay from, HistoryDay to, const std::vector<RowFigure>& figures,
                    const std::function<bool(HistoryDay, std::vector<HistoryRow>&)>& day,
                    std::size_t blockBytes = 24 << 20) const;

    // PRAGMA integrity_check answered "ok".
    bool IntegrityOk();

  private:
    bool Exec(const char* sql);
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
