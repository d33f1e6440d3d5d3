#include "scan/headless_scan.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/number_format.h"
#include "platform/poll_loop.h"
#include "scan/scan_driver.h"
#include "scan/sockets.h"

namespace quillon {

namespace {

constexpr auto kTick = std::chrono::milliseconds(55);

// Symbols that got no quote named in the closing summary; the rest are
// counted.
constexpr std::size_t kNoQuoteNamed = 10;

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

}  // namespace

std::string Symbols(long count) {
    return std::to_string(count) + (count == 1 ? " symbol" : " symbols");
}

// "2 symbols got no quote: XYZ, ABC", the first ten named; empty when every
// symbol got one.
namespace {

std::string NoQuoteLine(const std::vector<std::string>& symbols) {
    if (symbols.empty()) return {};
    std::string line = Symbols(static_cast<long>(symbols.size())) + " got no quote: ";
    for (std::size_t i = 0; i < symbols.size() && i < kNoQuoteNamed; ++i) {
        if (i > 0) line += ", ";
        line += symbols[i];
    }
    if (symbols.size() > kNoQuoteNamed) {
        line += FormatArgs(" and %zu more", symbols.size() - kNoQuoteNamed);
    }
    return line;
}

// The closing summary: this run's symbols, then where the pass stands.
std::string SummaryLine(int scanned, const ScanCounters& counters, bool passDone,
                        const std::string& results) {
    std::string line = Symbols(scanned) + " scanned in this run; ";
    if (passDone) {
        line += FormatArgs("the pass is done: %d of its %s saved", counters.ProcessCount,
                           Symbols(counters.SymbolCount).c_str());
    } else {
        line += FormatArgs("the pass has %d of its %s done, %d saved so far", counters.SymbolIndex,
                           Symbols(counters.SymbolCount).c_str(), counters.ProcessCount);
    }
    return line + ", results in " + results;
}

}  // namespace

namespace {

using Stopwatch = std::chrono::steady_clock;

// The scan window's parts without a screen, and the run's clocks.
class HeadlessScan {
  public:
    HeadlessScan(Context& context, const HeadlessRun& run)
        : context_(context),
          run_(run),
          terminal_(isatty(STDOUT_FILENO) != 0),
          view_(context, terminal_),
          sockets_(network_, context.messages),
          driver_(context, view_, sockets_) {
        BindSocketEvents(sockets_, driver_);
    }

    ~HeadlessScan() { context_.chains = nullptr; }

    int Run() {
        if (run_.BeforeStart) run_.BeforeStart(context_);
        if (context_.settings.Fetched()) {
            std::string error = "this program cannot fetch chains";
            if (run_.MakeChainSource) chains_ = run_.MakeChainSource(context_, error);
            if (!chains_) {
                std::fprintf(stderr, "quillon-scan: %s: %s\n",
                             QuoteSourceTitle(context_.settings.Source()), error.c_str());
                return kExitCannotStart;
            }
            context_.chains = chains_.get();
        }
        Open();
        nextTick_ = Stopwatch::now() + kTick;
        finished_ = driver_.SymbolsFinished();
        lastProgress_ = Stopwatch::now();
        for (;;) {
            driver_.ScanStep();
            TellHistoryProblem();
            if (view_.Closed) return Close(kExitCannotStart);
            if (!driver_.Running() && view_.StatusText(0) == kDone) break;
            if (std::optional<int> status = Stopped()) return *status;
            WaitForNextStep();
        }
        driver_.FormClose();
        view_.EndBar();
        Summarise(true);
        PrintChanges();
        return kExitDone;
    }

  private:
    // The window opened and Go pressed; a scan date of its own is said.
    void Open() {
        driver_.FormShow();
        driver_.FormActivate();
        if (driver_.ScanDateProblem()) {
            std::fprintf(stderr, "quillon-scan: %s\n", driver_.ScanDateNote().c_str());
        } else if (!driver_.ScanDateNote().empty() && terminal_) {
            // The progress bar shows status panel 0 only: the note goes on a
            // line of its own in place of the bar drawn so far.
            std::printf("\r\x1b[K%s\n", driver_.ScanDateNote().c_str());
        }
        driver_.PB_GoClick();
    }

    // Said once; the scan goes on and writes its files as ever.
    void TellHistoryProblem() {
        if (historyTold_ || driver_.HistoryProblem().empty()) return;
        historyTold_ = true;
        if (terminal_) std::printf("\r\x1b[K");
        std::fflush(stdout);
        std::fprintf(stderr, "quillon-scan: %s\n", driver_.HistoryProblem().c_str());
    }

    // The exit status when the run ends here without the pass done.
    std::optional<int> Stopped() {
        if (!driver_.Running() && driver_.LastStop() != ScanStop::None) {
            // The message went to stderr; the resume point is where it was.
            const ScanStop stop = driver_.LastStop();
            return Close(stop == ScanStop::LoginRefused  ? kExitLoginRefused
                         : stop == ScanStop::Unreachable ? kExitUnreachable
                                                         : kExitWriteFailed,
                         true);
        }
        const double minutes = run_.GiveUpMinutes;
        if (driver_.SymbolsFinished() != finished_) {
            finished_ = driver_.SymbolsFinished();
            lastProgress_ = Stopwatch::now();
        } else if (minutes > 0 && Stopwatch::now() - lastProgress_ >=
                                      std::chrono::duration<double, std::ratio<60>>(minutes)) {
            view_.EndBar();
            std::fprintf(stderr,
                         "quillon-scan: no symbol finished for %g minutes; giving up. The next "
                         "run continues at %s\n",
                         minutes, context_.quote.Ticker.c_str());
            return Close(kExitGaveUp, true);
        }
        if (driver_.ScanState() == Connecting && !driver_.EverConnected() &&
            ++unconnectedTicks_ > kTimeoutTicks) {
            view_.EndBar();
            std::fprintf(stderr,
                         "quillon-scan: no connection to the quote server %s:%s within 60 "
                         "seconds. Start the quote server, name another with --hosts "
                         "HOST:PORT, or scan the local quote archive Quote.txt with --local.\n",
                         driver_.ServerHost().c_str(), driver_.ServerPort().c_str());
            return Close(kExitUnreachable);
        }
        return std::nullopt;
    }

    int Close(int status, bool summarise = false) {
        view_.EndBar();
        driver_.FormClose();
        if (summarise) Summarise(false);
        return status;
    }

    void WaitForNextStep() {
        if (run_.Realtime || driver_.AwaitingNetwork()) view_.Flush();
        if (run_.Realtime) {
            // Every step on the 55 ms clock; socket events in between.
            for (auto now = Stopwatch::now(); now < nextTick_; now = Stopwatch::now()) {
                network_.RunOnce(std::chrono::ceil<std::chrono::milliseconds>(nextTick_ - now));
            }
            nextTick_ += kTick;
        } else if (driver_.ScanState() == AwaitChain) {
            // A chain that comes is taken at once; the source is asked again
            // at least every tick.
            if (const auto now = Stopwatch::now(); now < nextTick_) {
                context_.chains->Wait(
                    std::chrono::ceil<std::chrono::milliseconds>(nextTick_ - now));
            }
            if (const auto now = Stopwatch::now(); now >= nextTick_) {
                nextTick_ = NextStepDue(nextTick_, now, kTick);
            }
        } else if (driver_.AwaitingNetwork()) {
            // Wait for the network until the next tick; work that an event
            // makes ready is stepped at once, and a tick without one counts
            // towards the time-out as on the desktop.
            for (auto now = Stopwatch::now(); driver_.AwaitingNetwork() && now < nextTick_;
                 now = Stopwatch::now()) {
                network_.RunOnce(std::chrono::ceil<std::chrono::milliseconds>(nextTick_ - now));
            }
            if (const auto now = Stopwatch::now(); now >= nextTick_) {
                nextTick_ = NextStepDue(nextTick_, now, kTick);
            }
        } else {
            // Work states are stepped back to back.
            network_.RunOnce(std::chrono::milliseconds(0));
            nextTick_ = Stopwatch::now() + kTick;
        }
    }

    // The closing lines of a run that scanned: the symbols that got no
    // quote, then this run's count beside the pass's.
    void Summarise(bool passDone) {
        const std::string noQuote = NoQuoteLine(driver_.NoQuoteSymbols());
        if (!noQuote.empty()) std::printf("%s\n", noQuote.c_str());
        std::printf("%s\n", SummaryLine(driver_.SymbolsFinished(), context_.counters, passDone,
                                        context_.files.ResultsFile)
                                .c_str());
    }

    // The pass's change list, as Changes.txt got it (without its CR).
    void PrintChanges() {
        if (driver_.ChangesText().empty()) return;
        std::string changes;
        for (const char c : driver_.ChangesText()) {
            if (c != '\r') changes += c;
        }
        while (!changes.empty() && changes.back() == '\n')
            changes.pop_back();
        std::printf("%s\n", changes.c_str());
    }

    Context& context_;
    const HeadlessRun& run_;
    std::unique_ptr<ChainSource> chains_;
    const bool terminal_;
    ConsoleView view_;
    PollLoop network_;
    TSockets sockets_;
    ScanDriver driver_;
    Stopwatch::time_point nextTick_;
    Stopwatch::time_point lastProgress_;
    int unconnectedTicks_ = 0;
    int finished_ = 0;
    bool historyTold_ = false;
};

}  // namespace

int RunHeadlessScan(Context& context, const HeadlessRun& run) {
    HeadlessScan scan(context, run);
    return scan.Run();
}

}  // namespace quillon
