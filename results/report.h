#pragma once
// The detailed report block of one symbol: a fixed-layout text of 55 lines
// (heading, stock quote, ZOR totals, option table, legend) for a fixed-pitch
// font. The scan window shows it; a saved symbol's block goes to Results.txt.

#include <string>
#include <string_view>

namespace quillon {

struct Context;

// Exactly `width` characters: `text` padded with blanks, or its first `width`
// characters when it is longer. A width below 1 gives an empty text.
std::string FitText(std::string_view text, int width);

// Replaces context.quote.PageText with the report block of the current symbol.
// `trend` is the evaluation's verdict: 1 shows "UP", -1 "DOWN", anything else
// "?". Every line ends with CR LF; the date and time come from context.clock.
void RenderReport(Context& context, int trend);

}  // namespace quillon
