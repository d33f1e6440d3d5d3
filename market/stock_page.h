#pragma once
// The stock quote page: the quote record of the current stock read from the
// tag-stripped, upper-case page in PageText, and the strike table built from
// its last sale.

#include "scan/context.h"

namespace quillon {

// Resets the quote (which rebuilds the calendar from today), then reads the
// company name and the quote fields after their keywords. PageText is left
// cut after "SEC FILINGS", "TRADE" and the company name where these were
// found. True when a last sale above 0 was found; a page saying "PLEASE TRY
// AGAIN" gives false with the quote just reset.
bool ParseStockPage(Context& context);

}  // namespace quillon
