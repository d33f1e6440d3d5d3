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

namespace quillon::import {

struct CivilDate {
    int Year = 0;
    int Month = 0;  // 1 = January
    int Day = 0;
    auto operator<=>(const CivilDate&) const = default;
};

// "YYYY-MM-DD" or "M/D/YYYY", a time of day after it allowed; nothing for
// anything else or a day that does not exist.
std::optional<CivilDate> ParseDate(std::string_view text);

// A column name in the form the matching uses: ASCII letters in lower case,
// blanks, tabs, "_" and "-" dropped.
std::string NormalizeColumnName(std::string_view name);

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
    Count
};
std::string_view RowFaultName(RowFault fault);

struct RowProblem {
    RowFault fault = RowFault::UnreadableNumber;
    std::string column;  // the header name of the column at fault
    std::string text;    // the cell as read
};

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
    kStockColumns
};

// A stock as the import reads it: the quote record's fields, with missing
// optional values at 0 or empty as a page without them leaves them.
struct StockRow {
    std::string Symbol;  // upper case, letters and digits, at most 6
    QuoteRecord Quote;   // OptionRoot empty; PriceEarnings derived
    long Line = 0;
};

// The column of each stock field in a header row (-1 when absent).
struct StockHeader {
    std::array<int, kStockColumns> column{};
    std::vector<std::string> names;  // the header as written
};

// The header's columns, or the message that refuses the file.
std::optional<StockHeader> MatchStockHeader(const std::vector<std::string>& header,
                                            std::string& message);

// A stock row, or the problem that skips it.
std::optional<StockRow> ReadStockRow(const StockHeader& header,
                                     const std::vector<std::string>& fields, RowProblem& problem);

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
    kOptionColumns
};

struct OptionRow {
    std::string Underlying;  // the stock, upper case
    std::string Root;        // the contract's root, upper case
    CivilDate Expiration;
    int Type = 0;  // 0 call, 1 put
    double Strike = 0;
    // -1 where the file has no value, as the archive marks it.
    float Last = -1, Change = -1, Bid = -1, Ask = -1, Volume = -1, OpenInterest = -1;
    long Line = 0;
};

struct OptionHeader {
    std::array<int, kOptionColumns> column{};
    bool contractForm = false;  // a contract symbol column, not the four columns
    std::vector<std::string> names;
};

std::optional<OptionHeader> MatchOptionHeader(const std::vector<std::string>& header,
                                              std::string& message);

std::optional<OptionRow> ReadOptionRow(const OptionHeader& header,
                                       const std::vector<std::string>& fields, RowProblem& problem);

// A contract symbol in the standard form: root (1 to 6 characters), YYMMDD,
// C or P, strike times 1000 in 8 digits; with or without the blanks that pad
// the root to 6 characters.
struct ContractSymbol {
    std::string Root;
    CivilDate Expiration;
    int Type = 0;
    double Strike = 0;
};
std::optional<ContractSymbol> DecodeContractSymbol(std::string_view text);

}  // namespace quillon::import
