#pragma once
// Which stock figures each quote source gives. The market-data services give
// fewer than the quote server's stock page: the exchange's delayed quotes
// have no P/E, no shares outstanding (market cap), no volatility of the
// quote, no dividend and no 52-week range; Tradier has the 52-week range but
// none of the others. A filter on a figure the source lacks would fail every
// stock, so the scan is refused before it starts, naming the filters.

#include <string>
#include <vector>

#include "analytics/filters.h"
#include "results/settings.h"

namespace quillon {

// The figures the source lacks, as the filter dialog names them ("P/E",
// "Market cap", ...), one per pair of filters; empty for the quote server
// and the local archive.
std::vector<std::string> FiguresMissing(QuoteSource source);

// The filters in use that test a figure the source does not give.
std::vector<FilterIndex> FiltersWithoutFigures(const FilterValues& filters, QuoteSource source);

// Why the scan cannot start with these filters, naming each filter and the
// source ("The filters TX_MinPE, TX_MaxYield test figures that the
// exchange's delayed quotes do not give: ..."); empty when it can.
std::string SourceFilterRefusal(const FilterValues& filters, QuoteSource source);

}  // namespace quillon
