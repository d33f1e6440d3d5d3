#include "ingest/history_commands.h"

#include <fcntl.h>
#include <sys/file.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "analytics/calendar.h"
#include "history/history_store.h"
#include "ingest/dated_books.h"
#include "ingest/day_recorder.h"
#include "ingest/history_text.h"
#include "platform/clock.h"
#include "platform/exit_status.h"
#include "platform/files.h"
#include "platform/number_format.h"
#include "platform/progress_line.h"
#include "platform/workdir.h"
#include "results/archive_date.h"
#include "results/settings.h"
#include "scan/scan_parts.h"

namespace quillon::historytool {
namespace {

constexpr const char* kProgram = "quillon-history";

int Fail(const std::string& problem) {
    std::fprintf(stderr, "%s: %s\n", kProgram, problem.c_str());
    return kExitFailed;
}

std::string DatabaseOf(const Command& command) {
    return command.dir + "/History.db";
}

// The filters the working directory's scans use; the defaults without a
// settings file.
Settings WorkdirSettings(const std::string& dir) {
    Settings settings;
    SetDefaultSettings(settings);
    const WorkingFileNames names = WorkingFileNames::In(dir);
    if (std::filesystem::exists(names.SettingsFile) && !LoadSettings(settings, names)) {
        std::fprintf(stderr,
                     "quillon-history: %s cannot be read: the days are judged by the default "
                     "filters\n",
                     names.SettingsFile.c_str());
        SetDefaultSettings(settings);
    }
    return settings;
}

bool OpenStore(HistoryStore& store, const Command& command, bool create, std::string& error) {
    const std::string file = DatabaseOf(command);
    if (!create && !std::filesystem::exists(file)) {
        error = "no history in " + command.dir + ": " + file + " does not exist";
        return false;
    }
    if (create) {
        if (std::string made = MakeWorkingDirectory(command.dir); !made.empty()) {
            error = made;
            return false;
        }
    }
    if (create ? store.Open(file) : store.OpenForReading(file)) return true;
    error = file + ": " + store.Error();
    return false;
}

// One add at a time in a working directory: two would starve each other's
// day transactions of the database lock. The queue is an flock on a
// descriptor of History.db itself, which SQLite's own locks (fcntl locks)
// do not meet. It is kept until the program ends: closing a descriptor of
// the file would drop SQLite's locks on it while the store is open.
// Answers false when History.db cannot be opened (the store's open then
// says why) or flock is not offered there; the add then goes on without a
// queue, on the longer busy wait alone.
bool WaitForOtherAdds(const Command& command) {
    const std::string file = DatabaseOf(command);
    const int fd = ::open(file.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK) return false;
    std::fprintf(stderr, "quillon-history: waiting for another quillon-history add in %s to end\n",
                 command.dir.c_str());
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

// A write of an add waits this long for the scan's: a pass commits its rows
// every few seconds, so that an add beside it is slowed, never refused.
constexpr int kAddBusyMilliseconds = 60000;

bool OpenForAdding(HistoryStore& store, const Command& command, std::string& error) {
    if (std::string made = MakeWorkingDirectory(command.dir); !made.empty()) {
        error = made;
        return false;
    }
    WaitForOtherAdds(command);
    if (!OpenStore(store, command, true, error)) return false;
    store.SetBusyTimeout(kAddBusyMilliseconds);
    return true;
}

// Names the days read that no pass has ended whole: a pass may be writing
// them now, or stopped before it was done.
void NotePartialDays(const std::vector<HistoryDay>& days) {
    constexpr std::size_t kNamed = 5;
    for (std::size_t i = 0; i < days.size() && i < kNamed; ++i) {
        std::fprintf(stderr,
                     "quillon-history: %s is partial: no pass of it has ended whole (a scan may "
                     "still be writing it); its figures may be incomplete\n",
                     HistoryDayText(days[i]).c_str());
    }
    if (days.size() > kNamed)
        std::fprintf(stderr, "quillon-history: and %zu more partial days\n", days.size() - kNamed);
}

void PrintDay(const char* source, HistoryDay day, const DayRecorder::Count& count) {
    std::printf("%s: %s recorded, %d saved (%s)\n", HistoryDayText(day).c_str(),
                CountedText(count.symbols, "stock", "stocks").c_str(), count.saved, source);
}

// The added days go into the table by symbol at once, where the scans and
// the charts read them along their key. A failure there loses nothing: the
// days stay recorded and a later pass moves them.
void SettleAdded(HistoryStore& store, const Command& command) {
    if (store.Settle()) return;
    std::fprintf(stderr,
                 "quillon-history: %s: %s; the days are recorded, and the next pass sorts them "
                 "in\n",
                 DatabaseOf(command).c_str(), store.Error().c_str());
}

// What an add of files says it did: the days, their range and rows, each
// file's layout, and the rows it passed over.
void PrintAdded(const Command& command, const DatedRead& read, long stocks, long options,
                double seconds) {
    std::printf("%s recorded in %s, %s to %s: %s, %s kept (%.1f s)\n",
                CountedText(static_cast<long long>(read.days.size()), "day", "days").c_str(),
                DatabaseOf(command).c_str(), read.days.begin()->first.IsoText().c_str(),
                read.days.rbegin()->first.IsoText().c_str(),
                CountedText(stocks, "stock row", "stock rows").c_str(),
                CountedText(options, "option", "options").c_str(), seconds);
    for (const import::FileRead& file : read.files)
        std::printf("%s: read as %s\n", file.path.c_str(), file.layout.c_str());
    if (read.undatedRows > 0)
        std::printf("rows without a quote date: %ld, taken as of %s\n", read.undatedRows,
                    read.undatedSource.c_str());
    if (read.otherDateRows > 0)
        std::printf("rows of other days than --date (left out): %ld\n", read.otherDateRows);
    long skipped = 0;
    for (long n : read.stockFaults)
        skipped += n;
    for (long n : read.optionFaults)
        skipped += n;
    if (skipped > 0) std::printf("rows skipped: %ld (--verbose tells each)\n", skipped);
    for (const std::string& symbol : read.unpriced)
        std::printf("%s: no stock quote on some days, so its options of those days are left out\n",
                    symbol.c_str());
}

// The stocks of one day's book, one at a time into the scan's quote, with
// the IV30 of each stock's whole chain, as an import of the day writes it
// beside its archive for the scan.
std::function<bool(Context&)> BookStocks(const import::ImportBook& book, HistoryDay day) {
    return [&book, day, index = std::size_t{0}](Context& context) mutable {
        if (index == book.Stocks().size()) return false;
        const import::BookStock& stock = book.Stocks()[index++];
        book.FillQuoteState(stock, context.quote);
        SelectStrikes(context.strikes, context.quote.Quote.LastSale);
        ChainIv30Table& whole = context.ivHistory.ChainIv30;
        whole.clear();
        ChainIv30Entry entry;
        entry.Day = day;
        entry.Last = stock.row.Quote.LastSale;
        entry.Iv30 = book.WholeChainIv30(stock, context.settings.InterestRate);
        if (entry.Iv30.Both) whole.emplace(stock.row.Symbol, entry);
        return true;
    };
}

int AddFiles(const Command& command) {
    import::ImportOptions options;
    const DateTime now = SystemClock().Now();
    options.today = {now.Year, now.Month, now.Day};
    options.date = command.date;
    options.files = command.files;
    if (command.verbose) options.verbose = stderr;
    const auto started = std::chrono::steady_clock::now();

    DatedRead read;
    std::string error;
    if (!ReadDatedBooks(options, read, error)) {
        for (const import::FileRead& file : read.files)
            std::fprintf(stderr, "%s: read as %s\n", file.path.c_str(), file.layout.c_str());
        return Fail(error + ", nothing recorded");
    }
    HistoryStore store;
    if (!OpenForAdding(store, command, error)) return Fail(error + ", nothing recorded");

    SystemClock clock;
    DayRecorder recorder(store, WorkdirSettings(command.dir), clock);
    // --verbose tells each day on its own line instead.
    ProgressLine progress(kProgram, command.verbose);
    long stocks = 0, optionsKept = 0;
    int daysDone = 0;
    for (auto& [date, day] : read.days) {
        const HistoryDay dayKey = date.Number();
        DayRecorder::Count count;
        if (!recorder.RecordDay({date.Year, date.Month, date.Day}, BookStocks(*day.book, dayKey),
                                count, error)) {
            progress.End();
            return Fail(FormatArgs("%s: %s; %d of %zu days recorded", date.IsoText().c_str(),
                                   error.c_str(), daysDone, read.days.size()));
        }
        ++daysDone;
        stocks += count.symbols;
        optionsKept += day.optionsKept;
        if (command.verbose) PrintDay("import", dayKey, count);
        progress.Show(FormatArgs("%d of %zu days recorded", daysDone, read.days.size()));
        day.book.reset();  // its memory goes once the day is recorded
    }
    progress.End();
    SettleAdded(store, command);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    PrintAdded(command, read, stocks, optionsKept, seconds);
    return kExitDone;
}

// The records of a quote archive in file order, each under its own symbol
// as the replay looks it up.
std::vector<std::string> ArchiveTickers(const std::string& quoteFile) {
    std::vector<std::string> tickers;
    LineReader reader;
    if (!reader.Open(quoteFile)) return tickers;
    constexpr std::string_view kStockTag = "<STOCK>";
    constexpr std::size_t kRecordSymbolLength = 10;
    for (;;) {
        const std::string_view line = reader.NextLine();
        if (reader.AtEnd() && line.empty()) break;
        if (line.starts_with(kStockTag) && line.size() > kStockTag.size())
            tickers.emplace_back(line.substr(kStockTag.size(), kRecordSymbolLength));
    }
    return tickers;
}

int AddArchives(const Command& command) {
    struct Archive {
        std::string dir;
        DateTime date;
    };
    std::vector<Archive> archives;
    for (const import::ImportInput& input : command.files) {
        const std::string quoteFile = input.path + "/Quote.txt";
        // The replay's reader creates a missing file; a missing archive is
        // refused before it gets there.
        if (!std::filesystem::is_regular_file(quoteFile))
            return Fail(quoteFile + ": no quote archive, nothing recorded");
        const ArchiveDateRead recorded = ReadArchiveDate(input.path + "/" + kArchiveDateFile);
        std::optional<DateTime> date = recorded.Date;
        if (command.date)
            date = DateTime{command.date->Year, command.date->Month, command.date->Day};
        if (!date) {
            return Fail(
                input.path + "/" + kArchiveDateFile + ": " +
                (recorded.Problem.empty() ? std::string("no recorded date") : recorded.Problem) +
                "; give the archive's day with --date YYYY-MM-DD, nothing recorded");
        }
        archives.push_back({input.path, *date});
    }
    HistoryStore store;
    std::string error;
    if (!OpenForAdding(store, command, error)) return Fail(error + ", nothing recorded");
    SystemClock clock;
    DayRecorder recorder(store, WorkdirSettings(command.dir), clock);
    int done = 0;
    for (const Archive& archive : archives) {
        const std::string quoteFile = archive.dir + "/Quote.txt";
        const std::vector<std::string> tickers = ArchiveTickers(quoteFile);
        Context& context = recorder.Scan();
        context.replay.ReplayLine.clear();
        context.ivHistory.ChainIv30 = LoadChainIv30(archive.dir);
        if (!context.replay.LocalQuoteFile.Open(quoteFile))
            return Fail(quoteFile + ": cannot open");
        std::size_t index = 0;
        auto next = [&](Context& scan) {
            if (index == tickers.size()) return false;
            scan.quote.Ticker = tickers[index++];
            ReplayQuote(scan);
            return true;
        };
        DayRecorder::Count count;
        const HistoryDay day = archive.date.Date().Number();
        const bool ok = recorder.RecordDay(archive.date, next, count, error);
        context.replay.LocalQuoteFile.Close();
        if (!ok) {
            return Fail(FormatArgs("%s: %s; %d of %zu archives recorded", archive.dir.c_str(),
                                   error.c_str(), done, archives.size()));
        }
        if (count.symbols == 0) return Fail(quoteFile + ": no stock record");
        ++done;
        std::printf("%s: ", archive.dir.c_str());
        PrintDay(command.date ? "--date" : "its QuoteDate.txt", day, count);
    }
    SettleAdded(store, command);
    return kExitDone;
}

int Show(const Command& command) {
    HistoryStore store;
    std::string error;
    if (!OpenStore(store, command, false, error)) return Fail(error);
    const std::string& symbol = command.symbols.front();
    if (!store.BeginRead()) return Fail(DatabaseOf(command) + ": " + store.Error());
    const std::vector<HistoryRow> rows = store.Rows(symbol);
    if (!store.Error().empty()) return Fail(DatabaseOf(command) + ": " + store.Error());
    if (rows.empty()) return Fail("no day of " + symbol + " recorded in " + DatabaseOf(command));
    const std::vector<HistoryDay> partial = store.PartialDays(rows.front().Day, rows.back().Day);
    if (!store.Error().empty()) return Fail(DatabaseOf(command) + ": " + store.Error());
    std::vector<HistoryDay> own;  // the partial days the symbol has a row of
    for (const HistoryRow& row : rows) {
        if (std::binary_search(partial.begin(), partial.end(), row.Day)) own.push_back(row.Day);
    }
    std::fputs(ShowText(symbol, SeriesOf(rows)).c_str(), stdout);
    NotePartialDays(own);
    return kExitDone;
}

int Export(const Command& command) {
    HistoryStore store;
    std::string error;
    if (!OpenStore(store, command, false, error)) return Fail(error);
    // One snapshot for the whole export: a day a scan completes meanwhile
    // is in it whole or not at all.
    if (!store.BeginRead()) return Fail(DatabaseOf(command) + ": " + store.Error());
    const std::vector<std::string> known = store.Symbols();  // sorted
    if (!store.Error().empty()) return Fail(DatabaseOf(command) + ": " + store.Error());
    const std::vector<HistoryDay> partial = store.PartialDays();
    if (!store.Error().empty()) return Fail(DatabaseOf(command) + ": " + store.Error());
    // A symbol named that was never recorded is refused, as show refuses it,
    // before anything is written.
    std::string missing;
    for (const std::string& symbol : command.symbols) {
        if (!std::binary_search(known.begin(), known.end(), symbol))
            missing += (missing.empty() ? "" : ", ") + symbol;
    }
    if (!missing.empty())
        return Fail("no day of " + missing + " recorded in " + DatabaseOf(command));
    const std::vector<std::string>& symbols = command.symbols.empty() ? known : command.symbols;
    std::string readError;  // a symbol's rows could not be read: the export fails
    auto write = [&](std::FILE* file) {
        if (std::fputs(ExportHeader().c_str(), file) < 0) return false;
        for (const std::string& symbol : symbols) {
            const std::vector<HistoryRow> rows = store.Rows(symbol);
            if (!store.Error().empty()) {
                readError = DatabaseOf(command) + ": " + store.Error();
                return false;
            }
            for (const SeriesPoint& point : SeriesOf(rows)) {
                if (std::fputs(ExportLine(point).c_str(), file) < 0) return false;
            }
        }
        return true;
    };
    if (command.out.empty()) {
        const bool written = write(stdout);
        if (!readError.empty()) return Fail(readError + "; the export is incomplete");
        if (!written || std::fflush(stdout) != 0) return Fail("cannot write the export");
    } else {
        FileReplacement file(command.out);
        if (!file.WriteWith(write) || !file.Commit()) {
            return Fail(readError.empty()
                            ? command.out + ": cannot write: " + std::strerror(file.Error())
                            : readError + "; " + command.out + " is left as it was");
        }
    }
    NotePartialDays(partial);
    return kExitDone;
}

int Rank(const Command& command) {
    HistoryStore store;
    std::string error;
    if (!OpenStore(store, command, false, error)) return Fail(error);
    const auto failed = [&] { return Fail(DatabaseOf(command) + ": " + store.Error()); };
    // The last day, its windows and its rows as of one moment.
    if (!store.BeginRead()) return failed();
    const std::vector<HistoryDay> days = store.Days();
    if (!store.Error().empty()) return failed();
    if (days.empty()) return Fail("no day recorded in " + DatabaseOf(command));
    const HistoryDay last = days.back();
    // The windows end with the last day itself: the days before the next one.
    const auto windows = store.Iv30Windows(last + 1, kYearWindow);
    if (!store.Error().empty()) return failed();
    const std::vector<HistoryRow> rows = store.RowsOfDay(last);
    if (!store.Error().empty()) return failed();
    const std::vector<HistoryDay> partial = store.PartialDays(last, last);
    if (!store.Error().empty()) return failed();
    std::vector<RankEntry> entries;
    for (const HistoryRow& row : rows) {
        RankEntry entry;
        entry.symbol = row.Symbol;
        entry.iv30 = row.Iv30;
        const auto window = windows.find(row.Symbol);
        if (row.Iv30 && window != windows.end()) {
            entry.standing = IvRankAndPercentile(window->second);
        } else if (window != windows.end()) {
            entry.standing.Days = static_cast<int>(window->second.size());
        }
        entries.push_back(std::move(entry));
    }
    SortByRank(entries);
    std::fputs(RankText(last, entries).c_str(), stdout);
    NotePartialDays(partial);
    return kExitDone;
}

}  // namespace

int RunCommand(const Command& command) {
    if (command.name == "add") return command.archive ? AddArchives(command) : AddFiles(command);
    if (command.name == "show") return Show(command);
    if (command.name == "export") return Export(command);
    return Rank(command);
}

}  // namespace quillon::historytool
