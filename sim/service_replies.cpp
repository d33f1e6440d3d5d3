#include "sim/service_replies.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <utility>

#include "fetch/market_time.h"
#include "ingest/import_book.h"
#include "platform/number_format.h"
#include "sim/service_replies_internal.h"

namespace quillon::sim {

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::int64_t kSecondsPerHour = 3600;

// The largest strike a contract symbol's eight digits hold (in thousandths).
constexpr long long kLargestStrikeThousandths = 99999999;

// --------------------------------------------------------------- JSON text

// Compact JSON, written in order: a comma goes before every key or value
// that follows another in the same object or array.
class JsonWriter {
  public:
    JsonWriter& Open(char bracket) {
        Separate();
        out_ += bracket;
        comma_ = false;
        return *this;
    }
    JsonWriter& Close(char bracket) {
        out_ += bracket;
        comma_ = true;
        return *this;
    }
    JsonWriter& Key(std::string_view key) {
        Separate();
        AppendString(key);
        out_ += ':';
        comma_ = false;
        return *this;
    }
    JsonWriter& Text(std::string_view text) {
        Separate();
        AppendString(text);
        comma_ = true;
        return *this;
    }
    // A 32-bit figure in its shortest decimal text, so that reading it back
    // as a float gives the same float; always with a point or an exponent
    // ("5.0"), as the services write their floats. Not finite: null.
    JsonWriter& Figure(float value) {
        Separate();
        comma_ = true;
        if (!std::isfinite(value)) {
            out_ += "null";
            return *this;
        }
        std::array<char, 32> buffer;
        const auto written = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
        const std::string_view text(buffer.data(),
                                    static_cast<std::size_t>(written.ptr - buffer.data()));
        out_ += text;
        if (text.find_first_of(".e") == std::string_view::npos) out_ += ".0";
        return *this;
    }
    JsonWriter& Integer(long long value) {
        Separate();
        out_ += FormatInteger(value);
        comma_ = true;
        return *this;
    }
    JsonWriter& Null() {
        Separate();
        out_ += "null";
        comma_ = true;
        return *this;
    }
    std::string Take() { return std::move(out_); }

  private:
    void Separate() {
        if (comma_) out_ += ',';
    }
    // Texts are 8-bit (Latin-1): a byte past ASCII is written as its \u
    // escape, so the reply stays valid UTF-8 JSON whatever a name holds.
    void AppendString(std::string_view text) {
        static constexpr char kHex[] = "0123456789abcdef";
        out_ += '"';
        for (char c : text) {
            const auto byte = static_cast<unsigned char>(c);
            if (c == '"' || c == '\\') {
                out_ += '\\';
                out_ += c;
            } else if (byte < 0x20 || byte >= 0x7f) {
                out_ += "\\u00";
                out_ += kHex[byte >> 4];
                out_ += kHex[byte & 0xf];
            } else {
                out_ += c;
            }
        }
        out_ += '"';
    }

    std::string out_;
    bool comma_ = false;
};

// ------------------------------------------------------------------- times

// Seconds since 1970 UTC of a US Eastern wall time. Daylight time is tried
// first, so the hour that repeats when the clocks go back is taken as its
// first (daylight) occurrence; a wall time in the hour skipped in spring
// is taken as standard time.
std::int64_t UtcSecondsOfEastern(const DateTime& eastern) {
    const std::int64_t wall = fetch::UtcSeconds(eastern);
    const std::int64_t daylight = wall + 4 * kSecondsPerHour;
    if (fetch::EasternDaylightTime(daylight)) return daylight;
    return wall + 5 * kSecondsPerHour;
}

std::string TwoDigits(int value) {
    return FormatZeroFilled(value, 2);
}

// "YYYY-MM-DD" + separator + "HH:MM:SS".
std::string DateTimeText(const DateTime& time, char separator) {
    return time.Date().IsoText() + separator + TwoDigits(time.Hour) + ':' + TwoDigits(time.Minute) +
           ':' + TwoDigits(time.Second);
}

std::string UtcText(std::int64_t utcSeconds) {
    const CivilDay day = CivilDay::FromSerial(static_cast<int>(utcSeconds / kSecondsPerDay));
    const auto rest = static_cast<int>(utcSeconds % kSecondsPerDay);
    return DateTimeText({day.Year, day.Month, day.Day, rest / 3600, rest / 60 % 60, rest % 60},
                        ' ');
}

long long EpochMilliseconds(const DateTime& eastern) {
    return UtcSecondsOfEastern(eastern) * 1000;
}

// -------------------------------------------------------------- contracts

// The expiration date of each of the market's option months: the Friday
// before the calendar's expiration Saturday, which the importer maps back
// to the same month. The fourth month (3) is listed too, at the Friday
// before the calendar's own fourth expiration Saturday (the third Friday
// of the month after the third), where the made-up market prices it; the
// scan then leaves it out as beyond its three months, as it would a real
// chain's later months.
std::array<CivilDay, kFilledMonthSlots + 1> MonthExpirations(const CivilDay& marketDate) {
    const import::ImportCalendar calendar = import::MakeImportCalendar(marketDate);
    std::array<CivilDay, kFilledMonthSlots + 1> dates{};
    for (int k = 0; k < kFilledMonthSlots; ++k)
        dates[static_cast<std::size_t>(k)] =
            calendar.saturdays[static_cast<std::size_t>(k)].Plus(-1);
    const auto& days = calendar.calendar.DaysToExpiration;
    dates[kFilledMonthSlots] =
        calendar.saturdays[0].Plus(days[kFilledMonthSlots] - days[0]).Plus(-1);
    return dates;
}

// An option with its contract: the rows a reply lists.
struct Contract {
    const SimOption* option = nullptr;
    CivilDay expiration;
    std::string symbol;  // "ACME261218C00045000"
};

// The options that have a contract symbol, sorted as the exchange lists
// them: by expiration, then strike, the call before the put. Left out: a
// month index outside 0 to 3 and a strike that is not positive or does not
// fit the symbol's eight digits.
std::vector<Contract> Contracts(const SimStock& stock, const std::vector<SimOption>& options,
                                const CivilDay& marketDate) {
    const auto expirations = MonthExpirations(marketDate);
    std::vector<Contract> contracts;
    for (const SimOption& option : options) {
        const long long thousandths = std::llround(static_cast<double>(option.Strike) * 1000.0);
        if (option.Month < 0 || option.Month > kFilledMonthSlots || thousandths <= 0 ||
            thousandths > kLargestStrikeThousandths || (option.Type != 0 && option.Type != 1)) {
            continue;
        }
        const CivilDay expiration = expirations[static_cast<std::size_t>(option.Month)];
        std::string symbol = stock.Ticker + FormatZeroFilled(expiration.Year % 100, 2) +
                             TwoDigits(expiration.Month) + TwoDigits(expiration.Day) +
                             (option.Type == 0 ? 'C' : 'P') + FormatZeroFilled(thousandths, 8);
        contracts.push_back({&option, expiration, std::move(symbol)});
    }
    std::stable_sort(contracts.begin(), contracts.end(), [](const Contract& a, const Contract& b) {
        if (a.expiration != b.expiration) return a.expiration < b.expiration;
        if (a.option->Strike != b.option->Strike) return a.option->Strike < b.option->Strike;
        return a.option->Type < b.option->Type;
    });
    return contracts;
}

// A count the made-up market may lack (-1): the services always write one.
float Count(float value) {
    return value > 0 ? value : 0;
}

bool Traded(const SimOption& option) {
    return option.Last > 0;
}

// The change of a traded option as it stands: beside a last price, -1 is a
// fall of a dollar (the option page shows it so), not a missing value.
float ChangeOf(const SimOption& option) {
    return Traded(option) ? option.Change : 0;
}

// The previous close behind a traded option's change.
float PreviousCloseOf(const SimOption& option) {
    return Traded(option) ? option.Last - ChangeOf(option) : 0;
}

float PercentOf(float change, float base) {
    return base > 0 ? static_cast<float>(static_cast<double>(change) / base * 100.0) : 0;
}

std::string_view TickOf(float change) {
    return change > 0 ? "up" : change < 0 ? "down" : "no_change";
}

// The two sizes of "12 X 8"; 0 where the text has none.
std::pair<long long, long long> Sizes(const std::string& bidAskSize) {
    long long bid = 0, ask = 0;
    const std::size_t x = bidAskSize.find('X');
    if (x == std::string::npos) return {0, 0};
    const std::string_view left = std::string_view(bidAskSize).substr(0, x);
    const std::string_view right = std::string_view(bidAskSize).substr(x + 1);
    auto read = [](std::string_view text, long long& out) {
        const std::size_t first = text.find_first_not_of(' ');
        if (first == std::string_view::npos) return;
        std::from_chars(text.data() + first, text.data() + text.size(), out);
    };
    read(left, bid);
    read(right, ask);
    return {bid, ask};
}

std::string_view StockTick(const SimStock& stock) {
    if (stock.LastTick == "UP") return "up";
    if (stock.LastTick == "DOWN") return "down";
    return "no_change";
}

long long WholeVolume(double volume) {
    return volume > 0 ? std::llround(volume) : 0;
}

// ---------------------------------------------------------- the exchange

void ExchangeOptionRow(JsonWriter& json, const Contract& contract, const DateTime& eastern) {
    const SimOption& o = *contract.option;
    const float bid = Count(o.Bid), ask = Count(o.Ask), volume = Count(o.Volume);
    const float change = ChangeOf(o), previous = PreviousCloseOf(o);
    // Open, high and low are 0 on a day without trades.
    const float dayPrice = Traded(o) && volume > 0 ? o.Last : 0;
    json.Open('{');
    json.Key("option").Text(contract.symbol);
    json.Key("bid").Figure(bid);
    json.Key("bid_size").Figure(bid > 0 ? 10 : 0);
    json.Key("ask").Figure(ask);
    json.Key("ask_size").Figure(ask > 0 ? 10 : 0);
    json.Key("iv").Figure(0);
    json.Key("open_interest").Figure(Count(o.OpenInterest));
    json.Key("volume").Figure(volume);
    for (const char* greek : {"delta", "gamma", "vega", "theta", "rho", "theo"})
        json.Key(greek).Figure(0);
    json.Key("change").Figure(change);
    json.Key("open").Figure(dayPrice);
    json.Key("high").Figure(dayPrice);
    json.Key("low").Figure(dayPrice);
    json.Key("tick").Text(TickOf(change));
    // A contract that never traded: 0.0 and no time.
    json.Key("last_trade_price").Figure(Traded(o) ? o.Last : 0);
    json.Key("last_trade_time");
    if (Traded(o)) {
        json.Text(DateTimeText(eastern, 'T'));
    } else {
        json.Null();
    }
    json.Key("percent_change").Figure(PercentOf(change, previous));
    json.Key("prev_day_close").Figure(previous);
    json.Close('}');
}

// --------------------------------------------------------------- Tradier

void TradierQuote(JsonWriter& json, const SimStock& s, const DateTime& eastern) {
    const long long when = EpochMilliseconds(eastern);
    const auto [bidSize, askSize] = Sizes(s.BidAskSize);
    const std::string exchange = s.Exchange.empty() ? "Q" : s.Exchange.substr(0, 1);
    json.Open('{');
    json.Key("symbol").Text(s.Ticker);
    json.Key("description").Text(s.CompanyName);
    json.Key("exch").Text(exchange);
    json.Key("type").Text("stock");
    json.Key("last").Figure(s.LastSale);
    json.Key("change").Figure(s.NetChange);
    json.Key("volume").Integer(WholeVolume(s.Volume));
    json.Key("open").Figure(s.OpenPrice);
    json.Key("high").Figure(s.HighPrice);
    json.Key("low").Figure(s.LowPrice);
    json.Key("close").Null();  // null until the day's close is settled
    json.Key("bid").Figure(s.Bid);
    json.Key("ask").Figure(s.Ask);
    json.Key("change_percentage").Figure(s.PercentChange);
    json.Key("average_volume").Integer(WholeVolume(s.Volume));
    json.Key("last_volume").Integer(100);
    json.Key("trade_date").Integer(when);
    json.Key("prevclose").Figure(s.PreviousClose);
    json.Key("week_52_high").Figure(s.High52Week);
    json.Key("week_52_low").Figure(s.Low52Week);
    json.Key("bidsize").Integer(bidSize);
    json.Key("bidexch").Text(exchange);
    json.Key("bid_date").Integer(when);
    json.Key("asksize").Integer(askSize);
    json.Key("askexch").Text(exchange);
    json.Key("ask_date").Integer(when);
    json.Key("root_symbols").Text(s.Ticker);
    json.Close('}');
}

// "ACME Dec 18 2026 $45.00 Call".
std::string ContractDescription(const SimStock& stock, const Contract& contract) {
    const CivilDay& e = contract.expiration;
    return stock.Ticker + ' ' + std::string(MonthName(e.Month)) + ' ' + FormatInteger(e.Day) + ' ' +
           FormatInteger(e.Year) + " $" + FormatFixed(ShortestValue(contract.option->Strike), 2) +
           (contract.option->Type == 0 ? " Call" : " Put");
}

void TradierChainRow(JsonWriter& json, const SimStock& stock, const Contract& contract,
                     const DateTime& eastern) {
    const SimOption& o = *contract.option;
    const bool traded = Traded(o);
    const float change = ChangeOf(o), previous = PreviousCloseOf(o);
    const long long when = EpochMilliseconds(eastern);
    const float bid = Count(o.Bid), ask = Count(o.Ask);
    json.Open('{');
    json.Key("symbol").Text(contract.symbol);
    json.Key("description").Text(ContractDescription(stock, contract));
    json.Key("exch").Text("Z");
    json.Key("type").Text("option");
    // A contract that never traded: null prices and trade_date 0.
    auto figureIfTraded = [&](std::string_view key, float value) {
        json.Key(key);
        if (traded) {
            json.Figure(value);
        } else {
            json.Null();
        }
    };
    figureIfTraded("last", o.Last);
    figureIfTraded("change", change);
    json.Key("volume").Integer(std::llround(Count(o.Volume)));
    for (const char* key : {"open", "high", "low", "close"})
        json.Key(key).Null();
    json.Key("bid").Figure(bid);
    json.Key("ask").Figure(ask);
    json.Key("underlying").Text(stock.Ticker);
    json.Key("strike").Figure(o.Strike);
    json.Key("greeks").Open('{');
    for (const char* greek :
         {"delta", "gamma", "theta", "vega", "rho", "phi", "bid_iv", "mid_iv", "ask_iv", "smv_vol"})
        json.Key(greek).Figure(0);
    json.Key("updated_at").Text(UtcText(UtcSecondsOfEastern(eastern)));
    json.Close('}');
    figureIfTraded("change_percentage", PercentOf(change, previous));
    json.Key("average_volume").Integer(0);
    json.Key("last_volume").Integer(traded ? 1 : 0);
    json.Key("trade_date").Integer(traded ? when : 0);
    figureIfTraded("prevclose", previous);
    json.Key("week_52_high").Figure(0);
    json.Key("week_52_low").Figure(0);
    json.Key("bidsize").Integer(bid > 0 ? 10 : 0);
    json.Key("bidexch").Text("X");
    json.Key("bid_date").Integer(when);
    json.Key("asksize").Integer(ask > 0 ? 10 : 0);
    json.Key("askexch").Text("X");
    json.Key("ask_date").Integer(when);
    json.Key("open_interest").Integer(std::llround(Count(o.OpenInterest)));
    json.Key("contract_size").Integer(100);
    json.Key("expiration_date").Text(contract.expiration.IsoText());
    json.Key("expiration_type").Text("standard");
    json.Key("option_type").Text(o.Type == 0 ? "call" : "put");
    json.Key("root_symbol").Text(stock.Ticker);
    json.Close('}');
}

// Tradier writes a list of one as the one element itself.
template <class Each>
void OneOrArray(JsonWriter& json, std::size_t count, Each each) {
    if (count != 1) json.Open('[');
    for (std::size_t i = 0; i < count; ++i)
        each(i);
    if (count != 1) json.Close(']');
}

}  // namespace

std::string ExchangeChainJson(const SimStock& stock, const std::vector<SimOption>& options,
                              const CivilDay& marketDate, const DateTime& eastern) {
    const auto [bidSize, askSize] = Sizes(stock.BidAskSize);
    JsonWriter json;
    json.Open('{');
    json.Key("timestamp").Text(UtcText(UtcSecondsOfEastern(eastern)));
    json.Key("data").Open('{');
    json.Key("options").Open('[');
    for (const Contract& contract : Contracts(stock, options, marketDate))
        ExchangeOptionRow(json, contract, eastern);
    json.Close(']');
    json.Key("symbol").Text(stock.Ticker);
    json.Key("security_type").Text("stock");
    json.Key("exchange_id").Integer(2);
    json.Key("current_price").Figure(stock.LastSale);
    json.Key("price_change").Figure(stock.NetChange);
    json.Key("price_change_percent").Figure(stock.PercentChange);
    json.Key("open").Figure(stock.OpenPrice);
    json.Key("high").Figure(stock.HighPrice);
    json.Key("low").Figure(stock.LowPrice);
    json.Key("close").Figure(stock.LastSale);
    json.Key("prev_day_close").Figure(stock.PreviousClose);
    json.Key("bid").Figure(stock.Bid);
    json.Key("ask").Figure(stock.Ask);
    json.Key("bid_size").Integer(bidSize);
    json.Key("ask_size").Integer(askSize);
    json.Key("volume").Integer(WholeVolume(stock.Volume));
    // The model's at-the-money volatility, in percent as the service gives it.
    json.Key("iv30").Figure(static_cast<float>(stock.BaseVolatility * 100.0));
    json.Key("iv30_change").Figure(0);
    json.Key("iv30_change_percent").Figure(0);
    json.Key("seqno").Integer(0);
    json.Key("last_trade_time").Text(DateTimeText(eastern, 'T'));
    json.Key("tick").Text(StockTick(stock));
    json.Close('}');
    json.Key("symbol").Text(stock.Ticker);
    json.Close('}');
    return json.Take();
}

std::string TradierQuotesJson(const std::vector<SimStock>& stocks,
                              const std::vector<std::string>& unmatched, const DateTime& eastern) {
    JsonWriter json;
    json.Open('{').Key("quotes").Open('{');
    if (!stocks.empty()) {
        json.Key("quote");
        OneOrArray(json, stocks.size(),
                   [&](std::size_t i) { TradierQuote(json, stocks[i], eastern); });
    }
    if (!unmatched.empty()) {
        json.Key("unmatched_symbols").Open('{').Key("symbol");
        OneOrArray(json, unmatched.size(), [&](std::size_t i) { json.Text(unmatched[i]); });
        json.Close('}');
    }
    json.Close('}').Close('}');
    return json.Take();
}

std::string TradierExpirationsJson(const std::vector<CivilDay>& dates) {
    JsonWriter json;
    json.Open('{').Key("expirations");
    if (dates.empty()) {
        json.Null();
    } else {
        json.Open('{').Key("date");
        OneOrArray(json, dates.size(), [&](std::size_t i) { json.Text(dates[i].IsoText()); });
        json.Close('}');
    }
    json.Close('}');
    return json.Take();
}

std::string TradierChainJson(const SimStock& stock, const std::vector<SimOption>& options,
                             const CivilDay& marketDate, const CivilDay& expiration,
                             const DateTime& eastern) {
    std::vector<Contract> rows;
    for (Contract& contract : Contracts(stock, options, marketDate)) {
        if (contract.expiration == expiration) rows.push_back(std::move(contract));
    }
    JsonWriter json;
    json.Open('{').Key("options");
    if (rows.empty()) {
        json.Null();
    } else {
        json.Open('{').Key("option");
        OneOrArray(json, rows.size(),
                   [&](std::size_t i) { TradierChainRow(json, stock, rows[i], eastern); });
        json.Close('}');
    }
    json.Close('}');
    return json.Take();
}

std::vector<CivilDay> ListedExpirations(const SimStock& stock,
                                        const std::vector<SimOption>& options,
                                        const CivilDay& marketDate) {
    std::vector<CivilDay> dates;
    for (const Contract& contract : Contracts(stock, options, marketDate)) {
        if (dates.empty() || dates.back() != contract.expiration) {
            dates.push_back(contract.expiration);
        }
    }
    return dates;
}

}  // namespace quillon::sim
