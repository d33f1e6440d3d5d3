#include "sim/market_sim.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "market/quote.h"
#include "platform/number_format.h"
#include "sim/market_sim_internal.h"
#include "sim/market_sim_universe.h"

namespace quillon::sim {

namespace {

// What stays from day to day for one stock, beside what SimStock shows.
struct Profile {
    double PriceLevel = 0;     // the price the daily quotes scatter around
    double AverageVolume = 0;  // shares a day
    double LowFactor = 0;      // 52-week low and high against the price level
    double HighFactor = 0;
    int DividendPhase = 0;  // day of the quarterly cycle that goes ex-dividend
};

constexpr int kDividendCycleDays = 91;

double Round2(double value) {
    return std::round(value * 100) / 100;
}

double PriceTick(const SimStock& stock) {
    return stock.QuotedInSixteenths ? 0.0625 : 0.01;
}

// Most stocks list options under the first three characters of the ticker;
// a short ticker is its own root, and some stocks use a two-letter root.
std::string RootOf(const std::string& ticker, bool twoLetters) {
    if (ticker.size() < 4) return ticker;
    return ticker.substr(0, twoLetters ? 2 : 3);
}

std::string PickExchange(Stream& r) {
    const double u = r.Uniform();
    return u < 0.45 ? "NYSE" : u < 0.9 ? "NASDAQ" : "AMEX";
}

// Earnings: a sixth of the stocks earn nothing or lose money; the others
// trade at a price/earnings ratio of 6 to 60.
float DrawEarnings(Stream& r, double priceLevel) {
    if (r.Chance(0.16)) return r.Chance(0.25) ? 0.0f : Nearest(-r.Between(0.02, 2.5), 0.01);
    return Nearest(priceLevel / r.Between(6, 60), 0.01);
}

// The stock's identity and option model, from a stream keyed by ticker and
// seed only.
Profile DrawIdentity(SimStock& s, Stream& r) {
    Profile p;
    p.PriceLevel = r.LogBetween(3, 450);
    p.AverageVolume = r.LogBetween(80e3, 30e6);
    p.LowFactor = r.Between(0.55, 0.9);
    p.HighFactor = r.Between(1.1, 1.8);
    p.DividendPhase = r.Below(kDividendCycleDays);

    s.QuotedInSixteenths = r.Chance(0.2);
    s.Exchange = PickExchange(r);
    // Cheap stocks swing more.
    // The draws in a fixed order: the order of a call's operands is the
    // compiler's choice, and the market must be the same whichever built it.
    s.BaseVolatility = r.Between(0.18, 0.45);
    if (p.PriceLevel < 15) s.BaseVolatility += r.Between(0.05, 0.25);
    s.SmileCurvature = r.Between(0.2, 1.2);
    s.Skew = r.Between(-0.35, 0.05);
    s.TypeTilt = r.Between(-0.015, 0.015);
    s.ListsOptions = r.Chance(0.97);
    s.OptionRoot = RootOf(s.Ticker, r.Chance(0.1));
    if (r.Chance(0.45))
        s.Dividend = std::max(0.01f, Nearest(p.PriceLevel * r.Between(0.005, 0.05), 0.01));
    s.EarningsPerShare = DrawEarnings(r, p.PriceLevel);
    // A day's trading turns over 0.25 % to 2.5 % of the shares.
    const double shares = p.AverageVolume * r.LogBetween(40, 400);
    s.SharesOutstanding = std::round(shares / 1000) * 1000;
    return p;
}

// The last ex-dividend date on or before `today`: every 91 days from the
// stock's phase.
std::string ExDividendText(const DateTime& today, int phase) {
    const int sinceEpoch = today.Date().Serial();
    const int back =
        ((sinceEpoch - phase) % kDividendCycleDays + kDividendCycleDays) % kDividendCycleDays;
    return CivilDay::FromSerial(sinceEpoch - back).SlashText();
}

// A time between the opening at 9:30 and the close at 4:00, as "3:58PM".
std::string DrawSaleTime(Stream& r) {
    const int minutes = 570 + r.Below(391);
    const int hour = minutes / 60;
    const int hour12 = hour % 12 == 0 ? 12 : hour % 12;
    return FormatArgs("%d:%02d%s", hour12, minutes % 60, hour < 12 ? "AM" : "PM");
}

// The day's prices: the previous close scattered around the price level, the
// day's move, the open, the range and the quote.
void DrawPrices(SimStock& s, const Profile& p, Stream& r) {
    const double tick = PriceTick(s);
    const double previous = std::max(
        1.0, static_cast<double>(Nearest(p.PriceLevel * std::exp(0.12 * r.Normal()), tick)));
    const double last =
        std::max(tick, static_cast<double>(Nearest(previous * (1 + 0.025 * r.Normal()), tick)));
    const double open = Nearest(previous * (1 + 0.008 * r.Normal()), tick);
    s.PreviousClose = static_cast<float>(previous);
    s.LastSale = static_cast<float>(last);
    s.OpenPrice = static_cast<float>(open);
    s.HighPrice = Up(std::max(open, last) * (1 + r.Between(0, 0.015)), tick);
    s.LowPrice = std::max(static_cast<float>(tick),
                          Down(std::min(open, last) * (1 - r.Between(0, 0.015)), tick));
    s.NetChange = static_cast<float>(last - previous);
    s.PercentChange = static_cast<float>(Round2((last - previous) / previous * 100));

    const int spreadTicks = 1 + r.Below(3);
    const double bid = Down(last - spreadTicks * tick * r.Uniform(), tick);
    s.Bid = static_cast<float>(std::max(tick, bid));
    s.Ask = static_cast<float>(s.Bid + spreadTicks * tick);
    const int askSize = 1 + r.Below(60);  // drawn first, as the installed programs always did
    const int bidSize = 1 + r.Below(60);
    s.BidAskSize = FormatArgs("%d X %d", bidSize, askSize);

    s.Low52Week = Down(std::min<double>(s.LowPrice, p.PriceLevel * p.LowFactor), tick);
    s.High52Week = Up(std::max<double>(s.HighPrice, p.PriceLevel * p.HighFactor), tick);
}

// The rest of the day's quote, from a stream keyed by ticker, seed and date.
void DrawDay(SimStock& s, const Profile& p, Stream& r, const DateTime& today) {
    DrawPrices(s, p, r);
    s.SaleTime = DrawSaleTime(r);
    const double volume = p.AverageVolume * r.LogBetween(0.5, 2);
    s.Volume = std::round(std::clamp(volume, 50e3, 50e6) / 100) * 100;
    s.HistVolatility = static_cast<float>(Round2(s.BaseVolatility * 100 * r.Between(0.85, 1.15)));
    s.LastTick = s.NetChange == 0 ? "EVEN" : r.Chance(0.5) ? "UP" : "DOWN";
    if (s.Dividend > 0) {
        s.YieldPercent =
            static_cast<float>(Round2(s.Dividend / static_cast<double>(s.LastSale) * 100));
        s.ExDividendDate = ExDividendText(today, p.DividendPhase);
    }
    const bool oneSided = r.Chance(0.1);
    const int favoured = r.Below(2);
    s.FavouredType = s.ListsOptions && oneSided ? favoured : -1;
}

// The chain slot of an option row, as the option page parser finds it: the
// month slot of its month letter among the three nearest months and the
// strike slot of its strike letter; false when either is not there.
bool FindSlot(const SimOption& row, const Context& context, int& strike, int& month) {
    if (row.Symbol.size() < 2) return false;
    const char monthLetter = row.Symbol[row.Symbol.size() - 2];
    const char strikeLetter = row.Symbol.back();
    const auto& months = context.calendar.MonthLetters[row.Type];
    const auto& strikes = context.strikes.StrikeLetters;
    const auto m = std::find(months.begin(), months.begin() + kFilledMonthSlots, monthLetter);
    const auto k = std::find(strikes.begin(), strikes.end(), strikeLetter);
    if (m == months.begin() + kFilledMonthSlots || k == strikes.end()) return false;
    month = static_cast<int>(m - months.begin());
    strike = static_cast<int>(k - strikes.begin());
    return true;
}

void CopyRecord(const SimStock& s, QuoteRecord& q) {
    q.CompanyName = s.CompanyName;
    // Received pages are upper-cased before they are read.
    for (char& c : q.CompanyName)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    q.LastTick = s.LastTick;
    q.Exchange = s.Exchange;
    q.LastSale = s.LastSale;
    q.SaleTime = s.SaleTime;
    q.OpenPrice = s.OpenPrice;
    q.HighPrice = s.HighPrice;
    q.LowPrice = s.LowPrice;
    q.Volume = s.Volume;
    q.Bid = s.Bid;
    q.Ask = s.Ask;
    q.BidAskSize = s.BidAskSize;
    q.NetChange = s.NetChange;
    q.PercentChange = s.PercentChange;
    q.PreviousClose = s.PreviousClose;
    q.High52Week = s.High52Week;
    q.Low52Week = s.Low52Week;
    q.HistVolatility = s.HistVolatility;
    q.ExDividendDate = s.ExDividendDate;
    q.Dividend = s.Dividend;
    q.EarningsPerShare = s.EarningsPerShare;
    q.PriceEarnings = PriceEarningsRatio(s.LastSale, s.EarningsPerShare);
    q.YieldPercent = s.YieldPercent;
    q.SharesOutstanding = s.SharesOutstanding;
}

}  // namespace

Market::Market(std::uint64_t seed, DateTime today) : seed_(seed), today_(today) {
    BuildExpirationCalendar(calendar_, today_);
    for (const Listing& listing : Listings())
        universe_.emplace_back(listing.Ticker);
}

std::optional<SimStock> Market::Stock(std::string_view ticker) const {
    const std::span<const Listing> listings = Listings();
    const auto it = std::lower_bound(
        listings.begin(), listings.end(), ticker,
        [](const Listing& listing, std::string_view t) { return listing.Ticker < t; });
    if (it == listings.end() || it->Ticker != ticker) return std::nullopt;

    SimStock stock;
    stock.Ticker = it->Ticker;
    stock.CompanyName = it->CompanyName;
    Stream identity(Key(ticker, {seed_, kIdentitySalt}));
    const Profile profile = DrawIdentity(stock, identity);
    Stream day(Key(ticker, {seed_, DateNumber(today_), kDaySalt}));
    DrawDay(stock, profile, day, today_);
    return stock;
}

float PriceEarningsRatio(float lastSale, float earningsPerShare) {
    constexpr float kNotAvailable = 100000;
    if (std::fabs(earningsPerShare) < 0.001f) return kNotAvailable;
    const float ratio = static_cast<float>(static_cast<double>(lastSale) / earningsPerShare);
    return ratio > kNotAvailable ? kNotAvailable : ratio;
}

void FillQuoteState(const SimStock& stock, const std::vector<SimOption>& options,
                    Context& context) {
    QuoteState& state = context.quote;
    ResetQuote(state);
    BuildExpirationCalendar(context.calendar, context.clock.Now());
    state.Ticker = stock.Ticker;
    CopyRecord(stock, state.Quote);
    SelectStrikes(context.strikes, state.Quote.LastSale);
    state.HaveStockData = true;
    state.HaveOptionData = false;

    OptionChain& chain = state.Chain;
    for (const SimOption& row : options) {
        int strike = 0;
        int month = 0;
        if (!FindSlot(row, context, strike, month)) continue;
        const int type = row.Type;
        chain.OptSymbol[type][strike][month] = row.Symbol;
        chain.OptLast[type][strike][month] = row.Last;
        chain.OptColumn2[type][strike][month] = row.Change;
        chain.OptBid[type][strike][month] = row.Bid;
        chain.OptAsk[type][strike][month] = row.Ask;
        chain.OptVolume[type][strike][month] = row.Volume;
        chain.OptOpenInterest[type][strike][month] = row.OpenInterest;
        // The option page names the root: a short ticker is its own root,
        // otherwise the first row gives it (a two-letter root with its blank).
        if (!state.HaveOptionData) {
            state.Quote.OptionRoot =
                stock.Ticker.size() < 4 ? stock.Ticker : row.Symbol.substr(0, 3);
        }
        state.HaveOptionData = true;
    }
}

}  // namespace quillon::sim
