#include "market/quote.h"

#include <gtest/gtest.h>

#include "analytics/calendar.h"

namespace quillon {
namespace {

TEST(QuoteState, ResetEmptiesRecordAndChainButKeepsTickerFlagsAndPage) {
    QuoteState q;
    q.Ticker = "IBM";
    q.HaveStockData = true;
    q.HaveOptionData = true;
    q.PageText = "page";
    q.ScanPos = 17;
    q.Quote.CompanyName = "International Business Machines";
    q.Quote.OptionRoot = "IBM";
    q.Quote.LastSale = 124.625f;
    q.Quote.Volume = 1e9L;
    q.Quote.SharesOutstanding = 5e8L;
    q.Quote.SpareText = "x";
    q.Quote.PriceEarnings = 100000;
    for (int t = 0; t < kOptionTypes; ++t) {
        q.Chain.TotalZOR[t] = 7;
        q.Chain.TotalVolume[t] = 8;
        q.Chain.TotalOpenInterest[t] = 9;
        for (auto& strike : q.Chain.OptLast[t])
            strike.fill(3.5f);
        for (auto& strike : q.Chain.OptSymbol[t])
            strike.fill("IBMLA");
    }

    ExpirationCalendar calendar;
    ResetQuote(q);
    BuildExpirationCalendar(calendar, DateTime{2026, 12, 1});

    EXPECT_EQ(q.Ticker, "IBM");
    EXPECT_TRUE(q.HaveStockData);
    EXPECT_TRUE(q.HaveOptionData);
    EXPECT_EQ(q.PageText, "page");
    EXPECT_EQ(q.ScanPos, 17);
    EXPECT_EQ(q.Quote.CompanyName, "");
    EXPECT_EQ(q.Quote.OptionRoot, "");
    EXPECT_EQ(q.Quote.SpareText, "");
    EXPECT_EQ(q.Quote.LastSale, 0.0f);
    EXPECT_EQ(q.Quote.PriceEarnings, 0.0f);
    EXPECT_EQ(q.Quote.Volume, 0.0L);
    EXPECT_EQ(q.Quote.SharesOutstanding, 0.0L);
    for (int t = 0; t < kOptionTypes; ++t) {
        EXPECT_EQ(q.Chain.TotalZOR[t], 0.0f);
        EXPECT_EQ(q.Chain.TotalVolume[t], 0.0f);
        EXPECT_EQ(q.Chain.TotalOpenInterest[t], 0.0f);
        for (int s = 0; s < kStrikeSlots; ++s) {
            for (int m = 0; m < kFilledMonthSlots; ++m) {
                EXPECT_EQ(q.Chain.OptSymbol[t][s][m], "");
                for (const ChainArray<float>* a :
                     {&q.Chain.OptLast, &q.Chain.OptColumn2, &q.Chain.OptBid, &q.Chain.OptAsk,
                      &q.Chain.OptVolume, &q.Chain.OptOpenInterest, &q.Chain.OptZOR}) {
                    EXPECT_EQ((*a)[t][s][m], -1.0f);
                }
            }
            // The fourth month slot is never used and so never cleared.
            EXPECT_EQ(q.Chain.OptLast[t][s][3], 3.5f);
        }
    }
}

}  // namespace
}  // namespace quillon
