#include "ingest/import_rows.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <initializer_list>
#include <tuple>

#include "ingest/row_fields.h"
#include "platform/text.h"

namespace quillon::import {

using namespace fields;

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
std::optional<CivilDay> LeadingDate(std::string_view text, bool twoDigitSlashYear,
                                    std::size_t& used) {
    text = Trim(text);
    // ISO with a time glued on by "T".
    if (text.size() >= 10 && text[4] == '-' && text[7] == '-') {
        const std::string_view rest = text.substr(10);
        if (!rest.empty() && rest.front() != ' ' && rest.front() != 'T') return std::nullopt;
        used = 1;  // a time glued on by "T" is part of the same word
        const std::optional<CivilDay> iso = ReadIsoDigits(text.substr(0, 10));
        return iso ? ValidDate(iso->Year, iso->Month, iso->Day) : std::nullopt;
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
    if (const std::optional<int> number = Digits(first, 8, 8)) {
        used = i + 1;
        const CivilDay day = CivilDay::FromNumber(*number);
        return ValidDate(day.Year, day.Month, day.Day);
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

std::optional<CivilDay> ParseDate(std::string_view text) {
    std::size_t used = 0;
    const std::optional<CivilDay> date = LeadingDate(text, false, used);
    if (!date || !IsTimeWords(Words(Trim(text)), used)) return std::nullopt;
    return date;
}

std::optional<CivilDay> ParseLeadingDate(std::string_view text) {
    std::size_t used = 0;
    return LeadingDate(text, true, used);
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

bool IsCommandLineSymbol(std::string_view symbol) {
    return !symbol.empty() && symbol.size() <= 6 &&
           symbol.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789") ==
               std::string_view::npos;
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

}  // namespace quillon::import
