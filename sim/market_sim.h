#pragma once
// A deterministic synthetic stock and option market, for the demo quote
// service, end-to-end tests and benchmarks. The same seed and date always
// give the same market: every figure comes from hashes of the ticker, the
// seed and the date, never from the machine.
//
// A stock's identity (name, price level, volatility model, dividend,
// earnings, option root) depends on the ticker and the seed; the day's quote
// and option chain depend on the date as well.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analytics/calendar.h"
#include "platform/clock.h"
#include "scan/context.h"

namespace quillon::sim {

// The interest rate the market prices its options with, the same as the
// default setting, so implied volatilities come out near the model's.
inline constexpr float kInterestRate = 0.05f;

// Everything a stock quote page shows, plus the model behind its options.
struct SimStock {
    std::string Ticker;
    std::string CompanyName;  // at most 36 characters, mixed case
    std::string Exchange;
    float LastSale = 0;
    std::string SaleTime;  // "3:58PM"
    float OpenPrice = 0;
    float HighPrice = 0;
    float LowPrice = 0;
    double Volume = 0;  // shares, a whole number
    float Bid = 0;
    float Ask = 0;
    std::string BidAskSize;  // "12 X 8", hundreds of shares
    float NetChange = 0;
    float PercentChange = 0;  // percent
    float PreviousClose = 0;
    float High52Week = 0;
    float Low52Week = 0;
    float HistVolatility = 0;    // percent
    std::string ExDividendDate;  // "M/D/YYYY", empty for a stock without dividend
    float Dividend = 0;          // indicated annual dividend, dollars
    float EarningsPerShare = 0;  // may be 0 or negative
    float YieldPercent = 0;
    double SharesOutstanding = 0;  // shares, whole thousands
    std::string LastTick;          // "UP", "DOWN" or "EVEN"

    // The option model.
    double BaseVolatility = 0;  // fraction per year at the money
    double SmileCurvature = 0;  // added per squared log-moneyness
    double Skew = 0;            // added per log-moneyness; negative: low strikes dearer
    double TypeTilt = 0;        // added to the calls' volatility, taken from the puts'
    bool ListsOptions = false;
    // The root as listed: the ticker itself when shorter than four
    // characters, otherwise its first three characters or, for some stocks,
    // its first two.
    std::string OptionRoot;
    // -1 for a normal chain; 0 or 1 when the calls or the puts carry nearly
    // all the open interest at rich prices, so the stock stands out.
    int FavouredType = -1;
    bool QuotedInSixteenths = false;  // prices in sixteenths rather than cents

    bool operator==(const SimStock&) const = default;
};

// One row of a stock's option page.
struct SimOption {
    int Type = 0;   // 0 call, 1 put
    int Month = 0;  // index into the expiration calendar: 0 to 2, or 3 for a further month
    float Strike = 0;
    // Root padded with blanks to three characters, month letter, strike
    // letter: "ABCAH", "AB AH", "F  AH".
    std::string Symbol;
    float Last = -1;  // -1: no value
    float Change = -1;
    float Bid = -1;
    float Ask = -1;
    float Volume = -1;  // contracts
    float OpenInterest = -1;

    bool operator==(const SimOption&) const = default;
};

class Market {
  public:
    Market(std::uint64_t seed, DateTime today);

    // Every ticker of the market, sorted and unique.
    const std::vector<std::string>& Universe() const { return universe_; }

    // The stock's quote for the market's date; nothing for an unknown ticker.
    std::optional<SimStock> Stock(std::string_view ticker) const;

    // The stock's option rows: calls and puts at the five strikes around its
    // last sale in the three nearest expiration months, and a few rows of
    // further strikes and of the fourth month. Empty when it lists none.
    std::vector<SimOption> Options(const SimStock& stock) const;

    const ExpirationCalendar& Calendar() const { return calendar_; }
    const DateTime& Today() const { return today_; }

  private:
    std::uint64_t seed_;
    DateTime today_;
    ExpirationCalendar calendar_;
    std::vector<std::string> universe_;
};

// The price/earnings ratio of a stock quote: 100000 (not available) when the
// earnings are below 0.001 in size; otherwise price over earnings, capped at
// 100000 (a negative ratio stays).
float PriceEarningsRatio(float lastSale, float earningsPerShare);

// Loads a stock and its option rows into the current quote as a server scan
// would leave it after both pages: the record reset for today's date (from
// the context's clock) and filled, texts in upper case as received; the
// strike table built from the last sale; the rows whose month and strike
// letters fall in the calendar's three nearest months and the strike table
// stored in the chain; the option root as the option page gives it.
void FillQuoteState(const SimStock& stock, const std::vector<SimOption>& options, Context& context);

}  // namespace quillon::sim
