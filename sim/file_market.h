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

#include "ingest/import_book.h"
#include "ingest/importer.h"
#include "sim/market_source.h"

namespace quillon::sim {

struct MarketFiles {
    std::string stocksFile;
    std::vector<std::string> chainFiles;
};

// The market files of a directory, told apart by their header rows as the
// importer tells them (a strike or a contract symbol makes an option chain).
// Only files ending in ".csv" (any case) count, in name order. False with
// `error` set when the directory cannot be read, a file is refused, it holds
// two stock files, or no chain file. A directory without a stock file is
// served from its chains' underlying prices.
bool FindMarketFiles(const std::string& dir, MarketFiles& files, std::string& error);

class FileMarket : public MarketSource {
  public:
    // Reads the files for `date`. Nothing, with `error` naming the file, the
    // line and what is wrong, when a file is refused or no stock is read.
    // Each skipped or left-out row is told on `verbose` when it is not null.
    static std::unique_ptr<FileMarket> Load(const MarketFiles& files, const CivilDay& date,
                                            import::ImportSummary& summary, std::string& error,
                                            std::FILE* verbose = nullptr);

    std::optional<SimStock> Stock(std::string_view ticker) override;
    std::vector<SimOption> Options(const SimStock& stock) override;

    const import::ImportBook& Book() const { return *book_; }

  private:
    FileMarket() = default;
    const import::BookStock* Find(std::string_view ticker) const;

    std::unique_ptr<import::ImportBook> book_;
};

// What a loaded file market holds and what it left out, in the importer's
// words: "N stocks and M options served from SOURCE", then the counts.
std::string ServedSummaryText(const import::ImportSummary& summary, const std::string& source);

}  // namespace quillon::sim
