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
    int DaysToGo = 0;  // calendar days to the close of its last trading day
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

// IV30 of the options given. Each month (DaysToGo > 0) gets an
// at-the-money volatility per side: linear in strike between the nearest
// strikes at or below and at or above the stock price, from the implied
// volatilities of the bid-ask midpoints (the last price where the bid or
// the ask is missing). A side without such a pair has none; a month with
// neither side is passed over. The two nearest remaining months are then
// interpolated in variance-time to 30 days, flat outside them; one month
// alone gives its own volatility. Calls and puts are kept apart; Both
// interpolates each month's average of its sides (the one side where only
// one exists). Nothing at all for a stock price of 0 or less.
Iv30Result ComputeIv30(const Iv30Inputs& in);

// The options of the current chain (every strike slot, month slots 0 to 2)
// as IV30 inputs, with the stock's last sale and yield and the interest
// rate setting: what ComputeZOR reads. Each expires at the close of the
// calendar's expiration Friday, the day before the Saturday the calendar
// (and ZOR) count to.
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

// One recorded last sale and its day (YYYYMMDD: 20261209).
struct DatedSale {
    int Day = 0;
    double Price = 0;
};

// HV20: the annualised volatility of the last 20 returns of `sales` (oldest
// first), in volatility points. A return between recorded days at most 4
// calendar days apart (a weekend and one holiday) spans one trading day; a
// longer gap spans its weekdays, and its return counts by that spacing
// (variance per trading day, times 252), so that weekly snapshots measure
// the same volatility as daily ones. Nothing with fewer than 21 sales, a
// non-positive price among the last 21, or days that cannot be read or do
// not rise.
std::optional<double> Hv20(const std::vector<DatedSale>& sales);

// The trading days a return between recorded days `from` and `to` spans, as
// HV20 counts them; nothing when either day cannot be read or `to` is not
// after `from`.
std::optional<int> TradingDaysBetween(int from, int to);

// "n/a (k days)" ("n/a (1 day)") or the figure with one decimal: the report's text of a
// standing.
std::string StandingText(const std::optional<double>& value, int days);

}  // namespace quillon
