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

// Argument patterns: C printf, any length of result ("" on an encoding error).
std::string FormatArgs(const char* pattern, ...) __attribute__((format(printf, 1, 2)));

// The money format "%<width>.<decimals>m": "$1,234.50", negatives "($1.00)",
// rounded like the picture patterns (0.005 gives "$0.01", -0.004 "$0.00"),
// padded on the left with blanks to at least `width` characters, never cut.
std::string FormatMoney(double value, int width = 7, int decimals = 2);

// The shortest general decimal form with up to 15 significant digits (C's
// "%.15g"): 250, 8, 1.5, 1e+20. Independent of the C locale.
std::string FormatGeneral(double value);

}  // namespace quillon
