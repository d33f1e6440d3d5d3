// The history store: opening, errors, the schema and its migrations, reading as of one moment.

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

// The schema, one step per version: step i brings a database of version i to
// version i + 1. A step is never changed once released; a new version adds a
// step.
constexpr std::array<const char*, 5> kMigrations = {
    // 1: the passes and the daily figures of each symbol.
    "CREATE TABLE passes ("
    " id INTEGER PRIMARY KEY,"
    " as_of INTEGER NOT NULL,"
    " started TEXT NOT NULL DEFAULT '',"
    " ended TEXT NOT NULL DEFAULT '',"
    " source TEXT NOT NULL DEFAULT '',"
    " filters TEXT NOT NULL DEFAULT '',"
    " symbols INTEGER NOT NULL DEFAULT 0,"
    " saved INTEGER NOT NULL DEFAULT 0,"
    " finished INTEGER NOT NULL DEFAULT 0);"
    "CREATE TABLE days ("
    " symbol TEXT NOT NULL,"
    " day INTEGER NOT NULL,"
    " pass_id INTEGER NOT NULL DEFAULT 0,"
    " last REAL, change REAL, volume REAL, high52 REAL, low52 REAL, pe REAL, yield REAL,"
    " quote_volatility REAL, market_cap REAL,"
    " call_volume REAL, put_volume REAL, call_oi REAL, put_oi REAL,"
    " zorc REAL, zorp REAL, iv30 REAL, iv30_call REAL, iv30_put REAL,"
    " days_near INTEGER, days_next INTEGER,"
    " verdict TEXT NOT NULL DEFAULT '',"
    " failed_test TEXT NOT NULL DEFAULT '',"
    " PRIMARY KEY (symbol, day)) WITHOUT ROWID;"
    "CREATE INDEX days_by_day ON days (day, symbol);",
    // 2: the saved set of each finished pass, kept at its end so that a later
    // pass of the same day, which replaces the day's rows, leaves it whole.
    // saved_kept tells a pass whose set was kept (possibly empty) from one
    // that ended before sets were kept.
    "CREATE TABLE pass_saved ("
    " pass_id INTEGER NOT NULL,"
    " symbol TEXT NOT NULL,"
    " verdict TEXT NOT NULL DEFAULT '',"
    " zorc REAL, zorp REAL,"
    " PRIMARY KEY (pass_id, symbol)) WITHOUT ROWID;"
    "ALTER TABLE passes ADD COLUMN saved_kept INTEGER NOT NULL DEFAULT 0;",
    // 3: rows are recorded into `recent`, keyed by day, so that a pass adds
    // its rows at one end of a table instead of onto one page of `days` per
    // symbol; Settle moves them into `days` many days at a time. `windows`
    // keeps each symbol's last IV30 figures and last sales of `days`, valid
    // while `meta` holds 'windows_through' (the last day of `days` then).
    "CREATE TABLE recent ("
    " symbol TEXT NOT NULL,"
    " day INTEGER NOT NULL,"
    " pass_id INTEGER NOT NULL DEFAULT 0,"
    " last REAL, change REAL, volume REAL, high52 REAL, low52 REAL, pe REAL, yield REAL,"
    " quote_volatility REAL, market_cap REAL,"
    " call_volume REAL, put_volume REAL, call_oi REAL, put_oi REAL,"
    " zorc REAL, zorp REAL, iv30 REAL, iv30_call REAL, iv30_put REAL,"
    " days_near INTEGER, days_next INTEGER,"
    " verdict TEXT NOT NULL DEFAULT '',"
    " failed_test TEXT NOT NULL DEFAULT '',"
    " PRIMARY KEY (day, symbol)) WITHOUT ROWID;"
    // A rowid table: its rows of about 2 KB lie whole on their pages, where
    // a table without rowid would spill them onto overflow pages.
    "CREATE TABLE windows ("
    " symbol TEXT NOT NULL UNIQUE,"
    " iv30 BLOB NOT NULL,"
    " last BLOB NOT NULL);"
    "CREATE TABLE meta (name TEXT NOT NULL PRIMARY KEY, value INTEGER) WITHOUT ROWID;"
    // An empty history has its (empty) windows; one with rows gets them at
    // its first Settle.
    "INSERT INTO meta SELECT 'windows_through', 0 WHERE NOT EXISTS (SELECT 1 FROM days);",
    // 4: the kept last sales with their days, so that HV20 knows the gaps
    // between them. Windows kept without days are built anew at the next
    // settle.
    "ALTER TABLE windows ADD COLUMN last_day BLOB NOT NULL DEFAULT x'';"
    "DELETE FROM windows;"
    "DELETE FROM meta WHERE name = 'windows_through' AND EXISTS (SELECT 1 FROM days);",
    // 5: a pass known to lack rows of symbols it went past (its history
    // stopped and it went on without it) is partial; a finished pass keeps
    // its change block, written in the transaction that ends it, until
    // Changes.txt has it too.
    "ALTER TABLE passes ADD COLUMN partial INTEGER NOT NULL DEFAULT 0;"
    "ALTER TABLE passes ADD COLUMN changes TEXT;"
    "ALTER TABLE passes ADD COLUMN changes_written INTEGER NOT NULL DEFAULT 0;"};

}  // namespace

HistoryStore::HistoryStore() = default;

HistoryStore::~HistoryStore() {
    Close();
}

int HistoryStore::SchemaVersion() {
    return static_cast<int>(kMigrations.size());
}

void HistoryStore::Close() {
    if (db_ == nullptr) return;
    if (inBatch_) RollbackBatch();
    sqlite3_finalize(record_);
    record_ = nullptr;
    sqlite3_finalize(recordPast_);
    recordPast_ = nullptr;
    sqlite3_close_v2(db_);
    db_ = nullptr;
    reading_ = false;
}

std::string HistoryStore::Why() const {
    if (db_ == nullptr) return "the history is not open";
    const int code = sqlite3_extended_errcode(db_);
    if ((code & 0xff) == SQLITE_IOERR) {
        // The system's words for a failed read or write: SQLite's own ("disk
        // I/O error") say nothing of the cause.
        const int system = sqlite3_system_errno(db_);
        const bool read = code == SQLITE_IOERR_READ || code == SQLITE_IOERR_SHORT_READ;
        const bool write = code == SQLITE_IOERR_WRITE || code == SQLITE_IOERR_FSYNC ||
                           code == SQLITE_IOERR_DIR_FSYNC || code == SQLITE_IOERR_TRUNCATE;
        const std::string what = read    ? "cannot be read"
                                 : write ? "cannot be written"
                                         : "disk I/O error";
        return what + " (" + (system != 0 ? std::strerror(system) : sqlite3_errmsg(db_)) + ")";
    }
    if ((code & 0xff) == SQLITE_BUSY)
        return std::string(sqlite3_errmsg(db_)) + ": another program kept it busy longer than " +
               (busyMs_ % 1000 == 0 ? std::to_string(busyMs_ / 1000) + " s"
                                    : std::to_string(busyMs_) + " ms");
    return sqlite3_errmsg(db_);
}

bool HistoryStore::Fail(const char* what) const {
    error_ = Why();
    if (db_ == nullptr || error_.empty()) error_ = what;
    NoteErrorCode();
    return false;
}

bool HistoryStore::StepFailed(int rc) const {
    if (rc == SQLITE_DONE || rc == SQLITE_ROW) return false;
    error_ = Why();
    NoteErrorCode();
    return true;
}

void HistoryStore::NoteErrorCode() const {
    errorCode_ = db_ != nullptr ? sqlite3_errcode(db_) & 0xff : 0;
    systemError_ = db_ != nullptr ? sqlite3_system_errno(db_) : 0;
}

int HistoryStore::ErrorErrno() const {
    switch (errorCode_) {
        case SQLITE_FULL:
            return ENOSPC;
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return EBUSY;
        case SQLITE_NOMEM:
            return ENOMEM;
        default:
            return systemError_ != 0 ? systemError_ : EIO;
    }
}

bool HistoryStore::ErrorMayPass() const {
    switch (errorCode_) {
        case SQLITE_FULL:
        case SQLITE_IOERR:
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
        case SQLITE_NOMEM:
        case SQLITE_PROTOCOL:
            return true;
        default:
            return false;
    }
}

bool HistoryStore::CommitOwn(bool ok) {
    if (ok && Exec("COMMIT")) return true;
    const std::string why = error_;
    if (sqlite3_get_autocommit(db_) == 0) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    error_ = why;
    return false;
}

bool HistoryStore::Exec(const char* sql) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) return Fail(sql);
    return true;
}

sqlite3_stmt* HistoryStore::Prepare(const char* sql) const {
    sqlite3_stmt* s = nullptr;
    if (db_ == nullptr) {
        error_ = "the history is not open";
        return nullptr;
    }
    if (sqlite3_prepare_v2(db_, sql, -1, &s, nullptr) != SQLITE_OK) {
        error_ = Why();
        NoteErrorCode();
        sqlite3_finalize(s);
        return nullptr;
    }
    return s;
}

bool HistoryStore::Open(const std::string& file) {
    Close();
    error_.clear();
    errorCode_ = 0;
    systemError_ = 0;
    // Never through a symbolic link in its place: the history would be
    // written into whatever file the link names.
    if (sqlite3_open_v2(
            file.c_str(), &db_,
            SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW,
            nullptr) != SQLITE_OK) {
        Fail("cannot open");
        struct stat info {};
        if (::lstat(file.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
            error_ = "it is a symbolic link; refused: remove it and try again";
        }
        Close();
        return false;
    }
    // A file that may only be read opens without a word: it is refused here,
    // before the scan counts on it.
    if (sqlite3_db_readonly(db_, "main") == 1) {
        error_ = "attempt to write a readonly database";
        Close();
        return false;
    }
    // A database another program is writing is waited for a short while
    // only: the scan does not stall on it.
    busyMs_ = 1000;
    sqlite3_busy_timeout(db_, busyMs_);
    sqlite3_extended_result_codes(db_, 1);
    // WAL lets readers read while the scan writes. Each commit reaches the
    // disk before the scan's resume point moves past its rows.
    bool ok = Exec("PRAGMA journal_mode=WAL") && Exec("PRAGMA synchronous=FULL") && Migrate();
    if (ok) {
        record_ = Prepare(
            "INSERT OR REPLACE INTO recent (symbol, day, pass_id, last, change, volume, high52, "
            "low52, pe, yield, quote_volatility, market_cap, call_volume, put_volume, call_oi, "
            "put_oi, zorc, zorp, iv30, iv30_call, iv30_put, days_near, days_next, verdict, "
            "failed_test) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
        recordPast_ = Prepare("DELETE FROM days WHERE symbol = ? AND day = ?");
        ok = record_ != nullptr && recordPast_ != nullptr;
    }
    if (!ok) {
        const std::string why = error_;
        Close();
        error_ = why;
        return false;
    }
    return true;
}

void HistoryStore::SetBusyTimeout(int milliseconds) {
    busyMs_ = milliseconds;
    if (db_ != nullptr) sqlite3_busy_timeout(db_, busyMs_);
}

int HistoryStore::Connect(const std::string& name, int flags, int& version) {
    version = -1;
    if (sqlite3_open_v2(name.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr) == SQLITE_OK) {
        sqlite3_extended_result_codes(db_, 1);
        busyMs_ = 5000;
        sqlite3_busy_timeout(db_, busyMs_);
        Statement s{Prepare("PRAGMA user_version")};
        const int rc = s.s == nullptr ? SQLITE_ERROR : sqlite3_step(s.s);
        if (rc == SQLITE_ROW) {
            version = sqlite3_column_int(s.s, 0);
            return SQLITE_OK;
        }
    }
    error_ = Why();
    const int code = db_ != nullptr ? sqlite3_extended_errcode(db_) : SQLITE_NOMEM;
    Close();
    return code == SQLITE_OK ? SQLITE_ERROR : code;
}

namespace {

// `file` as an SQLite URI that reads it as it stands, without locks and
// without its log: for a file no one can be writing.
std::string ImmutableUri(const std::string& file) {
    std::string uri = "file:";
    for (const char c : file) {
        if (c == '%' || c == '?' || c == '#') {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(c));
            uri += escaped;
        } else {
            uri += c;
        }
    }
    return uri + "?immutable=1";
}

bool PathExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

bool HistoryStore::OpenForReading(const std::string& file) {
    Close();
    error_.clear();
    // A file this process may write is opened as the writers open it, but
    // for reading only (query_only): the last connection to close then
    // takes the empty log and shared-memory files away again, where a
    // read-only connection would leave them behind.
    const bool writable = ::access(file.c_str(), W_OK) == 0;
    int version = -1;
    int rc = Connect(file, writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY, version);
    const int kind = rc & 0xff;
    if (rc != SQLITE_OK && !writable && (kind == SQLITE_READONLY || kind == SQLITE_CANTOPEN) &&
        PathExists(file) && !PathExists(file + "-wal")) {
        // A read-only connection cannot make the shared-memory file in a
        // directory it may not write. Without a log the file holds every
        // commit, and no writer can be at work: it could not make its log
        // there either. So the file is read as it stands.
        const std::string why = error_;
        rc = Connect(ImmutableUri(file), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, version);
        if (rc != SQLITE_OK) error_ = why;
    }
    if (rc != SQLITE_OK) return false;
    bool ok = version == SchemaVersion() || KnownVersion(version);
    if (ok && version < SchemaVersion()) {
        // An earlier schema is brought up to date as a writer would, where
        // the file may be written; the readers know the current one only.
        if (!writable) {
            error_ = "of an earlier version (schema " + std::to_string(version) +
                     ") and cannot be brought up to date here, as it may not be written: a "
                     "quillon-scan pass or quillon-history add where it may does that";
            ok = false;
        } else {
            ok = Exec("PRAGMA journal_mode=WAL") && Migrate();
        }
    }
    ok = ok && (!writable || Exec("PRAGMA query_only=1"));
    if (!ok) {
        const std::string why = error_;
        Close();
        error_ = why;
    }
    return ok;
}

bool HistoryStore::BeginRead() const {
    error_.clear();
    if (db_ == nullptr) {
        error_ = "the history is not open";
        return false;
    }
    if (sqlite3_get_autocommit(db_) == 0) return true;
    // BEGIN takes no snapshot until the first read: one read takes it now.
    if (sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK ||
        sqlite3_exec(db_, "SELECT 1 FROM passes LIMIT 1", nullptr, nullptr, nullptr) != SQLITE_OK) {
        error_ = Why();
        if (sqlite3_get_autocommit(db_) == 0)
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }
    reading_ = true;
    return true;
}

void HistoryStore::EndRead() const {
    if (reading_ && db_ != nullptr && sqlite3_get_autocommit(db_) == 0)
        sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    reading_ = false;
}

bool HistoryStore::KnownVersion(int version) const {
    if (version < 0) {
        // No version of this program writes a negative one.
        error_ = "damaged, or not a pass history of this program (schema " +
                 std::to_string(version) + ")";
        return false;
    }
    if (version > SchemaVersion()) {
        error_ = "written by a newer version of the program (schema " + std::to_string(version) +
                 ", this one knows " + std::to_string(SchemaVersion()) + ")";
        return false;
    }
    return true;
}

bool HistoryStore::Migrate() {
    int version = -1;
    {
        Statement s{Prepare("PRAGMA user_version")};
        if (s.s == nullptr) return false;
        if (sqlite3_step(s.s) != SQLITE_ROW) return Fail("PRAGMA user_version");
        version = sqlite3_column_int(s.s, 0);
    }
    if (version == SchemaVersion()) return true;
    if (!KnownVersion(version)) return false;
    if (!Exec("BEGIN IMMEDIATE")) return false;
    // Read again inside the transaction: another program may have migrated
    // the file meanwhile.
    {
        Statement s{Prepare("PRAGMA user_version")};
        if (s.s == nullptr || sqlite3_step(s.s) != SQLITE_ROW) {
            Fail("PRAGMA user_version");
            Exec("ROLLBACK");
            return false;
        }
        version = sqlite3_column_int(s.s, 0);
    }
    for (int step = version; step < SchemaVersion(); ++step) {
        if (!Exec(kMigrations[static_cast<std::size_t>(step)])) {
            const std::string why = error_;
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            error_ = why;
            return false;
        }
    }
    const std::string setVersion = "PRAGMA user_version=" + std::to_string(SchemaVersion());
    if (!Exec(setVersion.c_str()) || !Exec("COMMIT")) {
        const std::string why = error_;
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        error_ = why;
        return false;
    }
    return true;
}

bool HistoryStore::IntegrityOk() {
    Statement s{Prepare("PRAGMA integrity_check")};
    if (s.s == nullptr) return false;
    if (sqlite3_step(s.s) != SQLITE_ROW) return Fail("PRAGMA integrity_check");
    const std::string answer = ColumnText(s.s, 0);
    if (answer == "ok") return true;
    error_ = answer;
    return false;
}

}  // namespace quillon
