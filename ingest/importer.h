#pragma once
// The import as a whole: a stock-quote file and option-chain files read into
// an ImportBook, then the book written as the quote archive Quote.txt (and,
// when asked, the symbol file), each replaced atomically so that a failed
// import leaves the files that were there whole.

#include <array>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ingest/csv_rows.h"
#include "ingest/import_book.h"
#include "ingest/import_rows.h"
#include "ingest/table.h"

namespace quillon::import {

// One file of an import, with the symbol --symbol gave it (empty if none).
struct ImportInput {
    std::string path;
    std::string symbol;
};

struct ImportOptions {
    std::string outDir = ".";
    bool writeSymbols = false;
    std::optional<CivilDay> date;  // --date; without it the files' own date, or today
    CivilDay today;
    std::vector<ImportInput> files;
    // --price SYM=PRICE: a stock's last price given by hand.
    std::vector<std::pair<std::string, double>> prices;
    // Where each skipped or left-out row is told, or null.
    std::FILE* verbose = nullptr;
};

// A file as it was read.
struct FileRead {
    std::string path;
    std::string layout;
    bool chain = false;
};

struct ImportSummary {
    CivilDay date;
    std::string dateSource;  // "--date", "the files' quote date", "today"
    std::vector<FileRead> files;
    long stockRows = 0;
    long stocksWritten = 0;
    long duplicateStocks = 0;
    long otherDateStocks = 0;   // stock rows of another day than the import date
    long stocksFromChains = 0;  // stocks priced by a chain's underlying price
    long stocksByHand = 0;      // stocks priced by --price
    long optionRows = 0;
    long optionsKept = 0;
    long optionsWritten = 0;  // kept in the archived near-money entries
    bool chainGiven = false;
    bool symbolsWritten = false;   // Symbols.sym written
    bool settingsWritten = false;  // a new settings file with the local source
    std::array<long, static_cast<int>(RowFault::Count)> stockFaults{};
    std::array<long, static_cast<int>(RowFault::Count)> optionFaults{};
    std::array<long, static_cast<int>(LeftOut::Count)> leftOut{};
    // Underlyings whose options were left out for want of a stock quote,
    // each with what would supply one.
    std::vector<std::string> unpriced;
    // Stocks with options archived whose root a server scan skips.
    std::vector<std::string> localOnly;
};

// Why an import fails.
enum class ImportFailure {
    None,
    NothingRead,  // a file refused or unreadable, no stock, a write failed
    NoOption,     // option chains were given but no option was kept
};

// Reads the files into a book for the import date: the date first (--date,
// or the one quote date the files hold, or today; several dates refuse the
// import), then the stock files, then the chains, whose underlying prices
// give a stock its quote where no stock file does. False with `error` set
// when a file is refused, the dates are ambiguous or no stock was read.
bool ReadIntoBook(const ImportOptions& options, std::unique_ptr<ImportBook>& book,
                  ImportSummary& summary, std::string& error);

// Runs the import. Not None, with `error` set, when nothing was replaced.
ImportFailure RunImport(const ImportOptions& options, ImportSummary& summary, std::string& error);

// The summary as the program prints it.
std::string SummaryText(const ImportSummary& summary, const std::string& quoteFile);

// The main reason no option was kept, in words.
std::string NoOptionReason(const ImportSummary& summary);

}  // namespace quillon::import
