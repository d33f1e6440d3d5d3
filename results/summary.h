#pragma once
// The outputs of a saved symbol besides the archive: its report block for
// Results.txt, its line in SavedSym.txt and its entry in UpSym.txt or
// DownSym.txt. Everything goes to the pending texts; the working-files code
// writes them after the symbol.

#include <optional>
#include <string>
#include <string_view>

#include "market/quote.h"

namespace quillon {

// What a summary line shows of a saved symbol, read-only.
struct SummaryView {
    const QuoteState& Quote;  // ticker, option root, last sale, change, company
    int ProcessCount;         // the symbols saved in the pass, this one included
    // With the history figures on, an IV rank column before the company name
    // (its heading too); "n/a" where the rank is not known.
    bool ShowIvRank = false;
    std::optional<double> IvRank = std::nullopt;
};

// The pending texts of SavedSym.txt, UpSym.txt and DownSym.txt.
struct SummaryTexts {
    std::string& SavedSym;
    std::string& UpSym;
    std::string& DownSym;
};

// Appends a report block to the pending text of Results.txt, followed by a
// line holding only a form feed.
void AppendResults(std::string& pendingResults, std::string_view reportBlock);

// Appends the symbol's summary line to SavedSym (after the column heading
// when it is the first saved symbol of the pass, ProcessCount 1) and its
// ticker to UpSym when ZORC is at least ZORP, or to DownSym when ZORP is
// larger; neither list gets it unless both figures are above 0.
void WriteSummaryLine(const SummaryView& symbol, float zorc, float zorp,
                      const SummaryTexts& pending);

}  // namespace quillon
