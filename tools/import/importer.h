#pragma once
// The import as a whole: a stock-quote file and option-chain files read into
// an ImportBook, then the book written as the quote archive Quote.txt (and,
// when asked, the symbol file), each replaced atomically so that a failed
// import leaves the files that were there whole.

#include <array>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "tools/import/csv_rows.h"
#include "tools/import/import_book.h"
#include "tools/import/import_rows.h"

namespace quillon::import {

// Called for a row that is skipped: its line and what is wrong with it.
using SkipReport = std::function<void(long line, const RowProblem& problem)>;

// The stock rows of a CSV stream, header first. False, with `error` set
// ("line N: ..."), when the file is refused: no header row, a required
// column missing, or a CSV error.
bool ReadStockRows(CsvRowReader& reader, const std::function<void(StockRow)>& onStock,
                   const SkipReport& onSkip, std::string& error);
bool ReadOptionRows(CsvRowReader& reader, const std::function<void(const OptionRow&)>& onOption,
                    const SkipReport& onSkip, std::string& error);

// The same for a named file; errors begin with the file name.
bool ReadStockFile(const std::string& path, const std::function<void(StockRow)>& onStock,
                   const SkipReport& onSkip, std::string& error);
bool ReadOptionFile(const std::string& path, const std::function<void(const OptionRow&)>& onOption,
                    const SkipReport& onSkip, std::string& error);

struct ImportOptions {
    std::string outDir = ".";
    bool writeSymbols = false;
    CivilDate date;
    std::string stocksFile;
    std::vector<std::string> chainFiles;
    // Where each skipped or left-out row is told, or null.
    std::FILE* verbose = nullptr;
};

struct ImportSummary {
    long stockRows = 0;
    long stocksWritten = 0;
    long duplicateStocks = 0;
    long optionRows = 0;
    long optionsKept = 0;
    long optionsWritten = 0;  // kept in the archived near-money entries
    std::array<long, static_cast<int>(RowFault::Count)> stockFaults{};
    std::array<long, static_cast<int>(RowFault::Count)> optionFaults{};
    std::array<long, static_cast<int>(LeftOut::Count)> leftOut{};
};

// Reads the stock file, then the chain files, into `book`, counting rows in
// `summary` and telling each skipped or left-out row to `verbose` (when not
// null). False with `error` set when a file is refused or no stock was read.
bool ReadIntoBook(ImportBook& book, const std::string& stocksFile,
                  const std::vector<std::string>& chainFiles, std::FILE* verbose,
                  ImportSummary& summary, std::string& error);

// Runs the import. False with `error` set when nothing was replaced.
bool RunImport(const ImportOptions& options, ImportSummary& summary, std::string& error);

// The summary as the program prints it.
std::string SummaryText(const ImportSummary& summary, const std::string& quoteFile);

// Writes what `write` writes to a new temporary file beside `path`, flushed
// to disk, and names it in `temporary`; on failure the temporary file goes.
bool WriteTemporaryFile(const std::string& path, const std::function<bool(std::FILE*)>& write,
                        std::string& temporary, std::string& error);
// The same, then renamed over `path`; on failure `path` is untouched.
bool ReplaceFileStreamed(const std::string& path, const std::function<bool(std::FILE*)>& write,
                         std::string& error);

}  // namespace quillon::import
