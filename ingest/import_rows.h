#pragma once
// The rows of the two kinds of input file, a stock-quote file and an
// option-chain file, read from CSV exports. The header row names the
// columns; names match without regard to case, blanks, "_" or "-", and
// unknown columns are ignored. A row that cannot be read is reported with
// the line and column and the reason, and skipped by the caller.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "market/quote.h"
#include "platform/civil_day.h"

namespace quillon::import {

// A date cell in one of the forms exports write: "2025-10-17", "10/17/2025",
// "1/4/2016 0:00:00", "20251017", "Fri Oct 17 2025", "17 NOV 23",
// "October 14, 2025"; a time of day after it is allowed. Nothing for anything
// else or a day that does not exist.
std::optional<CivilDay> ParseDate(std::string_view text);

// A date at the start of a text, whatever follows it: the title line of an
// expiration block ("17 OCT 25  (3)  100") or a preamble ("10/14/25 16:00").
// Also takes M/D/YY, which a cell may not use (D/M/YY reads the same).
std::optional<CivilDay> ParseLeadingDate(std::string_view text);

// A column name in the form the matching uses: ASCII letters in lower case;
// blanks, tabs, "_", "-", "." and the brackets []<>() dropped.
std::string NormalizeColumnName(std::string_view name);

// A symbol as the files write it, in the form the scan uses: upper case, a
// leading "^" or "$" of an index dropped.
std::string SymbolOf(std::string_view text);
// A symbol a command line may name: 1 to 6 capital letters and digits.
bool IsCommandLineSymbol(std::string_view symbol);

// A value cell: missing (empty, "NaN", "N/A", "-"), a number (a leading "$",
// thousands separators and a trailing "%" allowed), or unreadable.
struct Cell {
    enum Kind { Missing, Number, Unreadable } kind = Missing;
    double value = 0;
};
Cell ReadCell(std::string_view text);

// Why a row was skipped.
enum class RowFault {
    UnreadableNumber,
    NegativeValue,
    BadSymbol,
    NoLastPrice,
    BadContractSymbol,
    UnknownType,
    BadStrike,
    BadDate,
    BadQuoteDate,
    Count
};
std::string_view RowFaultName(RowFault fault);

struct RowProblem {
    RowFault fault = RowFault::UnreadableNumber;
    std::string column;  // the header name of the column at fault
    std::string text;    // the cell as read
    std::string symbol;  // a skipped stock row's symbol, when it could be read
};

// "no date could be read: '2016.12.07' in column 'quotedate'": why nothing
// was read when the rows skipped had dates that could not be read.
std::string NoDateText(const RowProblem& problem);

// "FILE:LINE: column 'NAME': FAULT 'CELL'", as the skipped rows are told.
std::string DescribeRowProblem(const std::string& file, long line, const RowProblem& problem);

// ------------------------------------------------------------------ stocks

enum StockColumn {
    kSymbol,
    kLast,
    kName,
    kChange,
    kPercentChange,
    kBid,
    kAsk,
    kOpen,
    kHigh,
    kLow,
    kPreviousClose,
    kVolume,
    kHigh52Week,
    kLow52Week,
    kDividend,
    kEarnings,
    kYield,
    kShares,
    kExchange,
    kExDividendDate,
    kHistVolatility,
    kMarketCap,
    kQuoteDate,
    kStockColumns
};

// A stock as the import reads it: the quote record's fields, with missing
// optional values at 0 or empty as a page without them leaves them.
struct StockRow {
    std::string Symbol;                 // upper case, letters and digits, at most 6
    QuoteRecord Quote;                  // OptionRoot empty; PriceEarnings derived
    std::optional<CivilDay> QuoteDate;  // the day the row belongs to, when the file says
    long Line = 0;
};

// The column of each stock field in a header row (-1 when absent).
struct StockHeader {
    std::array<int, kStockColumns> column{};
    std::vector<std::string> names;  // the header as written
};

// The header's columns, or the message that refuses the file. With
// `symbolGiven` (the file's stock is named on the command line) a header
// without a symbol column is taken too.
std::optional<StockHeader> MatchStockHeader(const std::vector<std::string>& header,
                                            std::string& message, bool symbolGiven = false);

// A stock row, or the problem that skips it; `symbol` names the stock of a
// file without a symbol column.
std::optional<StockRow> ReadStockRow(const StockHeader& header,
                                     const std::vector<std::string>& fields, RowProblem& problem,
                                     std::string_view symbol = {});

// The scan's P/E: 100000 (not available) when the earnings are below 0.001
// in size, else price / earnings capped at 100000; a negative ratio stays.
float PriceEarningsOf(float lastSale, float earningsPerShare);

// ------------------------------------------------------------------ options

enum OptionColumn {
    kContract,
    kUnderlying,
    kExpiration,
    kType,
    kStrike,
    kOptLast,
    kOptChange,
    kOptBid,
    kOptAsk,
    kOptVolume,
    kOpenInterest,
    kRoot,
    kOptQuoteDate,
    kUnderlyingPrice,
    kUnderlyingBid,
    kUnderlyingAsk,
    kOptionColumns
};

struct OptionRow {
    std::string Underlying;  // the stock, upper case
    std::string Root;        // the contract's root, upper case
    CivilDay Expiration;
    int Type = 0;  // 0 call, 1 put
    double Strike = 0;
    // -1 where the file has no value, as the archive marks it.
    float Last = -1, Change = -1, Bid = -1, Ask = -1, Volume = -1, OpenInterest = -1;
    double UnderlyingPrice = -1;  // the underlying's price the row gives, or -1
    // The underlying's bid and ask where the file has their columns and no
    // price of the underlying (-1 where empty); a price is their midpoint
    // only when both are there.
    bool UnderlyingQuoted = false;
    double UnderlyingBid = -1, UnderlyingAsk = -1;
    std::optional<CivilDay> QuoteDate;  // the day the row belongs to, when the file says
    long Line = 0;
};

// The columns of an option-chain header. In the side-by-side form a row
// holds a call and a put at the same strike: `column` then holds the shared
// columns and the call side's figures, `putColumn` the put side's figures
// (kContract to kOpenInterest).
struct OptionHeader {
    std::array<int, kOptionColumns> column{};
    std::array<int, kOptionColumns> putColumn{};
    bool contractForm = false;  // a contract symbol column, not the four columns
    bool sideBySide = false;
    std::vector<std::string> names;
};

// What a row does not say itself: the underlying named before the header or
// on the command line, the expiration of the block the row is in, the quote
// date the file's preamble gives.
struct RowContext {
    std::string underlying;
    std::optional<CivilDay> expiration;
    std::optional<CivilDay> quoteDate;
};

// The header's columns, or the message that refuses the file: no strike or
// contract symbol column, a half-recognised separate-column form (naming what
// is missing), or no price column of any kind. `context` tells which
// columns the file may lack (an underlying named elsewhere, block titles).
std::optional<OptionHeader> MatchOptionHeader(const std::vector<std::string>& header,
                                              std::string& message, const RowContext& context = {},
                                              bool blockTitles = false);

// The options of a row: one, or in the side-by-side form up to two (a side
// without any figure is no option). False with `problem` set when the row
// is skipped.
bool ReadOptionRows(const OptionHeader& header, const std::vector<std::string>& fields,
                    const RowContext& context, std::vector<OptionRow>& rows, RowProblem& problem);

// The one option of a row of a single-type form.
std::optional<OptionRow> ReadOptionRow(const OptionHeader& header,
                                       const std::vector<std::string>& fields, RowProblem& problem);

// A contract symbol in the standard form: root (1 to 6 characters), YYMMDD,
// C or P, strike times 1000 in 8 digits; with or without the blanks that pad
// the root to 6 characters.
struct ContractSymbol {
    std::string Root;
    CivilDay Expiration;
    int Type = 0;
    double Strike = 0;
};
std::optional<ContractSymbol> DecodeContractSymbol(std::string_view text);

}  // namespace quillon::import
