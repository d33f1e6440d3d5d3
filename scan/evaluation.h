#pragma once
// The judgement of one symbol: ZOR, the AND group of stock and option
// limits, the OR group of the two ZOR ratios, and what a saved symbol leaves
// behind (count, results, summary line, up or down list, alarm).

#include <optional>

#include "analytics/iv_history.h"
#include "scan/context.h"
#include "scan/scan_parts.h"

namespace quillon {

// Evaluates the current symbol; the driver calls it once per symbol after
// advancing SymbolIndex past it. Leaves the symbol's report in PageText.
void EvaluateSymbol(Context& context, AlarmControl& alarm);

// The AND group's verdict: true when every filter in use lets the stock pass.
bool PassesAndGroup(const Context& context);

// The first test of the AND group the current stock fails, named by its
// filter without the dialog's prefix ("MinVolume", "MaxPE"; "Volume" for a
// quote without a volume); nullptr when it passes them all.
const char* FirstFailedTest(const Context& context);

// Where the current symbol's IV30 stands in its history, for the filters and
// the report's history line: IV rank and IV percentile over the window of
// the settings (n/a with fewer than 20 days, when the symbol has no IV30
// today, or when History.db could not be read), and HV20 of the recorded
// last sales with today's.
HistoryStanding HistoryStandingOf(const Context& context);

// Reads the history the IV rank and IV percentile need into the context's
// cache: once at a pass's first symbol, and again when the as-of date or the
// window changes; nothing when neither the filters nor the history figures
// are in use.
void PrepareIvHistory(Context& context);

// IV30 of the current symbol's options, computed once per symbol and kept in
// the context for the history recorder.
Iv30Result CurrentIv30(const Context& context);

// ZOR of the current quote with the context's calendar, strikes, interest
// rate and DeriveZorFrom setting.
void ComputeZOR(Context& context);

}  // namespace quillon
