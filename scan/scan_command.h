#pragma once
// quillon-scan's run in the current directory: the directory locked for the
// run, the setup its command line asks for saved as the desktop program's
// commands save it, then one pass without a window (headless_scan.h).

#include <optional>
#include <string>

#include "analytics/filters.h"
#include "platform/clock.h"
#include "scan/headless_scan.h"
#include "scan/quote_requests.h"

namespace quillon {

// The environment variable that may hold the quote-server password.
inline constexpr const char* kScanPasswordVariable = "QUILLON_PASSWORD";
// The environment variable that may hold Tradier's access token.
inline constexpr const char* kScanTokenVariable = "QUILLON_TRADIER_TOKEN";

// What quillon-scan's command line asks of the run; the program checks the
// setup options, and they are applied once the working directory is the
// run's.
struct ScanCommand {
    bool realtime = false;
    bool wait = false;
    double giveUpMinutes = 30;          // 0: wait for ever
    std::optional<QuoteSource> source;  // --source, --local, --server
    std::optional<DateTime> date;
    std::optional<QuoteHosts> hosts;
    std::optional<std::string> symbolFile;  // a full path
    std::optional<FilterTemplate> filterTemplate;
    std::optional<std::string> userName;
    std::optional<std::string> password;
    std::optional<std::string> token;  // a market-data service's access token
};

// Runs the pass in the current directory; the exit status (kExitDone, or one
// of headless_scan.h's, the message said).
int RunScanCommand(ScanCommand options, const HeadlessRun& run);

}  // namespace quillon
