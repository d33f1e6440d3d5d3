#include "platform/number_read.h"

#include <charconv>
#include <cmath>
#include <cstddef>

namespace quillon {

namespace {

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

bool IsNumberText(std::string_view text) {
    return ParseDecimalNumber(text).has_value();
}

}  // namespace quillon
