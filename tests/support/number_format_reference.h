#pragma once
// The picture and money formatters as they were before they were rewritten for speed: parsed on
// every call, built from std::string pieces; and the writing of a 32-bit figure done on the
// float's shortest decimal text. Test and benchmark code only: the differential tests compare the
// product's formatters with these, value for value.

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <string>
#include <string_view>
#include <system_error>

namespace quillon::reference {
namespace detail {

// ---------------------------------------------------------------------------------------------
// Decimal rounding
// ---------------------------------------------------------------------------------------------

// Significant digits kept before rounding to the places shown. Binary fractions such as 2.675
// (stored as 2.67499999...) then round the way the decimal text reads.
inline constexpr int kSignificantDigits = 15;

// Precision that makes "%.*e" exact for every double: no double has more than 767 significant
// decimal digits.
inline constexpr int kExactPrecision = 766;

// `value` in C's "%.<precision>e" form, independent of the locale.
template <std::size_t N>
inline std::string_view Scientific(double value, int precision, std::array<char, N>& buffer) {
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::scientific, precision);
    if (result.ec != std::errc()) return {};
    return {buffer.data(), static_cast<std::size_t>(result.ptr - buffer.data())};
}

// Adds one unit in the last place of a string of decimal digits; "999" becomes "1000".
inline void IncrementDigits(std::string& digits) {
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        if (*it != '9') {
            ++*it;
            return;
        }
        *it = '0';
    }
    digits.insert(digits.begin(), '1');
}

// A positive number as significant digits d1 d2 ... and the power of ten of d1.
struct Significand {
    std::string digits;
    int exponent = 0;
};

// Splits C's scientific form "d.ddde+XX" into digits and exponent.
inline Significand ParseScientific(std::string_view text) {
    Significand result;
    const std::size_t e = text.find('e');
    for (char c : text.substr(0, e)) {
        if (c != '.') result.digits += c;
    }
    const std::string_view exponent = text.substr(e + 1);
    const bool negative = exponent.front() == '-';
    int magnitude = 0;
    std::from_chars(exponent.data() + 1, exponent.data() + exponent.size(), magnitude);
    result.exponent = negative ? -magnitude : magnitude;
    return result;
}

// The first 15 significant digits of a finite positive `magnitude`, rounded half away from zero.
// The 17-digit form is correctly rounded, so its digits 16 and 17 decide the rounding unless they
// read "50": then the exact value may lie either side of the half and the exact form decides.
inline Significand FifteenDigits(double magnitude) {
    std::array<char, 32> short_buffer{};
    Significand result = ParseScientific(Scientific(magnitude, 16, short_buffer));
    bool round_up = result.digits[kSignificantDigits] >= '5';
    if (result.digits.compare(kSignificantDigits, 2, "50") == 0) {
        std::array<char, kExactPrecision + 16> exact_buffer{};
        const Significand exact =
            ParseScientific(Scientific(magnitude, kExactPrecision, exact_buffer));
        round_up = exact.digits[kSignificantDigits] >= '5';
    }
    result.digits.resize(kSignificantDigits);
    if (round_up) {
        IncrementDigits(result.digits);
        if (result.digits.size() > kSignificantDigits) {  // 9.99...95 became 10.00...0
            result.digits.resize(kSignificantDigits);
            ++result.exponent;
        }
    }
    return result;
}

// A non-negative decimal number after rounding: the integer digits without leading zeros ("" for
// a zero integer part) and exactly the requested number of fraction digits.
struct RoundedDecimal {
    std::string integer;
    std::string fraction;

    bool IsZero() const {
        return integer.empty() && fraction.find_first_not_of('0') == std::string::npos;
    }
};

// `magnitude` (finite, not negative) rounded to `places` decimals, half away from zero, after
// first being taken to 15 significant digits. Both steps round half up on the magnitude, so the
// decision is always "is the next digit 5 or more".
inline RoundedDecimal RoundToPlaces(double magnitude, std::size_t places) {
    if (magnitude == 0) return {"", std::string(places, '0')};

    const Significand significand = FifteenDigits(magnitude);
    std::string digits = significand.digits;
    // Digits before the decimal point: the exponent of the first digit plus one.
    long long integer_count = static_cast<long long>(significand.exponent) + 1;
    if (integer_count <= 0) {
        digits.insert(0, static_cast<std::size_t>(-integer_count), '0');
        integer_count = 0;
    }
    const auto point = static_cast<std::size_t>(integer_count);
    if (digits.size() < point + places + 1) digits.resize(point + places + 1, '0');

    const bool round_up = digits[point + places] >= '5';
    digits.resize(point + places);
    if (round_up) IncrementDigits(digits);

    RoundedDecimal result;
    result.fraction = digits.substr(digits.size() - places);
    result.integer = digits.substr(0, digits.size() - places);
    result.integer.erase(0, result.integer.find_first_not_of('0'));
    return result;
}

// ---------------------------------------------------------------------------------------------
// Picture patterns
// ---------------------------------------------------------------------------------------------

inline bool IsDigitPlaceholder(char c) {
    return c == '0' || c == '#';
}

// A picture pattern taken apart. The number body runs from the first digit placeholder or point
// to the last digit placeholder (or the point, when that comes later); the text around it is
// copied as it stands. Inside the body, a "," before the point asks for thousands separators and
// any other character that is not a placeholder is a literal kept in its place.
struct Picture {
    std::string prefix;
    std::string integer;   // integer-part placeholders and literals, separators removed
    std::string fraction;  // placeholders and literals after the point
    std::string suffix;
    bool grouped = false;
    bool has_body = false;

    std::size_t FractionPlaces() const {
        std::size_t count = 0;
        for (char c : fraction)
            count += IsDigitPlaceholder(c) ? 1 : 0;
        return count;
    }
};

inline Picture ParsePicture(std::string_view pattern) {
    Picture picture;
    const std::size_t first = pattern.find_first_of("0#.");
    if (first == std::string_view::npos) {
        picture.prefix = pattern;
        return picture;
    }
    const std::size_t point = pattern.find('.', first);
    std::size_t last = pattern.find_last_of("0#");
    if (last == std::string_view::npos || (point != std::string_view::npos && point > last)) {
        last = point;
    }
    picture.has_body = true;
    picture.prefix = pattern.substr(0, first);
    picture.suffix = pattern.substr(last + 1);

    const std::string_view body = pattern.substr(first, last + 1 - first);
    const std::size_t body_point = body.find('.');
    for (char c : body.substr(0, body_point)) {
        if (c == ',') {
            picture.grouped = true;
        } else {
            picture.integer += c;
        }
    }
    if (body_point != std::string_view::npos) picture.fraction = body.substr(body_point + 1);
    return picture;
}

// Number of integer digits the picture always shows: the placeholders from the first "0" on,
// so "#,##0" shows at least one digit and "#,###" none.
inline std::size_t MandatoryIntegerDigits(const std::string& integer_tokens) {
    const std::size_t first_zero = integer_tokens.find('0');
    if (first_zero == std::string::npos) return 0;
    std::size_t count = 0;
    for (std::size_t i = first_zero; i < integer_tokens.size(); ++i) {
        count += IsDigitPlaceholder(integer_tokens[i]) ? 1 : 0;
    }
    return count;
}

// The integer part: digits fill the placeholders from the right, digits beyond the placeholders
// all go to the left of the leftmost one, and with grouping every third digit from the right is
// followed by ",". Built right to left, then reversed.
inline std::string RenderInteger(const Picture& picture, std::string digits) {
    const std::size_t mandatory = MandatoryIntegerDigits(picture.integer);
    if (digits.size() < mandatory) digits.insert(0, mandatory - digits.size(), '0');

    std::string reversed;
    std::size_t placed = 0;  // digits placed so far, counted from the right
    const auto place_digit = [&]() {
        if (picture.grouped && placed > 0 && placed % 3 == 0) reversed += ',';
        reversed += digits[digits.size() - 1 - placed];
        ++placed;
    };
    for (auto it = picture.integer.rbegin(); it != picture.integer.rend(); ++it) {
        if (!IsDigitPlaceholder(*it)) {
            reversed += *it;
        } else if (placed < digits.size()) {
            place_digit();
        }
    }
    while (placed < digits.size())
        place_digit();
    return {reversed.rbegin(), reversed.rend()};
}

// The point and the fraction part: a "0" digit always shows, a "#" digit only when it or a later
// digit is not zero, and the point only when a digit follows it.
inline std::string RenderFraction(const std::string& tokens, const std::string& digits) {
    std::size_t shown = digits.find_last_not_of('0') + 1;  // npos + 1 == 0 for all zeros
    std::size_t placeholder = 0;
    for (char c : tokens) {
        if (IsDigitPlaceholder(c)) {
            ++placeholder;
            if (c == '0') shown = std::max(shown, placeholder);
        }
    }
    std::string text = shown > 0 ? "." : "";
    placeholder = 0;
    for (char c : tokens) {
        if (!IsDigitPlaceholder(c)) {
            text += c;
        } else if (placeholder < shown) {
            text += digits[placeholder++];
        }
    }
    return text;
}

// The word shown in place of the digits of a value that is not a number.
inline std::string_view NonFiniteWord(double value) {
    return std::isnan(value) ? "NAN" : "INF";
}

// `value` in `picture`, the sign placed between the leading literal text and the digits.
inline std::string RenderPicture(const Picture& picture, double value) {
    std::string text = picture.prefix;
    if (!std::isfinite(value)) {
        if (std::isinf(value) && value < 0) text += '-';
        text += NonFiniteWord(value);
    } else {
        const RoundedDecimal rounded = RoundToPlaces(std::fabs(value), picture.FractionPlaces());
        if (value < 0 && !rounded.IsZero()) text += '-';
        text += RenderInteger(picture, rounded.integer);
        text += RenderFraction(picture.fraction, rounded.fraction);
    }
    text += picture.suffix;
    return text;
}

}  // namespace detail

// A pattern without placeholders or point is plain text and is returned as it stands. NaN shows
// as "NAN" and infinities as "INF" or "-INF" in place of the digits, literals kept around them.
// A "#"-only integer part shows nothing for a zero integer: "#.##" of 0.5 is ".5", of 0 is "".
inline std::string FormatPicture(double value, std::string_view pattern) {
    using namespace detail;
    const Picture picture = ParsePicture(pattern);
    if (!picture.has_body) return picture.prefix;
    return RenderPicture(picture, value);
}

// Digits grouped by thousands behind "$" with `decimals` places (a negative count means none);
// a negative amount that does not round to zero is put in parentheses. NaN and infinities show
// "NAN" and "INF" in place of the digits.
inline std::string FormatMoney(double value, int width, int decimals) {
    using namespace detail;
    std::string pattern = "#,##0";
    if (decimals > 0) pattern += "." + std::string(static_cast<std::size_t>(decimals), '0');
    // Rendered with its sign, which shows only when the amount does not round to zero.
    std::string text = RenderPicture(ParsePicture(pattern), value);
    const bool negative = !text.empty() && text.front() == '-';
    if (negative) text.erase(0, 1);
    text.insert(0, "$");
    if (negative) text = "(" + text + ")";
    if (width > 0 && text.size() < static_cast<std::size_t>(width)) {
        text.insert(0, static_cast<std::size_t>(width) - text.size(), ' ');
    }
    return text;
}

// ---------------------------------------------------------------------------------------------
// 32-bit figures: the shortest decimal text, rounded on its digits
// ---------------------------------------------------------------------------------------------

// The text std::to_chars gives for a float: the shortest decimal that reads back to it ("658.05",
// "-0.0105", "1e+10", "1.5e-07"), written to `buffer`.
inline std::string_view ShortestText(float value, std::array<char, 32>& buffer) {
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    return {buffer.data(), static_cast<std::size_t>(result.ptr - buffer.data())};
}

// A decimal rounded to some places: its sign, then the integer digits (leading zeros possible)
// followed by exactly `places` fraction digits. Fixed storage: a float has at most 39 integer
// digits, and the patterns at most a few places.
struct RoundedText {
    bool negative = false;
    std::array<char, 80> digits;  // the first `size` are set
    std::size_t size = 0;
    std::size_t places = 0;
    std::size_t text_places = 0;  // decimals of the text before rounding

    std::string_view Integer() const {
        std::string_view integer(digits.data(), size - places);
        while (!integer.empty() && integer.front() == '0')
            integer.remove_prefix(1);
        return integer;
    }
    std::string_view Fraction() const { return {digits.data() + size - places, places}; }
    bool IsZero() const {
        for (std::size_t i = 0; i < size; ++i) {
            if (digits[i] != '0') return false;
        }
        return true;
    }
};

// A decimal text of ShortestText's form rounded to `places` decimals, half away from zero, by
// its digits alone: the rounded number keeps the digits down to the last place and goes up by
// one there when the next digit is 5 or more.
inline RoundedText RoundText(std::string_view text, std::size_t places) {
    RoundedText result;
    result.places = places;
    result.negative = !text.empty() && text.front() == '-';
    if (result.negative) text.remove_prefix(1);

    // The mantissa's digits m[0..n) without the point; `point` of them come before it, and the
    // exponent moves the point: m[i] stands for 10^(point + exponent - 1 - i).
    std::array<char, 32> mantissa;  // the first `n` are set
    std::size_t n = 0;
    long long point = -1;
    std::size_t i = 0;
    for (; i < text.size() && text[i] != 'e'; ++i) {
        if (text[i] == '.') {
            point = static_cast<long long>(n);
        } else {
            mantissa[n++] = text[i];
        }
    }
    if (point < 0) point = static_cast<long long>(n);
    long long exponent = 0;
    if (i < text.size()) {  // "e+XX" or "e-XX"
        const bool negative_exponent = text[i + 1] == '-';
        for (std::size_t k = i + 2; k < text.size(); ++k)
            exponent = exponent * 10 + (text[k] - '0');
        if (negative_exponent) exponent = -exponent;
    }
    const long long integer_digits = point + exponent;  // digits before the decimal point
    const long long text_places = static_cast<long long>(n) - integer_digits;
    result.text_places = text_places > 0 ? static_cast<std::size_t>(text_places) : 0;

    // The digits from 10^(kept - 1) down to 10^-places, then the one after them, which decides
    // the rounding; digits[0] is a spare place for a carry. Mantissa digit i stands for
    // 10^(integer_digits - 1 - i), so output digit j (from 1) is mantissa digit
    // j - 1 + integer_digits - kept, a zero outside the mantissa.
    const long long kept = std::max(integer_digits, 0LL);
    const auto count = static_cast<std::size_t>(kept) + places;
    const long long offset = integer_digits - kept - 1;
    std::fill_n(result.digits.begin(), count + 2, '0');
    for (std::size_t m = 0; m < n; ++m) {
        const long long j = static_cast<long long>(m) - offset;
        if (j >= 1 && j <= static_cast<long long>(count) + 1) {
            result.digits[static_cast<std::size_t>(j)] = mantissa[m];
        }
    }
    result.size = count + 1;
    if (result.digits[count + 1] >= '5') {
        std::size_t j = count;
        while (result.digits[j] == '9')
            result.digits[j--] = '0';
        ++result.digits[j];
    }
    return result;
}

// A short text built in place.
struct TextBuffer {
    std::array<char, 128> chars;  // the first `size` are set
    std::size_t size = 0;

    void Add(char c) { chars[size++] = c; }
    void Add(std::string_view text) {
        for (char c : text)
            Add(c);
    }
    std::string_view View() const { return {chars.data(), size}; }
};

// A rounded figure in a pattern of the form "0.##...#" with text before and after it ("0.#####",
// " 0.####", "0.##%", "0"): a minus sign unless it rounded to zero, the integer digits or "0",
// then a point and the fraction digits up to the last that is not zero.
inline void WritePlain(TextBuffer& out, const RoundedText& rounded, std::string_view prefix,
                       std::string_view suffix) {
    out.Add(prefix);
    if (rounded.negative && !rounded.IsZero()) out.Add('-');
    const std::string_view integer = rounded.Integer();
    out.Add(integer.empty() ? std::string_view("0") : integer);
    std::string_view fraction = rounded.Fraction();
    while (!fraction.empty() && fraction.back() == '0')
        fraction.remove_suffix(1);
    if (!fraction.empty()) {
        out.Add('.');
        out.Add(fraction);
    }
    out.Add(suffix);
}

// A rounded figure as money with two places, "$1,234.50", negatives "($1.00)", padded on the
// left to `width`.
inline void WriteMoney(TextBuffer& out, const RoundedText& rounded, std::size_t width) {
    TextBuffer money;
    const bool negative = rounded.negative && !rounded.IsZero();
    if (negative) money.Add('(');
    money.Add('$');
    std::string_view integer = rounded.Integer();
    if (integer.empty()) integer = "0";
    for (std::size_t k = 0; k < integer.size(); ++k) {
        if (k > 0 && (integer.size() - k) % 3 == 0) money.Add(',');
        money.Add(integer[k]);
    }
    money.Add('.');
    money.Add(rounded.Fraction());
    if (negative) money.Add(')');
    for (std::size_t k = money.size; k < width; ++k)
        out.Add(' ');
    out.Add(money.View());
}

}  // namespace quillon::reference
