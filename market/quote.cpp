#include "market/quote.h"

namespace quillon {

void ResetQuote(QuoteState& quote) {
    QuoteRecord& q = quote.Quote;
    q.CompanyName.clear();
    q.LastTick.clear();
    q.Exchange.clear();
    q.SaleTime.clear();
    q.BidAskSize.clear();
    q.ExDividendDate.clear();
    q.SpareText.clear();

    q.LastSale = q.NetChange = q.PercentChange = q.Bid = q.Ask = 0;
    q.OpenPrice = q.HighPrice = q.LowPrice = q.PreviousClose = 0;
    q.High52Week = q.Low52Week = q.HistVolatility = q.Dividend = 0;
    q.EarningsPerShare = q.PriceEarnings = q.YieldPercent = 0;
    q.Volume = q.SharesOutstanding = 0;

    q.OptionRoot.clear();

    OptionChain& c = quote.Chain;
    for (int type = 0; type < kOptionTypes; ++type) {
        c.TotalVolume[type] = c.TotalOpenInterest[type] = c.TotalZOR[type] = 0;
        for (int strike = 0; strike < kStrikeSlots; ++strike) {
            for (int month = 0; month < kFilledMonthSlots; ++month) {
                c.OptSymbol[type][strike][month].clear();
                c.OptLast[type][strike][month] = -1;
                c.OptColumn2[type][strike][month] = -1;
                c.OptBid[type][strike][month] = -1;
                c.OptAsk[type][strike][month] = -1;
                c.OptVolume[type][strike][month] = -1;
                c.OptOpenInterest[type][strike][month] = -1;
                c.OptZOR[type][strike][month] = -1;
            }
        }
    }
}

}  // namespace quillon
