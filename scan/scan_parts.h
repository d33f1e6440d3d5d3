#pragma once
// The work the scan driver hands to the market-data, archive and analytics
// code for each symbol. The driver calls these; ScanParts::Defaults() holds
// the implementations the program uses, and tests may replace any of them.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "scan/context.h"
#include "scan/pass_recorder.h"

namespace quillon {

// What the evaluation needs of the scan window to start an alarm.
class AlarmControl {
  public:
    virtual ~AlarmControl() = default;
    virtual bool AlarmChecked() const = 0;
    // Holds the scan for the alarm's length and shows "Alarm: TICKER saved".
    virtual void StartAlarm() = 0;
};

// Bytes of a received page one step strips of their tags: a longer page is
// stripped over several steps, so that no step of a large page holds up the
// window (a 4 MB page takes about 4 ms).
inline constexpr std::size_t kStripBytesPerStep = 512 * 1024;

struct ScanParts {
    // The page text without its markup tags. A page longer than
    // StripBytesPerStep is handed over in parts, each ending just after a
    // ">" (or at the page's end), and the parts' results are joined: for a
    // stripper that drops everything from "<" to ">" that is the same text
    // as the whole page stripped at once.
    std::function<std::string(const std::string& page)> StripTags;
    std::size_t StripBytesPerStep = kStripBytesPerStep;
    // Fill the quote record from the stock page in PageText; true when a
    // stock quote was found.
    std::function<bool(Context&)> ParseStockPage;
    // Fill the option chain from the option page in PageText; true when
    // option rows were found.
    std::function<bool(Context&)> ParseOptionPage;
    // Append the symbol's archive records and list line to the pending texts.
    std::function<void(Context&)> SaveQuote;
    // Fill the quote data model for Ticker from the local quote file.
    std::function<void(Context&)> ReplayQuote;
    // Judge the symbol: progress text, filters, report into PageText,
    // results and lists for a saved symbol, the alarm.
    std::function<void(Context&, AlarmControl&)> EvaluateSymbol;
    // The pass history the driver records into (History.db in the working
    // directory); nothing here records none.
    std::function<std::unique_ptr<PassRecorder>()> MakeRecorder;

    static ScanParts Defaults();
};

// The scan's own form of the market-data steps: the work on the current
// quote together with what it needs of the context (the calendar of the scan's
// date, the strike table built from the last sale, the pending texts).

// The calendar is rebuilt from the scan's date (ScanNow), the stock page parsed, and the strike
// table built from the last sale it found.
bool ParseStockPage(Context& context);
bool ParseOptionPage(Context& context);
// The archive lines and the good or bad list line into the pending texts.
void SaveQuote(Context& context);
// The calendar rebuilt from the scan's date, then Ticker's record of the local quote
// file, its options placed by the strike table of its last sale.
void ReplayQuote(Context& context);

}  // namespace quillon
