#pragma once
// The stocks of an import and the options kept for each, placed where the
// scan will look for them: the expiration calendar and the strike table are
// built by the scan's own code for the import date, and an option is kept
// only at the standard monthly expiration of one of the three nearest
// expiration months and at one of the five strikes of its stock's table.
// The book holds one small slot table per stock, never the option rows, so
// chain files of any length stream through it.

#include <array>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "analytics/iv_history.h"
#include "ingest/import_rows.h"
#include "market/option_tables.h"
#include "market/quote.h"

namespace quillon::import {

// The calendar of the import date and the expiration Saturdays of its three
// nearest expiration months.
struct ImportCalendar {
    CivilDay date;
    ExpirationCalendar calendar;
    std::array<CivilDay, kFilledMonthSlots> saturdays{};
};
ImportCalendar MakeImportCalendar(const CivilDay& date);

// The month slot (0 to 2) an expiration date belongs to: the expiration
// Saturday of the slot's month or the third Friday just before it; -1 for
// any other date.
int MonthSlotOf(const ImportCalendar& calendar, const CivilDay& expiration);

// The third Friday of its month, or the Saturday after it.
bool IsMonthlyExpiration(const CivilDay& date);

// Why an option row that was read is not kept.
enum class LeftOut {
    NoStock,           // no stock quote for its underlying
    OtherQuoteDate,    // a row of another day than the import date
    NotMonthly,        // a weekly, quarterly or other non-standard expiration
    OutsideMonths,     // a monthly expiration past or beyond the three nearest months
    StrikeNotInTable,  // not one of the five strikes of the stock's table
    OtherRoot,         // an adjusted contract whose root is not the stock's symbol
    Duplicate,         // a second row for an option already kept
    Count
};
std::string_view LeftOutName(LeftOut reason);

struct KeptOption {
    bool present = false;
    float Last = -1, Change = -1, Bid = -1, Ask = -1, Volume = -1, OpenInterest = -1;
};

struct BookStock {
    StockRow row;
    StrikeTable strikes;
    // [type][strike slot][month slot 0 to 2]
    std::array<std::array<std::array<KeptOption, kFilledMonthSlots>, kStrikeSlots>, kOptionTypes>
        options{};
    // For IV30 of the whole chain: in each month and of each type, the few
    // listed strikes nearest the last sale on either side that have a price,
    // at their real expiration. A few rather than one, since the nearest may
    // have no implied volatility.
    std::vector<Iv30Option> nearMoney;
    bool HasOptions() const;
};

class ImportBook {
  public:
    explicit ImportBook(const CivilDay& date);

    const ImportCalendar& Calendar() const { return calendar_; }

    // A stock; a second row of a symbol already there is dropped, kept
    // for FinishStocks to return.
    void AddStock(StockRow row);
    bool HasStock(const std::string& symbol) const { return index_.count(symbol) != 0; }
    // Sets a stock's last price by hand (a stock without other figures
    // when there is none) and rebuilds its strike table.
    void SetLastPrice(const std::string& symbol, float price);
    // Sorts the stocks as the scan asks for them (byte order of the symbol);
    // returns the rows dropped as second rows since the last call.
    std::vector<StockRow> FinishStocks();

    // Keeps the option at its place, or says why it is left out.
    std::optional<LeftOut> PlaceOption(const OptionRow& option);

    const std::vector<BookStock>& Stocks() const { return stocks_; }

    // IV30 of a stock's whole chain at interest rate `rate`: the two listed
    // strikes nearest the money in each month, each month's time counted to
    // the expiration date the data gives.
    Iv30Result WholeChainIv30(const BookStock& stock, float rate) const;

    // The quote the scan would hold for the stock: its record, and each kept
    // option under the symbol the scan looks for (the root cut and padded to
    // three characters, the month letter, the strike letter).
    void FillQuoteState(const BookStock& stock, QuoteState& quote) const;

  private:
    ImportCalendar calendar_;
    std::vector<BookStock> stocks_;
    std::unordered_map<std::string, std::size_t> index_;
    std::vector<StockRow> dropped_;
};

// The option root the archive and the served pages give a stock: its first
// three characters, except where the option-page reader would skip that
// root (an X, Y or Z in its last two places, as in a ticker "AXLE"): then
// the first character and the next characters of the ticker that are not
// X, Y or Z, padded with "A". A ticker of three characters or fewer keeps
// itself, which the reader requires of such a ticker's options.
std::string ArchiveRoot(const std::string& symbol);

// Whether the option-page reader skips the option symbols of `root`: an X, Y
// or Z in its last two places, which ArchiveRoot avoids except for a ticker
// of three characters or fewer, whose root is the ticker itself. Such a
// stock's options are read by a local scan of the archive but not by a
// server scan of served pages.
bool ServerScanSkipsRoot(const std::string& root);

}  // namespace quillon::import
