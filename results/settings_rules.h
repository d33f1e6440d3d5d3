#pragma once
// The rules of the interest-rate dialog: how the stored rate is shown and
// which entries change it.

#include <optional>
#include <string>
#include <string_view>

namespace quillon {

// The rate in per cent as the dialog shows it: the fraction times 100 in the
// pattern "0.####" (0.05 shows as 5, 0.0525 as 5.25).
std::string InterestRatePercentText(float rate);

// The rate an entry in per cent asks for, kept to a thousandth of a per cent
// (halves go to the even thousandth) and turned into a fraction: "5.25" gives
// 0.0525. Nothing for an entry that is not a decimal number, a negative one,
// or one too large for the stored 32-bit rate; such an entry leaves the rate
// as it was.
std::optional<float> InterestRateFromPercentText(std::string_view text);

}  // namespace quillon
