#pragma once
// The outputs of a saved symbol besides the archive: its report block for
// Results.txt, its line in SavedSym.txt and its entry in UpSym.txt or
// DownSym.txt. Everything goes to the pending texts; the working-files code
// writes them after the symbol.

namespace quillon {

struct Context;

// Appends the report block left in context.quote.PageText to PendingResults,
// followed by a line holding only a form feed.
void AppendResults(Context& context);

// Appends the symbol's summary line to PendingSavedSym (after the column
// heading when it is the first saved symbol of the pass, ProcessCount 1) and
// its ticker to PendingUpSym when ZORC is at least ZORP, or to PendingDownSym
// when ZORP is larger; neither list gets it unless both figures are above 0.
void WriteSummaryLine(Context& context, float zorc, float zorp);

}  // namespace quillon
