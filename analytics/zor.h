#pragma once
// ZOR: the implied volatilities of the twelve options nearest the money
// (strike slots 1 to 3, month slots 0 and 1, calls then puts), summed per
// type with the options' trading activity as weight: ZORC for the calls,
// ZORP for the puts.

#include "scan/context.h"

namespace quillon {

// Solves every one of the twelve options into OptZOR (-1 when it has no
// implied volatility), builds the option symbols the page did not list, and
// adds the counted options to TotalZOR, TotalVolume and TotalOpenInterest.
// The totals are added to, so it runs once per symbol, after ResetQuote.
void ComputeZOR(Context& context);

}  // namespace quillon
