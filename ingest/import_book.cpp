#include "ingest/import_book.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "analytics/calendar.h"
#include "platform/clock.h"

namespace quillon::import {

namespace {

constexpr std::size_t kRootLength = 3;
// Strikes are read in thousandths; the table's are multiples of 2.5.
constexpr double kStrikeTolerance = 0.0005;

}  // namespace

ImportCalendar MakeImportCalendar(const CivilDay& date) {
    ImportCalendar out;
    out.date = date;
    BuildExpirationCalendar(out.calendar, DateTime{date.Year, date.Month, date.Day});
    // The calendar counts its days from the reference date: the date itself,
    // or the Monday after it at a weekend.
    const int weekDay = date.WeekDay();
    const CivilDay reference = date.Plus(weekDay == kSaturday ? 2 : weekDay == kSunday ? 1 : 0);
    for (int k = 0; k < kFilledMonthSlots; ++k) {
        out.saturdays[k] = reference.Plus(out.calendar.DaysToExpiration[k]);
    }
    return out;
}

int MonthSlotOf(const ImportCalendar& calendar, const CivilDay& expiration) {
    for (int k = 0; k < kFilledMonthSlots; ++k) {
        const CivilDay& saturday = calendar.saturdays[k];
        if (expiration == saturday || expiration == saturday.Plus(-1)) return k;
    }
    return -1;
}

bool IsMonthlyExpiration(const CivilDay& date) {
    const int weekDay = date.WeekDay();
    if (weekDay == kFriday) return date.Day >= 15 && date.Day <= 21;
    if (weekDay == kSaturday) return date.Day >= 16 && date.Day <= 22;
    return false;
}

std::string_view LeftOutName(LeftOut reason) {
    switch (reason) {
        case LeftOut::NoStock:
            return "no stock quote for the underlying";
        case LeftOut::OtherQuoteDate:
            return "quote date other than the import date";
        case LeftOut::NotMonthly:
            return "not a standard monthly expiration";
        case LeftOut::OutsideMonths:
            return "past or beyond the three nearest months";
        case LeftOut::StrikeNotInTable:
            return "strike not in the stock's strike table";
        case LeftOut::OtherRoot:
            return "adjusted contract (root is not the stock's symbol)";
        case LeftOut::Duplicate:
            return "second row for the same option";
        case LeftOut::Count:
            break;
    }
    return "?";
}

bool BookStock::HasOptions() const {
    for (const auto& byStrike : options) {
        for (const auto& months : byStrike) {
            for (const KeptOption& option : months) {
                if (option.present) return true;
            }
        }
    }
    return false;
}

ImportBook::ImportBook(const CivilDay& date) : calendar_(MakeImportCalendar(date)) {}

void ImportBook::AddStock(StockRow row) {
    if (index_.count(row.Symbol) != 0) {
        dropped_.push_back(std::move(row));
        return;
    }
    BookStock stock;
    SelectStrikes(stock.strikes, row.Quote.LastSale);
    index_.emplace(row.Symbol, stocks_.size());
    stock.row = std::move(row);
    stocks_.push_back(std::move(stock));
}

void ImportBook::SetLastPrice(const std::string& symbol, float price) {
    const auto it = index_.find(symbol);
    if (it == index_.end()) {
        StockRow row;
        row.Symbol = symbol;
        row.Quote.LastSale = price;
        row.Quote.PriceEarnings = PriceEarningsOf(price, 0);
        AddStock(std::move(row));
        return;
    }
    BookStock& stock = stocks_[it->second];
    stock.row.Quote.LastSale = price;
    stock.row.Quote.PriceEarnings = PriceEarningsOf(price, stock.row.Quote.EarningsPerShare);
    SelectStrikes(stock.strikes, price);
}

std::vector<StockRow> ImportBook::FinishStocks() {
    std::stable_sort(stocks_.begin(), stocks_.end(), [](const BookStock& a, const BookStock& b) {
        return a.row.Symbol < b.row.Symbol;
    });
    index_.clear();
    for (std::size_t i = 0; i < stocks_.size(); ++i)
        index_.emplace(stocks_[i].row.Symbol, i);
    return std::exchange(dropped_, {});
}

std::string ArchiveRoot(const std::string& symbol) {
    auto skipped = [](char c) { return c == 'X' || c == 'Y' || c == 'Z'; };
    std::string root = symbol.substr(0, kRootLength);
    if (symbol.size() <= kRootLength || !(skipped(root[1]) || skipped(root[2]))) return root;
    root = symbol.substr(0, 1);
    for (std::size_t i = 1; i < symbol.size() && root.size() < kRootLength; ++i) {
        if (!skipped(symbol[i])) root += symbol[i];
    }
    root.resize(kRootLength, 'A');
    return root;
}

bool ServerScanSkipsRoot(const std::string& root) {
    auto skipped = [](char c) { return c == 'X' || c == 'Y' || c == 'Z'; };
    return (root.size() > 1 && skipped(root[1])) || (root.size() > 2 && skipped(root[2]));
}

namespace {

// Strikes kept on each side of the last sale, per month and type.
constexpr std::size_t kNearStrikes = 4;

// Days to the close of an option's last trading day: its expiration date,
// or the Friday before where the data gives the Saturday after it (as older
// files do; no option trades on a Saturday).
int DaysToLastClose(const CivilDay& from, const CivilDay& expiration) {
    const int days = DaysBetween(from, expiration);
    return expiration.WeekDay() == kSaturday ? days - 1 : days;
}

// Puts a listed option among the stock's near-money ones when it is among
// the kNearStrikes nearest the last sale on its side of it, in its month
// and of its type; the farthest of those then goes. A second row of a
// strike already kept is passed over.
void KeepNearMoney(BookStock& stock, const OptionRow& option, int days) {
    const float price = stock.row.Quote.LastSale;
    const auto strike = static_cast<float>(option.Strike);
    const bool usable = (option.Bid > 0 && option.Ask > 0) || option.Last > 0;
    if (!usable || days <= 0 || !(price > 0) || !(strike > 0)) return;
    const bool isPut = option.Type == 1;
    const bool below = strike <= price;
    std::vector<Iv30Option>& kept = stock.nearMoney;
    std::size_t count = 0;
    std::size_t farthest = kept.size();
    for (std::size_t i = 0; i < kept.size(); ++i) {
        const Iv30Option& o = kept[i];
        if (o.DaysToGo != days || o.IsPut != isPut || (o.Strike <= price) != below) continue;
        if (o.Strike == strike) return;
        ++count;
        if (farthest == kept.size() ||
            std::fabs(o.Strike - price) > std::fabs(kept[farthest].Strike - price)) {
            farthest = i;
        }
    }
    const Iv30Option added{.Strike = strike,
                           .IsPut = isPut,
                           .Bid = option.Bid,
                           .Ask = option.Ask,
                           .Last = option.Last,
                           .DaysToGo = days};
    if (count < kNearStrikes) {
        kept.push_back(added);
    } else if (std::fabs(strike - price) < std::fabs(kept[farthest].Strike - price)) {
        kept[farthest] = added;
    }
}

}  // namespace

Iv30Result ImportBook::WholeChainIv30(const BookStock& stock, float rate) const {
    Iv30Inputs in;
    in.StockPrice = stock.row.Quote.LastSale;
    in.InterestRate = rate;
    // The yield as ZOR prices with it: percent to a fraction.
    in.DividendYield = static_cast<float>(static_cast<double>(stock.row.Quote.YieldPercent) * 0.01);
    in.Options = stock.nearMoney;
    return ComputeIv30(in);
}

std::optional<LeftOut> ImportBook::PlaceOption(const OptionRow& option) {
    const auto found = index_.find(option.Underlying);
    if (found == index_.end()) return LeftOut::NoStock;
    BookStock* it = &stocks_[found->second];
    if (option.Root != it->row.Symbol) return LeftOut::OtherRoot;
    const int month = MonthSlotOf(calendar_, option.Expiration);
    if (month < 0) {
        return IsMonthlyExpiration(option.Expiration) ? LeftOut::OutsideMonths
                                                      : LeftOut::NotMonthly;
    }
    KeepNearMoney(*it, option, DaysToLastClose(calendar_.date, option.Expiration));
    int strike = -1;
    for (int i = 0; i < kStrikeSlots; ++i) {
        if (std::fabs(it->strikes.StrikePrices[i] - option.Strike) < kStrikeTolerance) strike = i;
    }
    if (strike < 0) return LeftOut::StrikeNotInTable;
    KeptOption& kept = it->options[option.Type][strike][month];
    if (kept.present) return LeftOut::Duplicate;
    kept = {true,       option.Last,   option.Change,      option.Bid,
            option.Ask, option.Volume, option.OpenInterest};
    return std::nullopt;
}

void ImportBook::FillQuoteState(const BookStock& stock, QuoteState& quote) const {
    ResetQuote(quote);
    quote.Ticker = stock.row.Symbol;
    quote.Quote = stock.row.Quote;
    quote.HaveStockData = true;
    quote.HaveOptionData = false;
    // The archive keeps a root of up to three characters; the scan pads a
    // shorter one with blanks, and so do the option symbols.
    std::string root = ArchiveRoot(stock.row.Symbol);
    std::string padded = root + std::string(kRootLength - root.size(), ' ');
    OptionChain& chain = quote.Chain;
    for (int type = 0; type < kOptionTypes; ++type) {
        for (int strike = 0; strike < kStrikeSlots; ++strike) {
            for (int month = 0; month < kFilledMonthSlots; ++month) {
                const KeptOption& kept = stock.options[type][strike][month];
                if (!kept.present) continue;
                chain.OptSymbol[type][strike][month] =
                    padded + calendar_.calendar.MonthLetters[type][month] +
                    stock.strikes.StrikeLetters[strike];
                chain.OptLast[type][strike][month] = kept.Last;
                chain.OptColumn2[type][strike][month] = kept.Change;
                chain.OptBid[type][strike][month] = kept.Bid;
                chain.OptAsk[type][strike][month] = kept.Ask;
                chain.OptVolume[type][strike][month] = kept.Volume;
                chain.OptOpenInterest[type][strike][month] = kept.OpenInterest;
                quote.HaveOptionData = true;
            }
        }
    }
    if (quote.HaveOptionData) quote.Quote.OptionRoot = root;
}

}  // namespace quillon::import
