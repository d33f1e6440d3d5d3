// The option rows of the synthetic market: Black-Scholes prices from a
// volatility smile, quoted around the model price, with open interest and
// volume that fall off away from the money and in later months.

#include <algorithm>
#include <cmath>

#include "analytics/pricing.h"
#include "sim/market_sim.h"
#include "sim/market_sim_internal.h"

namespace quillon::sim {

namespace {

constexpr int kListedMonths = 4;    // the three nearest expirations and one further
constexpr int kFurtherStrikes = 2;  // beyond each end of the strike table

struct ListedStrike {
    float Price = 0;
    bool Near = false;  // one of the five strikes of the strike table
};

// How busy the stock's options are today, from a stream keyed by ticker,
// seed and date.
struct ChainProfile {
    // Open interest of an at-the-money option in the nearest month, per type.
    double BaseInterest[2] = {0, 0};
    double VolumeShare = 0;       // a day's volume against the open interest
    double Richness[2] = {0, 0};  // volatility added to a favoured type
};

ChainProfile DrawChainProfile(const SimStock& stock, Stream& r) {
    ChainProfile p;
    p.VolumeShare = r.Between(0.05, 0.3);
    if (stock.FavouredType < 0) {
        // Option interest follows the trading in the stock; puts a little
        // more or less than calls.
        p.BaseInterest[0] = stock.Volume / 1e4 * r.LogBetween(0.5, 2);
        p.BaseInterest[1] = p.BaseInterest[0] * r.LogBetween(0.5, 1.6);
        return p;
    }
    // One-sided: the other type keeps a thin interest (a few hundred
    // contracts near the money in all), the favoured one holds 12 to 30 times
    // as much at rich prices, so its ZOR outweighs the other's many times.
    const int favoured = stock.FavouredType;
    p.BaseInterest[1 - favoured] = r.Between(80, 200);
    p.BaseInterest[favoured] = p.BaseInterest[1 - favoured] * r.Between(12, 30);
    p.Richness[favoured] = r.Between(0.04, 0.12);
    return p;
}

// The next strike below or above a listed one, on the same ladder as the
// strike table: steps of 2.5 below 25 and of 5 from there on.
float StrikeBelow(float strike) {
    return strike - (strike >= 30 ? 5.0f : 2.5f);
}
float StrikeAbove(float strike) {
    return strike + (strike >= 25 ? 5.0f : 2.5f);
}

// The five strikes of the table and two further on each side. A further
// strike whose letter repeats one of the five (strike letters wrap every
// 100) would pass for that strike on the option page, so it is not listed.
std::vector<ListedStrike> ListedStrikes(const StrikeTable& table) {
    const auto& letters = table.StrikeLetters;
    auto listable = [&](float strike) {
        return strike > 2.5f &&
               std::find(letters.begin(), letters.end(), StrikeLetter(strike)) == letters.end();
    };
    std::vector<ListedStrike> strikes;
    float below = table.StrikePrices.front();
    for (int i = 0; i < kFurtherStrikes; ++i) {
        below = StrikeBelow(below);
        if (listable(below)) strikes.push_back({below, false});
    }
    std::reverse(strikes.begin(), strikes.end());
    for (float strike : table.StrikePrices)
        strikes.push_back({strike, true});
    float above = table.StrikePrices.back();
    for (int i = 0; i < kFurtherStrikes; ++i) {
        above = StrikeAbove(above);
        if (listable(above)) strikes.push_back({above, false});
    }
    return strikes;
}

// The root as the option page writes it: padded with blanks to three
// characters, so the month and strike letters are the symbol's last two.
std::string PaddedRoot(std::string root) {
    root.resize(std::max<std::size_t>(root.size(), 3), ' ');
    return root;
}

// The model volatility of an option: the smile around the money, tilted per
// type, plus the richness of a favoured type.
double SmileVolatility(const SimStock& stock, const ChainProfile& profile, int type,
                       double moneyness) {
    const double tilt = type == 0 ? stock.TypeTilt : -stock.TypeTilt;
    const double sigma = stock.BaseVolatility + stock.SmileCurvature * moneyness * moneyness +
                         stock.Skew * moneyness + tilt + profile.Richness[type];
    return std::max(0.05, sigma);
}

// The Black-Scholes value of an option at its smile volatility.
double ModelValue(const SimStock& stock, const ChainProfile& profile, int type, float strike,
                  int days) {
    PricingInputs in;
    in.StockPrice = stock.LastSale;
    in.StrikePrice = strike;
    in.DaysToGo = days;
    in.InterestRate = kInterestRate;
    in.DividendYield = static_cast<float>(stock.YieldPercent * 0.01);
    const double moneyness = std::log(strike / static_cast<double>(stock.LastSale));
    in.Volatility = static_cast<float>(SmileVolatility(stock, profile, type, moneyness));
    return OptionValue(in, type == 1);
}

// Contracts outstanding: most near the money and in the nearest month.
double DrawOpenInterest(const ChainProfile& profile, int type, int month, double moneyness,
                        Stream& r) {
    constexpr double kMonthWeight[kListedMonths] = {1.0, 0.75, 0.5, 0.3};
    const double nearness = 0.85 * std::exp(-std::pow(moneyness / 0.2, 2)) + 0.15;
    return std::round(profile.BaseInterest[type] * nearness * kMonthWeight[month] *
                      r.LogBetween(0.5, 2));
}

// A quote around the model value: bid and ask a few percent (at least a
// tick) either side, the last trade near the value, the change since the
// previous close; open interest and volume with some zeros and gaps.
void Quote(SimOption& row, double value, double tick, const ChainProfile& profile, double moneyness,
           Stream& r) {
    const double halfSpread = std::max(tick, value * r.Between(0.02, 0.06));
    row.Bid = std::max(0.0f, Down(value - halfSpread, tick));
    row.Ask = std::max(Up(value + halfSpread, tick), static_cast<float>(tick));
    if (row.Ask <= row.Bid) row.Ask = static_cast<float>(row.Bid + tick);
    if (!r.Chance(0.05)) {
        row.Last =
            std::max(Nearest(value * (1 + 0.04 * r.Normal()), tick), static_cast<float>(tick));
        row.Change = Nearest(value * 0.06 * r.Normal(), tick);
    }

    const double interest = DrawOpenInterest(profile, row.Type, row.Month, moneyness, r);
    if (r.Chance(0.04)) {
        row.OpenInterest = 0;
    } else if (!r.Chance(0.03)) {
        row.OpenInterest = static_cast<float>(interest);
    }
    if (r.Chance(0.25)) {
        row.Volume = 0;
    } else if (!r.Chance(0.03)) {
        row.Volume =
            static_cast<float>(std::round(interest * profile.VolumeShare * r.LogBetween(0.3, 3)));
    }
}

}  // namespace

std::vector<SimOption> Market::Options(const SimStock& stock) const {
    std::vector<SimOption> rows;
    if (!stock.ListsOptions || !(stock.LastSale > 0)) return rows;

    StrikeTable table;
    SelectStrikes(table, stock.LastSale);
    const std::uint64_t date = DateNumber(today_);
    Stream chainStream(Key(stock.Ticker, {seed_, date, kChainSalt}));
    const ChainProfile profile = DrawChainProfile(stock, chainStream);
    const std::string root = PaddedRoot(stock.OptionRoot);
    // Option prices move in sixteenths or in five-cent steps.
    const double tick = stock.QuotedInSixteenths ? 0.0625 : 0.05;

    const std::vector<ListedStrike> strikes = ListedStrikes(table);
    for (int month = 0; month < kListedMonths; ++month) {
        for (const ListedStrike& strike : strikes) {
            const auto cents = static_cast<std::uint64_t>(std::lround(strike.Price * 100.0));
            // Every near strike of the three nearest months is listed; the
            // others only now and then.
            Stream listing(Key(stock.Ticker,
                               {seed_, date, kRowSalt, static_cast<std::uint64_t>(month), cents}));
            if ((!strike.Near || month >= kFilledMonthSlots) && !listing.Chance(0.6)) continue;

            const double moneyness = std::log(strike.Price / static_cast<double>(stock.LastSale));
            for (int type = 0; type < 2; ++type) {
                Stream r(
                    Key(stock.Ticker, {seed_, date, kRowSalt, static_cast<std::uint64_t>(month),
                                       cents, static_cast<std::uint64_t>(type) + 1}));
                SimOption row;
                row.Type = type;
                row.Month = month;
                row.Strike = strike.Price;
                row.Symbol =
                    root + calendar_.MonthLetters[type][month] + StrikeLetter(strike.Price);

                const double value = ModelValue(stock, profile, type, strike.Price,
                                                calendar_.DaysToExpiration[month]);
                Quote(row, value, tick, profile, moneyness, r);
                rows.push_back(std::move(row));
            }
        }
    }
    return rows;
}

}  // namespace quillon::sim
