#include "fetch/tradier_reply.h"

#include <algorithm>
#include <cmath>

#include "fetch/json_values.h"
#include "fetch/market_time.h"

namespace quillon::fetch {

namespace {

using namespace json;

// Calls `each` for the one object `value` is or for each object of the
// array it is.
template <class Each>
void ForEachObject(od::value value, Each each) {
    if (TypeOf(value) == od::json_type::object) {
        each(value.get_object());
        return;
    }
    for (auto element : value.get_array())
        each(element.get_object());
}

// The single text or each text of an array.
std::vector<std::string> TextsOf(od::value value, std::string_view key) {
    std::vector<std::string> texts;
    if (TypeOf(value) != od::json_type::array) {
        if (auto text = TextOrNull(value, key)) texts.emplace_back(*text);
        return texts;
    }
    for (auto element : value.get_array()) {
        if (auto text = TextOrNull(element.value(), key)) texts.emplace_back(*text);
    }
    return texts;
}

struct QuoteFields {
    FetchedQuote quote;
    std::string symbol;  // as written
    bool option = false;
    std::optional<float> last;
    std::int64_t latest = 0;  // epoch milliseconds
};

void ReadQuoteField(std::string_view key, od::value value, QuoteFields& fields) {
    struct Figure {
        std::string_view key;
        float QuoteRecord::*field;
    };
    static constexpr Figure kFigures[] = {
        {"change", &QuoteRecord::NetChange},
        {"change_percentage", &QuoteRecord::PercentChange},
        {"open", &QuoteRecord::OpenPrice},
        {"high", &QuoteRecord::HighPrice},
        {"low", &QuoteRecord::LowPrice},
        {"bid", &QuoteRecord::Bid},
        {"ask", &QuoteRecord::Ask},
        {"prevclose", &QuoteRecord::PreviousClose},
        {"week_52_high", &QuoteRecord::High52Week},
        {"week_52_low", &QuoteRecord::Low52Week},
    };
    QuoteRecord& q = fields.quote.stock.Quote;
    for (const Figure& figure : kFigures) {
        if (key == figure.key) {
            q.*figure.field = FigureOrNull(value, key).value_or(0);
            return;
        }
    }
    if (key == "symbol") {
        fields.symbol = std::string(TextOrNull(value, key).value_or(""));
    } else if (key == "description") {
        q.CompanyName = std::string(TextOrNull(value, key).value_or(""));
    } else if (key == "type") {
        fields.option = TextOrNull(value, key) == "option";
    } else if (key == "last") {
        fields.last = FigureOrNull(value, key);
    } else if (key == "volume") {
        const double volume = NumberOrNull(value, key).value_or(0);
        q.Volume = volume > 0 ? std::round(volume) : 0;
    } else if (key == "trade_date" || key == "bid_date" || key == "ask_date") {
        fields.latest = std::max(fields.latest, IntegerOrNull(value, key).value_or(0));
    }
}

void ReadQuote(od::object object, TradierQuotes& quotes) {
    QuoteFields fields;
    for (auto field : object) {
        const std::string_view key = KeyOf(field);
        ReadQuoteField(key, field.value(), fields);
    }
    import::StockRow& stock = fields.quote.stock;
    stock.Symbol = import::SymbolOf(fields.symbol);
    const std::optional<DateTime> time = EasternFromEpochMilliseconds(fields.latest);
    if (fields.option || !fields.last || !(*fields.last > 0) || !time ||
        !import::IsCommandLineSymbol(stock.Symbol)) {
        quotes.notQuoted.push_back(fields.symbol);
        return;
    }
    stock.Quote.LastSale = *fields.last;
    stock.Quote.PriceEarnings = import::PriceEarningsOf(stock.Quote.LastSale, 0);
    stock.QuoteDate = time->Date();
    fields.quote.time = *time;
    quotes.quotes.push_back(std::move(fields.quote));
}

TradierQuotes ReadQuotes(od::document& document) {
    TradierQuotes quotes;
    bool seen = false;
    for (auto top : document.get_object()) {
        if (KeyOf(top) != "quotes") continue;
        seen = true;
        od::value body = top.value();
        if (IsNull(body)) continue;
        for (auto field : body.get_object()) {
            const std::string_view key = KeyOf(field);
            if (key == "quote") {
                ForEachObject(field.value(), [&](od::object o) { ReadQuote(o, quotes); });
            } else if (key == "unmatched_symbols") {
                for (auto inner : field.value().get_object()) {
                    for (std::string& symbol : TextsOf(inner.value(), "symbol"))
                        quotes.notQuoted.push_back(std::move(symbol));
                }
            }
        }
    }
    if (!seen) throw ReplyRefused("the reply holds no quotes");
    return quotes;
}

// The value of the one key of `document` an answer is under, and inside
// it the value of `inner`; refuses a reply without them or with null
// (Tradier's answer for an unknown symbol).
template <class Each>
void ReadListUnder(od::document& document, std::string_view outer, std::string_view inner,
                   Each each) {
    bool seen = false;
    for (auto top : document.get_object()) {
        if (KeyOf(top) != outer) continue;
        od::value body = top.value();
        if (IsNull(body)) continue;
        for (auto field : body.get_object()) {
            if (KeyOf(field) != inner) continue;
            seen = true;
            each(field.value());
        }
    }
    if (!seen) {
        throw ReplyRefused("the reply has no '" + std::string(outer) + "' (an unknown symbol?)");
    }
}

std::vector<CivilDay> ReadExpirations(od::document& document) {
    std::vector<CivilDay> days;
    ReadListUnder(document, "expirations", "date", [&](od::value value) {
        for (const std::string& text : TextsOf(value, "date")) {
            const std::optional<CivilDay> day = ReadIsoDigits(text);
            if (!day || !day->Valid()) throw ReplyRefused("'" + text + "' is not a date");
            days.push_back(*day);
        }
    });
    return days;
}

bool ReadChainRow(od::object row, import::OptionRow& option) {
    bool decoded = false;
    std::int64_t traded = 0;
    for (auto field : row) {
        const std::string_view key = KeyOf(field);
        od::value value = field.value();
        if (key == "symbol") {
            decoded = ReadContract(value, key, option);
        } else if (key == "underlying") {
            option.Underlying = import::SymbolOf(TextOrNull(value, key).value_or(""));
        } else if (key == "last") {
            option.Last = OptionFigure(value, key);
        } else if (key == "change") {
            option.Change = FigureOrNull(value, key).value_or(-1);
        } else if (key == "bid") {
            option.Bid = OptionFigure(value, key);
        } else if (key == "ask") {
            option.Ask = OptionFigure(value, key);
        } else if (key == "volume") {
            option.Volume = OptionFigure(value, key);
        } else if (key == "open_interest") {
            option.OpenInterest = OptionFigure(value, key);
        } else if (key == "trade_date") {
            traded = IntegerOrNull(value, key).value_or(0);
        }
    }
    // A never-traded contract has trade_date 0 and a null last price.
    if (traded == 0 || !(option.Last > 0)) option.Last = option.Change = -1;
    return decoded;
}

}  // namespace

std::optional<TradierQuotes> ReadTradierQuotes(std::string_view reply, std::string& error) {
    return ReadReply<TradierQuotes>(reply, error,
                                    [](od::document& document) { return ReadQuotes(document); });
}

std::optional<std::vector<CivilDay>> ReadTradierExpirations(std::string_view reply,
                                                            std::string& error) {
    return ReadReply<std::vector<CivilDay>>(
        reply, error, [](od::document& document) { return ReadExpirations(document); });
}

std::optional<std::vector<import::OptionRow>> ReadTradierChain(std::string_view reply,
                                                               std::string& error,
                                                               long* skippedRows) {
    long skipped = 0;
    auto rows = ReadReply<std::vector<import::OptionRow>>(reply, error, [&](od::document& doc) {
        std::vector<import::OptionRow> options;
        ReadListUnder(doc, "options", "option", [&](od::value value) {
            ForEachObject(value, [&](od::object row) {
                import::OptionRow option;
                if (ReadChainRow(row, option)) {
                    options.push_back(std::move(option));
                } else {
                    ++skipped;
                }
            });
        });
        return options;
    });
    if (skippedRows != nullptr) *skippedRows = skipped;
    return rows;
}

FetchedChain TradierChain(const FetchedQuote& quote,
                          const std::vector<std::vector<import::OptionRow>>& expirations) {
    FetchedChain chain;
    chain.stock = quote.stock;
    chain.time = quote.time;
    for (const auto& rows : expirations)
        chain.options.insert(chain.options.end(), rows.begin(), rows.end());
    return chain;
}

}  // namespace quillon::fetch
