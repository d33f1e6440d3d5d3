#pragma once
// The pages of the demo quote service: complete HTTP/1.0 responses (status
// line, headers, blank line, HTML body) for the synthetic market's stocks.
//
// The HTML is laid out for the scanner's page parsers, which read the page
// upper-cased and without its tags: every label and every value sits in a
// table cell of its own line, so control characters (the line breaks)
// separate them, and each value follows its label's line. Each label is the
// first text of the page after the company name to contain its keyword, so
// a keyword search cannot land on another label first.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "sim/market_sim.h"

namespace quillon::sim {

// The stock's quote page. Prices of a stock quoted in sixteenths are written
// as fractions ("124 5/8"), others as decimals; volume has no thousands
// commas, shares outstanding are in thousands.
std::string StockPage(const SimStock& stock);

// The stock's option page: a line "Company Name (TICKER)", then one table row
// per option: a description ending in " (." and the option symbol, then the
// last price, the change, the bid, the ask, the volume and the open interest,
// each in a cell of its own line. A figure without a value (-1) shows as
// "N/A" or "&nbsp;". With `padToBytes` above 0, rows of months beyond the
// three nearest come first until the page is at least that long, so the rows
// that matter lie deep in a long page.
std::string OptionPage(const SimStock& stock, const std::vector<SimOption>& options,
                       std::size_t padToBytes = 0);

// A stock page for a symbol the market does not know; it says "Please try
// again".
std::string UnknownSymbolPage(std::string_view ticker);

// An option page for a stock that lists no options; it says
// "symbol_not_found".
std::string NoOptionsPage(std::string_view ticker);

// The answer to wrong or missing credentials: 401, and no quote page.
std::string RefusalPage();

// The answer to a request that is not one of the service's two requests.
std::string BadRequestPage();

// The answer to a request for another path.
std::string NotFoundPage();

}  // namespace quillon::sim
