#include "analytics/filters.h"

#include <charconv>
#include <cmath>

#include "platform/number_format.h"

namespace quillon {

const std::array<const char*, kFilterCount> kFilterNames = {
    "TX_MinPE",     "TX_MaxPE",     "TX_MinMktCap",       "TX_MaxMktCap",
    "TX_MinVolume", "TX_MaxVolume", "TX_MinLast",         "TX_MaxLast",
    "TX_MinBeta",   "TX_MaxBeta",   "TX_MinPctChange",    "TX_MaxPctChange",
    "TX_MinYield",  "TX_MaxYield",  "TX_MinRange",        "TX_MaxRange",
    "TX_MinOptVol", "TX_MinOptInt", "TX_MinCallPutRatio", "TX_MinPutCallRatio"};

const std::array<const char*, 5> kFilterTemplateNames = {"Default Setting", "For Buying Stocks",
                                                         "For Selling Stocks", "For Low P/E Stocks",
                                                         "For High Yield Stocks"};

namespace {

constexpr const char* kNotAvailable = "NA";

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Moves `pos` past a run of digits; returns how many there were.
std::size_t SkipDigits(std::string_view text, std::size_t& pos) {
    const std::size_t start = pos;
    while (pos < text.size() && IsDigit(text[pos]))
        ++pos;
    return pos - start;
}

// The part of `text` between leading and trailing blanks (spaces and tabs).
std::string_view TrimBlanks(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const std::size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// True when `text` (already trimmed) has the form: optional sign, digits with
// at most one "." and at least one digit, then an optional exponent made of
// "E" or "e", an optional sign and at least one digit.
bool HasNumberForm(std::string_view text) {
    std::size_t pos = 0;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) ++pos;
    std::size_t digits = SkipDigits(text, pos);
    if (pos < text.size() && text[pos] == '.') {
        ++pos;
        digits += SkipDigits(text, pos);
    }
    if (digits == 0) return false;
    if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
        ++pos;
        if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) ++pos;
        if (SkipDigits(text, pos) == 0) return false;
    }
    return pos == text.size();
}

}  // namespace

// The conversion ignores the locale, so "." is always the decimal point. A
// number beyond the range of a 64-bit float (it would become infinite, or
// zero although its digits are not) does not convert completely and is
// therefore no number.
std::optional<double> ParseDecimalNumber(std::string_view text) {
    text = TrimBlanks(text);
    if (!HasNumberForm(text)) return std::nullopt;
    const bool negative = text.front() == '-';
    if (text.front() == '+' || text.front() == '-') text.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

std::string FilterValue::ToText() const {
    if (const auto* number = std::get_if<double>(&value_)) return FormatGeneral(*number);
    if (const auto* text = std::get_if<std::string>(&value_)) return *text;
    return {};
}

bool FilterValue::InUse() const {
    return IsNumberText(ToText());
}

double FilterValue::AsNumber() const {
    if (const auto* number = std::get_if<double>(&value_)) return *number;
    return ParseDecimalNumber(ToText()).value_or(0.0);
}

bool IsNumberText(std::string_view text) {
    return ParseDecimalNumber(text).has_value();
}

FilterValue ParseFilterValue(std::string_view text) {
    if (const auto number = ParseDecimalNumber(text)) return FilterValue::Number(*number);
    return FilterValue::Text(kNotAvailable);
}

void ClearFilters(FilterSettings& filters) {
    for (auto& value : filters.Values)
        value = FilterValue::Text(kNotAvailable);
    filters.DeriveZorFrom = 1;
}

void SetDefaultFilters(FilterSettings& filters) {
    ClearFilters(filters);
    filters.Values[TX_MinOptInt] = FilterValue::Number(250);
    filters.Values[TX_MinCallPutRatio] = FilterValue::Number(8);
    filters.Values[TX_MinPutCallRatio] = FilterValue::Number(8);
}

void ApplyFilterTemplate(FilterSettings& filters, FilterTemplate which) {
    switch (which) {
        case FilterTemplate::DefaultSetting:
            SetDefaultFilters(filters);
            break;
        case FilterTemplate::ForBuyingStocks:
            // Only the call/put ratio stays: ZORC at least eight times ZORP.
            SetDefaultFilters(filters);
            filters.Values[TX_MinPutCallRatio] = FilterValue::Text(kNotAvailable);
            break;
        case FilterTemplate::ForSellingStocks:
            // Only the put/call ratio stays: ZORP at least eight times ZORC.
            SetDefaultFilters(filters);
            filters.Values[TX_MinCallPutRatio] = FilterValue::Text(kNotAvailable);
            break;
        case FilterTemplate::ForLowPEStocks:
            // Texts, as typed into the dialog; they count as in use all the same.
            ClearFilters(filters);
            filters.Values[TX_MinPE] = FilterValue::Text("0");
            filters.Values[TX_MaxPE] = FilterValue::Text("7");
            break;
        case FilterTemplate::ForHighYieldStocks:
            ClearFilters(filters);
            filters.Values[TX_MinYield] = FilterValue::Text("5");
            break;
    }
}

}  // namespace quillon
