#pragma once
// The quote archive. In a server scan the archive writer turns the current
// quote into a Quote.txt record and an AscQuote.txt line and puts the stock
// on the good- or bad-symbols list, all through the pending texts. In a local
// scan the replay reader fills the current quote from the next matching
// Quote.txt record, reading the file strictly forward.

#include <string>
#include <string_view>
#include <vector>

#include "market/line_reader.h"
#include "market/option_tables.h"
#include "market/quote.h"
#include "platform/clock.h"

namespace quillon {

// The texts a stock's archive lines are appended to: the pending texts of
// Quote.txt, AscQuote.txt, GoodSym.txt and BadSym.txt.
struct ArchiveTexts {
    std::string& Quote;
    std::string& AscQuote;
    std::string& GoodSym;
    std::string& BadSym;
};

// Appends the stock's Quote.txt record (with its options section when there
// is option data) and its AscQuote.txt line written at `now`, and puts it on
// the good list; a stock without stock data only goes on the bad list.
void SaveQuote(QuoteState& quote, bool optionFiltersActive, const DateTime& now,
               const ArchiveTexts& out);

// Adds Ticker to the good list ("%-8s %-5s %s": ticker, option root, company
// name, whose trailing blanks go), or to the bad list instead when option
// filters are in use and the stock has no option root.
void AddGoodSymbol(QuoteState& quote, bool optionFiltersActive, const ArchiveTexts& out);

// Adds the ticker alone to the bad list.
void AddBadSymbol(const std::string& ticker, const ArchiveTexts& out);

// What the local-file reader carries from one symbol to the next.
struct ReplayState {
    LineReader LocalQuoteFile;  // Quote.txt while quotes come from the local file
    LineReader LocalAscFile;    // AscQuote.txt, opened but never read
    std::string ReplayLine;     // the line read last
    // The option lines of the record being read; kept from one record to the
    // next so that their strings are reused.
    std::vector<std::string> OptionLines;
};

// A symbol's record of the local quote file, in two steps, since placing its
// options needs the strike table built from its last sale in between.
//
// First: resets the quote and fills the quote record of Ticker, starting at
// ReplayLine (the line read last, kept from the previous symbol). A symbol
// without a record, and a damaged stock part, stop silently with what was
// read so far. True, with HaveStockData, when the whole stock part was read.
bool ReplayStockPart(QuoteState& quote, ReplayState& replay);
// Then: the option section that follows, placed by the calendar and the
// strike table; HaveOptionData when an option line was stored. A damaged
// option line ends the section with what was stored before it.
void ReplayOptionPart(QuoteState& quote, ReplayState& replay, const OptionTables& tables);

// Fills OptSymbol, OptLast, OptColumn2, OptBid, OptAsk, OptVolume and
// OptOpenInterest of `entry` from one option line of the archive, fields
// separated by ",". A missing field (the line ends before it) ends the line
// without error; an empty field or one that is not a number is an error, and
// the fields before it stay. Returns false on that error.
bool ParseOptionLine(std::string_view line, OptionChain& chain, const OptionEntry& entry);

}  // namespace quillon
