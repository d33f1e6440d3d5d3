#include "tools/import/import_rows.h"

#include <charconv>
#include <cmath>
#include <initializer_list>

namespace quillon::import {

namespace {

// Values beyond this are no prices or share counts, and would overflow the
// archive's 32-bit figures.
constexpr double kLargestValue = 1e15;

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

char Upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string UpperCase(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = Upper(c);
    return out;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsAlnum(char c) {
    return IsDigit(c) || (c >= 'A' && c <= 'Z');
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

std::optional<int> Digits(std::string_view text, std::size_t minLength, std::size_t maxLength) {
    if (text.size() < minLength || text.size() > maxLength) return std::nullopt;
    int value = 0;
    for (char c : text) {
        if (!IsDigit(c)) return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

std::optional<CivilDate> ValidDate(std::optional<int> year, std::optional<int> month,
                                   std::optional<int> day) {
    if (!year || !month || !day) return std::nullopt;
    if (*year < 1900 || *month < 1 || *month > 12 || *day < 1) return std::nullopt;
    if (*day > DaysInMonth(*year, *month)) return std::nullopt;
    return CivilDate{*year, *month, *day};
}

// The index of the first of `aliases` (normalized names) in the header, or -1.
int FindColumn(const std::vector<std::string>& normalized,
               std::initializer_list<const char*> aliases) {
    for (const char* alias : aliases) {
        for (std::size_t i = 0; i < normalized.size(); ++i) {
            if (normalized[i] == alias) return static_cast<int>(i);
        }
    }
    return -1;
}

std::vector<std::string> Normalized(const std::vector<std::string>& header) {
    std::vector<std::string> out;
    out.reserve(header.size());
    for (const std::string& name : header)
        out.push_back(NormalizeColumnName(name));
    return out;
}

std::string_view FieldAt(const std::vector<std::string>& fields, int column) {
    if (column < 0 || static_cast<std::size_t>(column) >= fields.size()) return {};
    return Trim(fields[static_cast<std::size_t>(column)]);
}

std::string NameOf(const std::vector<std::string>& names, int column) {
    return column >= 0 && static_cast<std::size_t>(column) < names.size()
               ? names[static_cast<std::size_t>(column)]
               : std::string();
}

// Reads an optional number of `column` into `out`; false with the problem
// set when the cell holds something else. A missing value leaves `out`.
template <class T>
bool ReadNumberInto(const std::vector<std::string>& names, const std::vector<std::string>& fields,
                    int column, bool mayBeNegative, T& out, RowProblem& problem) {
    const std::string_view text = FieldAt(fields, column);
    const Cell cell = ReadCell(text);
    if (cell.kind == Cell::Missing) return true;
    if (cell.kind == Cell::Unreadable || (!mayBeNegative && cell.value < 0)) {
        problem = {
            cell.kind == Cell::Unreadable ? RowFault::UnreadableNumber : RowFault::NegativeValue,
            NameOf(names, column), std::string(text)};
        return false;
    }
    out = static_cast<T>(cell.value);
    return true;
}

// A symbol the scan can read from the symbol file and find in the archive.
bool IsScanSymbol(std::string_view symbol) {
    if (symbol.empty() || symbol.size() > 6) return false;
    for (char c : symbol) {
        if (!IsAlnum(c)) return false;
    }
    return true;
}

}  // namespace

std::optional<CivilDate> ParseDate(std::string_view text) {
    text = Trim(text);
    const std::size_t timeAt = text.find_first_of(" T");
    if (timeAt != std::string_view::npos) text = text.substr(0, timeAt);
    if (text.size() == 10 && text[4] == '-' && text[7] == '-') {
        return ValidDate(Digits(text.substr(0, 4), 4, 4), Digits(text.substr(5, 2), 2, 2),
                         Digits(text.substr(8, 2), 2, 2));
    }
    const std::size_t first = text.find('/');
    const std::size_t second = first == std::string_view::npos ? first : text.find('/', first + 1);
    if (second == std::string_view::npos) return std::nullopt;
    return ValidDate(Digits(text.substr(second + 1), 4, 4), Digits(text.substr(0, first), 1, 2),
                     Digits(text.substr(first + 1, second - first - 1), 1, 2));
}

std::string NormalizeColumnName(std::string_view name) {
    std::string out;
    for (char c : name) {
        if (c == ' ' || c == '\t' || c == '_' || c == '-') continue;
        out += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return out;
}

Cell ReadCell(std::string_view text) {
    text = Trim(text);
    const std::string upper = UpperCase(text);
    if (upper.empty() || upper == "NAN" || upper == "N/A" || upper == "NA" || upper == "-" ||
        upper == "--" || upper == "NULL" || upper == "NONE") {
        return {};
    }
    std::string_view rest = text;
    bool negative = false;
    if (rest.front() == '-' || rest.front() == '+') {
        negative = rest.front() == '-';
        rest.remove_prefix(1);
    }
    if (!rest.empty() && rest.front() == '$') rest.remove_prefix(1);
    if (!rest.empty() && rest.back() == '%') rest.remove_suffix(1);
    // Thousands separators only between digits: "1,234,567".
    std::string plain;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == ',' && i > 0 && i + 1 < rest.size() && IsDigit(rest[i - 1]) &&
            IsDigit(rest[i + 1])) {
            continue;
        }
        plain += rest[i];
    }
    if (plain.empty() || !(IsDigit(plain.front()) || plain.front() == '.')) {
        return {Cell::Unreadable, 0};
    }
    double value = 0;
    const char* end = plain.data() + plain.size();
    const auto [ptr, ec] = std::from_chars(plain.data(), end, value, std::chars_format::general);
    if (ec != std::errc() || ptr != end || !std::isfinite(value) || value > kLargestValue) {
        return {Cell::Unreadable, 0};
    }
    return {Cell::Number, negative ? -value : value};
}

std::string_view RowFaultName(RowFault fault) {
    switch (fault) {
        case RowFault::UnreadableNumber:
            return "unreadable number";
        case RowFault::NegativeValue:
            return "negative value";
        case RowFault::BadSymbol:
            return "symbol not of 1 to 6 letters and digits";
        case RowFault::NoLastPrice:
            return "no last price above 0";
        case RowFault::BadContractSymbol:
            return "unreadable contract symbol";
        case RowFault::UnknownType:
            return "unknown option type";
        case RowFault::BadStrike:
            return "strike not above 0";
        case RowFault::BadDate:
            return "bad expiration date";
        case RowFault::Count:
            break;
    }
    return "?";
}

// ------------------------------------------------------------------ stocks

std::optional<StockHeader> MatchStockHeader(const std::vector<std::string>& header,
                                            std::string& message) {
    const std::vector<std::string> n = Normalized(header);
    StockHeader h;
    h.names = header;
    auto& c = h.column;
    c[kSymbol] = FindColumn(n, {"symbol", "ticker"});
    c[kLast] = FindColumn(n, {"last", "lastprice", "price", "close"});
    c[kName] = FindColumn(n, {"name", "shortname", "longname", "companyname"});
    c[kChange] = FindColumn(n, {"change", "netchange"});
    c[kPercentChange] =
        FindColumn(n, {"percentchange", "changepercent", "pctchange", "%change", "change%"});
    c[kBid] = FindColumn(n, {"bid"});
    c[kAsk] = FindColumn(n, {"ask"});
    c[kOpen] = FindColumn(n, {"open"});
    c[kHigh] = FindColumn(n, {"high", "dayhigh"});
    c[kLow] = FindColumn(n, {"low", "daylow"});
    c[kPreviousClose] = FindColumn(n, {"previousclose", "prevclose"});
    c[kVolume] = FindColumn(n, {"volume"});
    c[kHigh52Week] = FindColumn(n, {"52weekhigh", "fiftytwoweekhigh", "high52week", "yearhigh"});
    c[kLow52Week] = FindColumn(n, {"52weeklow", "fiftytwoweeklow", "low52week", "yearlow"});
    c[kDividend] = FindColumn(n, {"dividend", "dividendrate", "annualdividend"});
    c[kEarnings] = FindColumn(n, {"eps", "earningspershare", "trailingeps"});
    c[kYield] = FindColumn(n, {"yield", "dividendyield"});
    c[kShares] = FindColumn(n, {"sharesoutstanding", "shares"});
    c[kExchange] = FindColumn(n, {"exchange"});
    c[kExDividendDate] = FindColumn(n, {"exdividenddate", "exdivdate", "exdate"});
    c[kHistVolatility] =
        FindColumn(n, {"historicalvolatility", "histvolatility", "hv", "volatility"});
    if (c[kSymbol] < 0) {
        message = "no column 'symbol' (the stock's ticker)";
        return std::nullopt;
    }
    if (c[kLast] < 0) {
        message = "no column for the last price ('last', 'lastPrice', 'price' or 'close')";
        return std::nullopt;
    }
    return h;
}

float PriceEarningsOf(float lastSale, float earningsPerShare) {
    constexpr float kNotAvailable = 100000;
    if (std::fabs(earningsPerShare) < 0.001f) return kNotAvailable;
    const float ratio = static_cast<float>(static_cast<double>(lastSale) / earningsPerShare);
    return ratio > kNotAvailable ? kNotAvailable : ratio;
}

std::optional<StockRow> ReadStockRow(const StockHeader& header,
                                     const std::vector<std::string>& fields, RowProblem& problem) {
    const auto& c = header.column;
    const auto& names = header.names;
    StockRow row;
    row.Symbol = UpperCase(FieldAt(fields, c[kSymbol]));
    if (!IsScanSymbol(row.Symbol)) {
        problem = {RowFault::BadSymbol, NameOf(names, c[kSymbol]),
                   std::string(FieldAt(fields, c[kSymbol]))};
        return std::nullopt;
    }
    QuoteRecord& q = row.Quote;
    struct Number {
        StockColumn column;
        float QuoteRecord::*field;
        bool signedValue;
    };
    static constexpr Number kNumbers[] = {
        {kLast, &QuoteRecord::LastSale, false},
        {kChange, &QuoteRecord::NetChange, true},
        {kPercentChange, &QuoteRecord::PercentChange, true},
        {kBid, &QuoteRecord::Bid, false},
        {kAsk, &QuoteRecord::Ask, false},
        {kOpen, &QuoteRecord::OpenPrice, false},
        {kHigh, &QuoteRecord::HighPrice, false},
        {kLow, &QuoteRecord::LowPrice, false},
        {kPreviousClose, &QuoteRecord::PreviousClose, false},
        {kHigh52Week, &QuoteRecord::High52Week, false},
        {kLow52Week, &QuoteRecord::Low52Week, false},
        {kDividend, &QuoteRecord::Dividend, false},
        {kEarnings, &QuoteRecord::EarningsPerShare, true},
        {kYield, &QuoteRecord::YieldPercent, false},
        {kHistVolatility, &QuoteRecord::HistVolatility, false},
    };
    for (const Number& number : kNumbers) {
        if (!ReadNumberInto(names, fields, c[number.column], number.signedValue, q.*number.field,
                            problem)) {
            return std::nullopt;
        }
    }
    if (!ReadNumberInto(names, fields, c[kVolume], false, q.Volume, problem) ||
        !ReadNumberInto(names, fields, c[kShares], false, q.SharesOutstanding, problem)) {
        return std::nullopt;
    }
    if (!(q.LastSale > 0)) {
        problem = {RowFault::NoLastPrice, NameOf(names, c[kLast]),
                   std::string(FieldAt(fields, c[kLast]))};
        return std::nullopt;
    }
    q.Volume = std::round(q.Volume);
    q.SharesOutstanding = std::round(q.SharesOutstanding);
    q.CompanyName = std::string(FieldAt(fields, c[kName]));
    q.Exchange = std::string(FieldAt(fields, c[kExchange]));
    q.ExDividendDate = std::string(FieldAt(fields, c[kExDividendDate]));
    q.PriceEarnings = PriceEarningsOf(q.LastSale, q.EarningsPerShare);
    return row;
}

// ------------------------------------------------------------------ options

std::optional<ContractSymbol> DecodeContractSymbol(std::string_view text) {
    text = Trim(text);
    // From the end: 8 strike digits, the type letter, 6 date digits; the root
    // is what comes before, without the padding blanks.
    if (text.size() < 16) return std::nullopt;
    const std::string_view strike = text.substr(text.size() - 8);
    const char type = Upper(text[text.size() - 9]);
    const std::string_view date = text.substr(text.size() - 15, 6);
    const std::string root = UpperCase(Trim(text.substr(0, text.size() - 15)));
    if (root.empty() || root.size() > 6) return std::nullopt;
    for (char c : root) {
        if (!IsAlnum(c)) return std::nullopt;
    }
    if (type != 'C' && type != 'P') return std::nullopt;
    const std::optional<int> thousandths = Digits(strike, 8, 8);
    const std::optional<int> twoDigitYear = Digits(date.substr(0, 2), 2, 2);
    const std::optional<CivilDate> expiration =
        ValidDate(twoDigitYear ? std::optional<int>(2000 + *twoDigitYear) : std::nullopt,
                  Digits(date.substr(2, 2), 2, 2), Digits(date.substr(4, 2), 2, 2));
    if (!thousandths || !expiration) return std::nullopt;
    return ContractSymbol{root, *expiration, type == 'C' ? 0 : 1, *thousandths / 1000.0};
}

std::optional<OptionHeader> MatchOptionHeader(const std::vector<std::string>& header,
                                              std::string& message) {
    const std::vector<std::string> n = Normalized(header);
    OptionHeader h;
    h.names = header;
    auto& c = h.column;
    const int contract = FindColumn(n, {"contractsymbol", "optionsymbol", "occsymbol"});
    c[kUnderlying] = FindColumn(n, {"underlying", "underlyingsymbol", "ticker"});
    c[kExpiration] = FindColumn(n, {"expiration", "expirationdate", "expiry", "expdate"});
    c[kType] = FindColumn(n, {"type", "optiontype", "putcall", "callput", "right"});
    c[kStrike] = FindColumn(n, {"strike", "strikeprice"});
    const int symbol = FindColumn(n, {"symbol"});
    // The four columns win when all are there ("symbol" then names the
    // stock); otherwise a contract symbol column is needed.
    if (c[kUnderlying] < 0 && contract >= 0)
        c[kUnderlying] = -1;
    else if (c[kUnderlying] < 0)
        c[kUnderlying] = symbol;
    const bool columnForm =
        c[kUnderlying] >= 0 && c[kExpiration] >= 0 && c[kType] >= 0 && c[kStrike] >= 0;
    if (!columnForm) {
        c[kContract] = contract >= 0 ? contract : symbol;
        if (c[kContract] < 0) {
            std::string missing;
            for (auto [column, name] : {std::pair{kUnderlying, "underlying"},
                                        {kExpiration, "expiration"},
                                        {kType, "type"},
                                        {kStrike, "strike"}}) {
                if (c[column] < 0)
                    missing += std::string(missing.empty() ? "" : ", ") + "'" + name + "'";
            }
            message = "no column 'contractSymbol' (or 'optionSymbol', 'symbol'), and no column " +
                      missing + " for the separate form";
            return std::nullopt;
        }
        if (c[kUnderlying] == c[kContract]) c[kUnderlying] = -1;
        h.contractForm = true;
    } else {
        c[kContract] = -1;
    }
    c[kOptLast] = FindColumn(n, {"lastprice", "last"});
    c[kOptChange] = FindColumn(n, {"change", "netchange"});
    c[kOptBid] = FindColumn(n, {"bid"});
    c[kOptAsk] = FindColumn(n, {"ask"});
    c[kOptVolume] = FindColumn(n, {"volume"});
    c[kOpenInterest] = FindColumn(n, {"openinterest", "oi"});
    return h;
}

std::optional<OptionRow> ReadOptionRow(const OptionHeader& header,
                                       const std::vector<std::string>& fields,
                                       RowProblem& problem) {
    const auto& c = header.column;
    const auto& names = header.names;
    OptionRow row;
    auto fail = [&](RowFault fault, int column) {
        problem = {fault, NameOf(names, column), std::string(FieldAt(fields, column))};
        return std::nullopt;
    };
    if (header.contractForm) {
        const std::optional<ContractSymbol> contract =
            DecodeContractSymbol(FieldAt(fields, c[kContract]));
        if (!contract) return fail(RowFault::BadContractSymbol, c[kContract]);
        if (contract->Strike <= 0) return fail(RowFault::BadStrike, c[kContract]);
        row.Root = contract->Root;
        row.Expiration = contract->Expiration;
        row.Type = contract->Type;
        row.Strike = contract->Strike;
        row.Underlying = row.Root;
        if (c[kUnderlying] >= 0) {
            const std::string_view underlying = FieldAt(fields, c[kUnderlying]);
            if (!underlying.empty()) row.Underlying = UpperCase(underlying);
        }
    } else {
        row.Underlying = UpperCase(FieldAt(fields, c[kUnderlying]));
        if (row.Underlying.empty()) return fail(RowFault::BadSymbol, c[kUnderlying]);
        row.Root = row.Underlying;
        const std::optional<CivilDate> date = ParseDate(FieldAt(fields, c[kExpiration]));
        if (!date) return fail(RowFault::BadDate, c[kExpiration]);
        row.Expiration = *date;
        const std::string type = UpperCase(FieldAt(fields, c[kType]));
        if (type == "C" || type == "CALL" || type == "CALLS") {
            row.Type = 0;
        } else if (type == "P" || type == "PUT" || type == "PUTS") {
            row.Type = 1;
        } else {
            return fail(RowFault::UnknownType, c[kType]);
        }
        const Cell strike = ReadCell(FieldAt(fields, c[kStrike]));
        if (strike.kind == Cell::Unreadable) return fail(RowFault::UnreadableNumber, c[kStrike]);
        if (strike.kind == Cell::Missing || strike.value <= 0) {
            return fail(RowFault::BadStrike, c[kStrike]);
        }
        row.Strike = strike.value;
    }
    struct Number {
        OptionColumn column;
        float OptionRow::*field;
    };
    static constexpr Number kNumbers[] = {
        {kOptLast, &OptionRow::Last},
        {kOptBid, &OptionRow::Bid},
        {kOptAsk, &OptionRow::Ask},
        {kOptVolume, &OptionRow::Volume},
        {kOpenInterest, &OptionRow::OpenInterest},
    };
    for (const Number& number : kNumbers) {
        if (!ReadNumberInto(names, fields, c[number.column], false, row.*number.field, problem)) {
            return std::nullopt;
        }
    }
    if (!ReadNumberInto(names, fields, c[kOptChange], true, row.Change, problem)) {
        return std::nullopt;
    }
    return row;
}

}  // namespace quillon::import
