#include "ingest/import_rows.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <tuple>

#include "platform/clock.h"
#include "platform/text.h"

namespace quillon::import {

namespace {

// Values beyond this are no prices or share counts, and would overflow the
// archive's 32-bit figures.
constexpr double kLargestValue = 1e15;

// A field without its blanks, and a line's CR after it.
std::string_view Trim(std::string_view text) {
    return TrimEnd(TrimStart(text, IsSpaceOrTab), IsSpaceTabOrCr);
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
            NameOf(names, column),
            std::string(text),
            {}};
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

namespace {

// The month of an English month name or its first three letters, any case.
std::optional<int> MonthOfName(std::string_view word) {
    static constexpr const char* kNames[] = {"january",   "february", "march",    "april",
                                             "may",       "june",     "july",     "august",
                                             "september", "october",  "november", "december"};
    if (word.size() < 3) return std::nullopt;
    std::string lower;
    for (char c : word)
        lower += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    if (lower.size() == 4 && lower == "sept") return 9;
    for (int m = 0; m < 12; ++m) {
        const std::string_view name = kNames[m];
        if (lower.size() == 3 ? name.starts_with(lower) : name == lower) return m + 1;
    }
    return std::nullopt;
}

bool IsWeekDayName(std::string_view word) {
    static constexpr const char* kDays[] = {"sun", "mon", "tue", "wed", "thu", "fri", "sat"};
    std::string lower;
    for (char c : word)
        lower += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    for (const char* day : kDays) {
        if (lower.size() >= 3 && lower.starts_with(day)) return true;
    }
    return false;
}

// The words of a text split at blanks, tabs and commas.
std::vector<std::string_view> Words(std::string_view text) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < text.size() && words.size() < 8) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == ','))
            ++i;
        const std::size_t start = i;
        while (i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != ',')
            ++i;
        if (i > start) words.push_back(text.substr(start, i - start));
    }
    return words;
}

std::optional<int> Year(std::string_view text, bool twoDigitsAllowed) {
    if (const auto year = Digits(text, 4, 4)) return year;
    if (!twoDigitsAllowed) return std::nullopt;
    const auto year = Digits(text, 2, 2);
    return year ? std::optional<int>(2000 + *year) : std::nullopt;
}

// A time of day after a date: "0:00:00", "16:00", "15:59:58.123", with an
// optional AM/PM and zone word, or the zone's offset glued on, as pandas
// writes dates of a time zone: "00:00:00-05:00", "09:30:00+0100", "16:00Z".
bool IsTimeWords(const std::vector<std::string_view>& words, std::size_t from) {
    if (from >= words.size()) return true;
    std::string_view time = words[from];
    if (!time.empty() && time.back() == 'Z') time.remove_suffix(1);
    const std::size_t offset = time.find_first_of("+-");
    if (offset != std::string_view::npos && offset > 0) {
        const std::string_view zone = time.substr(offset + 1);
        if (zone.size() < 2 || zone.size() > 5) return false;
        for (char c : zone) {
            if (!IsDigit(c) && c != ':') return false;
        }
        time = time.substr(0, offset);
    }
    for (char c : time) {
        if (!IsDigit(c) && c != ':' && c != '.') return false;
    }
    return words.size() - from <= 3;
}

// The date at the start of `text` and the number of words it took.
std::optional<CivilDate> LeadingDate(std::string_view text, bool twoDigitSlashYear,
                                     std::size_t& used) {
    text = Trim(text);
    // ISO with a time glued on by "T".
    if (text.size() >= 10 && text[4] == '-' && text[7] == '-') {
        const std::string_view rest = text.substr(10);
        if (!rest.empty() && rest.front() != ' ' && rest.front() != 'T') return std::nullopt;
        used = 1;  // a time glued on by "T" is part of the same word
        return ValidDate(Digits(text.substr(0, 4), 4, 4), Digits(text.substr(5, 2), 2, 2),
                         Digits(text.substr(8, 2), 2, 2));
    }
    const std::vector<std::string_view> words = Words(text);
    std::size_t i = 0;
    if (i < words.size() && IsWeekDayName(words[i]) && !MonthOfName(words[i])) ++i;
    if (i >= words.size()) return std::nullopt;
    const std::string_view first = words[i];
    if (const auto month = MonthOfName(first)) {
        // "Oct 17 2025", "October 14, 2025"
        if (i + 2 >= words.size()) return std::nullopt;
        used = i + 3;
        return ValidDate(Year(words[i + 2], false), month, Digits(words[i + 1], 1, 2));
    }
    if (first.size() == 8 && Digits(first, 8, 8)) {
        used = i + 1;
        return ValidDate(Digits(first.substr(0, 4), 4, 4), Digits(first.substr(4, 2), 2, 2),
                         Digits(first.substr(6, 2), 2, 2));
    }
    const std::size_t slash = first.find('/');
    if (slash != std::string_view::npos) {
        const std::size_t second = first.find('/', slash + 1);
        if (second == std::string_view::npos) return std::nullopt;
        used = i + 1;
        return ValidDate(Year(first.substr(second + 1), twoDigitSlashYear),
                         Digits(first.substr(0, slash), 1, 2),
                         Digits(first.substr(slash + 1, second - slash - 1), 1, 2));
    }
    // "17 NOV 23", "17 Nov 2023"
    if (i + 2 < words.size()) {
        if (const auto month = MonthOfName(words[i + 1])) {
            used = i + 3;
            return ValidDate(Year(words[i + 2], true), month, Digits(first, 1, 2));
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<CivilDate> ParseDate(std::string_view text) {
    std::size_t used = 0;
    const std::optional<CivilDate> date = LeadingDate(text, false, used);
    if (!date || !IsTimeWords(Words(Trim(text)), used)) return std::nullopt;
    return date;
}

std::optional<CivilDate> ParseLeadingDate(std::string_view text) {
    std::size_t used = 0;
    return LeadingDate(text, true, used);
}

std::string DateText(const CivilDate& date) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", date.Year % 10000, date.Month % 100,
                  date.Day % 100);
    return text;
}

std::string NoDateText(const RowProblem& problem) {
    return "no date could be read: '" + problem.text + "' in column '" + problem.column + "'";
}

std::string NormalizeColumnName(std::string_view name) {
    std::string out;
    for (char c : name) {
        if (c == ' ' || c == '\t' || c == '_' || c == '-' || c == '.' || c == '[' || c == ']' ||
            c == '<' || c == '>' || c == '(' || c == ')' || c == '"') {
            continue;
        }
        out += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return out;
}

std::string SymbolOf(std::string_view text) {
    text = Trim(text);
    if (!text.empty() && (text.front() == '^' || text.front() == '$')) text.remove_prefix(1);
    return UpperCase(text);
}

Cell ReadCell(std::string_view text) {
    text = Trim(text);
    const std::string upper = UpperCase(text);
    if (upper.empty() || upper == "NAN" || upper == "N/A" || upper == "NA" || upper == "-" ||
        upper == "--" || upper == "NULL" || upper == "NONE" || upper == "<EMPTY>") {
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

std::string DescribeRowProblem(const std::string& file, long line, const RowProblem& problem) {
    std::string text = file + ":" + std::to_string(line) + ": ";
    if (!problem.column.empty()) text += "column '" + problem.column + "': ";
    text += std::string(RowFaultName(problem.fault));
    if (!problem.text.empty()) text += " '" + problem.text + "'";
    return text;
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
        case RowFault::BadQuoteDate:
            return "bad quote date";
        case RowFault::Count:
            break;
    }
    return "?";
}

// ------------------------------------------------------------------ stocks

std::optional<StockHeader> MatchStockHeader(const std::vector<std::string>& header,
                                            std::string& message, bool symbolGiven) {
    const std::vector<std::string> n = Normalized(header);
    StockHeader h;
    h.names = header;
    auto& c = h.column;
    c[kSymbol] = FindColumn(n, {"symbol", "ticker"});
    c[kLast] = FindColumn(n, {"last", "lastprice", "lastsale", "price", "close"});
    c[kName] = FindColumn(n, {"name", "shortname", "longname", "companyname"});
    c[kChange] = FindColumn(n, {"change", "netchange", "net", "netchng"});
    c[kPercentChange] =
        FindColumn(n, {"percentchange", "changepercent", "pctchange", "%change", "change%"});
    c[kBid] = FindColumn(n, {"bid"});
    c[kAsk] = FindColumn(n, {"ask"});
    c[kOpen] = FindColumn(n, {"open"});
    c[kHigh] = FindColumn(n, {"high", "dayhigh"});
    c[kLow] = FindColumn(n, {"low", "daylow"});
    c[kPreviousClose] = FindColumn(n, {"previousclose", "prevclose"});
    c[kVolume] = FindColumn(n, {"volume", "vol"});
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
    c[kMarketCap] = FindColumn(n, {"marketcap", "marketcapitalization", "mktcap"});
    c[kQuoteDate] = FindColumn(n, {"date", "quotedate", "datadate", "tradedate", "asofdate"});
    if (c[kSymbol] < 0 && !symbolGiven) {
        message = "no column 'symbol' (the stock's ticker)";
        return std::nullopt;
    }
    if (c[kLast] < 0) {
        message =
            "no column for the last price ('last', 'lastPrice', 'Last Sale', 'price' or 'close')";
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

namespace {

std::optional<StockRow> ReadStockFields(const StockHeader& header,
                                        const std::vector<std::string>& fields, RowProblem& problem,
                                        std::string_view symbol) {
    const auto& c = header.column;
    const auto& names = header.names;
    StockRow row;
    row.Symbol = c[kSymbol] >= 0 ? SymbolOf(FieldAt(fields, c[kSymbol])) : std::string(symbol);
    if (!IsScanSymbol(row.Symbol)) {
        problem = {RowFault::BadSymbol,
                   NameOf(names, c[kSymbol]),
                   std::string(FieldAt(fields, c[kSymbol])),
                   {}};
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
    double marketCap = 0;
    if (!ReadNumberInto(names, fields, c[kVolume], false, q.Volume, problem) ||
        !ReadNumberInto(names, fields, c[kShares], false, q.SharesOutstanding, problem) ||
        !ReadNumberInto(names, fields, c[kMarketCap], false, marketCap, problem)) {
        return std::nullopt;
    }
    if (c[kQuoteDate] >= 0) {
        row.QuoteDate = ParseDate(FieldAt(fields, c[kQuoteDate]));
        if (!row.QuoteDate) {
            problem = {RowFault::BadQuoteDate,
                       NameOf(names, c[kQuoteDate]),
                       std::string(FieldAt(fields, c[kQuoteDate])),
                       {}};
            return std::nullopt;
        }
    }
    if (!(q.LastSale > 0)) {
        problem = {RowFault::NoLastPrice,
                   NameOf(names, c[kLast]),
                   std::string(FieldAt(fields, c[kLast])),
                   {}};
        return std::nullopt;
    }
    q.Volume = std::round(q.Volume);
    // A screener gives the market value, not the share count.
    if (q.SharesOutstanding == 0 && marketCap > 0) q.SharesOutstanding = marketCap / q.LastSale;
    q.SharesOutstanding = std::round(q.SharesOutstanding);
    q.CompanyName = std::string(FieldAt(fields, c[kName]));
    q.Exchange = std::string(FieldAt(fields, c[kExchange]));
    q.ExDividendDate = std::string(FieldAt(fields, c[kExDividendDate]));
    q.PriceEarnings = PriceEarningsOf(q.LastSale, q.EarningsPerShare);
    return row;
}

}  // namespace

std::optional<StockRow> ReadStockRow(const StockHeader& header,
                                     const std::vector<std::string>& fields, RowProblem& problem,
                                     std::string_view symbol) {
    std::optional<StockRow> row = ReadStockFields(header, fields, problem, symbol);
    if (!row) {
        // Which stock the skipped row was, so that its options left without
        // a price can say why.
        const int column = header.column[kSymbol];
        const std::string named =
            column >= 0 ? SymbolOf(FieldAt(fields, column)) : std::string(symbol);
        if (IsScanSymbol(named)) problem.symbol = named;
    }
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

namespace {

// The column names of an option's own figures, by field, best first.
struct FigureNames {
    OptionColumn column;
    std::initializer_list<const char*> names;
};
const FigureNames kFigureNames[] = {
    {kOptLast, {"last", "lastprice", "lastsale", "lasttradeprice", "close"}},
    {kOptChange, {"change", "netchange", "net", "netchng"}},
    {kOptBid, {"bid", "bideod", "bidprice"}},
    {kOptAsk, {"ask", "askeod", "askprice"}},
    {kOptVolume, {"volume", "vol", "tradevolume"}},
    {kOpenInterest, {"openinterest", "oi", "openint"}},
};

bool IsFigureName(std::string_view normalized) {
    for (const FigureNames& figure : kFigureNames) {
        for (const char* name : figure.names) {
            if (normalized == name) return true;
        }
    }
    return false;
}

// The side a prefixed name belongs to ("C_BID", "[P_ASK]", "call_volume"),
// and the name without the prefix; -1 when the name has none.
int PrefixSide(std::string_view name, std::string& rest) {
    std::string text;
    for (char c : name) {
        if (c != ' ' && c != '[' && c != ']' && c != '<' && c != '>' && c != '"') text += c;
    }
    const std::string lower = NormalizeColumnName(text);
    for (auto [prefix, side] :
         {std::pair{"c_", 0}, {"p_", 1}, {"call_", 0}, {"put_", 1}, {"calls_", 0}, {"puts_", 1}}) {
        const std::string_view p = prefix;
        if (text.size() > p.size()) {
            std::string head = text.substr(0, p.size());
            for (char& c : head)
                c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
            if (head == p) {
                rest = NormalizeColumnName(text.substr(p.size()));
                return side;
            }
        }
    }
    rest = lower;
    return -1;
}

int FindIn(const std::vector<std::string>& normalized, const std::vector<int>& sides, int side,
           std::initializer_list<const char*> aliases) {
    for (const char* alias : aliases) {
        for (std::size_t i = 0; i < normalized.size(); ++i) {
            if (sides[i] == side && normalized[i] == alias) return static_cast<int>(i);
        }
    }
    return -1;
}

}  // namespace

std::optional<OptionHeader> MatchOptionHeader(const std::vector<std::string>& header,
                                              std::string& message, const RowContext& context,
                                              bool blockTitles) {
    OptionHeader h;
    h.names = header;
    h.column.fill(-1);
    h.putColumn.fill(-1);
    auto& c = h.column;

    // Side-by-side layouts: figures named with C_/P_ prefixes, or the same
    // figure names on both sides of the strike.
    std::vector<std::string> n(header.size());
    std::vector<int> side(header.size(), -1);
    bool prefixed = false;
    for (std::size_t i = 0; i < header.size(); ++i) {
        side[i] = PrefixSide(header[i], n[i]);
        if (side[i] >= 0 && IsFigureName(n[i])) prefixed = true;
    }
    if (!prefixed) {
        side.assign(header.size(), -1);
        for (std::size_t i = 0; i < header.size(); ++i)
            n[i] = NormalizeColumnName(header[i]);
    }
    std::vector<int> shared(header.size(), -1);
    const int strike = FindIn(n, prefixed ? side : shared, -1, {"strike", "strikeprice"});
    if (!prefixed && strike >= 0) {
        bool before = false, after = false;
        for (std::size_t i = 0; i < n.size(); ++i) {
            if (!IsFigureName(n[i])) continue;
            (static_cast<int>(i) < strike ? before : after) = true;
        }
        if (before && after) {
            for (std::size_t i = 0; i < n.size(); ++i) {
                const bool contract = n[i] == "calls" || n[i] == "puts";
                if (IsFigureName(n[i]) || contract) side[i] = static_cast<int>(i) < strike ? 0 : 1;
            }
        }
    }
    h.sideBySide = prefixed || std::find(side.begin(), side.end(), 1) != side.end();

    auto shared_ = [&](std::initializer_list<const char*> aliases) {
        return FindIn(n, side, -1, aliases);
    };
    c[kStrike] = strike;
    c[kUnderlying] = shared_({"underlying", "underlyingsymbol", "ticker"});
    c[kRoot] = shared_({"optionroot", "root"});
    c[kExpiration] = shared_({"expiration", "expirationdate", "expiry", "expirydate", "expdate",
                              "exp", "expiredate", "maturity"});
    c[kType] = shared_({"type", "optiontype", "putcall", "callput", "right", "cp"});
    c[kOptQuoteDate] = shared_({"quotedate", "datadate", "date", "tradedate", "asofdate"});
    c[kUnderlyingPrice] = shared_({"underlyingprice", "underlyinglast", "underlyinglastprice",
                                   "underlyingclose", "spotprice", "stockprice"});
    c[kUnderlyingBid] = shared_({"underlyingbideod", "underlyingbid"});
    c[kUnderlyingAsk] = shared_({"underlyingaskeod", "underlyingask"});
    const int contract = shared_({"contractsymbol", "optionsymbol", "occsymbol"});
    const int symbol = shared_({"symbol"});

    if (h.sideBySide) {
        for (int s = 0; s < 2; ++s) {
            auto& columns = s == 0 ? h.column : h.putColumn;
            for (const FigureNames& figure : kFigureNames)
                columns[figure.column] = FindIn(n, side, s, figure.names);
            columns[kContract] =
                FindIn(n, side, s,
                       {s == 0 ? "calls" : "puts", "contractsymbol", "optionsymbol", "symbol"});
        }
        if (c[kUnderlying] < 0) c[kUnderlying] = symbol;
        if (c[kUnderlying] < 0 && context.underlying.empty() && h.column[kContract] < 0 &&
            h.putColumn[kContract] < 0) {
            message = "no column for the underlying symbol: name the stock with --symbol SYM";
            return std::nullopt;
        }
        if (strike < 0) {
            message = "no column 'strike'";
            return std::nullopt;
        }
        if (c[kExpiration] < 0 && !blockTitles && h.column[kContract] < 0) {
            message = "no column 'expiration' (or 'expiry', 'expiry_date', 'exp')";
            return std::nullopt;
        }
    } else {
        // The four columns win when all are there ("symbol" then names the
        // stock); a contract symbol column otherwise. A file with some of
        // the four and no contract column is half-recognised: refused,
        // naming what it lacks, never read as contract symbols.
        if (c[kUnderlying] < 0 && contract < 0) c[kUnderlying] = symbol;
        const bool underlyingKnown = c[kUnderlying] >= 0 || !context.underlying.empty();
        const bool expirationKnown = c[kExpiration] >= 0 || blockTitles;
        const bool columnForm = underlyingKnown && expirationKnown && c[kType] >= 0 && strike >= 0;
        const bool someOfTheFour = c[kExpiration] >= 0 || c[kType] >= 0 || strike >= 0;
        if (!columnForm) {
            c[kContract] = contract >= 0 ? contract : (someOfTheFour ? -1 : symbol);
            if (c[kContract] < 0) {
                std::string missing;
                for (auto [column, name, known] :
                     {std::tuple{kUnderlying, "underlying", underlyingKnown},
                      {kExpiration, "expiration", expirationKnown},
                      {kType, "type", c[kType] >= 0},
                      {kStrike, "strike", strike >= 0}}) {
                    (void)column;
                    if (!known)
                        missing += std::string(missing.empty() ? "" : ", ") + "'" + name + "'";
                }
                message = "no column " + missing +
                          " for the separate-column form, and no column 'contractSymbol' (or "
                          "'optionSymbol')";
                if (!underlyingKnown)
                    message +=
                        "; a file without the underlying's symbol takes it from --symbol SYM";
                return std::nullopt;
            }
            if (c[kUnderlying] == c[kContract]) c[kUnderlying] = -1;
            h.contractForm = true;
        }
        for (const FigureNames& figure : kFigureNames)
            c[figure.column] = FindIn(n, side, -1, figure.names);
    }
    bool anyPrice = false;
    for (const auto* columns : {&h.column, &h.putColumn}) {
        for (OptionColumn figure : {kOptLast, kOptBid, kOptAsk})
            anyPrice = anyPrice || (*columns)[figure] >= 0;
    }
    if (!anyPrice) {
        message =
            "no price column: looked for 'last', 'lastPrice', 'Last Sale', 'close', 'bid', "
            "'bid_eod', 'ask' and 'ask_eod'";
        return std::nullopt;
    }
    return h;
}

namespace {

// One side of a row (side 0 the calls or the only side, 1 the puts of a
// side-by-side row). Nothing, without a problem, for an empty side.
std::optional<OptionRow> ReadSide(const OptionHeader& header, int side,
                                  const std::vector<std::string>& fields, const RowContext& context,
                                  RowProblem& problem, bool& failed) {
    const auto& c = header.column;
    const auto& s = side == 0 ? header.column : header.putColumn;
    const auto& names = header.names;
    failed = false;
    OptionRow row;
    auto fail = [&](RowFault fault, int column) {
        problem = {fault, NameOf(names, column), std::string(FieldAt(fields, column)), {}};
        failed = true;
        return std::nullopt;
    };
    if (header.sideBySide) {
        bool any = !FieldAt(fields, s[kContract]).empty();
        for (const FigureNames& figure : kFigureNames)
            any = any || ReadCell(FieldAt(fields, s[figure.column])).kind != Cell::Missing;
        if (!any) return std::nullopt;
    }
    std::optional<ContractSymbol> contract;
    const int contractColumn = header.contractForm ? c[kContract] : s[kContract];
    if (contractColumn >= 0 && !FieldAt(fields, contractColumn).empty()) {
        contract = DecodeContractSymbol(FieldAt(fields, contractColumn));
    }
    if (!contract && header.contractForm) return fail(RowFault::BadContractSymbol, contractColumn);
    if (c[kUnderlying] >= 0) row.Underlying = SymbolOf(FieldAt(fields, c[kUnderlying]));
    if (row.Underlying.empty()) row.Underlying = context.underlying;
    if (header.contractForm) {
        if (contract->Strike <= 0) return fail(RowFault::BadStrike, contractColumn);
        row.Root = contract->Root;
        row.Expiration = contract->Expiration;
        row.Type = contract->Type;
        row.Strike = contract->Strike;
        if (row.Underlying.empty()) row.Underlying = row.Root;
    } else {
        if (row.Underlying.empty()) {
            if (contract) {
                row.Underlying = contract->Root;
            } else {
                return fail(RowFault::BadSymbol, c[kUnderlying]);
            }
        }
        row.Root = contract ? contract->Root : row.Underlying;
        // Some files write the whole contract symbol in the root column.
        if (c[kRoot] >= 0 && !FieldAt(fields, c[kRoot]).empty()) {
            const std::string_view root = FieldAt(fields, c[kRoot]);
            const std::optional<ContractSymbol> rooted = DecodeContractSymbol(root);
            row.Root = rooted ? rooted->Root : SymbolOf(root);
        }
        const std::string_view expiration = FieldAt(fields, c[kExpiration]);
        if (!expiration.empty() || !context.expiration) {
            const std::optional<CivilDate> date = ParseDate(expiration);
            if (date) {
                row.Expiration = *date;
            } else if (contract) {
                row.Expiration = contract->Expiration;
            } else {
                return fail(RowFault::BadDate, c[kExpiration]);
            }
        } else {
            row.Expiration = *context.expiration;
        }
        if (header.sideBySide) {
            row.Type = side;
        } else {
            const std::string type = UpperCase(FieldAt(fields, c[kType]));
            if (type == "C" || type == "CALL" || type == "CALLS") {
                row.Type = 0;
            } else if (type == "P" || type == "PUT" || type == "PUTS") {
                row.Type = 1;
            } else {
                return fail(RowFault::UnknownType, c[kType]);
            }
        }
        const Cell strike = ReadCell(FieldAt(fields, c[kStrike]));
        if (strike.kind == Cell::Unreadable) return fail(RowFault::UnreadableNumber, c[kStrike]);
        if (strike.kind == Cell::Missing || strike.value <= 0) {
            return fail(RowFault::BadStrike, c[kStrike]);
        }
        row.Strike = strike.value;
    }
    if (!IsScanSymbol(row.Underlying)) return fail(RowFault::BadSymbol, c[kUnderlying]);
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
        if (!ReadNumberInto(names, fields, s[number.column], false, row.*number.field, problem)) {
            failed = true;
            return std::nullopt;
        }
    }
    if (!ReadNumberInto(names, fields, s[kOptChange], true, row.Change, problem)) {
        failed = true;
        return std::nullopt;
    }
    if (!ReadNumberInto(names, fields, c[kUnderlyingPrice], false, row.UnderlyingPrice, problem)) {
        failed = true;
        return std::nullopt;
    }
    if (!(row.UnderlyingPrice > 0)) {
        double bid = -1, ask = -1;
        if (!ReadNumberInto(names, fields, c[kUnderlyingBid], false, bid, problem) ||
            !ReadNumberInto(names, fields, c[kUnderlyingAsk], false, ask, problem)) {
            failed = true;
            return std::nullopt;
        }
        row.UnderlyingPrice = bid > 0 && ask > 0 ? (bid + ask) / 2 : -1;
        row.UnderlyingQuoted = c[kUnderlyingBid] >= 0 && c[kUnderlyingAsk] >= 0;
        row.UnderlyingBid = bid;
        row.UnderlyingAsk = ask;
    }
    row.QuoteDate = context.quoteDate;
    if (c[kOptQuoteDate] >= 0) {
        row.QuoteDate = ParseDate(FieldAt(fields, c[kOptQuoteDate]));
        if (!row.QuoteDate) return fail(RowFault::BadQuoteDate, c[kOptQuoteDate]);
    }
    return row;
}

}  // namespace

bool ReadOptionRows(const OptionHeader& header, const std::vector<std::string>& fields,
                    const RowContext& context, std::vector<OptionRow>& rows, RowProblem& problem) {
    rows.clear();
    for (int side = 0; side < (header.sideBySide ? 2 : 1); ++side) {
        bool failed = false;
        std::optional<OptionRow> row = ReadSide(header, side, fields, context, problem, failed);
        if (failed) {
            rows.clear();
            return false;
        }
        if (row) rows.push_back(std::move(*row));
    }
    return true;
}

std::optional<OptionRow> ReadOptionRow(const OptionHeader& header,
                                       const std::vector<std::string>& fields,
                                       RowProblem& problem) {
    std::vector<OptionRow> rows;
    if (!ReadOptionRows(header, fields, {}, rows, problem) || rows.empty()) return std::nullopt;
    return std::move(rows.front());
}

}  // namespace quillon::import
