#pragma once
// A stock's chain as a market-data service replies with it, in the rows the
// importer reads from files: the stock's quote as a StockRow, its options as
// OptionRows. The import's book then chooses the options, so a scan of
// fetched chains keeps exactly the options a local scan of an import of the
// same chains keeps: the calendar's months, the strike table's strikes, the
// stock's own root (weeklies such as a "W" root and adjusted contracts are
// left out).

#include <array>
#include <string>
#include <vector>

#include "analytics/iv_history.h"
#include "ingest/import_book.h"
#include "ingest/import_rows.h"
#include "market/quote.h"
#include "platform/clock.h"

namespace quillon::fetch {

struct FetchedChain {
    import::StockRow stock;                  // QuoteDate is the Eastern date of `time`
    std::vector<import::OptionRow> options;  // every option of the reply, in its order
    DateTime time;                           // the data's own time, US Eastern
    long skippedRows = 0;  // option rows without a contract symbol that can be read
    long passedOver = 0;   // options of months the scan does not keep, not read whole
};

// A stock's quote from a service that quotes several at once.
struct FetchedQuote {
    import::StockRow stock;
    DateTime time;  // US Eastern
};

// How the options of a chain were placed: how many were kept, and how many
// were left out for each reason.
struct ChainPlacement {
    int kept = 0;
    std::array<int, static_cast<int>(import::LeftOut::Count)> leftOut{};
    Iv30Result iv30;  // of the whole chain, as the importer takes it
};

// Fills the quote state as the quote and option pages do: the stock's
// figures (0 where the service has none, the P/E not available), and the
// options the scan looks for on the calendar of `date` (the data's own date
// unless a scan date is given), with IV30 of the whole chain at interest
// rate `rate`.
ChainPlacement FillQuoteFromChain(const FetchedChain& chain, QuoteState& quote,
                                  const CivilDay& date, float rate);
inline ChainPlacement FillQuoteFromChain(const FetchedChain& chain, QuoteState& quote) {
    return FillQuoteFromChain(chain, quote, chain.time.Date(), 0.05f);
}

// The expirations of a list that the scan of `date` keeps options of (the
// calendar's months), for a service that answers one expiration a request.
std::vector<CivilDay> ExpirationsToFetch(const std::vector<CivilDay>& expirations,
                                         const CivilDay& date);

}  // namespace quillon::fetch
