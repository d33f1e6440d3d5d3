#pragma once
// The judgement of one symbol: ZOR, the AND group of stock and option
// limits, the OR group of the two ZOR ratios, and what a saved symbol leaves
// behind (count, results, summary line, up or down list, alarm).

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

// ZOR of the current quote with the context's calendar, strikes, interest
// rate and DeriveZorFrom setting.
void ComputeZOR(Context& context);

}  // namespace quillon
