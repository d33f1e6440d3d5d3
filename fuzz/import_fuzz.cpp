// The CSV import: any bytes as a stock-quote file and as an option-chain
// file. Every row handed out is bounded, every kept stock has a symbol the
// scan can read and a last price above 0, every option row a strike above 0
// and a known type; the rows read place into a book without fault.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/fuzz_context.h"
#include "market/archive.h"
#include "tools/import/csv_rows.h"
#include "tools/import/import_book.h"
#include "tools/import/importer.h"

using namespace quillon;
using namespace quillon::import;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    {
        CsvRowReader reader(bytes);
        long lastLine = 0;
        for (CsvRow row; reader.Next(row);) {
            fuzz::Check(row.Fields.size() <= kMaxRowFields);
            fuzz::Check(row.Line >= lastLine);
            lastLine = row.Line;
        }
    }

    ImportBook book({2026, 12, 1});
    std::string error;
    CsvRowReader stocks(bytes);
    ReadStockRows(
        stocks,
        [&](StockRow row) {
            fuzz::Check(!row.Symbol.empty() && row.Symbol.size() <= 6);
            fuzz::Check(row.Quote.LastSale > 0);
            book.AddStock(std::move(row));
        },
        [](long line, const RowProblem&) { fuzz::Check(line >= 1); }, error);
    book.FinishStocks();

    CsvRowReader options(bytes);
    ReadOptionRows(
        options,
        [&](const OptionRow& row) {
            fuzz::Check(row.Strike > 0);
            fuzz::Check(row.Type == 0 || row.Type == 1);
            book.PlaceOption(row);
        },
        [](long line, const RowProblem&) { fuzz::Check(line >= 1); }, error);

    // Each stock's record as the archive writer writes it.
    QuoteState quote;
    std::string record, asc, good, bad;
    for (const BookStock& stock : book.Stocks()) {
        book.FillQuoteState(stock, quote);
        SaveQuote(quote, false, DateTime{2026, 12, 1}, ArchiveTexts{record, asc, good, bad});
        fuzz::Check(record.starts_with("<STOCK>" + stock.row.Symbol + "\r\n"));
        record.clear();
    }
    return 0;
}
