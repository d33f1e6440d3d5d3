#pragma once
// ZOR: the implied volatilities of the twelve options nearest the money
// (strike slots 1 to 3, month slots 0 and 1, calls then puts), summed per
// type with the options' trading activity as weight: ZORC for the calls,
// ZORP for the puts.

#include "market/option_tables.h"
#include "market/quote.h"

namespace quillon {

// What ZOR reads besides the stock's quote and chain: today's calendar, the
// strike table around the last sale, and two settings.
struct ZorInputs {
    const ExpirationCalendar& Calendar;
    const StrikeTable& Strikes;
    float InterestRate;  // a fraction per year: 0.05 is 5 %
    // 0 solves the last prices and weighs them by volume; any other value
    // solves the asks and weighs them by open interest.
    int DeriveZorFrom;
};

// Solves every one of the twelve options into OptZOR (-1 when it has no
// implied volatility), builds the option symbols the page did not list, and
// adds the counted options to TotalZOR, TotalVolume and TotalOpenInterest.
// The totals are added to, so it runs once per symbol, after ResetQuote.
void ComputeZOR(const QuoteRecord& quote, OptionChain& chain, const ZorInputs& inputs);

}  // namespace quillon
