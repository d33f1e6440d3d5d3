// The dates of the history import: any bytes as a CSV file with quote dates
// (a date column, or a date in the lines above the header), its rows grouped
// into one book per day. Every day is a real calendar date, every row read
// lands in exactly one day (the day of its own date, or the day of the rows
// without one), a book holds only stocks of its own day, and with a single
// day asked for, every other row is counted as left out.
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_context.h"
#include "ingest/csv_rows.h"
#include "ingest/dated_books.h"
#include "ingest/table.h"

using namespace quillon;
using namespace quillon::import;
using namespace quillon::historytool;

namespace {

constexpr CivilDay kUndated{2026, 12, 1};

bool RealDate(const CivilDay& date) {
    return date.Year >= 1900 && date.Year <= 9999 && date.Month >= 1 && date.Month <= 12 &&
           date.Day >= 1 && date.Plus(0) == date && ParseDate(date.IsoText()) == date;
}

struct Rows {
    std::vector<StockRow> stocks;
    std::vector<std::pair<OptionRow, Preamble>> options;
};

void Group(const Rows& rows, std::optional<CivilDay> only) {
    DatedRead out;
    DateGrouper grouper(out, kUndated, only);
    std::map<CivilDay, long> stocksOf, optionsOf;
    long otherDays = 0;
    for (const StockRow& row : rows.stocks) {
        const CivilDay day = row.QuoteDate ? *row.QuoteDate : kUndated;
        const std::optional<CivilDay> grouped = grouper.DayOf(row.QuoteDate);
        fuzz::Check(grouped ? *grouped == day : (only && *only != day));
        if (grouped) {
            ++stocksOf[day];
        } else {
            ++otherDays;
        }
        grouper.AddStock(row);
    }
    grouper.FinishStocks();
    for (const auto& [row, preamble] : rows.options) {
        const CivilDay day = row.QuoteDate ? *row.QuoteDate : kUndated;
        if (only && *only != day) {
            ++otherDays;
        } else {
            ++optionsOf[day];
        }
        grouper.AddOption(row, preamble);
    }
    grouper.Finish();

    fuzz::Check(out.otherDateRows == otherDays);
    long kept = 0;
    for (const auto& [date, day] : out.days) {
        fuzz::Check(RealDate(date));
        fuzz::Check(!only || date == *only);
        fuzz::Check(day.stockRows == stocksOf[date]);
        fuzz::Check(day.optionRows == optionsOf[date]);
        fuzz::Check(day.book && day.book->Calendar().date == date);
        for (const BookStock& stock : day.book->Stocks())
            fuzz::Check(stock.row.QuoteDate.value_or(kUndated) == date);
        kept += day.optionsKept;
    }
    // A day exists exactly where rows of it were read.
    for (const auto& [date, count] : stocksOf)
        fuzz::Check(count == 0 || out.days.count(date) == 1);
    for (const auto& [date, count] : optionsOf)
        fuzz::Check(count == 0 || out.days.count(date) == 1);
    long leftOut = 0;
    for (long n : out.leftOut)
        leftOut += n;
    fuzz::Check(kept + leftOut == static_cast<long>(rows.options.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    Rows rows;
    std::optional<CivilDay> firstDate;
    for (const char* symbol : {"", "FUZZ"}) {
        CsvRowReader reader(bytes);
        std::string error;
        Preamble preamble;
        TableHandlers handlers;
        handlers.onLayout = [&](const FileLayout& layout) {
            preamble = layout.preamble;
            if (layout.preamble.date) fuzz::Check(RealDate(*layout.preamble.date));
        };
        handlers.onStock = [&](StockRow row) {
            if (row.QuoteDate) {
                fuzz::Check(RealDate(*row.QuoteDate));
                if (!firstDate) firstDate = row.QuoteDate;
            }
            rows.stocks.push_back(std::move(row));
        };
        handlers.onOption = [&](const OptionRow& row) {
            if (row.QuoteDate) {
                fuzz::Check(RealDate(*row.QuoteDate));
                if (!firstDate) firstDate = row.QuoteDate;
            }
            rows.options.emplace_back(row, preamble);
        };
        handlers.onSkip = [](long line, const RowProblem&) { fuzz::Check(line >= 1); };
        ReadTable(reader, symbol, handlers, error);
    }
    Group(rows, std::nullopt);
    Group(rows, firstDate ? firstDate : kUndated);
    return 0;
}
