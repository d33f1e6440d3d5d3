#include "analytics/iv_history.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <random>

#include "analytics/calendar.h"
#include "analytics/pricing.h"
#include "platform/clock.h"

namespace quillon {
namespace {

constexpr float kRate = 0.05f;
constexpr float kYield = 0.01f;

// The implied volatility (points) the pricing code gives one option: the
// figures the cases below interpolate by hand.
double Vol(float stock, float strike, int days, bool put, float price) {
    PricingInputs in;
    in.StockPrice = stock;
    in.StrikePrice = strike;
    in.DaysToGo = days;
    in.InterestRate = kRate;
    in.DividendYield = kYield;
    const float v = ImpliedVolatility(in, put, price);
    EXPECT_GT(v, 0) << "a case's price has no implied volatility: " << strike << " " << days;
    return v;
}

// An option quoted at bid and ask a quarter apart around `mid` (all three
// exact in binary, so the midpoint is `mid` to the bit), last sale far off.
Iv30Option Quoted(float strike, bool put, int days, float mid) {
    return Iv30Option{strike, put, mid - 0.125f, mid + 0.125f, mid * 3, days};
}

// IV30 by hand from two months' volatilities, days d1 < d2 around 30:
// the year length cancels from ((T2 - T*) V1 + (T* - T1) V2) / ((T2 - T1) T*).
double ThirtyDays(int d1, double s1, int d2, double s2) {
    return std::sqrt(((d2 - 30.0) * d1 * s1 * s1 + (30.0 - d1) * d2 * s2 * s2) /
                     ((d2 - d1) * 30.0));
}

struct Iv30Case {
    const char* name;
    float stock;
    std::vector<Iv30Option> options;
    std::optional<double> both, calls, puts;
    std::optional<int> daysNear, daysNext;
};

void ExpectSame(const std::optional<double>& got, const std::optional<double>& want,
                const char* what) {
    ASSERT_EQ(got.has_value(), want.has_value()) << what;
    if (want) {
        EXPECT_NEAR(*got, *want, 1e-5) << what;
    }
}

void Check(const Iv30Case& c) {
    SCOPED_TRACE(c.name);
    const Iv30Result r = ComputeIv30(Iv30Inputs{c.stock, kRate, kYield, c.options});
    ExpectSame(r.Both, c.both, "both");
    ExpectSame(r.Calls, c.calls, "calls");
    ExpectSame(r.Puts, c.puts, "puts");
    EXPECT_EQ(r.DaysNear, c.daysNear);
    EXPECT_EQ(r.DaysNext, c.daysNext);
}

TEST(Iv30, AtTheMoneyIsLinearInStrikeBetweenTheStrikesAroundTheLastSale) {
    // Last sale 52 between the strikes 50 and 55: 2/5 of the way from 50.
    const double c50 = Vol(52, 50, 30, false, 3.25f);
    const double c55 = Vol(52, 55, 30, false, 1.5f);
    const double p50 = Vol(52, 50, 30, true, 1.0f);
    const double p55 = Vol(52, 55, 30, true, 3.5f);
    ASSERT_GT(std::fabs(c50 - c55), 1.0) << "the strikes need different volatilities";
    const double calls = c50 + 0.4 * (c55 - c50);
    const double puts = p50 + 0.4 * (p55 - p50);
    const double c45 = Vol(52, 45, 30, false, 7.5f);
    const Iv30Case cases[] = {
        {"calls only, farther strikes ignored",
         52,
         {Quoted(45, false, 30, 7.5f), Quoted(50, false, 30, 3.25f), Quoted(55, false, 30, 1.5f),
          Quoted(60, false, 30, 0.25f)},
         calls,
         calls,
         std::nullopt,
         30,
         std::nullopt},
        {"calls and puts averaged, in any order",
         52,
         {Quoted(55, true, 30, 3.5f), Quoted(55, false, 30, 1.5f), Quoted(50, true, 30, 1.0f),
          Quoted(50, false, 30, 3.25f)},
         (calls + puts) / 2,
         calls,
         puts,
         30,
         std::nullopt},
        {"a strike at the last sale is its own volatility",
         50,
         {Quoted(45, false, 30, 5.5f), Quoted(50, false, 30, 1.875f), Quoted(55, false, 30, 0.5f)},
         Vol(50, 50, 30, false, 1.875f),
         Vol(50, 50, 30, false, 1.875f),
         std::nullopt,
         30,
         std::nullopt},
        {"the strike above has no price: the pair is the nearest priced strikes around",
         52,
         {Quoted(45, false, 30, 7.5f), Quoted(50, false, 30, 3.25f),
          Iv30Option{55, false, -1, -1, -1, 30}, Quoted(60, false, 30, 0.25f)},
         c50 + 0.2 * (Vol(52, 60, 30, false, 0.25f) - c50),
         c50 + 0.2 * (Vol(52, 60, 30, false, 0.25f) - c50),
         std::nullopt,
         30,
         std::nullopt},
        {"every strike below the last sale: no pair, nothing",
         52,
         {Quoted(45, false, 30, 7.5f), Quoted(50, false, 30, 3.25f)},
         std::nullopt,
         std::nullopt,
         std::nullopt,
         std::nullopt,
         std::nullopt},
        {"a side with no pair is nothing; both is the other side",
         52,
         {Quoted(45, true, 30, 0.125f), Quoted(50, true, 30, 1.0f), Quoted(45, false, 30, 7.5f),
          Quoted(55, false, 30, 1.5f)},
         c45 + 0.7 * (c55 - c45),
         c45 + 0.7 * (c55 - c45),
         std::nullopt,
         30,
         std::nullopt},
    };
    for (const Iv30Case& c : cases)
        Check(c);
}

TEST(Iv30, TwoMonthsInterpolateInVarianceTimeAndExtrapolateFlat) {
    // Every option at the money (strike 50 = last sale), so each month's
    // volatility is its option's own. Calls cheap near and dear far, puts
    // the other way round, so that averaging the sides per month (both)
    // differs from averaging the interpolated sides.
    auto month = [](int days, float call, float put) {
        return std::vector<Iv30Option>{Quoted(50, false, days, call), Quoted(50, true, days, put)};
    };
    auto join = [](std::vector<Iv30Option> a, const std::vector<Iv30Option>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const double c20 = Vol(50, 50, 20, false, 1.0f), p20 = Vol(50, 50, 20, true, 2.5f);
    const double c48 = Vol(50, 50, 48, false, 4.0f), p48 = Vol(50, 50, 48, true, 1.5f);
    const double c10 = Vol(50, 50, 10, false, 1.0f), p10 = Vol(50, 50, 10, true, 2.5f);
    const double c40 = Vol(50, 50, 40, false, 4.0f), p40 = Vol(50, 50, 40, true, 1.5f);
    const double c70 = Vol(50, 50, 70, false, 3.0f), p70 = Vol(50, 50, 70, true, 3.0f);
    const double both = ThirtyDays(20, (c20 + p20) / 2, 48, (c48 + p48) / 2);
    const double calls = ThirtyDays(20, c20, 48, c48);
    const double puts = ThirtyDays(20, p20, 48, p48);
    ASSERT_GT(std::fabs(both - (calls + puts) / 2), 1e-3);
    ASSERT_GT(std::fabs(c70 - c40) + std::fabs(p70 - p40), 1.0) << "the far month must differ";
    // Pinned once by literal figures: 20 and 48 days weigh the variances
    // 18*20 : 10*48 over 28*30.
    EXPECT_NEAR(ThirtyDays(20, 30, 48, 40), std::sqrt((360 * 900.0 + 480 * 1600.0) / 840), 1e-12);

    const Iv30Case cases[] = {
        {"20 and 48 days around 30", 50, join(month(48, 4.0f, 1.5f), month(20, 1.0f, 2.5f)), both,
         calls, puts, 20, 48},
        {"both months beyond 30 days: the nearer's volatility", 50,
         join(month(70, 3.0f, 3.0f), month(40, 4.0f, 1.5f)), (c40 + p40) / 2, c40, p40, 40, 70},
        {"both months within 30 days: the farther's volatility", 50,
         join(month(10, 1.0f, 2.5f), month(20, 1.0f, 2.5f)), (c20 + p20) / 2, c20, p20, 10, 20},
        {"a third month is not used", 50,
         join(join(month(20, 1.0f, 2.5f), month(70, 3.0f, 3.0f)), month(48, 4.0f, 1.5f)), both,
         calls, puts, 20, 48},
        {"one month only: its volatility", 50, month(10, 1.0f, 2.5f), (c10 + p10) / 2, c10, p10, 10,
         std::nullopt},
        {"an expired month (0 days) is not a month", 50,
         join(month(0, 1.0f, 2.5f), month(40, 4.0f, 1.5f)), (c40 + p40) / 2, c40, p40, 40,
         std::nullopt},
        {"the near month quoted but unpriced: the next two months", 50,
         join(join(std::vector<Iv30Option>{{50, false, -1, -1, -1, 10}, {50, true, 0, 0, 0, 10}},
                   month(20, 1.0f, 2.5f)),
              month(48, 4.0f, 1.5f)),
         both, calls, puts, 20, 48},
        {"the near month without a strike pair: the next two months", 50,
         join(join({Quoted(55, false, 10, 0.25f), Quoted(55, true, 10, 5.125f)},
                   month(20, 1.0f, 2.5f)),
              month(48, 4.0f, 1.5f)),
         both, calls, puts, 20, 48},
        {"puts only in the far month: puts flat from it, both from calls near", 50,
         join({Quoted(50, false, 20, 1.0f)}, month(48, 4.0f, 1.5f)),
         ThirtyDays(20, c20, 48, (c48 + p48) / 2), calls, p48, 20, 48},
        {"no stock price: nothing", 0, month(20, 1.0f, 2.5f), std::nullopt, std::nullopt,
         std::nullopt, std::nullopt, std::nullopt},
    };
    for (const Iv30Case& c : cases)
        Check(c);
}

TEST(Iv30, SolvesTheMidpointOrTheLastWhereBidOrAskIsMissing) {
    const struct {
        const char* name;
        float bid, ask, last;
        float solved;  // the price whose volatility is IV30; 0: none
    } rows[] = {
        {"bid and ask: their midpoint", 1.75f, 2.25f, 3.0f, 2.0f},
        {"crossed quote still has a midpoint", 2.25f, 1.75f, 3.0f, 2.0f},
        {"no bid (0): the last", 0, 2.25f, 3.0f, 3.0f},
        {"no ask (-1): the last", 1.75f, -1, 3.0f, 3.0f},
        {"neither: the last", -1, -1, 1.5f, 1.5f},
        {"no ask and no last: nothing", 1.75f, 0, -1, 0},
        {"nothing quoted", -1, -1, -1, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const Iv30Result r = ComputeIv30(
            Iv30Inputs{50, kRate, kYield, {{50, false, row.bid, row.ask, row.last, 30}}});
        if (row.solved == 0) {
            EXPECT_FALSE(r.Both);
            EXPECT_FALSE(r.DaysNear);
            continue;
        }
        ASSERT_TRUE(r.Calls);
        EXPECT_DOUBLE_EQ(*r.Calls, Vol(50, 50, 30, false, row.solved));
    }
}

TEST(Iv30, InputsOfTheChainAreEveryStrikeAndTheThreeMonthsWithTheirDays) {
    QuoteState state;
    ResetQuote(state);
    ExpirationCalendar calendar;
    BuildExpirationCalendar(calendar, DateTime{2026, 12, 1});
    StrikeTable strikes;
    SelectStrikes(strikes, 50);  // 40 45 50 55 60
    state.Quote.LastSale = 50;
    state.Quote.YieldPercent = 2;
    OptionChain& chain = state.Chain;
    chain.OptBid[1][2][1] = 1.75f;
    chain.OptAsk[1][2][1] = 2.25f;
    chain.OptLast[1][2][1] = 3.0f;
    chain.OptLast[0][4][2] = 0.5f;

    const Iv30Inputs in = Iv30InputsOf(
        state.Quote, chain,
        ZorInputs{
            .Calendar = calendar, .Strikes = strikes, .InterestRate = 0.04f, .DeriveZorFrom = 0});
    EXPECT_EQ(in.StockPrice, 50.0f);
    EXPECT_FLOAT_EQ(in.InterestRate, 0.04f);
    EXPECT_FLOAT_EQ(in.DividendYield, 0.02f);
    ASSERT_EQ(in.Options.size(), 2u * 5u * 3u);
    int found = 0;
    for (const Iv30Option& o : in.Options) {
        if (o.IsPut && o.Strike == 50 && o.DaysToGo == calendar.DaysToExpiration[1] - 1) {
            ++found;
            EXPECT_EQ(o.Bid, 1.75f);
            EXPECT_EQ(o.Ask, 2.25f);
            EXPECT_EQ(o.Last, 3.0f);
        } else if (!o.IsPut && o.Strike == 60 && o.DaysToGo == calendar.DaysToExpiration[2] - 1) {
            ++found;
            EXPECT_EQ(o.Last, 0.5f);
        } else {
            EXPECT_EQ(o.Last, -1.0f) << "an unquoted option stays unpriced";
        }
    }
    EXPECT_EQ(found, 2);
    // The put at the money alone makes IV30: month slot 1's days, counted to
    // the close of its expiration Friday (15 January 2027 from 1 December),
    // not to the Saturday after it.
    const Iv30Result r = ComputeIv30(in);
    EXPECT_EQ(r.DaysNear, 45);
    EXPECT_FALSE(r.Calls);
    EXPECT_TRUE(r.Puts);
}

// The method's known error against a chain of one flat volatility: a whole
// chain of $1 strikes, two months around 30 days, every option priced at
// 30 % by the pricing code. Quoted to the float, IV30 gives the 30 % back
// within 0.05 points, the implied-volatility solver's own resolution in
// 32-bit figures; quoted to the cent (bid and ask a cent either side of the
// value rounded to cents), within 0.1 points, and each side alone within
// 0.3 points for a stock under $10, whose near-money prices are few cents.
TEST(Iv30, AFlatChainGivesItsVolatilityBackToTheStatedError) {
    const struct {
        float stock;
        bool cents;
        double error;
        double sideError;
    } cases[] = {{20.37f, false, 0.05, 0.05},
                 {20.37f, true, 0.1, 0.1},
                 {47.5f, false, 0.05, 0.05},
                 {47.5f, true, 0.1, 0.1},
                 {8.81f, true, 0.1, 0.3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.stock << (c.cents ? " to the cent" : ""));
        Iv30Inputs in{c.stock, kRate, kYield, {}};
        for (int days : {17, 45}) {
            for (float strike = std::floor(c.stock * 0.7f); strike <= c.stock * 1.3f; ++strike) {
                for (bool put : {false, true}) {
                    PricingInputs p{};
                    p.StockPrice = c.stock;
                    p.StrikePrice = strike;
                    p.DaysToGo = days;
                    p.InterestRate = kRate;
                    p.DividendYield = kYield;
                    p.Volatility = 0.30f;
                    float value = OptionValue(p, put);
                    float bid = value, ask = value;
                    if (c.cents) {
                        value = std::round(value * 100) / 100;
                        bid = value - 0.01f;
                        ask = value + 0.01f;
                    }
                    if (bid <= 0) continue;
                    in.Options.push_back(Iv30Option{strike, put, bid, ask, -1, days});
                }
            }
        }
        const Iv30Result r = ComputeIv30(in);
        ASSERT_TRUE(r.Both && r.Calls && r.Puts);
        EXPECT_NEAR(*r.Both, 30, c.error);
        EXPECT_NEAR(*r.Calls, 30, c.sideError);
        EXPECT_NEAR(*r.Puts, 30, c.sideError);
        EXPECT_EQ(r.DaysNear, 17);
        EXPECT_EQ(r.DaysNext, 45);
    }
}

std::vector<double> Days(std::initializer_list<std::pair<int, double>> runs) {
    std::vector<double> w;
    for (const auto& [n, x] : runs)
        w.insert(w.end(), n, x);
    return w;
}

TEST(IvStanding, RankAndPercentileOverTheWindowWithTodayLast) {
    const struct {
        const char* name;
        std::vector<double> window;
        std::optional<double> rank, percentile;
        int days;
    } rows[] = {
        {"today the highest of 20", Days({{19, 20}, {1, 30}}), 100, 95, 20},
        {"today the lowest", Days({{10, 30}, {10, 25}, {1, 15}}), 0, 0, 21},
        {"ties below and at today: only the days below count",
         Days({{10, 20}, {5, 30}, {4, 25}, {1, 25}}), 50, 50, 20},
        {"the minimum and maximum lie before today", Days({{1, 40}, {1, 10}, {17, 30}, {1, 16}}),
         20, 5, 20},
        {"every day the same: rank 0, percentile 0", Days({{25, 31.5}}), 0, 0, 25},
        {"19 days: not yet", Days({{18, 20}, {1, 30}}), std::nullopt, std::nullopt, 19},
        {"no history", {}, std::nullopt, std::nullopt, 0},
        {"a window shorter than 252 days counts its own days", Days({{2, 10}, {27, 40}, {1, 20}}),
         100.0 / 3, 200.0 / 30, 30},
        {"252 days", Days({{126, 10}, {125, 50}, {1, 20}}), 25, 50, 252},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const IvStanding s = IvRankAndPercentile(row.window);
        EXPECT_EQ(s.Days, row.days);
        ASSERT_EQ(s.Rank.has_value(), row.rank.has_value());
        ASSERT_EQ(s.Percentile.has_value(), row.percentile.has_value());
        if (row.rank) {
            EXPECT_NEAR(*s.Rank, *row.rank, 1e-9);
            EXPECT_NEAR(*s.Percentile, *row.percentile, 1e-9);
        }
    }
}

TEST(IvStanding, TextIsOneDecimalOrNotAvailableWithTheDays) {
    EXPECT_EQ(StandingText(std::nullopt, 7), "n/a (7 days)");
    EXPECT_EQ(StandingText(std::nullopt, 1), "n/a (1 day)");
    EXPECT_EQ(StandingText(std::nullopt, 0), "n/a (0 days)");
    EXPECT_EQ(StandingText(45.26, 40), "45.3");
    EXPECT_EQ(StandingText(100.0, 252), "100.0");
    EXPECT_EQ(StandingText(0.0, 20), "0.0");
    EXPECT_EQ(StandingText(200.0 / 30, 30), "6.7");
}

// Prices from a start of 100 by the given daily log returns.
std::vector<double> Prices(double start, const std::vector<double>& returns) {
    std::vector<double> p{start};
    for (double r : returns)
        p.push_back(p.back() * std::exp(r));
    return p;
}

// Day n (0 = Monday 5 January 2026) as YYYYMMDD, counting weekdays only.
int Weekday(int n) {
    static const std::chrono::sys_days kStart{std::chrono::year{2026} / 1 / 5};
    const std::chrono::year_month_day d{kStart + std::chrono::days{n / 5 * 7 + n % 5}};
    return static_cast<int>(d.year()) * 10000 + static_cast<int>(unsigned(d.month())) * 100 +
           static_cast<int>(unsigned(d.day()));
}

// Prices recorded on consecutive weekdays.
std::vector<DatedSale> OnWeekdays(const std::vector<double>& prices) {
    std::vector<DatedSale> sales;
    for (std::size_t i = 0; i < prices.size(); ++i)
        sales.push_back({Weekday(static_cast<int>(i)), prices[i]});
    return sales;
}

TEST(Hv20, SampleDeviationOfTheLastTwentyLogReturnsAnnualised) {
    std::vector<double> alternating, shifted;
    for (int i = 0; i < 20; ++i) {
        alternating.push_back(i % 2 ? 0.01 : -0.01);
        shifted.push_back(i % 2 ? 0.02 : 0.0);
    }
    // Returns +-0.01 about their mean: sample variance 20 * 0.0001 / 19, so
    // HV20 = 100 * sqrt(252) * 0.01 * sqrt(20 / 19) = sqrt(5040 / 19).
    const double hand = std::sqrt(5040.0 / 19);
    EXPECT_NEAR(hand, 16.28690, 1e-5);

    std::vector<double> longer = Prices(100, alternating);
    longer.insert(longer.begin(), {1.0, 500.0});  // older days, outside the 20 returns
    std::vector<double> zeroBefore = Prices(100, alternating);
    zeroBefore.insert(zeroBefore.begin(), 0.0);
    std::vector<double> zeroInside = Prices(100, alternating);
    zeroInside[5] = 0;
    std::vector<double> negative = Prices(100, alternating);
    negative[20] = -3;
    std::vector<double> flat(21, 42.0);

    const struct {
        const char* name;
        std::vector<double> prices;
        std::optional<double> hv;
    } rows[] = {
        {"21 prices", Prices(100, alternating), hand},
        {"the mean return is taken out", Prices(37.5, shifted), hand},
        {"only the last 21 prices count", longer, hand},
        {"a zero price before them does not count", zeroBefore, hand},
        {"a steady price: 0", flat, 0.0},
        {"20 prices: nothing", std::vector<double>(flat.begin() + 1, flat.end()), std::nullopt},
        {"a zero price among them: nothing", zeroInside, std::nullopt},
        {"a negative last price: nothing", negative, std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::optional<double> hv = Hv20(OnWeekdays(row.prices));
        ASSERT_EQ(hv.has_value(), row.hv.has_value());
        if (row.hv) {
            EXPECT_NEAR(*hv, *row.hv, 1e-9);
        }
    }
}

TEST(Hv20, ReturnsAcrossAGapCountByTheTradingDaysTheySpan) {
    const struct {
        int from, to;
        std::optional<int> days;
    } spans[] = {
        {20261204, 20261207, 1},  // Friday to Monday
        {20261203, 20261207, 1},  // Thursday to Monday: a holiday Friday
        {20261202, 20261207, 3},  // Wednesday to Monday: five days, a gap
        {20261204, 20261211, 5},  // a week
        {20261204, 20261215, 7},  // Friday to Tuesday a week later
        {20261207, 20261207, std::nullopt},
        {20261208, 20261207, std::nullopt},
        {20261232, 20270104, std::nullopt},
    };
    for (const auto& s : spans) {
        SCOPED_TRACE(s.to);
        EXPECT_EQ(TradingDaysBetween(s.from, s.to), s.days);
    }
    // Days that do not rise, or cannot be read, give no HV20.
    std::vector<DatedSale> sales = OnWeekdays(std::vector<double>(21, 40.0));
    ASSERT_EQ(Hv20(sales), 0.0);
    sales.back().Day = sales[sales.size() - 2].Day;
    EXPECT_FALSE(Hv20(sales)) << "two sales on one day";
}

TEST(Hv20, WeeklySnapshotsMeasureTheVolatilityOfTheDailyPath) {
    // Twenty years of weekdays of a stock whose volatility is 16 %, recorded
    // every day and, once a week, on Fridays. Annualising weekly returns as
    // daily ones would read 16 * sqrt(5), about 36.
    std::mt19937_64 bits(20261210);
    const auto normal = [&bits] {
        const double u1 = (static_cast<double>(bits() >> 11) + 1) * 0x1.0p-53;
        const double u2 = static_cast<double>(bits() >> 11) * 0x1.0p-53;
        return std::sqrt(-2 * std::log(u1)) * std::cos(2 * 3.141592653589793 * u2);
    };
    const double daily = 0.16 / std::sqrt(252.0);
    std::vector<DatedSale> days, weeks;
    double price = 50;
    for (int n = 0; n < 20 * 260; ++n) {
        price *= std::exp(daily * normal() - daily * daily / 2);
        days.push_back({Weekday(n), price});
        if (n % 5 == 4) weeks.push_back(days.back());
    }
    const auto meanHv20 = [](const std::vector<DatedSale>& sales) {
        double sum = 0;
        int count = 0;
        for (std::size_t end = 21; end <= sales.size(); ++end) {
            const std::optional<double> hv =
                Hv20(std::vector<DatedSale>(sales.begin() + static_cast<long>(end - 21),
                                            sales.begin() + static_cast<long>(end)));
            EXPECT_TRUE(hv);
            sum += hv.value_or(0);
            ++count;
        }
        return sum / count;
    };
    EXPECT_NEAR(meanHv20(days), 16, 0.6);
    EXPECT_NEAR(meanHv20(weeks), 16, 1.2);
}

}  // namespace
}  // namespace quillon
