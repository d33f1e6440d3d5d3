#include "platform/civil_day.h"

#include <cstdio>

namespace quillon {

namespace {

constexpr const char* kWeekDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The value of `text`'s decimal digits, or -1 when one is not a digit.
int DigitsValue(std::string_view text) {
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

}  // namespace

std::string CivilDay::IsoText() const {
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", Year, Month, Day);
    return text;
}

std::string CivilDay::SlashText() const {
    char text[40];
    std::snprintf(text, sizeof text, "%d/%d/%d", Month, Day, Year);
    return text;
}

std::string CivilDay::NamedText(bool withYear) const {
    std::string text = std::string(WeekDayName(WeekDay())) + " " + std::to_string(Day) + " " +
                       std::string(MonthName(Month));
    if (withYear) text += " " + std::to_string(Year);
    return text;
}

std::string_view WeekDayName(int weekDay) {
    return kWeekDayNames[weekDay];
}

std::string_view MonthName(int month) {
    return kMonthNames[month - 1];
}

std::optional<CivilDay> ReadIsoDigits(std::string_view text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
    const CivilDay day{DigitsValue(text.substr(0, 4)), DigitsValue(text.substr(5, 2)),
                       DigitsValue(text.substr(8, 2))};
    if (day.Year < 0 || day.Month < 0 || day.Day < 0) return std::nullopt;
    return day;
}

}  // namespace quillon
