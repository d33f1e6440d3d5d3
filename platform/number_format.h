#pragma once
// Number formatting for everything the system writes for people. Every
// writer formats numbers through this one module.

#include <string>
#include <string_view>

namespace quillon {

// Picture patterns: "0.#####", "0.####", " 0.####", "0.##", "0.##%",
// "0.#####%", "###,###,###,##0", "#,###,##0", "#,###,###,###".
// A "0" is a mandatory digit, a "#" an optional one, a "," anywhere before the
// point asks for thousands separators, "." marks the decimal point, and any
// other character is copied in its place. After the point, "#" digits that
// end in zeros are dropped, and so is a point with no digit after it. Every
// integer digit is printed, however many ("#,###,##0" of 1e15 gives
// "1,000,000,000,000,000"); "#,###,###,###" of 0 gives "".
// Rounding: the value is first taken to 15 significant digits, then rounded to
// the last place shown; both steps round halves away from zero (2.675 in "0.##"
// gives "2.68", 0.125 gives "0.13"). A value that rounds to zero prints without
// a sign; otherwise "-" goes just before the digits (" 0.####" of -1.5 gives
// " -1.5"). A "%" is a literal: the value is not scaled. NaN prints "NAN" and
// infinities "INF" / "-INF" in place of the digits. A pattern with no digit
// placeholder and no point is returned as it stands.
std::string FormatPicture(double value, std::string_view pattern);

// A picture pattern taken apart once, for writers that show many numbers in the same pattern:
// Format(v) gives what FormatPicture(v, pattern) gives, without parsing the pattern per call.
class PicturePattern {
  public:
    explicit PicturePattern(std::string_view pattern);

    std::string Format(double value) const;
    void AppendTo(std::string& text, double value) const;

  private:
    void AppendInteger(std::string& text, std::string_view digits) const;
    void AppendFraction(std::string& text, std::string_view digits) const;

    std::string prefix_;    // text before the number body (the whole pattern when it has none)
    std::string integer_;   // integer-part placeholders and literals, separators removed
    std::string fraction_;  // placeholders and literals after the point
    std::string suffix_;
    std::size_t fraction_places_ = 0;     // placeholders after the point
    std::size_t mandatory_integer_ = 0;   // integer digits always shown
    std::size_t mandatory_fraction_ = 0;  // fraction digits always shown (up to the last "0")
    bool grouped_ = false;
    bool has_body_ = false;
    bool integer_literals_ = false;   // a literal among the integer placeholders
    bool fraction_literals_ = false;  // a literal among the fraction placeholders
};

// A 32-bit figure as the value its shortest decimal text stands for: the double nearest to the
// shortest decimal that reads back to `value` as a float (the text std::to_chars gives for the
// float). A float holds 658.05 as 658.04998779296875; the picture patterns, given that, round the
// float's error ("0.#####" gives "658.04999"), given ShortestValue(658.05f) they round 658.05 and
// give "658.05". Taken to 15 significant digits, as the picture patterns first take every value,
// the result has exactly the digits of the shortest text (at most 9 of them), so a pattern then
// rounds that decimal, halves away from zero. NaN, infinities and zeros keep their value and sign.
double ShortestValue(float value);

// Argument patterns: C printf, any length of result ("" on an encoding error).
std::string FormatArgs(const char* pattern, ...) __attribute__((format(printf, 1, 2)));

// A count and its noun, singular for one: "1 stock", "0 stocks", "12 stocks".
std::string CountedText(long long count, std::string_view one, std::string_view many);

// The printf forms the writers use for every symbol, without the C library's formatter and
// independent of the C locale, each giving exactly the text of the printf form it names. A
// negative width left-aligns, like printf's "-" flag; a field is padded, never cut.
//   FormatFixed(v, p, w)     "%<w>.<p>f" (p >= 0): "nan", "-nan", "inf", "-inf" as C prints them
//   FormatInteger(n, w)      "%<w>d"
//   FormatZeroFilled(n, w)   "%0<w>d": "-5" in 3 is "-05"
//   FormatText(s, w)         "%<w>s": the text up to its first NUL, as C reads a char pointer
std::string FormatFixed(double value, int precision, int width = 0);
std::string FormatInteger(long long value, int width = 0);
std::string FormatZeroFilled(long long value, int width);
std::string FormatText(const char* text, int width);

// The money format "%<width>.<decimals>m": "$1,234.50", negatives "($1.00)",
// rounded like the picture patterns (0.005 gives "$0.01", -0.004 "$0.00"),
// padded on the left with blanks to at least `width` characters, never cut.
std::string FormatMoney(double value, int width = 7, int decimals = 2);

// The shortest general decimal form with up to `precision` significant digits (C's
// "%.<precision>g", 15 by default): 250, 8, 1.5, 1e+20. Independent of the C locale.
std::string FormatGeneral(double value, int precision = 15);

}  // namespace quillon
