#include "platform/date_format.h"

#include "platform/number_format.h"

namespace quillon {

std::string ShortDateText(const DateTime& at) {
    return at.Date().SlashText();
}

// Midnight and noon are 12 on a 12-hour clock, not 0.
std::string LongTimeText(const DateTime& at) {
    const int hour = at.Hour % 12 == 0 ? 12 : at.Hour % 12;
    return FormatArgs("%d:%02d:%02d %s", hour, at.Minute, at.Second, at.Hour < 12 ? "AM" : "PM");
}

std::string FormatDateTime(const DateTime& at) {
    return ShortDateText(at) + " " + LongTimeText(at);
}

}  // namespace quillon
