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

namespace quillon {

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

constexpr const char* kRowColumns =
    "symbol, day, pass_id, last, change, volume, high52, low52, pe, yield, quote_volatility,"
    " market_cap, call_volume, put_volume, call_oi, put_oi, zorc, zorp, iv30, iv30_call,"
    " iv30_put, days_near, days_next, verdict, failed_test";

// Finalizes a statement when it goes out of scope.
struct Statement {
    sqlite3_stmt* s = nullptr;
    ~Statement() { sqlite3_finalize(s); }
};

sqlite3_stmt* PrepareOn(sqlite3* db, const char* sql) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) != SQLITE_OK) {
        sqlite3_finalize(s);
        return nullptr;
    }
    return s;
}

void BindText(sqlite3_stmt* s, int i, const std::string& text) {
    sqlite3_bind_text(s, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void BindDouble(sqlite3_stmt* s, int i, const std::optional<double>& value) {
    if (value) {
        sqlite3_bind_double(s, i, *value);
    } else {
        sqlite3_bind_null(s, i);
    }
}

void BindInt(sqlite3_stmt* s, int i, const std::optional<int>& value) {
    if (value) {
        sqlite3_bind_int(s, i, *value);
    } else {
        sqlite3_bind_null(s, i);
    }
}

std::string ColumnText(sqlite3_stmt* s, int i) {
    const unsigned char* text = sqlite3_column_text(s, i);
    if (text == nullptr) return {};
    return std::string(reinterpret_cast<const char*>(text),
                       static_cast<std::size_t>(sqlite3_column_bytes(s, i)));
}

std::optional<double> ColumnDouble(sqlite3_stmt* s, int i) {
    if (sqlite3_column_type(s, i) == SQLITE_NULL) return std::nullopt;
    return sqlite3_column_double(s, i);
}

std::optional<int> ColumnInt(sqlite3_stmt* s, int i) {
    if (sqlite3_column_type(s, i) == SQLITE_NULL) return std::nullopt;
    return sqlite3_column_int(s, i);
}

// The figures of a row, in the order of their columns after symbol, day
// and pass.
constexpr std::optional<double> HistoryRow::*kRowFigures[] = {
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
constexpr const char* kRowFigureColumns[] = {
    "last",       "change",    "volume",           "high52",     "low52",
    "pe",         "yield",     "quote_volatility", "market_cap", "call_volume",
    "put_volume", "call_oi",   "put_oi",           "zorc",       "zorp",
    "iv30",       "iv30_call", "iv30_put"};
static_assert(std::size(kRowFigureColumns) == std::size(kRowFigures));

// A row of the days table, its columns in kRowColumns order.
HistoryRow RowOf(sqlite3_stmt* s) {
    HistoryRow row;
    row.Symbol = ColumnText(s, 0);
    row.Day = sqlite3_column_int(s, 1);
    row.PassId = sqlite3_column_int64(s, 2);
    int column = 3;
    for (std::optional<double> HistoryRow::*figure : kRowFigures)
        row.*figure = ColumnDouble(s, column++);
    row.DaysToNear = ColumnInt(s, column++);
    row.DaysToNext = ColumnInt(s, column++);
    row.Verdict = ColumnText(s, column++);
    row.FailedTest = ColumnText(s, column++);
    return row;
}

// The days from `from` to `to` of `table` (one of this file's own names),
// each found by one step down the by-day index or the key, however many rows
// a day has.
bool TableDays(sqlite3* db, const char* table, HistoryDay from, HistoryDay to,
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
std::string PackedValues(const std::vector<double>& values) {
    std::string bytes(values.size() * 8, '\0');
    for (std::size_t i = 0; i < values.size(); ++i) {
        const auto bits = std::bit_cast<std::uint64_t>(values[i]);
        for (int b = 0; b < 8; ++b)
            bytes[i * 8 + static_cast<std::size_t>(b)] = static_cast<char>(bits >> (8 * b));
    }
    return bytes;
}

// Appends the last `most` figures of a kept window to `values`.
void AppendUnpacked(sqlite3_stmt* s, int column, std::vector<double>& values,
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
    if (sqlite3_open_v2(file.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX |
                            SQLITE_OPEN_NOFOLLOW,
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
        BindText(s, column++, row.Verdict);
        BindText(s, column++, row.FailedTest);
        ok = sqlite3_step(s) == SQLITE_DONE || Fail("insert row");
        sqlite3_reset(s);
    }
    if (!own) return ok;
    if (ok && Exec("COMMIT")) return true;
    const std::string why = error_;
    if (sqlite3_get_autocommit(db_) == 0) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    error_ = why;
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

namespace {

// The days from `from` to `to` of both tables, each found by one step down
// the by-day index or the key, however many rows a day has.
bool DaysBetween(sqlite3* db, HistoryDay from, HistoryDay to, std::vector<HistoryDay>& days) {
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

}  // namespace

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
        row.Verdict = ColumnText(s, 1);
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
        row.Now.Verdict = ColumnText(s.s, 1);
        if (sqlite3_column_type(s.s, 2) != SQLITE_NULL)
            row.Now.Zorc = sqlite3_column_double(s.s, 2);
        if (sqlite3_column_type(s.s, 3) != SQLITE_NULL)
            row.Now.Zorp = sqlite3_column_double(s.s, 3);
        row.Was = ColumnText(s.s, 4);
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
        row.Verdict = ColumnText(s.s, 1);
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
            BindText(insert.s, 3, saved[i].Verdict);
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
    if (ok && Exec("COMMIT")) return true;
    const std::string why = error_;
    if (sqlite3_get_autocommit(db_) == 0) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    error_ = why;
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

namespace {

// One day's IV30 and last sale of a symbol, NaN for nothing (SQLite keeps
// no NaN).
struct DayFigures {
    HistoryDay day;
    double iv30;
    double last;
};

double FigureOrNaN(sqlite3_stmt* s, int column) {
    return sqlite3_column_type(s, column) == SQLITE_NULL ? std::numeric_limits<double>::quiet_NaN()
                                                         : sqlite3_column_double(s, column);
}

// The settled days before `before` of every symbol, symbol by symbol along
// the key: a seek to the next symbol, then its days backwards until it has
// `ivWanted` IV30 figures and `salesWanted` last sales, however many years
// the table holds. `visit` gets each symbol's days oldest first.
bool ReadSettledBackwards(
    sqlite3* db, HistoryDay before, std::size_t ivWanted, std::size_t salesWanted,
    const std::function<void(const std::string&, std::vector<DayFigures>&)>& visit) {
    Statement next{
        PrepareOn(db, "SELECT symbol FROM days WHERE symbol > ? ORDER BY symbol LIMIT 1")};
    Statement days{PrepareOn(db,
                             "SELECT day, iv30, last FROM days WHERE symbol = ? AND day < ?"
                             " ORDER BY symbol DESC, day DESC")};
    if (next.s == nullptr || days.s == nullptr) return false;
    std::string symbol;
    std::vector<DayFigures> figures;
    int step = SQLITE_DONE;
    for (;;) {
        sqlite3_reset(next.s);
        BindText(next.s, 1, symbol);
        step = sqlite3_step(next.s);
        if (step != SQLITE_ROW) break;
        symbol = ColumnText(next.s, 0);

        figures.clear();
        std::size_t iv30 = 0;
        std::size_t sales = 0;
        sqlite3_reset(days.s);
        BindText(days.s, 1, symbol);
        sqlite3_bind_int(days.s, 2, before);
        while (iv30 < ivWanted || sales < salesWanted) {
            step = sqlite3_step(days.s);
            if (step != SQLITE_ROW) break;
            const DayFigures day{sqlite3_column_int(days.s, 0), FigureOrNaN(days.s, 1),
                                 FigureOrNaN(days.s, 2)};
            iv30 += std::isnan(day.iv30) ? 0 : 1;
            sales += std::isnan(day.last) ? 0 : 1;
            figures.push_back(day);
        }
        if (step != SQLITE_ROW && step != SQLITE_DONE) return false;
        std::reverse(figures.begin(), figures.end());
        visit(symbol, figures);
    }
    return step == SQLITE_DONE;
}

// The recent days before `before`, oldest first, each day's by symbol.
bool ReadRecent(sqlite3* db, HistoryDay before,
                const std::function<void(const std::string&, const DayFigures&)>& visit) {
    Statement s{PrepareOn(db,
                          "SELECT symbol, day, iv30, last FROM recent WHERE day < ?"
                          " ORDER BY day, symbol")};
    if (s.s == nullptr) return false;
    sqlite3_bind_int(s.s, 1, before);
    int step;
    std::string symbol;
    while ((step = sqlite3_step(s.s)) == SQLITE_ROW) {
        symbol.assign(reinterpret_cast<const char*>(sqlite3_column_text(s.s, 0)),
                      static_cast<std::size_t>(sqlite3_column_bytes(s.s, 0)));
        visit(symbol,
              DayFigures{sqlite3_column_int(s.s, 1), FigureOrNaN(s.s, 2), FigureOrNaN(s.s, 3)});
    }
    return step == SQLITE_DONE;
}

// The recent days before `before` by symbol, each symbol's oldest first.
// Each day lists mostly the symbols of the day before in the same order, so
// a symbol is looked up by name only where that order breaks.
using RecentFigures = std::unordered_map<std::string, std::vector<DayFigures>>;
bool ReadRecentBySymbol(sqlite3* db, HistoryDay before, RecentFigures& recent) {
    std::vector<std::pair<std::string, std::vector<DayFigures>*>> lastDay, thisDay;
    std::size_t at = 0;  // where in lastDay the next symbol is looked for
    HistoryDay current = 0;
    return ReadRecent(db, before, [&](const std::string& symbol, const DayFigures& day) {
        if (day.day != current) {
            current = day.day;
            lastDay.swap(thisDay);
            thisDay.clear();
            at = 0;
        }
        std::vector<DayFigures>* days = nullptr;
        if (at < lastDay.size() && lastDay[at].first == symbol) {
            days = lastDay[at++].second;
        } else {
            days = &recent[symbol];
            // Settles keep about a month of days recent.
            if (days->empty()) days->reserve(HistoryStore::kSettleDays);
        }
        days->push_back(day);
        thisDay.emplace_back(symbol, days);
    });
}

// The last sales of a kept window beside the days they were recorded on.
struct KeptSales {
    std::vector<double> last;
    std::vector<double> day;  // YYYYMMDD, kept as the figures are
    void clear() {
        last.clear();
        day.clear();
    }
};

void AppendFigures(const std::vector<DayFigures>& days, std::vector<double>& iv30,
                   KeptSales& sales) {
    for (const DayFigures& day : days) {
        if (!std::isnan(day.iv30)) iv30.push_back(day.iv30);
        if (!std::isnan(day.last)) {
            sales.last.push_back(day.last);
            sales.day.push_back(day.day);
        }
    }
}

// A symbol's kept windows, updated in place when it has them.
constexpr const char* kWriteWindow =
    "INSERT INTO windows (symbol, iv30, last, last_day) VALUES (?, ?, ?, ?) ON CONFLICT (symbol)"
    " DO UPDATE SET iv30 = excluded.iv30, last = excluded.last, last_day = excluded.last_day";

// Writes the last kept days of `iv30` and `sales` as the windows of
// `symbol` through `write` (kWriteWindow).
bool WriteWindow(sqlite3_stmt* write, const std::string& symbol, std::vector<double>& iv30,
                 KeptSales& sales) {
    KeepLast(iv30, HistoryStore::kKeptIvDays);
    KeepLast(sales.last, HistoryStore::kKeptLastSales);
    KeepLast(sales.day, HistoryStore::kKeptLastSales);
    const std::string ivBytes = PackedValues(iv30);
    const std::string saleBytes = PackedValues(sales.last);
    const std::string dayBytes = PackedValues(sales.day);
    sqlite3_reset(write);
    BindText(write, 1, symbol);
    sqlite3_bind_blob(write, 2, ivBytes.data(), static_cast<int>(ivBytes.size()), SQLITE_TRANSIENT);
    sqlite3_bind_blob(write, 3, saleBytes.data(), static_cast<int>(saleBytes.size()),
                      SQLITE_TRANSIENT);
    sqlite3_bind_blob(write, 4, dayBytes.data(), static_cast<int>(dayBytes.size()),
                      SQLITE_TRANSIENT);
    return sqlite3_step(write) == SQLITE_DONE;
}

}  // namespace

bool HistoryStore::ReadSettled() {
    Statement settled{Prepare("SELECT IFNULL(MAX(day), 0) FROM days")};
    Statement windows{Prepare("SELECT value FROM meta WHERE name = 'windows_through'")};
    if (settled.s == nullptr || windows.s == nullptr) return false;
    if (sqlite3_step(settled.s) != SQLITE_ROW) return Fail("read the last settled day");
    settledThrough_ = sqlite3_column_int(settled.s, 0);
    const int rc = sqlite3_step(windows.s);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return Fail("read the kept windows' day");
    windowsThrough_.reset();
    if (rc == SQLITE_ROW) windowsThrough_ = sqlite3_column_int(windows.s, 0);
    return true;
}

bool HistoryStore::DropWindows() {
    if (!Exec("DELETE FROM meta WHERE name = 'windows_through'")) return false;
    windowsThrough_.reset();
    return true;
}

bool HistoryStore::UpdateWindows(HistoryDay before) {
    // The days about to settle come after the kept windows' last day: their
    // figures go on the end of each symbol's windows.
    RecentFigures added;
    if (!ReadRecentBySymbol(db_, before, added)) return Fail("read the recent days");
    Statement read{Prepare("SELECT iv30, last, last_day FROM windows WHERE symbol = ?")};
    Statement write{Prepare(kWriteWindow)};
    if (read.s == nullptr || write.s == nullptr) return false;
    std::vector<double> iv30;
    KeptSales sales;
    for (const auto& [symbol, days] : added) {
        iv30.clear();
        sales.clear();
        sqlite3_reset(read.s);
        BindText(read.s, 1, symbol);
        const int rc = sqlite3_step(read.s);
        if (rc == SQLITE_ROW) {
            AppendUnpacked(read.s, 0, iv30);
            AppendUnpacked(read.s, 1, sales.last);
            AppendUnpacked(read.s, 2, sales.day);
        } else if (rc != SQLITE_DONE) {
            return Fail("read a kept window");
        }
        AppendFigures(days, iv30, sales);
        if (!WriteWindow(write.s, symbol, iv30, sales)) return Fail("write a kept window");
    }
    return true;
}

bool HistoryStore::BuildWindows(HistoryDay before) {
    if (!Exec("DELETE FROM windows")) return false;
    Statement write{Prepare(kWriteWindow)};
    if (write.s == nullptr) return false;
    bool ok = true;
    std::vector<double> iv30;
    KeptSales sales;
    const bool read = ReadSettledBackwards(
        db_, before, kKeptIvDays, kKeptLastSales,
        [&](const std::string& symbol, std::vector<DayFigures>& days) {
            if (!ok) return;
            iv30.clear();
            sales.clear();
            AppendFigures(days, iv30, sales);
            ok = WriteWindow(write.s, symbol, iv30, sales) || Fail("write a kept window");
        });
    if (!read) return Fail("read the settled days");
    return ok;
}

bool HistoryStore::Settle(HistoryDay before) {
    error_.clear();
    if (db_ == nullptr) {
        error_ = "the history is not open";
        return false;
    }
    const PageCache cache(db_, 32768);
    const bool own = !inBatch_;
    bool ok = !own || (Exec("BEGIN IMMEDIATE") && ReadSettled());
    // The kept windows are brought up to date from the rows about to move
    // while they still are recent; dropped ones are built anew from the
    // whole table once the rows have moved.
    const bool update = windowsThrough_.has_value();
    ok = ok && (!update || UpdateWindows(before));
    if (ok) {
        const std::string move = std::string("INSERT OR REPLACE INTO days (") + kRowColumns +
                                 ") SELECT " + kRowColumns +
                                 " FROM recent WHERE day < ? ORDER BY symbol, day";
        Statement insert{Prepare(move.c_str())};
        Statement remove{Prepare("DELETE FROM recent WHERE day < ?")};
        ok = insert.s != nullptr && remove.s != nullptr;
        if (ok) {
            sqlite3_bind_int(insert.s, 1, before);
            sqlite3_bind_int(remove.s, 1, before);
            ok = (sqlite3_step(insert.s) == SQLITE_DONE || Fail("settle the recent days")) &&
                 (sqlite3_step(remove.s) == SQLITE_DONE || Fail("settle the recent days"));
        }
    }
    ok = ok && ReadSettled();
    ok = ok && (update || BuildWindows(settledThrough_ + 1));
    if (ok) {
        Statement mark{
            Prepare("INSERT OR REPLACE INTO meta (name, value) VALUES ('windows_through', ?)")};
        ok = mark.s != nullptr;
        if (ok) {
            sqlite3_bind_int(mark.s, 1, settledThrough_);
            ok = sqlite3_step(mark.s) == SQLITE_DONE || Fail("mark the kept windows");
        }
        if (ok) windowsThrough_ = settledThrough_;
    }
    if (!own) return ok;
    if (ok && Exec("COMMIT")) return true;
    const std::string why = error_;
    if (sqlite3_get_autocommit(db_) == 0) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    error_ = why;
    // What was read inside the transaction rolled back with it.
    windowsThrough_.reset();
    return false;
}

bool HistoryStore::SettleDue(HistoryDay day) const {
    error_.clear();
    ReadTransaction transaction(db_);
    Statement today{Prepare("SELECT 1 FROM recent WHERE day = ? LIMIT 1")};
    Statement windows{Prepare("SELECT 1 FROM meta WHERE name = 'windows_through'")};
    Statement next{
        Prepare("SELECT day FROM recent WHERE day > ? AND day < ? ORDER BY day LIMIT 1")};
    if (today.s == nullptr || windows.s == nullptr || next.s == nullptr) return false;
    sqlite3_bind_int(today.s, 1, day);
    int rc = sqlite3_step(today.s);
    if (rc == SQLITE_ROW || StepFailed(rc)) return false;
    rc = sqlite3_step(windows.s);
    if (StepFailed(rc)) return false;
    if (rc != SQLITE_ROW) return true;
    // The recent days before `day`, each found by one step down the key.
    HistoryDay after = 0;
    for (int days = 0; days < kSettleDays; ++days) {
        sqlite3_reset(next.s);
        sqlite3_bind_int(next.s, 1, after);
        sqlite3_bind_int(next.s, 2, day);
        rc = sqlite3_step(next.s);
        if (rc != SQLITE_ROW) {
            StepFailed(rc);
            return false;
        }
        after = sqlite3_column_int(next.s, 0);
    }
    return true;
}

HistoryStore::PastWindows HistoryStore::Windows(HistoryDay before, int ivDays, int saleDays) const {
    PastWindows windows;
    error_.clear();
    if (ivDays <= 0 && saleDays <= 0) return windows;
    if (db_ == nullptr) {
        error_ = "the history is not open";
        return windows;
    }
    const auto ivWanted = static_cast<std::size_t>(std::max(ivDays, 0));
    const auto salesWanted = static_cast<std::size_t>(std::max(saleDays, 0));
    ReadTransaction transaction(db_);
    const auto failed = [&] {
        error_ = Why();
        return PastWindows{};
    };
    std::optional<HistoryDay> kept;
    {
        Statement s{Prepare("SELECT value FROM meta WHERE name = 'windows_through'")};
        if (s.s == nullptr) return {};
        const int rc = sqlite3_step(s.s);
        if (rc == SQLITE_ROW) kept = sqlite3_column_int(s.s, 0);
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) return failed();
    }
    const auto keep = [&](const std::string& symbol, std::vector<double>& iv30, KeptSales& sales) {
        KeepLast(iv30, ivWanted);
        KeepLast(sales.last, salesWanted);
        KeepLast(sales.day, salesWanted);
        if (!iv30.empty()) windows.Iv30[symbol] = std::move(iv30);
        if (sales.last.empty()) return;
        // Days that do not match the sales one for one are no days: HV20
        // is then nothing rather than wrongly spaced.
        if (sales.day.size() == sales.last.size()) {
            std::vector<HistoryDay>& days = windows.LastSaleDays[symbol];
            days.reserve(sales.day.size());
            for (double day : sales.day)
                days.push_back(static_cast<HistoryDay>(day));
        }
        windows.LastSales[symbol] = std::move(sales.last);
    };

    if (kept && before > *kept && ivDays <= kKeptIvDays && saleDays <= kKeptLastSales) {
        // The kept windows reach the last settled day; the recent days
        // before `before` come after it. Each window is put together at its
        // length at once: the kept figures the recent ones leave room for,
        // then the recent ones.
        RecentFigures recent;
        if (!ReadRecentBySymbol(db_, before, recent)) return failed();
        Statement s{Prepare("SELECT symbol, iv30, last, last_day FROM windows")};
        if (s.s == nullptr) return {};
        windows.Iv30.reserve(recent.size());
        windows.LastSales.reserve(recent.size());
        const auto build = [&](const std::string& symbol, sqlite3_stmt* keptRow,
                               const std::vector<DayFigures>* days) {
            std::size_t newIv = 0;
            std::size_t newSales = 0;
            if (days != nullptr) {
                for (const DayFigures& day : *days) {
                    newIv += std::isnan(day.iv30) ? 0 : 1;
                    newSales += std::isnan(day.last) ? 0 : 1;
                }
            }
            std::vector<double> iv30;
            KeptSales sales;
            if (keptRow != nullptr && ivWanted > newIv)
                AppendUnpacked(keptRow, 1, iv30, ivWanted - newIv);
            if (keptRow != nullptr && salesWanted > newSales) {
                AppendUnpacked(keptRow, 2, sales.last, salesWanted - newSales);
                AppendUnpacked(keptRow, 3, sales.day, salesWanted - newSales);
            }
            if (days != nullptr) AppendFigures(*days, iv30, sales);
            keep(symbol, iv30, sales);
        };
        int rc;
        std::string symbol;
        while ((rc = sqlite3_step(s.s)) == SQLITE_ROW) {
            symbol = ColumnText(s.s, 0);
            const auto more = recent.find(symbol);
            build(symbol, s.s, more == recent.end() ? nullptr : &more->second);
            if (more != recent.end()) recent.erase(more);
        }
        if (rc != SQLITE_DONE) return failed();
        for (const auto& [name, days] : recent)
            build(name, nullptr, &days);
        return windows;
    }

    // Without kept windows for the date: each symbol's settled days, read
    // backwards, and its recent ones, in the order of their days.
    RecentFigures recent;
    if (!ReadRecentBySymbol(db_, before, recent)) return failed();
    std::vector<double> iv30;
    KeptSales sales;
    const auto byDay = [](const DayFigures& a, const DayFigures& b) { return a.day < b.day; };
    if (!ReadSettledBackwards(db_, before, ivWanted, salesWanted,
                              [&](const std::string& symbol, std::vector<DayFigures>& days) {
                                  const auto more = recent.find(symbol);
                                  if (more != recent.end()) {
                                      days.insert(days.end(), more->second.begin(),
                                                  more->second.end());
                                      std::sort(days.begin(), days.end(), byDay);
                                      recent.erase(more);
                                  }
                                  iv30.clear();
                                  sales.clear();
                                  AppendFigures(days, iv30, sales);
                                  keep(symbol, iv30, sales);
                              })) {
        return failed();
    }
    for (auto& [symbol, days] : recent) {
        iv30.clear();
        sales.clear();
        AppendFigures(days, iv30, sales);
        keep(symbol, iv30, sales);
    }
    return windows;
}

std::unordered_map<std::string, std::vector<double>> HistoryStore::Iv30Windows(HistoryDay before,
                                                                               int n) const {
    return Windows(before, n, 0).Iv30;
}

std::unordered_map<std::string, std::vector<double>> HistoryStore::LastSaleWindows(
    HistoryDay before, int n) const {
    return Windows(before, 0, n).LastSales;
}

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

    // The figures this table has, in the order asked for.
    std::vector<RowFigure> known;
    std::string columns = "day, pass_id";
    for (RowFigure figure : figures) {
        const auto* at = std::find(std::begin(kRowFigures), std::end(kRowFigures), figure);
        if (at == std::end(kRowFigures)) continue;
        known.push_back(figure);
        columns += std::string(", ") + kRowFigureColumns[at - std::begin(kRowFigures)];
    }

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

    // A row of a block: its symbol, its pass and where its figures start in
    // `values` (NaN for nothing: SQLite keeps no NaN).
    struct Kept {
        std::uint32_t symbol;
        std::uint32_t at;
        std::int64_t pass;
    };
    const std::size_t width = known.size();
    const std::size_t rowBytes = sizeof(Kept) + width * sizeof(double);
    const std::size_t blockDays = std::max<std::size_t>(1, blockBytes / rowBytes / symbols.size());
    std::vector<std::vector<Kept>> block(std::min(blockDays, days.size()));
    std::vector<double> values;
    std::vector<bool> mixed(block.size());  // a day with rows of both tables
    const auto keepFigures = [&](sqlite3_stmt* s, int first) {
        for (std::size_t i = 0; i < width; ++i) {
            const int column = static_cast<int>(i) + first;
            values.push_back(sqlite3_column_type(s, column) == SQLITE_NULL
                                 ? std::numeric_limits<double>::quiet_NaN()
                                 : sqlite3_column_double(s, column));
        }
    };
    std::vector<HistoryRow> dayRows;
    for (std::size_t start = 0; start < days.size(); start += blockDays) {
        const std::size_t end = std::min(start + blockDays, days.size());
        values.clear();
        for (std::size_t symbol = 0; symbol < symbols.size(); ++symbol) {
            sqlite3_reset(rows.s);
            BindText(rows.s, 1, symbols[symbol]);
            sqlite3_bind_int(rows.s, 2, days[start]);
            sqlite3_bind_int(rows.s, 3, days[end - 1]);
            std::size_t at = start;
            int rc;
            while ((rc = sqlite3_step(rows.s)) == SQLITE_ROW) {
                const HistoryDay rowDay = sqlite3_column_int(rows.s, 0);
                while (at < end && days[at] < rowDay)
                    ++at;
                if (at == end) break;
                block[at - start].push_back(Kept{static_cast<std::uint32_t>(symbol),
                                                 static_cast<std::uint32_t>(values.size()),
                                                 sqlite3_column_int64(rows.s, 1)});
                keepFigures(rows.s, 2);
            }
            if (rc != SQLITE_ROW && rc != SQLITE_DONE) return failed();
        }
        // The recent days of the block, in one read along their key.
        sqlite3_reset(recentRows.s);
        sqlite3_bind_int(recentRows.s, 1, days[start]);
        sqlite3_bind_int(recentRows.s, 2, days[end - 1]);
        int rc;
        while ((rc = sqlite3_step(recentRows.s)) == SQLITE_ROW) {
            const std::string symbol = ColumnText(recentRows.s, 0);
            const HistoryDay rowDay = sqlite3_column_int(recentRows.s, 1);
            const auto at = std::lower_bound(days.begin() + static_cast<long>(start),
                                             days.begin() + static_cast<long>(end), rowDay);
            const auto name = std::lower_bound(symbols.begin(), symbols.end(), symbol);
            if (at == days.end() || *at != rowDay || name == symbols.end() || *name != symbol)
                continue;
            const auto d = static_cast<std::size_t>(at - days.begin()) - start;
            mixed[d] = mixed[d] || !block[d].empty();
            block[d].push_back(Kept{static_cast<std::uint32_t>(name - symbols.begin()),
                                    static_cast<std::uint32_t>(values.size()),
                                    sqlite3_column_int64(recentRows.s, 2)});
            keepFigures(recentRows.s, 3);
        }
        if (rc != SQLITE_DONE) return failed();
        for (std::size_t d = start; d < end; ++d) {
            std::vector<Kept>& kept = block[d - start];
            if (mixed[d - start]) {
                std::sort(kept.begin(), kept.end(),
                          [](const Kept& a, const Kept& b) { return a.symbol < b.symbol; });
                mixed[d - start] = false;
            }
            dayRows.resize(kept.size());
            for (std::size_t i = 0; i < kept.size(); ++i) {
                // Every field set afresh, without building a row anew.
                HistoryRow& row = dayRows[i];
                for (RowFigure figure : kRowFigures)
                    (row.*figure).reset();
                row.DaysToNear.reset();
                row.DaysToNext.reset();
                row.Verdict.clear();
                row.FailedTest.clear();
                row.Symbol = symbols[kept[i].symbol];
                row.Day = days[d];
                row.PassId = kept[i].pass;
                const double* figure = values.data() + kept[i].at;
                for (std::size_t f = 0; f < width; ++f) {
                    if (!std::isnan(figure[f])) row.*known[f] = figure[f];
                }
            }
            kept.clear();
            if (!day(days[d], dayRows)) return true;
        }
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
