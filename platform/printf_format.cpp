// The printf forms of figures and texts: padded fields, fixed and general
// notation, integers, money, and formatted arguments.

#include "platform/number_format.h"

#include <array>
#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <string_view>
#include <system_error>

namespace quillon {
namespace {

// Appends `field` to `text`, padded with blanks to |width| characters: on the left for a positive
// width, on the right for a negative one.
void AppendPadded(std::string& text, std::string_view field, int width) {
    const std::size_t size =
        width < 0 ? 0 - static_cast<std::size_t>(width) : static_cast<std::size_t>(width);
    const std::size_t padding = field.size() < size ? size - field.size() : 0;
    if (width > 0) text.append(padding, ' ');
    text += field;
    if (width < 0) text.append(padding, ' ');
}

std::string Padded(std::string_view field, int width) {
    std::string text;
    AppendPadded(text, field, width);
    return text;
}

// Decimal digits of a magnitude into the end of `buffer`; returns the first digit.
char* WriteUnsigned(unsigned long long value, char* end) {
    do {
        *--end = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    return end;
}

unsigned long long Magnitude(long long value) {
    return value < 0 ? 0 - static_cast<unsigned long long>(value)
                     : static_cast<unsigned long long>(value);
}

// Room for any double in fixed or general form at a precision up to kInlinePrecision: the 309
// integer digits of the largest double, a sign, a point and the fraction.
constexpr int kInlinePrecision = 64;
constexpr std::size_t kConversionRoom = 320;

// `value` as C's printf converts it with "%.<precision>f" (fixed) or "%.<precision>g" (general),
// padded to `width` as AppendPadded does; "" where std::to_chars fails.
std::string PrintfConversion(double value, std::chars_format format, int precision, int width) {
    precision = std::max(precision, 0);
    std::array<char, kConversionRoom + kInlinePrecision> inline_buffer;
    std::string heap_buffer;
    char* buffer = inline_buffer.data();
    std::size_t size = inline_buffer.size();
    if (precision > kInlinePrecision) {
        heap_buffer.resize(kConversionRoom + static_cast<std::size_t>(precision));
        buffer = heap_buffer.data();
        size = heap_buffer.size();
    }
    const auto result = std::to_chars(buffer, buffer + size, value, format, precision);
    if (result.ec != std::errc()) return {};
    return Padded({buffer, static_cast<std::size_t>(result.ptr - buffer)}, width);
}

}  // namespace

// Returns "" when the pattern is null or the C library reports an encoding error.
std::string CountedText(long long count, std::string_view one, std::string_view many) {
    std::string text = std::to_string(count);
    text += ' ';
    text += count == 1 ? one : many;
    return text;
}

std::string FormatArgs(const char* pattern, ...) {
    if (pattern == nullptr) return {};
    va_list args;
    va_start(args, pattern);
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, pattern, measure);
    va_end(measure);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<std::size_t>(length));
        // The terminating null lands on text[length], which std::string keeps for it.
        std::vsnprintf(text.data(), text.size() + 1, pattern, args);
    }
    va_end(args);
    return text;
}

// std::to_chars gives the exact decimal value correctly rounded, ties to even, as glibc's printf
// does in the default rounding mode.
std::string FormatFixed(double value, int precision, int width) {
    return PrintfConversion(value, std::chars_format::fixed, precision, width);
}

std::string FormatInteger(long long value, int width) {
    std::array<char, 24> buffer;
    char* first = WriteUnsigned(Magnitude(value), buffer.data() + buffer.size());
    if (value < 0) *--first = '-';
    return Padded({first, static_cast<std::size_t>(buffer.data() + buffer.size() - first)}, width);
}

// The sign comes before the zeros, and counts towards the width.
std::string FormatZeroFilled(long long value, int width) {
    std::array<char, 24> buffer;
    char* first = WriteUnsigned(Magnitude(value), buffer.data() + buffer.size());
    const auto digits = static_cast<std::size_t>(buffer.data() + buffer.size() - first);
    const std::size_t sign = value < 0 ? 1 : 0;
    const std::size_t size = std::max(static_cast<std::size_t>(std::max(width, 0)), digits + sign);
    std::string text(size, '0');
    if (value < 0) text[0] = '-';
    text.replace(size - digits, digits, first, digits);
    return text;
}

std::string FormatText(const char* text, int width) {
    return Padded(text == nullptr ? std::string_view("(null)") : std::string_view(text), width);
}

// Digits grouped by thousands behind "$" with `decimals` places (a negative count means none);
// a negative amount that does not round to zero is put in parentheses. NaN and infinities show
// "NAN" and "INF" in place of the digits.
std::string FormatMoney(double value, int width, int decimals) {
    static const PicturePattern cents("#,##0.00");
    std::string text;
    if (decimals == 2) {
        cents.AppendTo(text, value);
    } else {
        std::string pattern = "#,##0";
        if (decimals > 0) pattern += "." + std::string(static_cast<std::size_t>(decimals), '0');
        PicturePattern(pattern).AppendTo(text, value);
    }
    // Rendered with its sign, which shows only when the amount does not round to zero.
    const bool negative = !text.empty() && text.front() == '-';
    const std::string_view amount = std::string_view(text).substr(negative ? 1 : 0);
    std::string money;
    money.reserve(amount.size() + 3);
    if (negative) money += '(';
    money += '$';
    money += amount;
    if (negative) money += ')';
    if (width > 0 && money.size() < static_cast<std::size_t>(width)) {
        money.insert(0, static_cast<std::size_t>(width) - money.size(), ' ');
    }
    return money;
}

// Infinities and NaN show as C prints them: "inf", "-inf", "nan".
std::string FormatGeneral(double value, int precision) {
    return PrintfConversion(value, std::chars_format::general, precision, 0);
}

}  // namespace quillon
