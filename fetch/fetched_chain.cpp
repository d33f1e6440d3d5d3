#include "fetch/fetched_chain.h"

namespace quillon::fetch {

ChainPlacement FillQuoteFromChain(const FetchedChain& chain, QuoteState& quote,
                                  const CivilDay& date, float rate) {
    import::ImportBook book(date);
    book.AddStock(chain.stock);
    book.FinishStocks();
    ChainPlacement placement;
    for (const import::OptionRow& option : chain.options) {
        const std::optional<import::LeftOut> leftOut = book.PlaceOption(option);
        if (leftOut) {
            ++placement.leftOut[static_cast<std::size_t>(*leftOut)];
        } else {
            ++placement.kept;
        }
    }
    book.FillQuoteState(book.Stocks().front(), quote);
    placement.iv30 = book.WholeChainIv30(book.Stocks().front(), rate);
    return placement;
}

std::vector<CivilDay> ExpirationsToFetch(const std::vector<CivilDay>& expirations,
                                         const CivilDay& date) {
    const import::ImportCalendar calendar = import::MakeImportCalendar(date);
    std::vector<CivilDay> wanted;
    for (const CivilDay& expiration : expirations) {
        if (import::MonthSlotOf(calendar, expiration) >= 0) wanted.push_back(expiration);
    }
    return wanted;
}

}  // namespace quillon::fetch
