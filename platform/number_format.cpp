#include "platform/number_format.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace quillon {
namespace {

// ---------------------------------------------------------------------------------------------
// Decimal rounding
// ---------------------------------------------------------------------------------------------

// Significant digits kept before rounding to the places shown. Binary fractions such as 2.675
// (stored as 2.67499999...) then round the way the decimal text reads.
constexpr int kSignificantDigits = 15;

// Precision that makes "%.*e" exact for every double: no double has more than 767 significant
// decimal digits.
constexpr int kExactPrecision = 766;

// Whole numbers below this have at most 15 digits: taking them to 15 significant digits keeps
// them as they are.
constexpr double kExactWholeLimit = 1e15;

// Adds one unit in the last place of the decimal digits [first, last). Returns the carry out of
// the first digit ("999" becomes "000" and true).
bool IncrementDigits(char* first, char* last) {
    while (last != first) {
        --last;
        if (*last != '9') {
            ++*last;
            return false;
        }
        *last = '0';
    }
    return true;
}

// A positive number as its significant digits d1 d2 ... d15 and the power of ten of d1.
struct Significand {
    std::array<char, kSignificantDigits> digits{};
    int exponent = 0;
};

// C's "%.<precision>e" form of `value` into `buffer`, "d.ddd...de+XX"; returns its length.
std::size_t Scientific(double value, int precision, char* buffer, std::size_t size) {
    const auto result =
        std::to_chars(buffer, buffer + size, value, std::chars_format::scientific, precision);
    return result.ec == std::errc() ? static_cast<std::size_t>(result.ptr - buffer) : 0;
}

// The exponent after the "e" of a scientific form.
int ScientificExponent(const char* text, std::size_t length) {
    const char* end = text + length;
    const char* e = std::find(text, end, 'e');
    if (end - e < 2) return 0;
    int magnitude = 0;
    for (const char* digit = e + 2; digit < end; ++digit)
        magnitude = magnitude * 10 + (*digit - '0');
    return e[1] == '-' ? -magnitude : magnitude;
}

__extension__ typedef unsigned __int128 UInt128;

// Powers of five up to 5^kMaxScale, exact in 128 bits.
constexpr int kMaxScale = 30;
constexpr std::array<UInt128, kMaxScale + 1> kPowersOfFive = [] {
    std::array<UInt128, kMaxScale + 1> powers{};
    powers[0] = 1;
    for (std::size_t i = 1; i < powers.size(); ++i)
        powers[i] = powers[i - 1] * 5;
    return powers;
}();

constexpr std::uint64_t kTenToFourteen = 100000000000000;
constexpr std::uint64_t kTenToFifteen = 1000000000000000;

// FifteenDigits for the magnitudes prices and ratios have, 10^-13 to 10^15, in exact integer
// arithmetic: with x = m * 2^e and k the power of ten of its first digit, the digits are
// x * 10^(14 - k) = m * 5^(14 - k) * 2^(e + 14 - k) rounded half up to a whole number, and that
// product fits in 128 bits. Returns false for other magnitudes.
bool FifteenDigitsExactly(double magnitude, Significand& result) {
    if (!(magnitude >= 1e-13 && magnitude < 1e15)) return false;
    const auto bits = std::bit_cast<std::uint64_t>(magnitude);
    const int biased = static_cast<int>(bits >> 52);  // normal: the sign bit is clear
    const std::uint64_t mantissa = (bits & ((std::uint64_t{1} << 52) - 1)) | std::uint64_t{1} << 52;
    const int binary_exponent = biased - 1075;  // magnitude = mantissa * 2^binary_exponent
    // floor(log10(2) * (biased - 1023)): the power of ten of the first digit, or one less.
    int decimal_exponent = ((biased - 1023) * 78913) >> 18;
    for (;;) {
        const int scale = 14 - decimal_exponent;
        if (scale < 0 || scale > kMaxScale) return false;
        const UInt128 product = UInt128{mantissa} * kPowersOfFive[static_cast<std::size_t>(scale)];
        const int shift = binary_exponent + scale;
        UInt128 whole = 0;
        bool round_up = false;
        if (shift >= 0) {
            if (shift > 20) return false;  // cannot happen below 10^15; kept for safety
            whole = product << shift;
        } else {
            if (shift < -120) return false;
            const int right = -shift;
            whole = product >> right;
            const UInt128 remainder = product - (whole << right);
            round_up = remainder >= UInt128{1} << (right - 1);
        }
        if (whole >= kTenToFifteen) {  // the first digit is one place further up
            ++decimal_exponent;
            continue;
        }
        if (whole < kTenToFourteen) return false;  // cannot happen: the estimate is never high
        auto digits = static_cast<std::uint64_t>(whole) + (round_up ? 1 : 0);
        if (digits == kTenToFifteen) {  // 9.99...95 became 10.00...0
            digits = kTenToFourteen;
            ++decimal_exponent;
        }
        for (std::size_t i = kSignificantDigits; i-- > 0;) {
            result.digits[i] = static_cast<char>('0' + digits % 10);
            digits /= 10;
        }
        result.exponent = decimal_exponent;
        return true;
    }
}

// The first 15 significant digits of a finite positive `magnitude`, rounded half away from zero.
// The 17-digit form is correctly rounded, so its digits 16 and 17 decide the rounding unless they
// read "50": then the exact value may lie either side of the half and the exact form decides.
Significand FifteenDigits(double magnitude) {
    if (Significand exact; FifteenDigitsExactly(magnitude, exact)) return exact;
    // "d.dddddddddddddddde-XXX": the first digit, the point, then 16 digits.
    std::array<char, 32> text{};
    const std::size_t length = Scientific(magnitude, 16, text.data(), text.size());
    Significand result;
    result.digits[0] = text[0];
    std::copy(text.begin() + 2, text.begin() + 1 + kSignificantDigits, result.digits.begin() + 1);
    result.exponent = ScientificExponent(text.data(), length);

    const char digit16 = text[1 + kSignificantDigits];
    const char digit17 = text[2 + kSignificantDigits];
    bool round_up = digit16 >= '5';
    if (digit16 == '5' && digit17 == '0') {
        std::array<char, kExactPrecision + 16> exact{};
        Scientific(magnitude, kExactPrecision, exact.data(), exact.size());
        round_up = exact[1 + kSignificantDigits] >= '5';
    }
    if (round_up &&
        IncrementDigits(result.digits.data(), result.digits.data() + kSignificantDigits)) {
        result.digits[0] = '1';  // 9.99...95 became 10.00...0: the digits read "100...0"
        ++result.exponent;
    }
    return result;
}

// Room for the digits of a rounded decimal: every integer digit a double can have (309), a
// carry, and the fraction places any usual pattern asks for. Larger requests use the heap.
constexpr std::size_t kInlineDigits = 384;

// A non-negative decimal number after rounding: the integer digits without leading zeros (empty
// for a zero integer part) and exactly the requested number of fraction digits, both held in
// storage the object owns.
class RoundedDecimal {
  public:
    RoundedDecimal() = default;
    RoundedDecimal(const RoundedDecimal&) = delete;
    RoundedDecimal& operator=(const RoundedDecimal&) = delete;

    std::string_view Integer() const { return integer_; }
    std::string_view Fraction() const { return fraction_; }
    bool IsZero() const {
        return integer_.empty() && fraction_.find_first_not_of('0') == std::string_view::npos;
    }

    // Space for `size` digits.
    char* Reserve(std::size_t size) {
        if (size <= inline_.size()) return inline_.data();
        heap_.resize(size);
        return heap_.data();
    }
    // The `size` digits at `first`: the integer digits, then `places` fraction digits.
    void Set(const char* first, std::size_t size, std::size_t places) {
        const std::size_t integer_size = size - places;
        std::size_t skipped = 0;
        while (skipped < integer_size && first[skipped] == '0')
            ++skipped;
        integer_ = {first + skipped, integer_size - skipped};
        fraction_ = {first + integer_size, places};
    }

  private:
    std::array<char, kInlineDigits> inline_;
    std::string heap_;
    std::string_view integer_;
    std::string_view fraction_;
};

// `magnitude` (finite, not negative) rounded to `places` decimals, half away from zero, after
// first being taken to 15 significant digits. Both steps round half up on the magnitude, so the
// decision is always "is the next digit 5 or more".
void RoundToPlaces(double magnitude, std::size_t places, RoundedDecimal& result) {
    if (magnitude < kExactWholeLimit && magnitude == std::floor(magnitude)) {
        // A whole number of at most 15 digits (or zero): its digits stand, the fraction is zeros.
        constexpr std::size_t kWholeDigits = 16;
        auto whole = static_cast<std::uint64_t>(magnitude);
        char* digits = result.Reserve(kWholeDigits + places);
        char* integer_end = digits + kWholeDigits;
        char* first = integer_end;
        while (whole != 0) {
            *--first = static_cast<char>('0' + whole % 10);
            whole /= 10;
        }
        std::fill(integer_end, integer_end + places, '0');
        result.Set(first, static_cast<std::size_t>(integer_end - first) + places, places);
        return;
    }

    const Significand significand = FifteenDigits(magnitude);
    // Digits before the decimal point: the exponent of the first digit plus one (none below 1).
    const int integer_count = std::max(significand.exponent + 1, 0);
    const std::size_t count = static_cast<std::size_t>(integer_count) + places;
    // Digit k of the result (k = 0 the leftmost) is significant digit k + offset, a zero outside
    // the fifteen; digit `count` decides the rounding. A spare place in front takes a carry.
    const long long offset = static_cast<long long>(significand.exponent) + 1 - integer_count;
    const auto digit_at = [&](std::size_t k) {
        const long long index = static_cast<long long>(k) + offset;
        return index >= 0 && index < kSignificantDigits
                   ? significand.digits[static_cast<std::size_t>(index)]
                   : '0';
    };
    char* digits = result.Reserve(count + 1);
    digits[0] = '0';
    for (std::size_t k = 0; k < count; ++k)
        digits[k + 1] = digit_at(k);
    if (digit_at(count) >= '5' && IncrementDigits(digits + 1, digits + 1 + count)) {
        digits[0] = '1';
    }
    result.Set(digits, count + 1, places);
}

// ---------------------------------------------------------------------------------------------
// Picture patterns
// ---------------------------------------------------------------------------------------------

bool IsDigitPlaceholder(char c) {
    return c == '0' || c == '#';
}

std::size_t CountPlaceholders(std::string_view tokens) {
    return static_cast<std::size_t>(
        std::count_if(tokens.begin(), tokens.end(), IsDigitPlaceholder));
}

// The word shown in place of the digits of a value that is not a number.
std::string_view NonFiniteWord(double value) {
    return std::isnan(value) ? "NAN" : "INF";
}

// ---------------------------------------------------------------------------------------------
// Shortest decimal of a 32-bit figure
// ---------------------------------------------------------------------------------------------

// The binades [2^e, 2^(e+1)) that ShortestValue tries to settle without a text conversion.
constexpr int kFirstShortBinade = -16;
constexpr int kLastShortBinade = 22;
constexpr int kShortBinades = kLastShortBinade - kFirstShortBinade + 1;

// Per binade, the most decimals q whose step 10^-q is still wider than the spacing 2^(e-23) of
// the floats there: 10^q < 2^(23-e). At most 11 over these binades.
constexpr std::array<int, kShortBinades> kShortPlaces = [] {
    std::array<int, kShortBinades> places{};
    for (int e = kFirstShortBinade; e <= kLastShortBinade; ++e) {
        const std::uint64_t spacings = std::uint64_t{1} << (23 - e);  // 2^(23-e)
        int q = 0;
        for (std::uint64_t power = 10; power < spacings; power *= 10)
            ++q;
        places[static_cast<std::size_t>(e - kFirstShortBinade)] = q;
    }
    return places;
}();

constexpr std::array<double, 12> kPowersOfTen = {1e0, 1e1, 1e2, 1e3, 1e4,  1e5,
                                                 1e6, 1e7, 1e8, 1e9, 1e10, 1e11};

// The shortest decimal of a float in the binades above, when it has at most q decimals (q as in
// kShortPlaces): most stored prices, read from texts of a few decimals. Nothing otherwise.
//
// Why the result is the shortest text's value: the floats that read back to `magnitude` span at
// most one float spacing, which is narrower than 10^-q, so at most one decimal of q places reads
// back to it; the shortest text, having the fewest digits, has no more decimals than any decimal
// that reads back, so when one of q places does, the shortest text is that one. The candidate
// is found exactly: magnitude * 10^q needs at most 24 + 26 bits (10^11 = 5^11 * 2^11) and lies
// within 0.49 of the candidate's digits. The check is exact as well: the double nearest to the
// candidate rounds to the same float as the candidate itself, since a decimal of at most 11 places
// lies either on a float midpoint or more than 2^-26 * 5^-11 of its size away from every one,
// well beyond the double's rounding error of 2^-53.
std::optional<double> ShortDecimal(double magnitude, int binade) {
    const int places = kShortPlaces[static_cast<std::size_t>(binade - kFirstShortBinade)];
    const double scale = kPowersOfTen[static_cast<std::size_t>(places)];
    const auto digits = static_cast<std::int64_t>(magnitude * scale + 0.5);
    const double candidate = static_cast<double>(digits) / scale;
    if (static_cast<float>(candidate) != static_cast<float>(magnitude)) return std::nullopt;
    return candidate;
}

}  // namespace

double ShortestValue(float value) {
    const auto bits = std::bit_cast<std::uint32_t>(value);
    const int binade = static_cast<int>((bits >> 23) & 0xFF) - 127;
    const double exact = value;
    if (binade >= kFirstShortBinade && binade <= kLastShortBinade) {
        if (const std::optional<double> shortest = ShortDecimal(std::fabs(exact), binade)) {
            return exact < 0 ? -*shortest : *shortest;
        }
    }
    // Zeros, NaN and infinities read back as themselves.
    if (value == 0 || !std::isfinite(value)) return exact;
    // At most 15 characters: "-1.17549435e-38".
    std::array<char, 32> text;
    const auto written = std::to_chars(text.data(), text.data() + text.size(), value);
    double result = exact;
    std::from_chars(text.data(), written.ptr, result);
    return result;
}

// The number body runs from the first digit placeholder or point to the last digit placeholder
// (or the point, when that comes later); the text around it is copied as it stands. Inside the
// body, a "," before the point asks for thousands separators and any other character that is
// not a placeholder is a literal kept in its place.
PicturePattern::PicturePattern(std::string_view pattern) {
    const std::size_t first = pattern.find_first_of("0#.");
    if (first == std::string_view::npos) {
        prefix_ = pattern;
        return;
    }
    const std::size_t point = pattern.find('.', first);
    std::size_t last = pattern.find_last_of("0#");
    if (last == std::string_view::npos || (point != std::string_view::npos && point > last)) {
        last = point;
    }
    has_body_ = true;
    prefix_ = pattern.substr(0, first);
    suffix_ = pattern.substr(last + 1);

    const std::string_view body = pattern.substr(first, last + 1 - first);
    const std::size_t body_point = body.find('.');
    for (char c : body.substr(0, body_point)) {
        if (c == ',') {
            grouped_ = true;
        } else {
            integer_ += c;
        }
    }
    if (body_point != std::string_view::npos) fraction_ = body.substr(body_point + 1);

    // The integer placeholders from the first "0" on always show: "#,##0" shows at least one
    // digit and "#,###" none. The fraction shows at least up to its last "0".
    const std::size_t first_zero = integer_.find('0');
    if (first_zero != std::string::npos) {
        mandatory_integer_ = CountPlaceholders(std::string_view(integer_).substr(first_zero));
    }
    integer_literals_ = CountPlaceholders(integer_) != integer_.size();
    fraction_places_ = CountPlaceholders(fraction_);
    fraction_literals_ = fraction_places_ != fraction_.size();
    const std::size_t last_zero = fraction_.rfind('0');
    if (last_zero != std::string::npos) {
        mandatory_fraction_ =
            CountPlaceholders(std::string_view(fraction_).substr(0, last_zero + 1));
    }
}

std::string PicturePattern::Format(double value) const {
    std::string text;
    AppendTo(text, value);
    return text;
}

// The sign goes between the leading literal text and the digits, and only on a value that does
// not round to zero. A pattern without a body is plain text and is appended as it stands.
void PicturePattern::AppendTo(std::string& text, double value) const {
    text += prefix_;
    if (!has_body_) return;
    if (!std::isfinite(value)) {
        if (std::isinf(value) && value < 0) text += '-';
        text += NonFiniteWord(value);
    } else {
        RoundedDecimal rounded;
        RoundToPlaces(std::fabs(value), fraction_places_, rounded);
        if (value < 0 && !rounded.IsZero()) text += '-';
        AppendInteger(text, rounded.Integer());
        AppendFraction(text, rounded.Fraction());
    }
    text += suffix_;
}

// The integer part: digits fill the placeholders from the right, digits beyond the placeholders
// all go to the left of the leftmost one, and with grouping every third digit from the right is
// followed by ",". Zeros in front make up the mandatory digits.
void PicturePattern::AppendInteger(std::string& text, std::string_view digits) const {
    const std::size_t zeros =
        digits.size() < mandatory_integer_ ? mandatory_integer_ - digits.size() : 0;
    const std::size_t count = zeros + digits.size();
    const auto digit = [&](std::size_t k) { return k < zeros ? '0' : digits[k - zeros]; };
    if (!integer_literals_ && !grouped_) {
        text.append(zeros, '0');
        text += digits;
        return;
    }
    if (!integer_literals_) {
        // Every digit shows, left to right, a separator in front of each full group of three.
        for (std::size_t k = 0; k < count; ++k) {
            if (grouped_ && k > 0 && (count - k) % 3 == 0) text += ',';
            text += digit(k);
        }
        return;
    }
    // Literals among the placeholders keep their places: built right to left, then reversed.
    std::string reversed;
    std::size_t placed = 0;  // digits placed so far, counted from the right
    const auto place_digit = [&]() {
        if (grouped_ && placed > 0 && placed % 3 == 0) reversed += ',';
        reversed += digit(count - 1 - placed);
        ++placed;
    };
    for (auto it = integer_.rbegin(); it != integer_.rend(); ++it) {
        if (!IsDigitPlaceholder(*it)) {
            reversed += *it;
        } else if (placed < count) {
            place_digit();
        }
    }
    while (placed < count)
        place_digit();
    text.append(reversed.rbegin(), reversed.rend());
}

// The point and the fraction part: a "0" digit always shows, a "#" digit only when it or a later
// digit is not zero, and the point only when a digit follows it.
void PicturePattern::AppendFraction(std::string& text, std::string_view digits) const {
    // npos + 1 == 0 when every digit is zero
    const std::size_t shown = std::max(digits.find_last_not_of('0') + 1, mandatory_fraction_);
    if (shown > 0) text += '.';
    if (!fraction_literals_) {
        text += digits.substr(0, shown);
        return;
    }
    std::size_t placeholder = 0;
    for (char c : fraction_) {
        if (!IsDigitPlaceholder(c)) {
            text += c;
        } else if (placeholder < shown) {
            text += digits[placeholder++];
        }
    }
}

// Parses the pattern on every call; writers that repeat a pattern hold a PicturePattern.
std::string FormatPicture(double value, std::string_view pattern) {
    return PicturePattern(pattern).Format(value);
}

}  // namespace quillon
