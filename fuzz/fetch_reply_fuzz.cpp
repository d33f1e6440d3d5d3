// The market-data services' replies: any bytes as each reply. Each reader
// either refuses the reply with a message or hands out rows that hold: a
// stock with a symbol the scan can read, a last price above 0 and an Eastern
// time that exists; options of a known type with figures of -1 (none) or
// above; real days. A fetched chain then fills the quote state as the
// importer's book does, with no more options than the reply has.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fetch/exchange_reply.h"
#include "fetch/tradier_reply.h"
#include "fuzz/fuzz_context.h"

using namespace quillon;
using namespace quillon::fetch;

namespace {

void CheckTime(const DateTime& t) {
    fuzz::Check(t.Date().Valid() && t.Hour >= 0 && t.Hour < 24 && t.Minute >= 0 && t.Minute < 60 &&
                t.Second >= 0 && t.Second < 60);
}

void CheckStock(const import::StockRow& stock, const DateTime& time) {
    fuzz::Check(import::IsCommandLineSymbol(stock.Symbol));
    fuzz::Check(stock.Quote.LastSale > 0);
    CheckTime(time);
}

void CheckOptions(const std::vector<import::OptionRow>& options) {
    for (const import::OptionRow& o : options) {
        fuzz::Check(o.Type == 0 || o.Type == 1);
        fuzz::Check(o.Strike >= 0 && o.Expiration.Valid());
        fuzz::Check(o.Bid >= -1 && o.Ask >= -1 && o.Volume >= -1 && o.OpenInterest >= -1);
        fuzz::Check(o.Last == -1 || o.Last > 0);
    }
}

void CheckFill(const FetchedChain& chain) {
    QuoteState quote;
    const ChainPlacement placed = FillQuoteFromChain(chain, quote);
    int total = placed.kept;
    for (int n : placed.leftOut)
        total += n;
    fuzz::Check(total == static_cast<int>(chain.options.size()));
    fuzz::Check(quote.Ticker == chain.stock.Symbol && quote.HaveStockData);
    fuzz::Check(quote.HaveOptionData == (placed.kept > 0));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::string error;

    const auto chain = ReadExchangeChain(bytes, error);
    if (chain) {
        CheckStock(chain->stock, chain->time);
        CheckOptions(chain->options);
        CheckFill(*chain);
    } else {
        fuzz::Check(!error.empty());
    }

    // As a scan reads it, from a string with room after it. The rows of
    // other months are skipped unread, so damage inside them alone does not
    // refuse the reply; a reply read whole is read the same, less the rows
    // passed over.
    error.clear();
    std::string roomy(bytes);
    roomy.reserve(bytes.size() + 256);
    const auto forScan = ReadExchangeChainForScan(roomy, error, std::nullopt);
    if (!forScan) fuzz::Check(!chain && !error.empty());
    if (forScan) {
        CheckStock(forScan->stock, forScan->time);
        CheckOptions(forScan->options);
    }
    if (forScan && chain) {
        fuzz::Check(forScan->options.size() + static_cast<std::size_t>(forScan->passedOver) ==
                    chain->options.size());
    }

    error.clear();
    const auto quotes = ReadTradierQuotes(bytes, error);
    fuzz::Check(quotes.has_value() == error.empty());
    if (quotes) {
        for (const FetchedQuote& quote : quotes->quotes)
            CheckStock(quote.stock, quote.time);
    }

    error.clear();
    if (const auto days = ReadTradierExpirations(bytes, error)) {
        for (const CivilDay& day : *days)
            fuzz::Check(day.Valid());
    } else {
        fuzz::Check(!error.empty());
    }

    error.clear();
    const auto rows = ReadTradierChain(bytes, error);
    fuzz::Check(rows.has_value() == error.empty());
    if (rows) {
        CheckOptions(*rows);
        if (quotes && !quotes->quotes.empty()) CheckFill(TradierChain(quotes->quotes[0], {*rows}));
    }
    return 0;
}
