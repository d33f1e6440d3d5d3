#pragma once
// Everything one running program holds: the settings record, the working
// files, the current quote, the option tables, the pending output and the
// platform services. It is handed explicitly to the code that needs it.

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "analytics/calendar.h"
#include "analytics/iv_history.h"
#include "market/archive.h"
#include "market/quote.h"
#include "platform/clock.h"
#include "platform/services.h"
#include "results/chain_iv30.h"
#include "results/pass_output.h"
#include "results/settings.h"
#include "results/verdict.h"

namespace quillon {

class ChainSource;

// The scan state shared with the evaluation and the report.
struct ScanCounters {
    int SymbolIndex = 0;   // position of the symbol being processed, then of the next
    int SymbolCount = 0;   // entries of the symbol list
    int ProcessCount = 0;  // symbols of the current pass that passed the filters
    int Running = 0;       // 1 after Go, 0 after Pause
    bool RatioFiltersActive = false;
    bool OptionFiltersActive = false;
};

// The advice the scan's messages end with: what the user does about a
// symbol file without symbols, a refused login or a file that cannot be
// written. The defaults speak of the desktop program's menus and buttons; a
// program that steps the scan without them (quillon-scan) puts its own words.
struct ScanAdvice {
    // After "<file> contains no symbols, process stopped." and a line end.
    std::string ChooseSymbolFile =
        "Please use File menu - Choose Symbol File to select another file.";
    // After "The quote server refused the user name or password.".
    std::string CheckLogin = "Check them in Setup, Quotes Server, then open the scan again.";
    // Status panel 1 after a refused login.
    std::string LoginRefusedStatus = "Login refused: see Setup, Quotes Server";
    // How the scan goes on once a file can be written again: "press Go".
    std::string GoOn = "press Go";
    // After a market-data service refused the access token.
    std::string CheckToken = "Give a valid token in Setup, Tradier Access Token, then press Go.";
    // After a market-data service gave no answer.
    std::string GoOnLater = "Check the network connection, then press Go.";
};

// What the IV rank and IV percentile filters and the report's history line
// read of History.db: every symbol's last days before the as-of date, read
// once when a pass's first symbol is judged and kept for the pass, and the
// current symbol's IV30, computed once and shared with the history recorder.
// The history's figures of one symbol: its IV30, their IV rank and IV
// percentile over the window, and HV20.
struct HistoryStanding {
    std::optional<double> Iv30;
    IvStanding Standing;
    std::optional<double> Hv20;
};

struct IvHistoryCache {
    bool Loaded = false;
    int Day = 0;         // the as-of day read for, 20261209
    int WindowDays = 0;  // the window read for: 63, 126 or 252
    // Why History.db could not be read ("" when it could); every figure is
    // then n/a.
    std::string Problem;
    // IV30 of the last WindowDays - 1 days and the last sales of the last 20
    // days before Day, oldest first, by symbol.
    std::unordered_map<std::string, std::vector<double>> Iv30;
    std::unordered_map<std::string, std::vector<double>> LastSales;
    std::unordered_map<std::string, std::vector<int>> LastSaleDays;  // YYYYMMDD, one a sale

    // The IV30 the data source took from each stock's whole option chain
    // (ChainIv30.txt beside an imported archive, or the chains quillon-history
    // reads): used instead of the figure of the scan's own options.
    ChainIv30Table ChainIv30;

    // IV30 of the symbol being judged, and its standing, once computed for
    // it: the filters, the report and the recorder all ask for them.
    std::string CurrentTicker;
    std::optional<Iv30Result> Current;
    std::optional<HistoryStanding> CurrentStanding;
};

struct Context {
    Context(Clock& clockService, MessageService& messageService, BeepService& beepService,
            NotificationService& notificationService = NoNotifications::Instance())
        : clock(clockService),
          messages(messageService),
          beeper(beepService),
          notifications(notificationService) {}

    Settings settings;
    RunTimeValues runtime;
    WorkingFileNames files;
    QuoteState quote;
    ExpirationCalendar calendar;
    StrikeTable strikes;
    ScanCounters counters;
    PendingOutput pending;
    PassOutputFiles outputs;
    ReplayState replay;
    // A date to scan as of instead of the clock's (quillon-scan --date). It
    // wins over the date recorded with a local quote archive.
    std::optional<DateTime> requestedDate;
    // The date the opened scan runs as of when not the clock's: the requested
    // date, or in local mode the date recorded with Quote.txt. The scan driver
    // sets it each time the scan window is activated. A scan of a
    // market-data service runs as of its data's date.
    std::optional<DateTime> asOfDate;
    // The time of the data a market-data service gave (US Eastern), which the
    // pass history records as the pass's time; nothing for other sources.
    std::optional<DateTime> dataTime;
    // Where a market-data service's chains come from; set by the program for
    // a scan of such a service.
    ChainSource* chains = nullptr;
    ScanAdvice advice;
    IvHistoryCache ivHistory;
    // The outcome of the last evaluated symbol with stock data.
    quillon::Verdict Verdict = quillon::Verdict::Saved;

    Clock& clock;
    MessageService& messages;
    BeepService& beeper;
    NotificationService& notifications;
};

// The date and time the scan works at: the clock's, with the date replaced by
// the as-of date when one is set. The expiration calendar and the dates of the
// report and the archive lines come from it; the time of day stays the
// clock's, and so does everything about real time (time-outs, printouts).
inline DateTime ScanNow(const Context& context) {
    DateTime now = context.clock.Now();
    if (context.asOfDate) {
        now.Year = context.asOfDate->Year;
        now.Month = context.asOfDate->Month;
        now.Day = context.asOfDate->Day;
    }
    return now;
}

}  // namespace quillon
