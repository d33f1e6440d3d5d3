#pragma once
// CSV files of stock quotes and option chains read into one import book per
// quote date. A file may hold one day or many, in any order; each row goes
// to the book of its own quote date (its date column, or the date the lines
// above the header give), so a year of end-of-day exports becomes a year of
// days, each built as the import builds its one day: stocks first, then the
// chains, whose underlying price gives a stock its quote where no stock row
// does, and options kept at the places the scan reads.

#include <array>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ingest/import_book.h"
#include "ingest/importer.h"
#include "ingest/table.h"

namespace quillon::historytool {

// What one quote date got.
struct DayBook {
    std::unique_ptr<import::ImportBook> book;
    long stockRows = 0;         // stock rows of the day read
    long duplicateStocks = 0;   // second rows of a symbol, dropped
    long stocksFromChains = 0;  // stocks priced by a chain's underlying price
    long optionRows = 0;        // option rows of the day read
    long optionsKept = 0;
};

// Everything the reading found.
struct DatedRead {
    std::map<CivilDay, DayBook> days;
    std::vector<import::FileRead> files;
    // Where the rows without a quote date went: "--date", "the files' quote
    // date", "today"; empty when every row had its date.
    std::string undatedSource;
    long undatedRows = 0;
    long otherDateRows = 0;  // with --date: rows of other days, left out
    std::array<long, static_cast<int>(import::RowFault::Count)> stockFaults{};
    std::array<long, static_cast<int>(import::RowFault::Count)> optionFaults{};
    std::array<long, static_cast<int>(import::LeftOut::Count)> leftOut{};
    // Underlyings whose options were left out for want of a price, once each.
    std::set<std::string> unpriced;
};

// Routes rows to the book of their day. Stock rows are added first (all of
// them, of every file), then FinishStocks, then the option rows, then
// Finish; rows of one day keep the order they came in.
class DateGrouper {
  public:
    // `undatedDay`: the day of a row that carries no quote date. `only`
    // (--date): rows of other days are left out.
    DateGrouper(DatedRead& out, CivilDay undatedDay, std::optional<CivilDay> only = {});

    // The day a row with quote date `date` goes to, or nothing when it is
    // left out.
    std::optional<CivilDay> DayOf(const std::optional<CivilDay>& date) const;

    void AddStock(import::StockRow row);
    void FinishStocks();
    // An option row, with the lines above its file's header (a preamble may
    // price its underlying). Nothing when the option was kept, else why not.
    std::optional<import::LeftOut> AddOption(const import::OptionRow& row,
                                             const import::Preamble& preamble);
    // Sorts each day's stocks; a day that ended with no stock is dropped.
    void Finish();

  private:
    DayBook& Day(const CivilDay& date);

    DatedRead& out_;
    CivilDay undatedDay_;
    std::optional<CivilDay> only_;
};

// Reads the files of `options` (files, date, today, verbose; prices and the
// output directory are not used). The day of the rows without a quote date
// is --date, else the one date the other rows hold, else today; when the
// other rows hold several dates such rows are refused, since no day is
// theirs. False with `error` set when a file is refused or unreadable,
// undated rows have no day, or no stock was read.
bool ReadDatedBooks(const import::ImportOptions& options, DatedRead& out, std::string& error);

}  // namespace quillon::historytool
