#pragma once
// The figures the history keeps of a stock on a date: IV30 (the 30-day
// at-the-money implied volatility, from the options a pass reads), where
// today's IV30 stands in a window of past days (IV rank and IV percentile),
// and HV20 (the volatility of the last 20 daily returns of the last sale).
// Every volatility here is in volatility points: 31.5 means 31.5 %.

#include <optional>
#include <string>
#include <vector>

#include "analytics/zor.h"
#include "market/quote.h"

namespace quillon {

// One option as IV30 reads it. A bid, ask or last of 0 or less is missing.
struct Iv30Option {
    float Strike = 0;
    bool IsPut = false;
    float Bid = 0;
    float Ask = 0;
    float Last = 0;
    int DaysToGo = 0;  // calendar days to expiration
};

struct Iv30Inputs {
    float StockPrice = 0;     // the last sale, dollars
    float InterestRate = 0;   // fraction per year
    float DividendYield = 0;  // fraction per year
    std::vector<Iv30Option> Options;
};

struct Iv30Result {
    std::optional<double> Both, Calls, Puts;  // volatility points (31.5 = 31.5 %)
    std::optional<int> DaysNear, DaysNext;    // the two months used
};

// IV30 of the options given. In each of the two nearest months (DaysToGo >
// 0) the at-the-money volatility is interpolated linearly in strike between
// the two strikes around the stock price, from the implied volatilities of
// the bid-ask midpoints (the last price where bid or ask is missing); the
// two months are then interpolated in variance-time to 30 days, flat
// outside them. Calls and puts are worked separately; Both is their
// average, or the one that exists.
Iv30Result ComputeIv30(const Iv30Inputs& in);

// The options of the current chain (every strike slot, month slots 0 to 2)
// as IV30 inputs, with the stock's last sale and yield and the interest
// rate setting: what ComputeZOR reads.
Iv30Inputs Iv30InputsOf(const QuoteRecord& quote, const OptionChain& chain,
                        const ZorInputs& inputs);

struct IvStanding {
    std::optional<double> Rank, Percentile;
    int Days = 0;  // days in the window
};

// `window`: IV30 of the last N trading days, oldest first, today's last (N =
// 252, 126 or 63; fewer when the history is shorter). Rank and Percentile
// are nothing with fewer than 20 days. Rank is 0 when every day of the
// window has the same IV30.
IvStanding IvRankAndPercentile(const std::vector<double>& window);

// 100 * sqrt(252) * sample standard deviation of the last 20 daily log
// returns of `lastSales` (oldest first); nothing with fewer than 21 prices
// or a non-positive price among the last 21.
std::optional<double> Hv20(const std::vector<double>& lastSales);

// "n/a (k days)" or the figure with one decimal: the report's text of a
// standing.
std::string StandingText(const std::optional<double>& value, int days);

}  // namespace quillon
