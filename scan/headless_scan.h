#pragma once
// One scan pass without a window, as quillon-scan runs it: the scan window's
// steps driven on the 55 ms clock (or back to back while nothing waits for
// the network), its status as a progress line on standard output, its
// messages on standard error, then the closing summary and the pass's change
// list. The program around it reads the options and sets up the context.

#include <functional>
#include <memory>
#include <string>

#include "platform/exit_status.h"
#include "scan/chain_source.h"
#include "scan/context.h"

namespace quillon {

// quillon-scan's exit statuses besides kExitDone and kExitUsage.
inline constexpr int kExitCannotStart = 2;
inline constexpr int kExitUnreachable = 3;
inline constexpr int kExitLoginRefused = 4;
inline constexpr int kExitGaveUp = 5;
inline constexpr int kExitWriteFailed = 6;
inline constexpr int kExitBusy = 7;

struct HeadlessRun {
    // Every step on the 55 ms clock, as the desktop program steps it,
    // instead of work back to back.
    bool Realtime = false;
    // Minutes without a symbol finished before the run gives up; 0: never.
    double GiveUpMinutes = 30;
    // Called once the scan's parts are made, before the scan opens (the
    // test build's fault points).
    std::function<void(Context&)> BeforeStart;
    // Makes the chain source of a scan of a market-data service (the
    // settings say which); nothing, with `error` in words, when it cannot be
    // made (no access token). Without it such a scan cannot start.
    std::function<std::unique_ptr<ChainSource>(const Context&, std::string& error)> MakeChainSource;
};

// Runs the pass in `context` (its settings and working files set up) until
// it is done or stops; the exit status.
int RunHeadlessScan(Context& context, const HeadlessRun& run);

// "1 symbol", "2 symbols".
std::string Symbols(long count);

}  // namespace quillon
