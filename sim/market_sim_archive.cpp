#include "sim/market_sim_archive.h"

#include <algorithm>
#include <cstdio>

#include "market/archive.h"
#include "platform/number_format.h"
#include "platform/services.h"
#include "results/pass_output.h"
#include "scan/scan_parts.h"

namespace quillon::sim {

namespace {

constexpr const char* kBorrowedPrefix = "S";

// The universe stock behind an archive ticker.
std::string BaseTicker(const Market& market, const std::string& ticker) {
    const std::vector<std::string>& universe = market.Universe();
    if (std::binary_search(universe.begin(), universe.end(), ticker)) return ticker;
    const int number = std::atoi(ticker.c_str() + 1);
    return universe[static_cast<std::size_t>(number) % universe.size()];
}

bool WriteFile(const std::string& name, const std::string& text) {
    std::FILE* file = std::fopen(name.c_str(), "wb");
    if (file == nullptr) return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && ok;
}

}  // namespace

std::vector<std::string> ArchiveTickers(const Market& market, int count) {
    const std::vector<std::string>& universe = market.Universe();
    std::vector<std::string> tickers(
        universe.begin(), universe.begin() + std::min<std::ptrdiff_t>(count, std::ssize(universe)));
    for (int i = 0; std::ssize(tickers) < count; ++i) {
        tickers.push_back(kBorrowedPrefix + FormatArgs("%05d", i));
    }
    std::sort(tickers.begin(), tickers.end());
    return tickers;
}

bool WriteArchive(const Market& market, const std::vector<std::string>& tickers,
                  const std::string& directory) {
    FixedClock clock(market.Today());
    ScriptedMessages messages;
    SilentBeeper beeper;
    Context context(clock, messages, beeper);
    context.files = WorkingFileNames::In(directory);
    context.counters.OptionFiltersActive = true;

    std::string quotes, ascQuotes = std::string(kAscQuoteHeader) + "\r\n", good, bad, symbols;
    for (const std::string& ticker : tickers) {
        std::optional<SimStock> stock = market.Stock(BaseTicker(market, ticker));
        if (!stock) continue;
        FillQuoteState(*stock, market.Options(*stock), context);
        context.quote.Ticker = ticker;
        SaveQuote(context);
        PendingOutput& pending = context.pending;
        quotes += pending.PendingQuote;
        ascQuotes += pending.PendingAscQuote;
        good += pending.PendingGoodSym;
        bad += pending.PendingBadSym;
        pending.Clear();
        symbols += ticker + "\r\n";
    }
    const WorkingFileNames& names = context.files;
    return WriteFile(names.QuoteFile, quotes) && WriteFile(names.AscQuoteFile, ascQuotes) &&
           WriteFile(names.GoodSymFile, good) && WriteFile(names.BadSymFile, bad) &&
           WriteFile(names.DefaultSymbolFile, symbols);
}

}  // namespace quillon::sim
