#pragma once
// The change list of a pass: which stocks joined the saved set since the last
// finished pass with the same filter values, which left it and why, and which
// could not be judged for want of a quote. Written to Changes.txt in the
// working directory as one dated block per finished pass, printed by
// quillon-scan and summed up in one desktop notification.

#include <optional>
#include <string>
#include <vector>

#include "history/history_row.h"

namespace quillon {

class HistoryPassWriter;

// One line of the list: '+' saved now and not before, '~' saved both times
// under another verdict (a turned signal: DOWN now, UP before), '-' saved
// before and not now, '?' saved before and without a quote now.
struct ChangeLine {
    char Mark = '+';
    std::string Symbol;
    // "UP ZORC/ZORP 1.523", "DOWN ZORP/ZORC 1.8 (was UP)", "SAVED", "Min Volume",
    // "no quote"
    std::string Why;
};

struct PassChanges {
    HistoryDay AsOf = 0;
    int Saved = 0;  // stocks saved by this pass
    // The pass compared with; absent for the first finished pass with these
    // filter values, whose block lists nothing.
    std::optional<HistoryPass> Previous;
    std::vector<ChangeLine> Lines;  // the '+' lines, then '~', '-', '?', each by symbol
    // The history missed symbols of this pass: one saved before that has no
    // row of it is '?' "not recorded", not '-' "not scanned".
    bool Partial = false;
    int Count(char mark) const;
};

// A verdict that saved the stock: UP, DOWN or SAVED.

// The rule that saved a stock: "UP ZORC/ZORP 1.523" or "DOWN ZORP/ZORC 2"
// (the larger ZOR total over the smaller, as the report prints it; "n/a"
// without both), or "SAVED" for the plain save.
std::string SaveRuleText(const HistoryRow& row);

// Compares the rows of a pass (every symbol it judged) with the saved set of
// the pass before (nothing: there is none).
PassChanges CompareSavedSets(HistoryDay asOf, const std::vector<HistoryRow>& rows,
                             const std::optional<HistoryPass>& previous,
                             const std::vector<HistoryRow>& previousSaved);

// The Changes.txt block, CR LF line ends, a blank line after it:
//   Changes of Wed 9 Dec 2026 since Tue 8 Dec 2026 (pass ended 16:05)
//   + ACME  UP ZORC/ZORP 1.523
//   ~ AXON  DOWN ZORP/ZORC 1.8 (was UP)
//   - BOLT  Min Volume
//   ? CRUX  no quote
std::string ChangesBlock(const PassChanges& changes);

// The one notification of a pass: "Quillon: +3 -1 since Tue 8 Dec" (with
// " ~2" for turned signals and " ?1" for stocks without a quote, when any), or
// "Quillon: 5 saved" without a pass to compare with.
std::string ChangesNotice(const PassChanges& changes);

// "Tue 8 Dec 2026" for 20261208.
std::string NamedDayText(HistoryDay day, bool withYear = true);

// At the end of finished pass `pass`: keeps its saved set in the store and
// compares it with that of the last finished pass with the same filters.
// Nothing when the store cannot be read or written (store.Error() says why).
std::optional<PassChanges> ChangesAtPassEnd(HistoryPassWriter& store, std::int64_t pass);
// The same comparison for a pass whose saved set is kept already.
std::optional<PassChanges> ChangesOfPass(const HistoryPassWriter& store, std::int64_t pass);

// Appends `block` to Changes.txt in `directory` (the current one when
// empty) and flushes it to the disk; false when it could not be written
// whole (errno says why). With `completing`, a block the file ends with
// already, or ends with the beginning of (an append cut short), is written
// only as far as it is missing.
bool AppendToChangesFile(const std::string& directory, const std::string& block,
                         bool completing = false);

}  // namespace quillon
