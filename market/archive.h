#pragma once
// The quote archive. In a server scan the archive writer turns the current
// quote into a Quote.txt record and an AscQuote.txt line and puts the stock
// on the good- or bad-symbols list, all through the pending texts. In a local
// scan the replay reader fills the current quote from the next matching
// Quote.txt record, reading the file strictly forward.

#include <string_view>

#include "market/quote.h"
#include "scan/context.h"

namespace quillon {

// Appends the stock's Quote.txt record (with its options section when there
// is option data) and its AscQuote.txt line to the pending texts, and puts it
// on the good list; a stock without stock data only goes on the bad list.
void SaveQuote(Context& context);

// Adds Ticker to the good list ("%-8s %-5s %s": ticker, option root, company
// name without its trailing blanks), or to the bad list instead when option
// filters are in use and the stock has no option root.
void AddGoodSymbol(Context& context);

// Adds Ticker alone to the bad list.
void AddBadSymbol(Context& context);

// Fills the quote record and the option chain of Ticker from the local quote
// file, starting at ReplayLine (the line read last, kept from the previous
// symbol). A symbol without a record, and any damaged record, stops silently:
// what was read so far stays, HaveStockData is true only when the whole stock
// part was read and HaveOptionData only when an option line was stored.
void ReplayQuote(Context& context);

// The position of one option in the chain.
struct OptionEntry {
    int Type = 0;    // 0 calls, 1 puts
    int Strike = 0;  // strike slot 0 to 4
    int Month = 0;   // month slot 0 to 3
};

// Fills OptSymbol, OptLast, OptColumn2, OptBid, OptAsk, OptVolume and
// OptOpenInterest of `entry` from one option line of the archive, fields
// separated by ",". A missing field (the line ends before it) ends the line
// without error; an empty field or one that is not a number is an error, and
// the fields before it stay. Returns false on that error.
bool ParseOptionLine(std::string_view line, OptionChain& chain, const OptionEntry& entry);

}  // namespace quillon
