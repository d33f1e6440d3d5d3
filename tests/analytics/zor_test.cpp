#include "analytics/zor.h"

#include <gtest/gtest.h>

#include "analytics/calendar.h"
#include "analytics/pricing.h"
#include "platform/clock.h"

namespace quillon {
namespace {

class ZorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetQuote(state);
        BuildExpirationCalendar(calendar, DateTime{2026, 12, 1});
        state.Quote.LastSale = 50;
        state.Quote.OptionRoot = "QQA";
        SelectStrikes(strikes, 50);  // 40 45 50 55 60
    }

    void ComputeZOR() {
        quillon::ComputeZOR(state.Quote, chain,
                            ZorInputs{.Calendar = calendar,
                                      .Strikes = strikes,
                                      .InterestRate = 0.05f,
                                      .DeriveZorFrom = deriveZorFrom});
    }

    // The market price of an option at volatility `sigma`, as the solver
    // would price it.
    float PriceAt(int type, int strike, int month, float sigma) {
        PricingInputs in;
        in.StockPrice = 50;
        in.StrikePrice = strikes.StrikePrices[strike];
        in.DaysToGo = calendar.DaysToExpiration[month];
        in.InterestRate = 0.05f;
        in.Volatility = sigma;
        return OptionValue(in, type == 1);
    }

    float Solve(int type, int strike, int month, float price) {
        PricingInputs in;
        in.StockPrice = 50;
        in.StrikePrice = strikes.StrikePrices[strike];
        in.DaysToGo = calendar.DaysToExpiration[month];
        in.InterestRate = 0.05f;
        return ImpliedVolatility(in, type == 1, price);
    }

    QuoteState state;
    ExpirationCalendar calendar;
    StrikeTable strikes;
    int deriveZorFrom = 1;
    OptionChain& chain = state.Chain;
};

TEST_F(ZorTest, StockWithoutOptionRowsGetsTwelveBuiltSymbolsAndNoZor) {
    ComputeZOR();
    // December 2026 and January 2027; strikes 45, 50, 55.
    EXPECT_EQ(chain.OptSymbol[0][1][0], "QQALI");
    EXPECT_EQ(chain.OptSymbol[0][3][1], "QQAAK");
    EXPECT_EQ(chain.OptSymbol[1][2][0], "QQAXJ");
    EXPECT_EQ(chain.OptSymbol[1][2][1], "QQAMJ");
    for (int t = 0; t < 2; ++t) {
        for (int s = 1; s <= 3; ++s) {
            for (int m = 0; m <= 1; ++m)
                EXPECT_EQ(chain.OptZOR[t][s][m], -1.0f);
        }
        EXPECT_EQ(chain.OptSymbol[t][0][0], "") << "strike slot 0 is not visited";
        EXPECT_EQ(chain.OptSymbol[t][2][2], "") << "month slot 2 is not visited";
        EXPECT_EQ(chain.TotalZOR[t], 0.0f);
    }
}

TEST_F(ZorTest, WeightsFollowThePriceTheUserChose) {
    // Two calls and one put with both prices set; the page's symbol is kept.
    chain.OptSymbol[0][2][0] = "QQALJ";
    struct Option {
        int type, strike, month;
        float sigma, volume, openInterest;
    };
    const Option options[] = {
        {0, 2, 0, 0.30f, 100, 7}, {0, 3, 1, 0.40f, 50, -1}, {1, 1, 0, 0.35f, -1, 300}};
    for (const Option& o : options) {
        float price = PriceAt(o.type, o.strike, o.month, o.sigma);
        chain.OptLast[o.type][o.strike][o.month] = price;
        chain.OptAsk[o.type][o.strike][o.month] = price;
        chain.OptVolume[o.type][o.strike][o.month] = o.volume;
        chain.OptOpenInterest[o.type][o.strike][o.month] = o.openInterest;
    }
    const float z0 = Solve(0, 2, 0, chain.OptLast[0][2][0]);
    const float z1 = Solve(0, 3, 1, chain.OptLast[0][3][1]);
    const float z2 = Solve(1, 1, 0, chain.OptLast[1][1][0]);
    ASSERT_GT(z0, 0);
    ASSERT_GT(z1, 0);

    const OptionChain before = chain;
    deriveZorFrom = 0;  // last price, weighted by volume
    ComputeZOR();
    EXPECT_EQ(chain.OptSymbol[0][2][0], "QQALJ");
    EXPECT_FLOAT_EQ(chain.TotalZOR[0], z0 * 100 + z1 * 50);
    EXPECT_EQ(chain.TotalVolume[0], 150.0f);
    EXPECT_EQ(chain.TotalOpenInterest[0], 7.0f);
    // The put has an implied volatility but no volume: it keeps its figure
    // and adds nothing.
    EXPECT_FLOAT_EQ(chain.OptZOR[1][1][0], z2);
    EXPECT_EQ(chain.TotalZOR[1], 0.0f);
    EXPECT_EQ(chain.TotalOpenInterest[1], 0.0f);

    chain = before;
    deriveZorFrom = 1;  // ask price, weighted by open interest
    ComputeZOR();
    EXPECT_FLOAT_EQ(chain.TotalZOR[0], z0 * 7);
    EXPECT_EQ(chain.TotalVolume[0], 100.0f);
    EXPECT_EQ(chain.TotalOpenInterest[0], 7.0f);
    EXPECT_FLOAT_EQ(chain.TotalZOR[1], z2 * 300);
    EXPECT_EQ(chain.TotalVolume[1], 0.0f);
    EXPECT_EQ(chain.TotalOpenInterest[1], 300.0f);
}

TEST_F(ZorTest, AskOfZeroIsSolvedAsNoPrice) {
    chain.OptAsk[0][2][0] = 0;
    chain.OptLast[0][2][0] = 2.5f;
    chain.OptOpenInterest[0][2][0] = 500;
    ComputeZOR();
    EXPECT_EQ(chain.OptZOR[0][2][0], -1.0f);
    EXPECT_EQ(chain.TotalOpenInterest[0], 0.0f);
}

}  // namespace
}  // namespace quillon
