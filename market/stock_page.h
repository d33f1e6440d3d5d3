#pragma once
// The stock quote page: the quote record of the current stock read from the
// tag-stripped, upper-case page in PageText.

#include "market/quote.h"

namespace quillon {

// Resets the quote, then reads the company name and the quote fields after
// their keywords. PageText is left cut after "SEC FILINGS", "TRADE" and the
// company name where these were found. True when a last sale above 0 was
// found; a page saying "PLEASE TRY AGAIN" gives false with the quote just
// reset.
bool ParseStockPage(QuoteState& quote);

}  // namespace quillon
