#pragma once
// The detailed report block of one symbol: a fixed-layout text of 55 lines
// (heading, stock quote, ZOR totals, option table, legend) for a fixed-pitch
// font. The scan window shows it; a saved symbol's block goes to Results.txt.

#include <optional>
#include <string>
#include <string_view>

#include "market/option_tables.h"
#include "market/quote.h"
#include "platform/clock.h"
#include "results/verdict.h"

namespace quillon {

// The history's figures of a symbol, in volatility points: IV30 today, its
// IV rank and IV percentile over the window (n/a with too little history),
// the days of the window held, and HV20.
struct ReportHistory {
    std::optional<double> Iv30;
    std::optional<double> Rank, Percentile;
    int Days = 0;
    int WindowWeeks = 52;
    std::optional<double> Hv20;
};

// Everything a report block shows, read-only: the symbol's quote and chain,
// the option tables they were read with, the pass counters, the settings it
// prints and the verdict.
struct ReportView {
    const QuoteState& Quote;  // ticker, quote record and option chain
    const ExpirationCalendar& Calendar;
    const StrikeTable& Strikes;
    int ProcessCount;  // "Saved"
    int SymbolIndex;   // "Progress" SymbolIndex/SymbolCount
    int SymbolCount;
    float InterestRate;  // a fraction: 0.05 shows as 5%
    // The price column shows the last prices for 0, the asks otherwise.
    int DeriveZorFrom;
    Verdict Trend;  // SavedUp shows "UP", SavedDown "DOWN", anything else "?"
    DateTime WrittenAt;
    // Shown as a line after the ZOR totals when present; without it the
    // block is the 55 lines it always was.
    std::optional<ReportHistory> History = std::nullopt;
};

// The history line of a report block, without its line end:
// "IV30 31.5  IV rank 42.0  IV pctl 61.5  (240 days of 52 wk)  HV20 27.3".
std::string HistoryLine(const ReportHistory& history);

// Exactly `width` characters: `text` padded with blanks, or its first `width`
// characters when it is longer. A width below 1 gives an empty text.
std::string FitText(std::string_view text, int width);

// The report block of the symbol in `view`; every line ends with CR LF.
std::string RenderReport(const ReportView& view);

}  // namespace quillon
