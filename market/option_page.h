#pragma once
// The option page: the option chain of the current stock read from the
// tag-stripped, upper-case page in PageText, for the five strikes of the
// strike table and the three nearest expiration months.

#include "market/option_tables.h"
#include "market/quote.h"

namespace quillon {

// Adds to what the stock page left for the same symbol (it does not reset the
// quote): the option rows that match the calendar and the strike table, the
// option root, and the company name when the stock page gave none. True when
// at least one row was stored completely; false for a page saying
// "SYMBOL_NOT_FOUND", which changes nothing.
bool ParseOptionPage(QuoteState& quote, const OptionTables& tables);

}  // namespace quillon
