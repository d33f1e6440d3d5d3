// quillon-scan: the headless runner. It does the program's start-up in the
// current directory, opens a scan as the scan window would, presses Go, and
// steps the scan until the pass is done.

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/poll_loop.h"
#include "platform/services.h"
#include "results/settings.h"
#include "scan/context.h"
#include "scan/scan_driver.h"
#include "scan/sockets.h"

namespace {

using namespace quillon;

constexpr auto kTick = std::chrono::milliseconds(55);

const char* kUsage =
    "Usage: quillon-scan [--realtime] [--help]\n"
    "\n"
    "Runs one scan pass over the symbol file in the current directory, the\n"
    "working directory, exactly as the desktop program's scan window does:\n"
    "start-up (settings file, working-file names), then Go, until the pass\n"
    "is done. Quotes come from the quote server or from the local quote\n"
    "archive Quote.txt, as the settings file says. Alarm and Repeat are off.\n"
    "\n"
    "  --realtime  step on the 55 ms clock like the desktop program; by\n"
    "              default work is stepped back to back and only waits for\n"
    "              the network keep their real length\n"
    "  --help      show this text\n"
    "\n"
    "Exit status: 0 when the pass is done, 2 when the scan cannot start\n"
    "(symbol file missing, empty or unreadable), 3 when the quote server\n"
    "could not be reached for a whole time-out, 64 for a bad argument.\n";

// The scan window without a screen: on a terminal a one-line progress bar,
// otherwise every change of a status panel as a line of its own.
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
            std::fflush(stdout);
        }
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

    void EndBar() {
        if (terminal_) std::printf("\n");
    }

  private:
    const Context& context_;
    bool terminal_;
};

}  // namespace

int main(int argc, char** argv) {
    bool realtime = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--realtime") == 0) {
            realtime = true;
            continue;
        }
        std::fprintf(stderr, "quillon-scan: unknown argument '%s'\n\n%s", argv[i], kUsage);
        return 64;
    }

    SystemClock clock;
    StderrMessages messages;
    SilentBeeper beeper;
    Context context(clock, messages, beeper);
    InitWorkingFiles(context.settings, context.runtime, context.files);

    ConsoleView view(context, isatty(STDOUT_FILENO) != 0);
    PollLoop network;
    TSockets sockets(network, messages);
    ScanDriver driver(context, view, sockets);
    BindSocketEvents(sockets, driver);
    driver.FormShow();
    driver.FormActivate();
    driver.PB_GoClick();

    using Stopwatch = std::chrono::steady_clock;
    auto nextTick = Stopwatch::now() + kTick;
    int unconnectedTicks = 0;
    for (;;) {
        driver.ScanStep();
        if (view.Closed) {
            view.EndBar();
            driver.FormClose();
            return 2;
        }
        if (!driver.Running() && view.StatusText(0) == kDone) break;

        if (driver.ScanState() == Connecting && !driver.EverConnected() &&
            ++unconnectedTicks > kTimeoutTicks) {
            view.EndBar();
            std::fprintf(stderr, "quillon-scan: no connection to the quote server %s:%s\n",
                         driver.ServerHost().c_str(), driver.ServerPort().c_str());
            driver.FormClose();
            return 3;
        }

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
            if (Stopwatch::now() >= nextTick) nextTick = Stopwatch::now() + kTick;
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
    return 0;
}
