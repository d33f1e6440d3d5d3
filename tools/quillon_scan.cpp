// quillon-scan: the headless runner. It does the program's start-up in the
// current directory, opens a scan as the scan window would, presses Go, and
// steps the scan until the pass is done.

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/poll_loop.h"
#include "platform/scan_lock.h"
#include "platform/services.h"
#include "platform/workdir.h"
#include "results/archive_date.h"
#include "results/settings.h"
#include "results/shell_rules.h"
#include "scan/context.h"
#include "scan/scan_driver.h"
#include "scan/sockets.h"

namespace {

using namespace quillon;

constexpr auto kTick = std::chrono::milliseconds(55);

constexpr double kDefaultGiveUpMinutes = 30;

// Exit statuses.
constexpr int kExitDone = 0;
constexpr int kExitCannotStart = 2;
constexpr int kExitUnreachable = 3;
constexpr int kExitLoginRefused = 4;
constexpr int kExitGaveUp = 5;
constexpr int kExitWriteFailed = 6;
constexpr int kExitBusy = 7;
constexpr int kExitBadArgument = 64;

const char* kUsage =
    "Usage: quillon-scan [OPTION]...\n"
    "\n"
    "Runs one scan pass over the symbol file in the working directory (the\n"
    "current directory unless told otherwise) exactly as the desktop\n"
    "program's scan window does: start-up (settings file, working-file\n"
    "names), then Go, until the pass is done. Quotes come from the quote\n"
    "server or from the local quote archive Quote.txt, as the settings file\n"
    "says (or --local and --server). Alarm and Repeat are off.\n"
    "\n"
    "A local scan runs as of the date recorded in QuoteDate.txt beside\n"
    "Quote.txt (quillon-import writes it), or as of today without one;\n"
    "--date overrides both.\n"
    "\n"
    "  --workdir DIR\n"
    "              work in DIR, created when missing, instead of the\n"
    "              current directory\n"
    "  --user-workdir\n"
    "              work in the desktop program's per-user directory,\n"
    "              $XDG_DATA_HOME/quillon (~/.local/share/quillon by default)\n"
    "  --realtime  step on the 55 ms clock like the desktop program; by\n"
    "              default work is stepped back to back and only waits for\n"
    "              the network keep their real length\n"
    "  --give-up-after MINUTES\n"
    "              end the run when no symbol has been finished for this\n"
    "              many minutes (default 30, fractions allowed; 0 waits for\n"
    "              ever); the resume point is kept, so the next run\n"
    "              continues the pass\n"
    "  --local     take the quotes from the local quote archive Quote.txt,\n"
    "              and save the choice in the settings file as the desktop\n"
    "              program's Setup menu does\n"
    "  --server    take the quotes from the quote server, and save the\n"
    "              choice in the settings file\n"
    "  --date YYYY-MM-DD\n"
    "              scan as of this date: the option months, the days to\n"
    "              expiration and the report's date come from it (the time\n"
    "              of day stays the clock's); a server pass records it in\n"
    "              QuoteDate.txt beside the Quote.txt it writes\n"
    "  --wait      when another scan works in the directory, wait for it\n"
    "              to end instead of stopping at once\n"
    "  --help      show this text\n"
    "  --version   show the program's name and version\n"
    "\n"
    "Exit status:\n"
    "  0   the pass is done\n"
    "  2   the scan cannot start: the symbol file is missing, empty or\n"
    "      unreadable, or the working directory cannot be made, entered or\n"
    "      locked\n"
    "  3   no connection to the quote server was made within the first\n"
    "      time-out (60 seconds) of the run\n"
    "  4   the quote server refused the user name or password; nothing of\n"
    "      the refused symbol was written\n"
    "  5   gave up: no symbol was finished for --give-up-after minutes\n"
    "  6   a working file could not be written (a full disk, say); the\n"
    "      message says what the next run does: the symbol being written is\n"
    "      left out whole and done again, or the symbols after the last\n"
    "      resume point written are, or, when only the end of the pass could\n"
    "      not be written, the pass is ended\n"
    "  7   another scan works in the directory (the desktop program's scan\n"
    "      window or another quillon-scan; it is named): one scan at a\n"
    "      time works in a directory, and nothing was touched\n"
    "  64  a bad argument (--date takes a real date as YYYY-MM-DD)\n"
    "In every case but 0 the resume point is kept and the next run\n"
    "continues where this one stopped.\n";

// The scan window without a screen: on a terminal a one-line progress bar,
// otherwise every change of a status panel as a line of its own. Lines are
// passed on at most every 100 ms and whenever the runner waits for the
// network: a local pass changes the panels for every symbol, and a write of
// its own for each line was a tenth of the pass's time.
class ConsoleView final : public RecordingScanView {
  public:
    ConsoleView(const Context& context, bool terminal) : context_(context), terminal_(terminal) {}

    void SetStatusText(int panel, const std::string& text) override {
        bool changed = StatusText(panel) != text;
        RecordingScanView::SetStatusText(panel, text);
        if (!changed || text.empty()) return;
        if (terminal_) {
            DrawBar();
        } else {
            std::printf("%s\n", text.c_str());
            if (std::chrono::steady_clock::now() - lastFlush_ >= kFlushEvery) Flush();
        }
    }

    void Flush() {
        std::fflush(stdout);
        lastFlush_ = std::chrono::steady_clock::now();
    }

    void DrawBar() {
        const ScanCounters& c = context_.counters;
        int width = 30;
        // At the end of a pass the position is back at 0; show the pass full.
        int position = StatusText(0) == kDone ? c.SymbolCount : c.SymbolIndex;
        int filled = c.SymbolCount > 0 ? position * width / c.SymbolCount : 0;
        std::string bar(static_cast<std::size_t>(filled), '#');
        bar.resize(static_cast<std::size_t>(width), '.');
        std::printf("\r[%s] %d/%d %-6s saved %d  %-40.40s", bar.c_str(), position, c.SymbolCount,
                    context_.quote.Ticker.c_str(), c.ProcessCount, StatusText(0).c_str());
        std::fflush(stdout);
    }

    // Ends the bar's line, and passes on what is pending, before a message
    // on stderr or the closing summary.
    void EndBar() {
        if (terminal_) std::printf("\n");
        Flush();
    }

  private:
    static constexpr auto kFlushEvery = std::chrono::milliseconds(100);

    const Context& context_;
    bool terminal_;
    std::chrono::steady_clock::time_point lastFlush_{};
};

// The minutes of --give-up-after (fractions allowed), or nothing when the
// text is not a number from 0 to a year.
std::optional<double> ParseMinutes(const char* text) {
    char* end = nullptr;
    errno = 0;
    double minutes = std::strtod(text, &end);
    if (end == text || *end != '\0' || errno != 0 || !(minutes >= 0 && minutes <= 525600)) {
        return std::nullopt;
    }
    return minutes;
}

#ifdef QUILLON_TEST_FAULTS
// Fault points of the test build, for the tests that kill a scan in the
// middle of writing or fill its disk: the Nth write of the pass output
// (counted from 1) kills the process, or fails as on a full disk. With
// QUILLON_TEST_COMMIT_EACH every symbol's resume point is committed at once,
// so that kills land between commits as they do in a slow server pass.
void InstallTestFaults(PassOutputFiles& outputs) {
    if (std::getenv("QUILLON_TEST_COMMIT_EACH") != nullptr) outputs.CommitInterval = {};
    const char* kill = std::getenv("QUILLON_TEST_KILL_AT_WRITE");
    const char* fail = std::getenv("QUILLON_TEST_FAIL_AT_WRITE");
    if (kill == nullptr && fail == nullptr) return;
    const long killAt = kill != nullptr ? std::atol(kill) : 0;
    const long failAt = fail != nullptr ? std::atol(fail) : 0;
    outputs.BeforeWrite = [killAt, failAt, count = 0L](const std::string&) mutable {
        ++count;
        if (count == killAt) std::raise(SIGKILL);
        return count >= failAt && failAt > 0 ? ENOSPC : 0;
    };
}
#endif

}  // namespace

int main(int argc, char** argv) {
    const WorkdirChoice workdir = TakeWorkdirOptions(argc, argv);
    bool realtime = false;
    bool wait = false;
    double giveUpMinutes = kDefaultGiveUpMinutes;
    std::optional<bool> local;
    std::optional<DateTime> date;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("quillon-scan " QUILLON_VERSION);
            return kExitDone;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return kExitDone;
        }
        if (std::strcmp(argv[i], "--wait") == 0) {
            wait = true;
            continue;
        }
        if (std::strcmp(argv[i], "--realtime") == 0) {
            realtime = true;
            continue;
        }
        if (std::strcmp(argv[i], "--give-up-after") == 0 && i + 1 < argc) {
            std::optional<double> minutes = ParseMinutes(argv[++i]);
            if (!minutes) {
                std::fprintf(stderr, "quillon-scan: --give-up-after takes minutes, not '%s'\n",
                             argv[i]);
                return kExitBadArgument;
            }
            giveUpMinutes = *minutes;
            continue;
        }
        if (std::strcmp(argv[i], "--local") == 0 || std::strcmp(argv[i], "--server") == 0) {
            const bool wantLocal = std::strcmp(argv[i], "--local") == 0;
            if (local && *local != wantLocal) {
                std::fprintf(stderr, "quillon-scan: --local and --server exclude each other\n");
                return kExitBadArgument;
            }
            local = wantLocal;
            continue;
        }
        if (std::strcmp(argv[i], "--date") == 0 && i + 1 < argc) {
            // Exactly YYYY-MM-DD, so that no day and month are swapped.
            const std::string_view text = argv[++i];
            date = text.size() == 10 ? ParseArchiveDate(text) : std::nullopt;
            if (!date) {
                std::fprintf(stderr, "quillon-scan: --date takes a date as YYYY-MM-DD, not '%s'\n",
                             argv[i]);
                return kExitBadArgument;
            }
            continue;
        }
        std::fprintf(stderr, "quillon-scan: unknown argument '%s'\n\n%s", argv[i], kUsage);
        return kExitBadArgument;
    }
    if (!workdir.Error.empty()) {
        std::fprintf(stderr, "quillon-scan: %s\n\n%s", workdir.Error.c_str(), kUsage);
        return kExitBadArgument;
    }
    if (!workdir.Directory.empty()) {
        const std::string error = EnterWorkingDirectory(workdir.Directory);
        if (!error.empty()) {
            std::fprintf(stderr, "quillon-scan: %s\n", error.c_str());
            return kExitCannotStart;
        }
    }

    // The directory is this run's before any working file is read or
    // written, and stays so until the process ends.
    ScanLock lock;
    const std::string directory = CurrentDirectory();
    switch (lock.Take(directory, "quillon-scan", wait, [](const ScanLockHolder& holder) {
        std::fprintf(stderr, "quillon-scan: waiting for %s to finish with the directory\n",
                     holder.Text().c_str());
    })) {
        case ScanLock::Outcome::Taken:
            break;
        case ScanLock::Outcome::Busy:
            std::fprintf(stderr, "quillon-scan: %s Try again when it ends, or use --wait.\n",
                         ScanLockRefusal(directory, lock.Holder()).c_str());
            return kExitBusy;
        case ScanLock::Outcome::Failed:
            std::fprintf(stderr, "quillon-scan: %s\n", lock.Error().c_str());
            return kExitCannotStart;
    }

    SystemClock clock;
    StderrMessages messages;
    SilentBeeper beeper;
    Context context(clock, messages, beeper);
    InitWorkingFiles(context.settings, context.runtime, context.files);
    if (local) {
        // As the Setup menu's command: another source than the settings file's
        // starts a new pass; a failed save of the choice is told on stderr.
        SelectDataSource(*local, context.settings.LocalMode() == *local, context.settings,
                         context.runtime, context.files, messages);
    }
    context.requestedDate = date;

    ConsoleView view(context, isatty(STDOUT_FILENO) != 0);
    PollLoop network;
    TSockets sockets(network, messages);
    ScanDriver driver(context, view, sockets);
    BindSocketEvents(sockets, driver);
#ifdef QUILLON_TEST_FAULTS
    InstallTestFaults(context.outputs);
#endif
    driver.FormShow();
    driver.FormActivate();
    if (driver.ScanDateProblem()) {
        std::fprintf(stderr, "quillon-scan: %s\n", driver.ScanDateNote().c_str());
    } else if (!driver.ScanDateNote().empty() && isatty(STDOUT_FILENO) != 0) {
        // The progress bar shows status panel 0 only: the note goes on a line
        // of its own in place of the bar drawn so far.
        std::printf("\r\x1b[K%s\n", driver.ScanDateNote().c_str());
    }
    driver.PB_GoClick();

    using Stopwatch = std::chrono::steady_clock;
    auto nextTick = Stopwatch::now() + kTick;
    int unconnectedTicks = 0;
    int finished = driver.SymbolsFinished();
    auto lastProgress = Stopwatch::now();
    const auto giveUpAfter = std::chrono::duration<double, std::ratio<60>>(giveUpMinutes);
    for (;;) {
        driver.ScanStep();
        if (view.Closed) {
            view.EndBar();
            driver.FormClose();
            return kExitCannotStart;
        }
        if (!driver.Running() && view.StatusText(0) == kDone) break;
        if (!driver.Running() && driver.LastStop() != ScanStop::None) {
            // The message went to stderr; the resume point is where it was.
            view.EndBar();
            driver.FormClose();
            return driver.LastStop() == ScanStop::LoginRefused ? kExitLoginRefused
                                                               : kExitWriteFailed;
        }
        if (driver.SymbolsFinished() != finished) {
            finished = driver.SymbolsFinished();
            lastProgress = Stopwatch::now();
        } else if (giveUpMinutes > 0 && Stopwatch::now() - lastProgress >= giveUpAfter) {
            view.EndBar();
            std::fprintf(stderr,
                         "quillon-scan: no symbol finished for %g minutes; giving up. The next "
                         "run continues at %s\n",
                         giveUpMinutes, context.quote.Ticker.c_str());
            driver.FormClose();
            return kExitGaveUp;
        }

        if (driver.ScanState() == Connecting && !driver.EverConnected() &&
            ++unconnectedTicks > kTimeoutTicks) {
            view.EndBar();
            std::fprintf(stderr, "quillon-scan: no connection to the quote server %s:%s\n",
                         driver.ServerHost().c_str(), driver.ServerPort().c_str());
            driver.FormClose();
            return kExitUnreachable;
        }

        if (realtime || driver.AwaitingNetwork()) view.Flush();
        if (realtime) {
            // Every step on the 55 ms clock; socket events in between.
            for (auto now = Stopwatch::now(); now < nextTick; now = Stopwatch::now()) {
                network.RunOnce(std::chrono::ceil<std::chrono::milliseconds>(nextTick - now));
            }
            nextTick += kTick;
        } else if (driver.AwaitingNetwork()) {
            // Wait for the network until the next tick; work that an event
            // makes ready is stepped at once, and a tick without one counts
            // towards the time-out as on the desktop.
            for (auto now = Stopwatch::now(); driver.AwaitingNetwork() && now < nextTick;
                 now = Stopwatch::now()) {
                network.RunOnce(std::chrono::ceil<std::chrono::milliseconds>(nextTick - now));
            }
            if (const auto now = Stopwatch::now(); now >= nextTick) {
                nextTick = NextStepDue(nextTick, now, kTick);
            }
        } else {
            // Work states are stepped back to back.
            network.RunOnce(std::chrono::milliseconds(0));
            nextTick = Stopwatch::now() + kTick;
        }
    }

    driver.FormClose();
    view.EndBar();
    std::printf("%d symbols scanned, %d saved in this pass, results in %s\n",
                driver.SymbolsFinished(), context.counters.ProcessCount,
                context.files.ResultsFile.c_str());
    return kExitDone;
}
