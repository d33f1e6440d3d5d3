#include "analytics/iv_history.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "analytics/pricing.h"
#include "platform/civil_day.h"

namespace quillon {

namespace {

constexpr int kIv30Days = 30;
constexpr int kMinStandingDays = 20;
constexpr int kHvReturns = 20;
constexpr double kTradingDaysPerYear = 252;
// Recorded days further apart than this (a weekend and a holiday) are a gap
// in the record, not the next trading day.
constexpr int kLongestTradingGap = 4;
// The calendar counts to the Saturday after the expiration Friday; listed
// options stop trading, and expire, at that Friday's close.
constexpr int kFridayBeforeSaturday = 1;

bool Usable(float price) {
    return std::isfinite(price) && price > 0;
}

// Years to an expiration, measured as the pricing measures them: days times
// 1/365, rounded to float. Thirty days measured the same way make a month
// exactly 30 days out give its own volatility.
double Years(int days) {
    return static_cast<double>(static_cast<float>(days * (1.0 / 365)));
}

// The price an option is solved from: the bid-ask midpoint, or the last
// price where the bid or the ask is missing; 0 when there is none.
float MarketPrice(const Iv30Option& o) {
    if (Usable(o.Bid) && Usable(o.Ask))
        return static_cast<float>((static_cast<double>(o.Bid) + o.Ask) * 0.5);
    return Usable(o.Last) ? o.Last : 0.0f;
}

struct Quoted {
    float Strike;
    float Price;
};

// The at-the-money volatility of one side of one month: linear in strike
// between the nearest strike at or below the stock price whose quote solves
// and the nearest at or above it. The strikes are solved outwards from the
// stock price and only until each side has one: a scan records every stock,
// and solving all of a month's strikes would cost more than the rest of the
// record. Nothing without both.
std::optional<double> AtTheMoney(std::vector<Quoted> quotes, PricingInputs pricing, bool isPut) {
    const float stock = pricing.StockPrice;
    std::sort(quotes.begin(), quotes.end(),
              [](const Quoted& a, const Quoted& b) { return a.Strike < b.Strike; });
    auto solve = [&](const Quoted& q) {
        pricing.StrikePrice = q.Strike;
        return ImpliedVolatility(pricing, isPut, q.Price);
    };
    std::optional<Quoted> lo, hi;
    std::optional<double> loVol, hiVol;
    for (auto q = quotes.rbegin(); q != quotes.rend() && !loVol; ++q) {
        if (q->Strike > stock) continue;
        const float iv = solve(*q);
        if (iv > 0) {
            lo = *q;
            loVol = iv;
        }
    }
    for (auto q = quotes.begin(); q != quotes.end() && !hiVol; ++q) {
        if (q->Strike < stock) continue;
        const float iv = lo && q->Strike == lo->Strike ? static_cast<float>(*loVol) : solve(*q);
        if (iv > 0) {
            hi = *q;
            hiVol = iv;
        }
    }
    if (!lo || !hi) return std::nullopt;
    if (lo->Strike == hi->Strike) return loVol;
    const double w =
        (static_cast<double>(stock) - lo->Strike) / (static_cast<double>(hi->Strike) - lo->Strike);
    return *loVol + (*hiVol - *loVol) * w;
}

struct MonthVols {
    int Days = 0;
    std::optional<double> Calls, Puts, Both;
};

std::optional<double> Average(const std::optional<double>& a, const std::optional<double>& b) {
    if (a && b) return (*a + *b) * 0.5;
    return a ? a : b;
}

// The volatility 30 days out from the two months' volatilities, by
// interpolating total variance (sigma^2 T) linearly in time; flat outside
// the two months, and a single month's volatility when the other has none.
std::optional<double> ThirtyDay(const MonthVols& near, const MonthVols& next,
                                std::optional<double> MonthVols::*side) {
    const std::optional<double>& s1 = near.*side;
    const std::optional<double>& s2 = next.*side;
    if (!s1 || !s2) return s1 ? s1 : s2;
    const double t1 = Years(near.Days);
    const double t2 = Years(next.Days);
    const double t = Years(kIv30Days);
    if (t <= t1) return s1;
    if (t >= t2) return s2;
    const double v1 = *s1 * *s1 * t1;
    const double v2 = *s2 * *s2 * t2;
    return std::sqrt(((t2 - t) * v1 + (t - t1) * v2) / ((t2 - t1) * t));
}

}  // namespace

Iv30Result ComputeIv30(const Iv30Inputs& in) {
    Iv30Result result;
    // A stock price of 0 or less prices every option at its floor, and the
    // solver answers its ceiling for any quote: no volatility to report.
    if (!Usable(in.StockPrice)) return result;

    std::vector<int> months;
    for (const Iv30Option& o : in.Options) {
        if (o.DaysToGo > 0) months.push_back(o.DaysToGo);
    }
    std::sort(months.begin(), months.end());
    months.erase(std::unique(months.begin(), months.end()), months.end());

    PricingInputs pricing;
    pricing.StockPrice = in.StockPrice;
    pricing.InterestRate = in.InterestRate;
    pricing.DividendYield = in.DividendYield;

    // The two nearest months with a volatility at the money on either side;
    // a month whose options give none is passed over.
    std::vector<MonthVols> used;
    for (int days : months) {
        std::vector<Quoted> calls, puts;
        for (const Iv30Option& o : in.Options) {
            if (o.DaysToGo != days || !Usable(o.Strike)) continue;
            const float price = MarketPrice(o);
            if (price > 0) (o.IsPut ? puts : calls).push_back({o.Strike, price});
        }
        pricing.DaysToGo = days;
        MonthVols m;
        m.Days = days;
        m.Calls = AtTheMoney(std::move(calls), pricing, false);
        m.Puts = AtTheMoney(std::move(puts), pricing, true);
        m.Both = Average(m.Calls, m.Puts);
        if (!m.Both) continue;
        used.push_back(m);
        if (used.size() == 2) break;
    }
    if (used.empty()) return result;
    if (used.size() == 1) used.push_back(MonthVols{});

    result.DaysNear = used[0].Days;
    if (used[1].Days > 0) result.DaysNext = used[1].Days;
    result.Calls = ThirtyDay(used[0], used[1], &MonthVols::Calls);
    result.Puts = ThirtyDay(used[0], used[1], &MonthVols::Puts);
    result.Both = ThirtyDay(used[0], used[1], &MonthVols::Both);
    return result;
}

Iv30Inputs Iv30InputsOf(const QuoteRecord& quote, const OptionChain& chain,
                        const ZorInputs& inputs) {
    Iv30Inputs in;
    in.StockPrice = quote.LastSale;
    in.InterestRate = inputs.InterestRate;
    // The yield as ZOR prices with it: percent to a fraction.
    in.DividendYield = static_cast<float>(static_cast<double>(quote.YieldPercent) * 0.01);
    for (int type = 0; type < kOptionTypes; ++type) {
        for (int strike = 0; strike < kStrikeSlots; ++strike) {
            for (int month = 0; month < kFilledMonthSlots; ++month) {
                Iv30Option o;
                o.Strike = inputs.Strikes.StrikePrices[strike];
                o.IsPut = type == 1;
                o.Bid = chain.OptBid[type][strike][month];
                o.Ask = chain.OptAsk[type][strike][month];
                o.Last = chain.OptLast[type][strike][month];
                o.DaysToGo = inputs.Calendar.DaysToExpiration[month] - kFridayBeforeSaturday;
                in.Options.push_back(o);
            }
        }
    }
    return in;
}

IvStanding IvRankAndPercentile(const std::vector<double>& window) {
    IvStanding s;
    s.Days = static_cast<int>(window.size());
    if (s.Days < kMinStandingDays) return s;
    const double today = window.back();
    const auto [lo, hi] = std::minmax_element(window.begin(), window.end());
    // A window of one value throughout has no range: today is at its
    // bottom, as no day lies below it (the percentile is 0 too).
    s.Rank = *hi > *lo ? 100 * (today - *lo) / (*hi - *lo) : 0.0;
    const auto below =
        std::count_if(window.begin(), window.end(), [today](double x) { return x < today; });
    s.Percentile = 100.0 * static_cast<double>(below) / s.Days;
    return s;
}

std::optional<int> TradingDaysBetween(int from, int to) {
    const CivilDay a = CivilDay::FromNumber(from);
    const CivilDay b = CivilDay::FromNumber(to);
    if (!a.Valid() || !b.Valid()) return std::nullopt;
    const int start = a.Serial();
    const int end = b.Serial();
    const int gap = end - start;
    if (gap <= 0) return std::nullopt;
    if (gap <= kLongestTradingGap) return 1;
    // Whole weeks hold five weekdays each; the days left over are counted.
    int weekdays = gap / 7 * 5;
    for (int d = start + gap / 7 * 7 + 1; d <= end; ++d) {
        const int w = CivilDay::WeekDayOf(d);
        if (w != kSunday && w != kSaturday) ++weekdays;
    }
    return std::max(weekdays, 1);
}

std::optional<double> Hv20(const std::vector<DatedSale>& sales) {
    if (sales.size() < kHvReturns + 1) return std::nullopt;
    const auto first = sales.end() - (kHvReturns + 1);
    for (auto p = first; p != sales.end(); ++p) {
        if (!std::isfinite(p->Price) || p->Price <= 0) return std::nullopt;
    }
    // Each return with the trading days it spans. The drift and the variance
    // are per trading day: a return over n days has n times the variance of
    // a daily one, so it is weighed by 1/n (with n = 1 throughout this is
    // the plain sample variance).
    struct Spanned {
        double Return;
        double Days;
    };
    std::vector<Spanned> returns;
    double sum = 0;
    double days = 0;
    for (auto p = first + 1; p != sales.end(); ++p) {
        const std::optional<int> span = TradingDaysBetween((p - 1)->Day, p->Day);
        if (!span) return std::nullopt;
        returns.push_back({std::log(p->Price / (p - 1)->Price), static_cast<double>(*span)});
        sum += returns.back().Return;
        days += *span;
    }
    const double drift = sum / days;
    double squares = 0;
    for (const Spanned& r : returns) {
        const double off = r.Return - drift * r.Days;
        squares += off * off / r.Days;
    }
    return 100 * std::sqrt(kTradingDaysPerYear) * std::sqrt(squares / (kHvReturns - 1));
}

std::string StandingText(const std::optional<double>& value, int days) {
    if (!value || !std::isfinite(*value))
        return "n/a (" + std::to_string(days) + (days == 1 ? " day)" : " days)");
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", *value);
    return text;
}

}  // namespace quillon
