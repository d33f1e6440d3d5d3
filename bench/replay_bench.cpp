// A local scan of a large archive: generates an archive of N stocks of the
// synthetic market for today's date, runs quillon-scan over it as a user
// would, and prints symbols per second, CPU time and the runner's peak
// memory, in two filter modes:
//
//   default  the default filters: a few stocks pass and get their report
//   na       every filter "NA": every stock is saved, its report written
//
// Then the longest single scan step (one ScanDriver::ScanStep call), timed
// in-process: over a whole 5,000-stock replay, and over a server scan whose
// option page is 4 MB, served through a fake socket in 64 KB events.
//
// Usage: bench_replay [--symbols=N[,N...]] [--runs=K] [--mode=default|na|both]
//                     [--scan=PATH]... [--steps-only] [--no-steps] [--keep]
//                     [--history-days=D [--recent-days=R]] [--iv-filter]
// (N = 5000,20000, K = 1 and both modes by default.) Each --scan names another
// quillon-scan to run on the same archives, such as the build of an earlier
// commit; the runs of every program, mode and size are interleaved, so that
// a change in the machine's load touches all of them alike. --keep leaves
// the working directories of the runs in place (for profiling them).
// --history-days=D gives every run a History.db holding D trading days
// before today for every stock of the archive, as a year of daily scans
// leaves it, all of them settled into the table by symbol but the last R
// (0 by default; from 20 on, the run's pass settles them first);
// --iv-filter also puts an IV rank filter in use (minimum 0, which every
// stock with 20 days of history passes), so that the ranks are read and
// worked out for every stock.

#include <fcntl.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "history/history_store.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/services.h"
#include "results/settings.h"
#include "scan/context.h"
#include "scan/scan_driver.h"
#include "sim/market_sim_archive.h"
#include "sim/quote_pages.h"

namespace {

using namespace quillon;
namespace fs = std::filesystem;
using Stopwatch = std::chrono::steady_clock;

double Seconds(Stopwatch::duration d) {
    return std::chrono::duration<double>(d).count();
}

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// This thread's CPU time in seconds.
double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

enum class Mode { Default, NA };

const char* ModeName(Mode mode) {
    return mode == Mode::NA ? "na" : "default";
}

std::string MakeTempDirectory() {
    std::string pattern = (fs::temp_directory_path() / "quillon-replay-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return {};
    return pattern;
}

// What the runs find in their working directories besides the archive.
struct RunSetup {
    std::string historyFile;  // a History.db copied into each run, or ""
    bool ivFilter = false;    // an IV rank filter in use
};

// The settings of a local scan of `directory` in `mode`.
bool WriteLocalSettings(const std::string& directory, Mode mode, const RunSetup& setup) {
    Settings settings;
    SetDefaultSettings(settings);
    settings.QuotesFromLocalFile = 1;
    settings.SymbolFileName = directory + "/Symbols.sym";
    if (mode == Mode::NA) {
        for (FilterValue& value : settings.Filters.Values)
            value = FilterValue::Text("NA");
    }
    if (setup.ivFilter) settings.History.MinIvRank = FilterValue::Number(0);
    return SaveSettings(settings, WorkingFileNames::In(directory));
}

// YYYYMMDD of the `back`th weekday before `today`.
HistoryDay WeekdayBefore(const DateTime& today, int back) {
    std::tm t{};
    t.tm_year = today.Year - 1900;
    t.tm_mon = today.Month - 1;
    t.tm_mday = today.Day;
    t.tm_hour = 12;
    for (int found = 0; found < back;) {
        --t.tm_mday;
        std::mktime(&t);
        if (t.tm_wday != 0 && t.tm_wday != 6) ++found;
    }
    return (t.tm_year + 1900) * 10000 + (t.tm_mon + 1) * 100 + t.tm_mday;
}

// A History.db in `directory` with `days` weekdays before today for every
// ticker: a last sale and an IV30 that wander from day to day.
bool WriteHistory(const std::string& directory, const std::vector<std::string>& tickers,
                  const DateTime& today, int days, int recentDays) {
    HistoryStore store;
    if (!store.Open(directory + "/History.db") || !store.BeginBatch()) return false;
    std::uint32_t seed = 12345;
    const auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<double>(seed >> 8) / 16777216.0;
    };
    for (int back = days; back >= 1; --back) {
        const HistoryDay day = WeekdayBefore(today, back);
        for (const std::string& ticker : tickers) {
            HistoryRow row;
            row.Symbol = ticker;
            row.Day = day;
            row.Last = 20 + 80 * next();
            row.Iv30 = 15 + 30 * next();
            row.Iv30Call = row.Iv30;
            row.Iv30Put = row.Iv30;
            row.Verdict = Verdict::Rejected;
            if (!store.Record(row)) return false;
        }
    }
    // The last `recentDays` days stay unsettled, as between two settles.
    return store.CommitBatch() && store.Settle(WeekdayBefore(today, recentDays));
}

// A working directory of its own for one run: the archive and the symbol
// file linked in (copied where links do not work), the settings of `mode`.
std::string PrepareRun(const std::string& archiveDirectory, Mode mode, const RunSetup& setup = {}) {
    const std::string directory = MakeTempDirectory();
    if (directory.empty()) return {};
    for (const char* name : {"Quote.txt", "AscQuote.txt", "Symbols.sym"}) {
        const fs::path from = fs::path(archiveDirectory) / name;
        const fs::path to = fs::path(directory) / name;
        std::error_code error;
        if (!fs::exists(from, error)) continue;
        fs::create_hard_link(from, to, error);
        if (error) fs::copy_file(from, to, error);
        if (error) return {};
    }
    if (!setup.historyFile.empty()) {
        std::error_code error;
        const fs::path copy = fs::path(directory) / "History.db";
        fs::copy_file(setup.historyFile, copy, error);
        if (error) return {};
        // The copy reaches the disk before the run: the scan's first sync
        // of the file would otherwise wait for all of it.
        const int file = open(copy.c_str(), O_RDONLY);
        if (file < 0 || fsync(file) != 0) return {};
        close(file);
    }
    if (!WriteLocalSettings(directory, mode, setup)) return {};
    return directory;
}

struct RunFigures {
    int exitCode = -1;
    double seconds = 0;     // wall time, fork to exit
    double cpuSeconds = 0;  // the runner's user and system time
    long peakKiB = 0;       // the runner's own peak resident memory (VmHWM)
};

// VmHWM of process `pid` in KiB, or -1.
long PeakResidentKiB(pid_t pid) {
    const std::string status =
        ReadWholeFile("/proc/" + std::to_string(pid) + "/status").value_or("");
    const std::size_t at = status.find("VmHWM:");
    return at == std::string::npos ? -1 : std::atol(status.c_str() + at + 6);
}

// Runs quillon-scan in `directory` with its output to a log file. The peak
// memory is read from the runner itself as it exits (it is traced only to
// stop it there): ru_maxrss would also count what the bench held when it
// forked, since the high-water mark of a process survives its exec.
RunFigures RunScan(const std::string& program, const std::string& directory) {
    RunFigures figures;
    std::fflush(stdout);
    const auto start = Stopwatch::now();
    pid_t child = fork();
    if (child == 0) {
        if (chdir(directory.c_str()) != 0) _exit(127);
        if (std::freopen("scan.log", "w", stdout) == nullptr) _exit(127);
        ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
        execl(program.c_str(), "quillon-scan", static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    for (;;) {
        if (wait4(child, &status, 0, &usage) < 0) break;
        if (WIFEXITED(status) || WIFSIGNALED(status)) break;
        if (!WIFSTOPPED(status)) continue;
        int signal = WSTOPSIG(status);
        if (signal == SIGTRAP && (status >> 16) == PTRACE_EVENT_EXIT) {
            figures.peakKiB = PeakResidentKiB(child);
            signal = 0;
        } else if (signal == SIGTRAP && (status >> 16) == 0) {
            // The stop at the exec: from here on, stop at the exit.
            ptrace(PTRACE_SETOPTIONS, child, nullptr, PTRACE_O_TRACEEXIT);
            signal = 0;
        }
        ptrace(PTRACE_CONT, child, nullptr, signal);
    }
    figures.seconds = Seconds(Stopwatch::now() - start);
    figures.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    figures.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (figures.peakKiB <= 0) figures.peakKiB = usage.ru_maxrss;
    return figures;
}

// The last line of the runner's log ("N symbols scanned, M saved ...").
std::string LastLine(const std::string& text) {
    std::string line = text;
    while (!line.empty() && line.back() == '\n')
        line.pop_back();
    return line.substr(line.rfind('\n') + 1);
}

// ---------------------------------------------------------------- longest step

// The longest of a series of timed calls, by CPU time, with its wall time
// and what was being done.
struct Longest {
    double cpuSeconds = 0;
    double wallSeconds = 0;
    std::string what;
    long calls = 0;

    template <typename Call>
    void Time(const std::string& label, Call&& call) {
        const auto wallStart = Stopwatch::now();
        const double cpuStart = ThreadCpuSeconds();
        call();
        const double cpu = ThreadCpuSeconds() - cpuStart;
        const double wall = Seconds(Stopwatch::now() - wallStart);
        ++calls;
        if (cpu > cpuSeconds) {
            cpuSeconds = cpu;
            wallSeconds = wall;
            what = label;
        }
    }

    void Print(const char* name) const {
        std::printf("%s: longest of %ld: %.3f ms CPU (%.3f ms wall), %s\n", name, calls,
                    cpuSeconds * 1e3, wallSeconds * 1e3, what.c_str());
    }
};

std::string StateName(ScanState state) {
    static const char* const kNames[] = {"kNoState",  "ReadSymbols",  "NextSymbol", "Connecting",
                                         "Connected", "SendRequest",  "AwaitReply", "ProcessReply",
                                         "ReadLocal", "EvaluateLocal"};
    return kNames[static_cast<int>(state)];
}

// Every step of a whole local pass over `directory`, in-process, started as
// quillon-scan starts it.
void LongestReplayStep(const std::string& directory, int symbols) {
    const fs::path previous = fs::current_path();
    fs::current_path(directory);
    SystemClock clock;
    StderrMessages messages;
    SilentBeeper beeper;
    Context context(clock, messages, beeper);
    InitWorkingFiles(context.settings, context.runtime, context.files);
    RecordingScanView view;
    NullQuoteSocket socket;
    ScanDriver driver(context, view, socket);
    driver.FormShow();
    driver.FormActivate();
    driver.PB_GoClick();
    Longest longest;
    const auto start = Stopwatch::now();
    const double cpuStart = ThreadCpuSeconds();
    while (!(!driver.Running() && view.StatusText(0) == kDone) && !view.Closed &&
           driver.LastStop() == ScanStop::None) {
        const ScanState state = driver.ScanState();
        longest.Time(StateName(state) + " (" + context.quote.Ticker + ")",
                     [&] { driver.ScanStep(); });
    }
    const double cpu = ThreadCpuSeconds() - cpuStart;
    driver.FormClose();
    fs::current_path(previous);
    std::printf(
        "in-process replay: %d stocks, every filter NA: %.3f s CPU, %.3f s wall, %d saved\n",
        symbols, cpu, Seconds(Stopwatch::now() - start), context.counters.ProcessCount);
    longest.Print("  replay step");
}

// Serves every request with the page the test sets for its phase, in
// chunks of at most `chunk` bytes per receive event.
class PageSocket final : public QuoteSocket {
  public:
    void SetServer(const std::string&, const std::string&) override {}
    void SConnect() override { connectPending = true; }
    void SetText(const std::string& text) override { requests.push_back(text); }
    int SReceive(char* buffer, int max) override {
        if (incoming.empty()) return -1;
        const int n = std::min(max, static_cast<int>(incoming.size() - offset));
        std::memcpy(buffer, incoming.data() + offset, static_cast<std::size_t>(n));
        offset += static_cast<std::size_t>(n);
        if (offset == incoming.size()) {
            incoming.clear();
            offset = 0;
        }
        return n;
    }
    void Disconnect() override {}

    bool connectPending = false;
    std::vector<std::string> requests;
    std::string incoming;
    std::size_t offset = 0;
};

// A server scan of one stock whose option page is about `pageBytes` long,
// every filter "NA": every step and every socket event timed.
void LongestServerStep(std::size_t pageBytes) {
    const DateTime today = SystemClock().Now();
    sim::Market market(1, today);
    std::optional<sim::SimStock> stock;
    std::vector<sim::SimOption> options;
    for (const std::string& ticker : market.Universe()) {
        stock = market.Stock(ticker);
        if (!stock || !stock->ListsOptions) continue;
        options = market.Options(*stock);
        if (!options.empty()) break;
    }
    if (!stock || options.empty()) return;
    const std::string stockPage = sim::StockPage(*stock);
    const std::string optionPage = sim::OptionPage(*stock, options, pageBytes);

    const std::string directory = MakeTempDirectory();
    if (directory.empty()) return;
    Settings settings;
    SetDefaultSettings(settings);
    settings.QuotesFromLocalFile = 0;
    settings.SymbolFileName = directory + "/Symbols.sym";
    for (FilterValue& value : settings.Filters.Values)
        value = FilterValue::Text("NA");
    SaveSettings(settings, WorkingFileNames::In(directory));
    {
        std::FILE* symbols = std::fopen((directory + "/Symbols.sym").c_str(), "wb");
        if (symbols == nullptr) return;
        std::fprintf(symbols, "%s\r\n", stock->Ticker.c_str());
        std::fclose(symbols);
    }

    FixedClock clock(today);
    StderrMessages messages;
    SilentBeeper beeper;
    Context context(clock, messages, beeper);
    InitWorkingFilesIn(directory, context.settings, context.runtime, context.files);
    RecordingScanView view;
    PageSocket socket;
    ScanDriver driver(context, view, socket);
    driver.FormShow();
    driver.FormActivate();
    driver.PB_GoClick();

    constexpr std::size_t kEventBytes = 64 * 1024;  // what one readable event brings
    Longest steps;
    Longest events;
    std::size_t served = 0;
    for (int guard = 0; guard < 100000; ++guard) {
        if (!driver.Running() && view.StatusText(0) == kDone) break;
        if (view.Closed || driver.LastStop() != ScanStop::None) break;
        steps.Time(StateName(driver.ScanState()), [&] { driver.ScanStep(); });
        if (socket.connectPending) {
            socket.connectPending = false;
            events.Time("connected", [&] {
                driver.Sockets1SessionConnected();
                driver.Sockets1DataNeeded();
            });
        }
        if (driver.ScanState() == AwaitReply && served < socket.requests.size()) {
            const std::string& page = driver.RequestPhase() == 0 ? stockPage : optionPage;
            ++served;
            for (std::size_t at = 0; at < page.size(); at += kEventBytes) {
                socket.incoming = page.substr(at, kEventBytes);
                socket.offset = 0;
                events.Time("data available at byte " + std::to_string(at),
                            [&] { driver.Sockets1DataAvailable(); });
            }
            events.Time("closed", [&] { driver.Sockets1SessionClosed(); });
        }
    }
    std::printf("in-process server scan: %s, option page %.1f MB, %d saved\n",
                stock->Ticker.c_str(), static_cast<double>(optionPage.size()) / 1e6,
                context.counters.ProcessCount);
    steps.Print("  server step");
    events.Print("  socket event");
    driver.FormClose();
    std::error_code ignored;
    fs::remove_all(directory, ignored);
}

std::vector<int> ParseCounts(const char* text) {
    std::vector<int> counts;
    for (const char* p = text; *p != '\0';) {
        counts.push_back(std::atoi(p));
        const char* comma = std::strchr(p, ',');
        if (comma == nullptr) break;
        p = comma + 1;
    }
    return counts;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> counts = {5000, 20000};
    int runs = 1;
    std::vector<Mode> modes = {Mode::Default, Mode::NA};
    bool scans = true;
    bool stepsToo = true;
    std::vector<std::string> programs;
    bool keep = false;
    int historyDays = 0;
    int recentDays = 0;
    RunSetup setup;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--history-days=", 15) == 0) {
            historyDays = std::max(0, std::atoi(argv[i] + 15));
        }
        if (std::strncmp(argv[i], "--recent-days=", 14) == 0) {
            recentDays = std::max(0, std::atoi(argv[i] + 14));
        }
        if (std::strcmp(argv[i], "--iv-filter") == 0) setup.ivFilter = true;
        if (std::strncmp(argv[i], "--symbols=", 10) == 0) counts = ParseCounts(argv[i] + 10);
        if (std::strncmp(argv[i], "--runs=", 7) == 0) runs = std::max(1, std::atoi(argv[i] + 7));
        if (std::strcmp(argv[i], "--mode=default") == 0) modes = {Mode::Default};
        if (std::strcmp(argv[i], "--mode=na") == 0) modes = {Mode::NA};
        if (std::strcmp(argv[i], "--steps-only") == 0) scans = false;
        if (std::strcmp(argv[i], "--no-steps") == 0) stepsToo = false;
        if (std::strcmp(argv[i], "--keep") == 0) keep = true;
        if (std::strncmp(argv[i], "--scan=", 7) == 0)
            programs.push_back(fs::absolute(argv[i] + 7).string());
    }
    if (programs.empty()) programs.emplace_back(QUILLON_SCAN_PATH);

    const DateTime today = SystemClock().Now();
    sim::Market market(1, today);
    bool ok = true;
    std::vector<std::string> archives;
    for (int count : counts) {
        const std::string archive = MakeTempDirectory();
        const auto generateStart = Stopwatch::now();
        const std::vector<std::string> tickers = sim::ArchiveTickers(market, count);
        if (archive.empty() || !sim::WriteArchive(market, tickers, archive)) return 1;
        archives.push_back(archive);
        std::printf("archive: %d stocks, %.1f MB Quote.txt, generated in %.2f s\n",
                    static_cast<int>(tickers.size()),
                    static_cast<double>(QueryFileSize(archive + "/Quote.txt")) / 1e6,
                    Seconds(Stopwatch::now() - generateStart));
        if (historyDays > 0) {
            const auto historyStart = Stopwatch::now();
            if (!WriteHistory(archive, tickers, today, historyDays, recentDays)) return 1;
            std::printf("history: %d days of %d stocks, %.1f MB History.db, in %.2f s\n",
                        historyDays, static_cast<int>(tickers.size()),
                        static_cast<double>(QueryFileSize(archive + "/History.db")) / 1e6,
                        Seconds(Stopwatch::now() - historyStart));
        }
    }

    if (scans) {
        for (std::size_t p = 0; p < programs.size(); ++p)
            std::printf("program %zu: %s\n", p, programs[p].c_str());
        std::printf("%-4s %-8s %7s %8s %8s %11s %11s %8s %8s  %s\n", "prog", "mode", "stocks",
                    "wall s", "CPU s", "sym/s wall", "sym/s CPU", "peak MB", "Res. MB",
                    "quillon-scan");
        for (int run = 0; run < runs; ++run) {
            for (std::size_t c = 0; c < counts.size(); ++c) {
                for (Mode mode : modes) {
                    for (std::size_t p = 0; p < programs.size(); ++p) {
                        RunSetup runSetup = setup;
                        if (historyDays > 0) runSetup.historyFile = archives[c] + "/History.db";
                        const std::string directory = PrepareRun(archives[c], mode, runSetup);
                        if (directory.empty()) return 1;
                        const RunFigures figures = RunScan(programs[p], directory);
                        const std::string log = ReadWholeFile(directory + "/scan.log").value_or("");
                        const double symbols = counts[c];
                        std::printf(
                            "%-4zu %-8s %7d %8.3f %8.3f %11.0f %11.0f %8.1f %8.1f  %s\n", p,
                            ModeName(mode), counts[c], figures.seconds, figures.cpuSeconds,
                            symbols / figures.seconds, symbols / figures.cpuSeconds,
                            static_cast<double>(figures.peakKiB) / 1024.0,
                            static_cast<double>(QueryFileSize(directory + "/Results.txt")) / 1e6,
                            LastLine(log).c_str());
                        std::fflush(stdout);
                        ok = ok && figures.exitCode == 0;
                        std::error_code ignored;
                        if (keep) {
                            std::printf("kept %s\n", directory.c_str());
                        } else {
                            fs::remove_all(directory, ignored);
                        }
                    }
                }
            }
        }
    }

    if (stepsToo) {
        // The longest step of a 5,000-stock replay with every stock saved,
        // and of a server scan receiving a 4 MB option page.
        const int stepCount = 5000;
        const std::string archive = MakeTempDirectory();
        if (archive.empty() ||
            !sim::WriteArchive(market, sim::ArchiveTickers(market, stepCount), archive)) {
            return 1;
        }
        const std::string directory = PrepareRun(archive, Mode::NA);
        if (directory.empty()) return 1;
        LongestReplayStep(directory, stepCount);
        LongestServerStep(4u << 20);
        std::error_code ignored;
        fs::remove_all(directory, ignored);
        fs::remove_all(archive, ignored);
    }

    for (const std::string& archive : archives) {
        std::error_code ignored;
        fs::remove_all(archive, ignored);
    }
    return ok ? 0 : 1;
}
