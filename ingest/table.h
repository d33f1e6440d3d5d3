#pragma once
// One input file of an import, whatever its layout: the header row is found
// among the first lines (after any preamble), the file told to be stock
// quotes or an option chain by its header, and every row after it handed
// out as a stock row or as options. What a preamble says of the underlying
// (its symbol, name, price, the quote date) and the titles of per-expiration
// blocks fill in what the rows themselves do not say.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ingest/csv_rows.h"
#include "ingest/import_rows.h"
#include "market/quote.h"

namespace quillon::import {

// How many lines the header is looked for in.
inline constexpr std::size_t kHeaderSearchRows = 40;

// What the lines before the header say of the underlying.
struct Preamble {
    std::string symbol;  // as the scan writes it, "^" dropped
    // The symbol is only the first word of a title line ("SPDR S&P 500 ETF
    // Trust"): a guess the rows' contract symbols overrule.
    bool symbolGuessed = false;
    std::optional<CivilDay> date;
    QuoteRecord quote;  // LastSale 0 when no price was given
};

struct FileLayout {
    enum class Kind { Stocks, Chain } kind = Kind::Stocks;
    StockHeader stocks;
    OptionHeader chain;
    Preamble preamble;
    long headerLine = 0;
    bool blocks = false;      // title lines give each block's expiration
    bool quoteDates = false;  // rows carry their quote date
    // The layout in words, for the summary: "option chain, calls and puts
    // side by side, underlying price from the lines above the header".
    std::string Name() const;
};

struct TableHandlers {
    std::function<void(const FileLayout&)> onLayout;
    std::function<void(StockRow)> onStock;
    std::function<void(const OptionRow&)> onOption;
    std::function<void(long line, const RowProblem&)> onSkip;
};

// The quote a chain gives the underlying of an option row: the preamble's
// quote of it, the row's underlying price as its last sale. No last sale
// above 0 when the chain gives no price.
StockRow StockFromChain(const OptionRow& row, const Preamble& preamble);

// Reads a table. `symbol` names the stock of a file that does not (the
// command line's --symbol), or is empty. False with `error` set ("line N:
// ...") when no header is found, the header is refused or the CSV cannot
// be read; with `layoutOnly` the reading stops once the layout is known.
bool ReadTable(CsvRowReader& reader, const std::string& symbol, const TableHandlers& handlers,
               std::string& error, bool layoutOnly = false);

// The same for a named file; errors begin with the file name.
bool ReadTableFile(const std::string& path, const std::string& symbol,
                   const TableHandlers& handlers, std::string& error, bool layoutOnly = false);

}  // namespace quillon::import
