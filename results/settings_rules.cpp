#include "results/settings_rules.h"

#include <cfloat>
#include <cmath>

#include "platform/number_format.h"
#include "platform/number_read.h"

namespace quillon {

std::string InterestRatePercentText(float rate) {
    return FormatPicture(static_cast<double>(rate) * 100.0, "0.####");
}

std::optional<float> InterestRateFromPercentText(std::string_view text) {
    const std::optional<double> percent = ParseDecimalNumber(text);
    if (!percent || *percent < 0) return std::nullopt;
    // Thousandths of a per cent; nearbyint rounds halves to even in the
    // default rounding mode.
    const double thousandths = std::nearbyint(*percent * 1000.0);
    const double rate = thousandths * 0.00001;
    // A rate beyond the float range would be stored as infinity, which the
    // settings file cannot read back.
    if (!(rate <= static_cast<double>(FLT_MAX))) return std::nullopt;
    return static_cast<float>(rate);
}

}  // namespace quillon
