#pragma once
// Number formatting for everything the system writes for people. Every
// writer formats numbers through this one module.

#include <string>
#include <string_view>

namespace quillon {

// Picture patterns: "0.#####", "0.####", " 0.####", "0.##", "0.##%",
// "0.#####%", "###,###,###,##0", "#,###,##0", "#,###,###,###".
// A "0" is a mandatory digit, a "#" an optional one, a "," asks for thousands
// separators, "." marks the decimal point, and any other character is copied.
// The value is rounded to the last place shown, ties away from zero (after
// taking it to 15 significant digits, so 2.675 shows as 2.68); a value that
// rounds to zero prints without a sign. A "%" is a literal: the value is not
// scaled.
std::string FormatPicture(double value, std::string_view pattern);

// Argument patterns: C printf.
std::string FormatArgs(const char* pattern, ...) __attribute__((format(printf, 1, 2)));

// The money format "%<width>.<decimals>m": "$1,234.50", negatives "($1.00)",
// right-aligned in `width` characters.
std::string FormatMoney(double value, int width = 7, int decimals = 2);

// The shortest general decimal form with up to 15 significant digits (C's
// "%.15g"): 250, 8, 1.5, 1e+20.
std::string FormatGeneral(double value);

}  // namespace quillon
