#include "platform/number_read.h"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "platform/text.h"

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
    return Trim(text, IsSpaceOrTab);
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

// 10^0 to 10^22: every one is exact as a double.
constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr std::uint64_t kExactIntegerLimit = std::uint64_t{1} << 53;

// The value of `text` (trimmed, without its sign) when it is digits with at
// most one "." and no exponent, and its digits taken as a whole number M are
// at most 2^53 with at most 22 of them after the point: then M and 10^F are
// both exact doubles, and the one rounding of M / 10^F gives the correctly
// rounded value, the one a full conversion finds. Nothing otherwise.
std::optional<double> ExactQuotient(std::string_view text) {
    std::uint64_t digits = 0;
    std::size_t count = 0;     // digits read, leading zeros included
    std::size_t fraction = 0;  // digits after the point
    bool point = false;
    for (char c : text) {
        if (c == '.' && !point) {
            point = true;
            continue;
        }
        if (!IsDigit(c) || ++count > 19) return std::nullopt;
        digits = digits * 10 + static_cast<std::uint64_t>(c - '0');
        if (point) ++fraction;
    }
    if (count == 0 || digits > kExactIntegerLimit || fraction > 22) return std::nullopt;
    return static_cast<double>(digits) / kExactPowersOfTen[fraction];
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
    // Prices and counts of the quote archive take the short way.
    if (const std::optional<double> exact = ExactQuotient(text)) {
        return negative ? -*exact : *exact;
    }
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
