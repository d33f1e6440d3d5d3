// The history store's settling of recent days and the kept windows of IV30 and last sales.

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
    if (CommitOwn(ok)) return true;
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

namespace {

// Puts each symbol's windows together at their lengths.
struct WindowsBuilder {
    HistoryStore::PastWindows& windows;
    std::size_t ivWanted;
    std::size_t salesWanted;

    // The last of the figures given, `iv30` and `sales` in the order of
    // their days, as the symbol's windows.
    void Keep(const std::string& symbol, std::vector<double>& iv30, KeptSales& sales) {
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
    }

    // A symbol's windows from its kept row (or none) and its recent days
    // (or none): the kept figures the recent ones leave room for, then the
    // recent ones.
    void FromKept(const std::string& symbol, sqlite3_stmt* keptRow,
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
        Keep(symbol, iv30, sales);
    }
};

}  // namespace

HistoryStore::PastWindows HistoryStore::Windows(HistoryDay before, int ivDays, int saleDays) const {
    PastWindows windows;
    error_.clear();
    if (ivDays <= 0 && saleDays <= 0) return windows;
    if (db_ == nullptr) {
        error_ = "the history is not open";
        return windows;
    }
    WindowsBuilder builder{windows, static_cast<std::size_t>(std::max(ivDays, 0)),
                           static_cast<std::size_t>(std::max(saleDays, 0))};
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

    if (kept && before > *kept && ivDays <= kKeptIvDays && saleDays <= kKeptLastSales) {
        // The kept windows reach the last settled day; the recent days
        // before `before` come after it. Each window is put together at its
        // length at once.
        RecentFigures recent;
        if (!ReadRecentBySymbol(db_, before, recent)) return failed();
        Statement s{Prepare("SELECT symbol, iv30, last, last_day FROM windows")};
        if (s.s == nullptr) return {};
        windows.Iv30.reserve(recent.size());
        windows.LastSales.reserve(recent.size());
        int rc;
        std::string symbol;
        while ((rc = sqlite3_step(s.s)) == SQLITE_ROW) {
            symbol = ColumnText(s.s, 0);
            const auto more = recent.find(symbol);
            builder.FromKept(symbol, s.s, more == recent.end() ? nullptr : &more->second);
            if (more != recent.end()) recent.erase(more);
        }
        if (rc != SQLITE_DONE) return failed();
        for (const auto& [name, days] : recent)
            builder.FromKept(name, nullptr, &days);
        return windows;
    }

    // Without kept windows for the date: each symbol's settled days, read
    // backwards, and its recent ones, in the order of their days.
    RecentFigures recent;
    if (!ReadRecentBySymbol(db_, before, recent)) return failed();
    std::vector<double> iv30;
    KeptSales sales;
    const auto byDay = [](const DayFigures& a, const DayFigures& b) { return a.day < b.day; };
    if (!ReadSettledBackwards(db_, before, builder.ivWanted, builder.salesWanted,
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
                                  builder.Keep(symbol, iv30, sales);
                              })) {
        return failed();
    }
    for (auto& [symbol, days] : recent) {
        iv30.clear();
        sales.clear();
        AppendFigures(days, iv30, sales);
        builder.Keep(symbol, iv30, sales);
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

}  // namespace quillon
