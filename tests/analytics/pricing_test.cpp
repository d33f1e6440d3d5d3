#include "analytics/pricing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "tests/analytics/pricing_reference.h"

namespace quillon {
namespace {

PricingInputs AtTheMoney(float volatility = 0.30f) {
    PricingInputs in;
    in.StockPrice = 50;
    in.StrikePrice = 50;
    in.DaysToGo = 30;
    in.InterestRate = 0.05f;
    in.DividendYield = 0;
    in.Volatility = volatility;
    return in;
}

TEST(Pricing, CumulativeNormalKnownValuesAndSymmetry) {
    EXPECT_FLOAT_EQ(CumulativeNormal(0), 0.50000006f);
    EXPECT_NEAR(CumulativeNormal(1), 0.84136, 1e-5);
    EXPECT_NEAR(CumulativeNormal(-1), 0.15864, 1e-5);
    for (float x = -6; x <= 6; x += 0.37f) {
        EXPECT_NEAR(CumulativeNormal(x) + CumulativeNormal(-x), 1.0, 2e-7) << x;
        EXPECT_GE(CumulativeNormal(x + 0.01f), CumulativeNormal(x)) << x;
    }
}

TEST(Pricing, WorkedAtTheMoneyFigures) {
    PricingInputs in = AtTheMoney();
    const float call = BlackScholesCall(in);
    EXPECT_NEAR(call, 1.8166, 1e-4);
    EXPECT_NEAR(BlackScholesPut(in), 1.6116, 1e-4);
    // The trial 0.3 prices at exactly the market price, so the bracket is
    // [0.3, 0.4] and the answer its eighth midpoint.
    EXPECT_NEAR(ImpliedVolatility(in, false, call), 30.04, 0.005);
}

TEST(Pricing, SolvingBackATrialVolatilityGivesTheLastMidpoint) {
    // The sweep's trials are accumulated in float: 0.1, 0.1 + 0.1, ...
    std::vector<float> trials{0.1f};
    while (trials.size() < 32)
        trials.push_back(static_cast<float>(trials.back() + 0.1));
    for (float sigma : {trials[1], trials[4], trials[10], trials[19]}) {
        PricingInputs in = AtTheMoney(sigma);
        const float put = PutValue(in);
        EXPECT_NEAR(ImpliedVolatility(in, true, put), sigma * 100 + 0.04, 0.01) << sigma;
    }
}

TEST(Pricing, NoImpliedVolatilityCases) {
    constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        const char* name;
        float stock, strike, price;
        bool isPut;
        float expected;  // -1, or the 329.96 cap
    };
    const Case cases[] = {
        {"price at intrinsic value", 60, 50, 10, false, -1},
        {"price below intrinsic value", 40, 50, 9, true, -1},
        {"zero price", 50, 50, 0, false, -1},
        {"zero strike", 50, 0, 1, false, -1},
        {"converges towards zero", 100, 50, 50.0001f, false, -1},
        {"above the model at every trial", 50, 50, 45, false, 329.96f},
        {"stock price 0: a call with any price", 0, 50, 0.5f, false, 329.96f},
        {"stock price 0: a put above its strike", 0, 50, 50.5f, true, 329.96f},
        {"negative stock price", -5, 50, 60, true, -1},
        {"negative stock price, call", -5, 50, 1, false, -1},
        // These used to bisect forever: NaN compares neither way.
        {"NaN price", 50, 50, kNaN, false, -1},
        {"NaN price, put", 50, 50, kNaN, true, -1},
        {"NaN stock price", kNaN, 50, 1, false, -1},
    };
    for (const Case& c : cases) {
        PricingInputs in = AtTheMoney();
        in.StockPrice = c.stock;
        in.StrikePrice = c.strike;
        in.Volatility = 0.123f;
        const float iv = ImpliedVolatility(in, c.isPut, c.price);
        if (c.expected < 0) {
            EXPECT_EQ(iv, -1.0f) << c.name;
        } else {
            EXPECT_NEAR(iv, c.expected, 0.01) << c.name;
        }
        if (c.name[0] == 'p') {
            EXPECT_EQ(in.Volatility, 0.123f) << c.name << ": nothing priced";
        }
    }
}

TEST(Pricing, ModelPriceIsZeroWithoutDaysOrPricesAndFloorsAtIntrinsic) {
    PricingInputs in = AtTheMoney();
    in.DaysToGo = 0;
    EXPECT_EQ(BlackScholesCall(in), 0.0f);
    in = AtTheMoney();
    in.StockPrice = 0;
    EXPECT_EQ(CallValue(in), 0.0f);
    EXPECT_EQ(PutValue(in), 50.0f);
    in.StockPrice = -5;
    EXPECT_EQ(BlackScholesCall(in), 0.0f);
    EXPECT_EQ(BlackScholesPut(in), 0.0f);
    // A deep in-the-money put whose model price falls below K - S.
    in = AtTheMoney(0.1f);
    in.StockPrice = 20;
    in.InterestRate = 0.5f;
    EXPECT_LT(BlackScholesPut(in), 30.0f);
    EXPECT_EQ(PutValue(in), 30.0f);
    EXPECT_EQ(OptionValue(in, true), 30.0f);
}

// The solver is the old one made faster, not a new one: every answer, floored
// value, model price and N(x) must be the old one to the bit. A quick run
// here; bench/pricing_identity.cpp runs the same check over millions.
TEST(Pricing, SameBitsAsTheOldCodeOverRandomOptions) {
    for (const std::uint64_t seed : {1u, 2u}) {
        EXPECT_EQ(reference::FirstDifference(seed, 10000), "") << "seed " << seed;
    }
}

// Quotes like a scan's near the money, where the solver prices midpoints
// ahead on a guess: prices from a smile of volatilities, in whole cents and
// not, calls and puts; every answer must be the old one to the bit.
TEST(Pricing, SameBitsAsTheOldCodeNearTheMoney) {
    int solved = 0;
    for (const float strike : {40.0f, 42.5f, 45.0f, 47.5f, 50.0f, 52.5f, 55.0f, 60.0f}) {
        for (const int days : {3, 18, 46, 74, 137, 200, 500}) {
            for (const float volatility : {0.05f, 0.18f, 0.3f, 0.47f, 0.95f, 2.5f}) {
                for (const bool isPut : {false, true}) {
                    PricingInputs in;
                    in.StockPrice = 47.3f;
                    in.StrikePrice = strike;
                    in.DaysToGo = days;
                    in.InterestRate = 0.05f;
                    in.DividendYield = 0.018f;
                    in.Volatility = volatility;
                    const float value = OptionValue(in, isPut);
                    for (const float price :
                         {value, static_cast<float>(std::round(value * 100.0) / 100)}) {
                        const float old = reference::ImpliedVolatility(in, isPut, price);
                        for (const auto& variant : reference::SearchVariants()) {
                            EXPECT_TRUE(reference::SameBits(variant.Solve(in, isPut, price), old))
                                << variant.Name << ": " << strike << " " << days << " "
                                << volatility << " " << isPut << " " << price;
                        }
                        const float ours = ImpliedVolatility(in, isPut, price);
                        EXPECT_TRUE(reference::SameBits(ours, old));
                        solved += ours > 0 ? 1 : 0;
                    }
                }
            }
        }
    }
    EXPECT_GT(solved, 600);
}

// Priced at exactly the value of a midpoint on the search's path, an option
// stops there (its value equals the price), so the answer depends on that
// value to the last bit: the solver's batch pricing must give each midpoint
// the single pricing's value. Paths of every depth, in both directions,
// over random options; answers compared with the old code's.
TEST(Pricing, SameBitsWhenThePriceIsTheValueAtAMidpoint) {
    std::mt19937_64 rng(17);
    const auto uniform = [&](double a, double b) {
        return std::uniform_real_distribution<double>(a, b)(rng);
    };
    for (int i = 0; i < 4000; ++i) {
        PricingInputs in;
        in.StockPrice = static_cast<float>(std::exp(uniform(0, 6)));
        in.StrikePrice = static_cast<float>(in.StockPrice * std::exp(uniform(-0.4, 0.4)));
        in.DaysToGo = static_cast<int>(uniform(1, 800));
        in.InterestRate = static_cast<float>(uniform(0, 0.1));
        in.DividendYield = static_cast<float>(uniform(0, 0.05));
        const bool isPut = uniform(0, 1) < 0.5;
        // A bracket of the sweep, [hi - 0.1, hi], and a midpoint some steps
        // down a random path in it.
        float hi = 0.1f;
        for (int trials = static_cast<int>(uniform(1, 30)); trials > 0; --trials)
            hi = static_cast<float>(hi + 0.1);
        float lo = static_cast<float>(hi - 0.1);
        float mid = hi;
        for (int depth = static_cast<int>(uniform(1, 9)); depth > 0; --depth) {
            mid = static_cast<float>((static_cast<double>(hi) + lo) * 0.5);
            (uniform(0, 1) < 0.5 ? lo : hi) = mid;
        }
        in.Volatility = mid;
        const float price = OptionValue(in, isPut);
        const float old = reference::ImpliedVolatility(in, isPut, price);
        for (const auto& variant : reference::SearchVariants()) {
            const float ours = variant.Solve(in, isPut, price);
            ASSERT_TRUE(reference::SameBits(ours, old))
                << variant.Name << ": S=" << in.StockPrice << " K=" << in.StrikePrice
                << " days=" << in.DaysToGo << " put=" << isPut << " sigma=" << mid << ": " << ours
                << ", was " << old;
        }
    }
}

}  // namespace
}  // namespace quillon
