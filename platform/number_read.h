#pragma once
// Reading decimal numbers typed by people or stored in the working files,
// whatever the locale.

#include <optional>
#include <string_view>

namespace quillon {

// Whole text a decimal number: optional blanks (spaces, tabs), optional sign,
// digits with at most one "." and at least one digit ("1." and ".5" count),
// an optional exponent (E or e, optional sign, digits), optional blanks.
// "." is the decimal point whatever the locale. A number beyond the range of
// a 64-bit float does not convert completely and is no number.
bool IsNumberText(std::string_view text);

// The value of a text that IsNumberText accepts, otherwise nothing.
std::optional<double> ParseDecimalNumber(std::string_view text);

}  // namespace quillon
