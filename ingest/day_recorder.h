#pragma once
// Recording past days into the history: each day is judged and recorded as
// a pass of that date would record it (a pass row with source "import", a
// row per stock with its quote figures, option totals, ZORC and ZORP from
// the scan's own evaluation with the working directory's filters, IV30, and
// the verdict), all of a day in one transaction, so that a failure leaves no
// half day behind.

#include <functional>
#include <string>

#include "history/history_access.h"
#include "history/history_row.h"
#include "platform/clock.h"
#include "platform/services.h"
#include "results/settings.h"
#include "scan/context.h"
#include "scan/scan_parts.h"

namespace quillon::historytool {

// The history row of the symbol in the context's quote, as judged by the
// evaluation, as the scan's recorder makes it; a quote without stock data
// gives a row with the verdict "NOQUOTE" alone.
HistoryRow RowOfQuote(const Context& context, HistoryDay day);

// The filter values of the settings as one text, a line each, as the
// settings file keeps them (then the DeriveZorFrom line).
std::string FiltersText(const Settings& settings);

// The current local time, "2026-12-09T04:40:00".
std::string IsoNow(const Clock& clock);

class DayRecorder {
  public:
    DayRecorder(HistoryPassWriter& store, const Settings& settings, const Clock& now);

    struct Count {
        int symbols = 0;  // rows recorded
        int saved = 0;    // of them saved (UP, DOWN, SAVED)
    };

    // Records one day. `next` puts the next stock into the context's quote
    // (the calendar of the day is already built; the strike table is the
    // caller's to build from the last sale) and answers false when there is
    // none left. A symbol given twice is recorded once, the first time.
    // False with `error` set (nothing of the day recorded) when the store
    // refused a write.
    bool RecordDay(const DateTime& date, const std::function<bool(Context&)>& next, Count& count,
                   std::string& error);

    Context& Scan() { return context_; }

  private:
    HistoryPassWriter& store_;
    const Clock& now_;
    FixedClock dayClock_;
    StderrMessages messages_;
    SilentBeeper beeper_;
    Context context_;
};

}  // namespace quillon::historytool
