#include "fetch/exchange_reply.h"

#include <cmath>

#include "fetch/json_values.h"
#include "fetch/market_time.h"

namespace quillon::fetch {

namespace {

using namespace json;

enum class RowRead { Kept, PassedOver, Unreadable };

// The months a scan keeps, asked of one expiration at a time: the rows come
// sorted by expiration, so the last answer is nearly always the one wanted.
class ScanMonths {
  public:
    explicit ScanMonths(const CivilDay& date) : calendar_(import::MakeImportCalendar(date)) {}
    bool Keeps(const CivilDay& expiration) {
        if (!(expiration == last_)) {
            last_ = expiration;
            lastKept_ = import::MonthSlotOf(calendar_, expiration) >= 0;
        }
        return lastKept_;
    }

  private:
    import::ImportCalendar calendar_;
    CivilDay last_{};
    bool lastKept_ = false;
};

// One option row: Unreadable when its contract symbol cannot be read;
// PassedOver, with the rest of the row unread, when `months` is given and
// its expiration is none of theirs.
RowRead ReadOptionRow(od::object row, import::OptionRow& option, ScanMonths* months) {
    bool traded = true;
    bool decoded = false;
    for (auto field : row) {
        const std::string_view key = KeyOf(field);
        od::value value = field.value();
        if (key == "option") {
            decoded = ReadContract(value, key, option);
            if (decoded && months != nullptr && !months->Keeps(option.Expiration))
                return RowRead::PassedOver;
        } else if (key == "bid") {
            option.Bid = OptionFigure(value, key);
        } else if (key == "ask") {
            option.Ask = OptionFigure(value, key);
        } else if (key == "last_trade_price") {
            option.Last = OptionFigure(value, key);
        } else if (key == "change") {
            const std::optional<float> change = FigureOrNull(value, key);
            option.Change = change ? *change : -1;
        } else if (key == "volume") {
            option.Volume = OptionFigure(value, key);
        } else if (key == "open_interest") {
            option.OpenInterest = OptionFigure(value, key);
        } else if (key == "last_trade_time") {
            traded = TextOrNull(value, key).has_value();
        }
    }
    // A contract that never traded has 0 as its last price and change.
    if (!traded || !(option.Last > 0)) option.Last = option.Change = -1;
    return decoded ? RowRead::Kept : RowRead::Unreadable;
}

// A figure of the stock's quote: 0 where the reply has null.
template <class T>
void StockFigure(od::value value, std::string_view key, T& out) {
    const std::optional<float> figure = FigureOrNull(value, key);
    out = figure ? static_cast<T>(*figure) : T{};
}

void ReadStockField(std::string_view key, od::value value, import::StockRow& stock) {
    QuoteRecord& q = stock.Quote;
    if (key == "symbol") {
        const auto text = TextOrNull(value, key);
        stock.Symbol = text ? import::SymbolOf(*text) : std::string();
    } else if (key == "current_price") {
        StockFigure(value, key, q.LastSale);
    } else if (key == "price_change") {
        StockFigure(value, key, q.NetChange);
    } else if (key == "price_change_percent") {
        StockFigure(value, key, q.PercentChange);
    } else if (key == "bid") {
        StockFigure(value, key, q.Bid);
    } else if (key == "ask") {
        StockFigure(value, key, q.Ask);
    } else if (key == "open") {
        StockFigure(value, key, q.OpenPrice);
    } else if (key == "high") {
        StockFigure(value, key, q.HighPrice);
    } else if (key == "low") {
        StockFigure(value, key, q.LowPrice);
    } else if (key == "prev_day_close") {
        StockFigure(value, key, q.PreviousClose);
    } else if (key == "volume") {
        const std::optional<double> volume = NumberOrNull(value, key);
        q.Volume = volume && *volume > 0 ? std::round(*volume) : 0;
    }
}

void ReadData(od::object data, FetchedChain& chain, ScanMonths* months) {
    for (auto field : data) {
        const std::string_view key = KeyOf(field);
        if (key != "options") {
            ReadStockField(key, field.value(), chain.stock);
            continue;
        }
        for (auto element : field.value().get_array()) {
            import::OptionRow option;
            switch (ReadOptionRow(element.get_object(), option, months)) {
                case RowRead::Kept:
                    chain.options.push_back(std::move(option));
                    break;
                case RowRead::PassedOver:
                    ++chain.passedOver;
                    break;
                case RowRead::Unreadable:
                    ++chain.skippedRows;
                    break;
            }
        }
    }
}

// `scanMonths`: only the options of the months a scan keeps (see
// ReadExchangeChainForScan), on the calendar of `scanDate` when given.
FetchedChain ReadChain(od::document& document, bool scanMonths,
                       const std::optional<CivilDay>& scanDate) {
    FetchedChain chain;
    std::optional<ScanMonths> months;
    bool haveData = false, haveTime = false;
    for (auto field : document.get_object()) {
        const std::string_view key = KeyOf(field);
        if (key == "timestamp") {
            const auto text = TextOrNull(field.value(), key);
            const auto time = text ? EasternFromUtcText(*text) : std::nullopt;
            if (!time) throw ReplyRefused("the reply's timestamp is not a date and time");
            chain.time = *time;
            haveTime = true;
            if (scanMonths) months.emplace(scanDate ? *scanDate : time->Date());
        } else if (key == "data") {
            ReadData(field.value().get_object(), chain, months ? &*months : nullptr);
            haveData = true;
        }
    }
    if (!haveData) throw ReplyRefused("the reply holds no quote (an unknown symbol?)");
    if (!haveTime) throw ReplyRefused("the reply has no timestamp");
    if (!import::IsCommandLineSymbol(chain.stock.Symbol)) {
        throw ReplyRefused("the reply's symbol '" + chain.stock.Symbol + "' cannot be scanned");
    }
    if (!(chain.stock.Quote.LastSale > 0)) {
        throw ReplyRefused("the reply has no last price for " + chain.stock.Symbol);
    }
    chain.stock.QuoteDate = chain.time.Date();
    chain.stock.Quote.PriceEarnings = import::PriceEarningsOf(chain.stock.Quote.LastSale, 0);
    for (import::OptionRow& option : chain.options)
        option.Underlying = chain.stock.Symbol;
    return chain;
}

}  // namespace

std::optional<FetchedChain> ReadExchangeChain(std::string_view reply, std::string& error) {
    return ReadReply<FetchedChain>(reply, error, [](od::document& document) {
        return ReadChain(document, false, std::nullopt);
    });
}

std::optional<FetchedChain> ReadExchangeChainForScan(const std::string& reply, std::string& error,
                                                     const std::optional<CivilDay>& scanDate) {
    return ReadReply<FetchedChain>(
        reply, error,
        [&scanDate](od::document& document) { return ReadChain(document, true, scanDate); },
        reply.capacity());
}

}  // namespace quillon::fetch
