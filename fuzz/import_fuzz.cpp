// The CSV import: any bytes as an input file of any layout. Every row handed
// out is bounded, every stock has a symbol the scan can read and a last
// price above 0, every option a strike above 0 and a known type; the rows
// read place into a book without fault, and each stock's archive record is
// written whole.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/fuzz_context.h"
#include "ingest/csv_rows.h"
#include "ingest/import_book.h"
#include "ingest/table.h"
#include "market/archive.h"

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

    // Dates of every form the files write must read back as they were.
    if (const auto date = ParseDate(bytes.substr(0, 40))) {
        fuzz::Check(date->Month >= 1 && date->Month <= 12 && date->Day >= 1 && date->Day <= 31);
        fuzz::Check(ParseDate(date->IsoText()) == date);
    }
    ParseLeadingDate(bytes.substr(0, 60));

    ImportBook book({2026, 12, 1});
    for (const char* symbol : {"", "FUZZ"}) {
        CsvRowReader reader(bytes);
        std::string error;
        TableHandlers handlers;
        handlers.onLayout = [](const FileLayout& layout) { fuzz::Check(!layout.Name().empty()); };
        handlers.onStock = [&](StockRow row) {
            fuzz::Check(!row.Symbol.empty() && row.Symbol.size() <= 6);
            fuzz::Check(row.Quote.LastSale > 0);
            book.AddStock(std::move(row));
        };
        handlers.onOption = [&](const OptionRow& row) {
            fuzz::Check(row.Strike > 0);
            fuzz::Check(row.Type == 0 || row.Type == 1);
            fuzz::Check(!row.Underlying.empty() && row.Underlying.size() <= 6);
            if (!book.HasStock(row.Underlying) && row.UnderlyingPrice > 0)
                book.SetLastPrice(row.Underlying, static_cast<float>(row.UnderlyingPrice));
            book.PlaceOption(row);
        };
        handlers.onSkip = [](long line, const RowProblem&) { fuzz::Check(line >= 1); };
        ReadTable(reader, symbol, handlers, error);
    }
    book.FinishStocks();

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
