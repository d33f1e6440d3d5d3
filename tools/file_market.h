#pragma once
// A market read from CSV files, for the demo quote service: a stock-quote
// file and option-chain files in the importer's formats. The files are read
// once; the market holds the stocks and, for each, the options the scan can
// use on the market's date (the importer's book), never the option rows, so
// chain files of any length are read in bounded memory.

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/import/import_book.h"
#include "tools/import/importer.h"
#include "tools/market_source.h"

namespace quillon::sim {

struct MarketFiles {
    std::string stocksFile;
    std::vector<std::string> chainFiles;
};

// The market files of a directory, told apart by their header rows: a file
// whose header names a contract symbol (contractSymbol, optionSymbol,
// occSymbol), an expiration or a strike is an option-chain file; any other
// is the stock-quote file. Only files ending in ".csv" (any case) count,
// in name order. False with `error` set when the directory cannot be read,
// holds no stock file or two of them, or no chain file.
bool FindMarketFiles(const std::string& dir, MarketFiles& files, std::string& error);

// True when a header row, as the importer matches column names, names an
// option chain rather than stock quotes.
bool IsChainHeader(const std::vector<std::string>& header);

class FileMarket : public MarketSource {
  public:
    // Reads the files for `date`. Nothing, with `error` naming the file, the
    // line and what is wrong, when a file is refused or no stock is read.
    // Each skipped or left-out row is told on `verbose` when it is not null.
    static std::unique_ptr<FileMarket> Load(const MarketFiles& files, const import::CivilDate& date,
                                            import::ImportSummary& summary, std::string& error,
                                            std::FILE* verbose = nullptr);

    std::optional<SimStock> Stock(std::string_view ticker) override;
    std::vector<SimOption> Options(const SimStock& stock) override;

    const import::ImportBook& Book() const { return book_; }

  private:
    explicit FileMarket(const import::CivilDate& date) : book_(date) {}
    const import::BookStock* Find(std::string_view ticker) const;

    import::ImportBook book_;
};

// What a loaded file market holds and what it left out, in the importer's
// words: "N stocks and M options served from SOURCE", then the counts.
std::string ServedSummaryText(const import::ImportSummary& summary, const std::string& source);

}  // namespace quillon::sim
