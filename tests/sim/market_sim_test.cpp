#include "sim/market_sim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>

#include "analytics/filters.h"
#include "analytics/zor.h"
#include "scan/evaluation.h"

namespace quillon::sim {
namespace {

// Tuesday 1 December 2026.
constexpr DateTime kToday{2026, 12, 1, 10, 0};

class MarketSimTest : public ::testing::Test {
  protected:
    void SetUp() override { context.settings.InterestRate = kInterestRate; }

    // Whether the evaluation would save the stock in the current quote.
    bool SavedByDefaults() {
        ComputeZOR(context);
        const float zorc = context.quote.Chain.TotalZOR[0];
        const float zorp = context.quote.Chain.TotalZOR[1];
        if (!PassesAndGroup(context) || !(zorc > 0 && zorp > 0)) return false;
        return zorc / static_cast<double>(zorp) >= 8 || zorp / static_cast<double>(zorc) >= 8;
    }

    FixedClock clock{kToday};
    ScriptedMessages messages;
    CountingBeeper beeper;
    Context context{clock, messages, beeper};
};

// The share of the universe for which `differs` holds between two markets.
template <class Differs>
double ShareDiffering(const Market& a, const Market& b, Differs differs) {
    int count = 0;
    for (const std::string& ticker : a.Universe())
        count += differs(*a.Stock(ticker), *b.Stock(ticker)) ? 1 : 0;
    return count / static_cast<double>(a.Universe().size());
}

TEST_F(MarketSimTest, SameSeedAndDateGiveTheSameMarket) {
    const Market first(42, kToday);
    const Market second(42, kToday);
    for (const std::string& ticker : first.Universe()) {
        const SimStock stock = *first.Stock(ticker);
        ASSERT_EQ(stock, *second.Stock(ticker)) << ticker;
        ASSERT_EQ(first.Options(stock), second.Options(stock)) << ticker;
    }
}

TEST_F(MarketSimTest, AnotherSeedOrDateGivesAnotherMarket) {
    const Market base(42, kToday);
    auto pricesDiffer = [](const SimStock& a, const SimStock& b) {
        return a.LastSale != b.LastSale;
    };
    EXPECT_GT(ShareDiffering(base, Market(43, kToday), pricesDiffer), 0.9);
    EXPECT_GT(ShareDiffering(base, Market(42, {2026, 12, 2}), pricesDiffer), 0.9);
    // A stock keeps its name and its root from day to day.
    auto identityDiffers = [](const SimStock& a, const SimStock& b) {
        return a.CompanyName != b.CompanyName || a.OptionRoot != b.OptionRoot ||
               a.Dividend != b.Dividend;
    };
    EXPECT_EQ(ShareDiffering(base, Market(42, {2026, 12, 2}), identityDiffers), 0);
}

TEST_F(MarketSimTest, UniverseIsSortedUniqueAndKnown) {
    const Market market(1, kToday);
    const std::vector<std::string>& universe = market.Universe();
    ASSERT_GE(universe.size(), 300u);
    EXPECT_TRUE(std::adjacent_find(universe.begin(), universe.end(), std::greater_equal<>()) ==
                universe.end());
    int withoutOptions = 0;
    for (const std::string& ticker : universe) {
        EXPECT_TRUE(ticker.size() >= 1 && ticker.size() <= 5) << ticker;
        EXPECT_TRUE(std::all_of(ticker.begin(), ticker.end(), [](unsigned char c) {
            return std::isupper(c) || std::isdigit(c);
        })) << ticker;
        const std::optional<SimStock> stock = market.Stock(ticker);
        ASSERT_TRUE(stock) << ticker;
        // The option page skips rows whose root has X, Y or Z after its first letter.
        EXPECT_EQ(stock->OptionRoot.find_first_of("XYZ", 1), std::string::npos) << ticker;
        EXPECT_TRUE(!stock->CompanyName.empty() && stock->CompanyName.size() <= 36) << ticker;
        withoutOptions += stock->ListsOptions ? 0 : 1;
    }
    EXPECT_GE(withoutOptions, 1);
    EXPECT_LE(withoutOptions, static_cast<int>(universe.size()) / 10);
    EXPECT_FALSE(market.Stock("NOSUCH"));
    EXPECT_FALSE(market.Stock(""));
}

// Every stock with options fills all five strikes of the three nearest
// months for both types, each slot from its own row: the further strikes and
// the fourth month are listed too, and none of them lands in the chain.
TEST_F(MarketSimTest, EveryListedStockFillsTheNearChain) {
    const Market market(7, kToday);
    int rowsToSkip = 0;
    for (const std::string& ticker : market.Universe()) {
        const SimStock stock = *market.Stock(ticker);
        const std::vector<SimOption> rows = market.Options(stock);
        // In reverse order: a further strike below the table then comes after
        // the near strike whose letter it might share, and would overwrite it.
        FillQuoteState(stock, {rows.rbegin(), rows.rend()}, context);
        const QuoteState& q = context.quote;
        ASSERT_TRUE(q.HaveStockData && q.Quote.LastSale > 0) << ticker;
        ASSERT_EQ(q.HaveOptionData, stock.ListsOptions) << ticker;
        ASSERT_EQ(rows.empty(), !stock.ListsOptions) << ticker;
        if (rows.empty()) continue;
        // A short ticker is its own root; the option page only reads rows
        // that begin with it.
        if (ticker.size() < 4) {
            EXPECT_EQ(q.Quote.OptionRoot, ticker);
        }

        int filled = 0;
        for (const SimOption& row : rows) {
            const auto& strikes = context.strikes.StrikePrices;
            const auto strike = std::find(strikes.begin(), strikes.end(), row.Strike);
            if (row.Month >= kFilledMonthSlots || strike == strikes.end()) {
                ++rowsToSkip;
                continue;
            }
            const int slot = static_cast<int>(strike - strikes.begin());
            ASSERT_EQ(q.Chain.OptSymbol[row.Type][slot][row.Month], row.Symbol) << ticker;
            EXPECT_EQ(q.Chain.OptAsk[row.Type][slot][row.Month], row.Ask) << row.Symbol;
            EXPECT_GT(row.Ask, row.Bid) << row.Symbol;
            EXPECT_TRUE(row.Symbol.starts_with(q.Quote.OptionRoot)) << row.Symbol;
            ++filled;
        }
        EXPECT_EQ(filled, kOptionTypes * kStrikeSlots * kFilledMonthSlots) << ticker;
    }
    EXPECT_GT(rowsToSkip, 0);
}

// With the default filters (both types with 250 contracts of open interest,
// one ZOR eight times the other) a few stocks are saved, all of them with a
// one-sided option interest.
TEST_F(MarketSimTest, OnlySomeStocksPassTheDefaultFilters) {
    SetDefaultFilters(context.settings.Filters);
    for (const DateTime today : {kToday, DateTime{2027, 1, 15}}) {
        clock.Set(today);
        const Market market(3, today);
        int saved = 0;
        for (const std::string& ticker : market.Universe()) {
            const SimStock stock = *market.Stock(ticker);
            FillQuoteState(stock, market.Options(stock), context);
            if (!SavedByDefaults()) continue;
            EXPECT_GE(stock.FavouredType, 0) << ticker;
            ++saved;
        }
        const double share = saved / static_cast<double>(market.Universe().size());
        EXPECT_TRUE(share >= 0.03 && share <= 0.20) << share << " on " << today.Day;
    }
}

TEST(PriceEarningsRatioTest, FollowsTheQuoteRule) {
    struct Case {
        float last, earnings, ratio;
    };
    const Case cases[] = {
        {50, 0, 100000},       {50, 0.0005f, 100000}, {100, 0.002f, 50000},
        {500, 0.002f, 100000}, {30, -1.5f, -20},      {42, 2, 21},
    };
    for (const Case& c : cases)
        EXPECT_FLOAT_EQ(PriceEarningsRatio(c.last, c.earnings), c.ratio)
            << c.last << " / " << c.earnings;
}

}  // namespace
}  // namespace quillon::sim
