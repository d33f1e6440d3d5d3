#pragma once
// A day of the proleptic Gregorian calendar: the one form of a date the
// system computes with. It converts to and from the YYYYMMDD number the
// history keys its rows by (20251017) and a serial day count (days since
// 1970-01-01) for differences and stepping, and reads and writes the text
// forms of a day. The arithmetic is inline: the back-test and the history
// loops do it for every row.

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillon {

// Days of the week as CivilDay::WeekDay numbers them.
constexpr int kSunday = 0;
constexpr int kMonday = 1;
constexpr int kFriday = 5;
constexpr int kSaturday = 6;

constexpr bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// The days of a month (1 = January), February's 29 in leap years.
constexpr int DaysInMonth(int year, int month) {
    constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

struct CivilDay {
    int Year = 0;
    int Month = 0;  // 1 = January
    int Day = 0;

    auto operator<=>(const CivilDay&) const = default;

    // The day of a YYYYMMDD number; not checked (see Valid).
    static constexpr CivilDay FromNumber(std::int32_t number) {
        return {number / 10000, number / 100 % 100, number % 100};
    }
    constexpr std::int32_t Number() const { return Year * 10000 + Month * 100 + Day; }

    // The day `serial` days after 1970-01-01 (before it when negative).
    static constexpr CivilDay FromSerial(int serial) {
        const int z = serial + 719468;
        const int era = (z >= 0 ? z : z - 146096) / 146097;
        const int doe = z - era * 146097;
        const int yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
        const int doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
        const int mp = (5 * doy + 2) / 153;
        const int day = doy - (153 * mp + 2) / 5 + 1;
        const int month = mp < 10 ? mp + 3 : mp - 9;
        return {yoe + era * 400 + (month <= 2 ? 1 : 0), month, day};
    }
    // Days since 1970-01-01. A day of the month past the month's end counts
    // on into the next, so a date a clock gives is counted whatever it holds.
    constexpr int Serial() const {
        const int y = Year - (Month <= 2 ? 1 : 0);
        const int era = (y >= 0 ? y : y - 399) / 400;
        const int yoe = y - era * 400;
        const int doy = (153 * (Month > 2 ? Month - 3 : Month + 9) + 2) / 5 + Day - 1;
        const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
        return era * 146097 + doe - 719468;
    }

    // A month from 1 to 12 and a day that month has.
    constexpr bool Valid() const {
        return Month >= 1 && Month <= 12 && Day >= 1 && Day <= DaysInMonth(Year, Month);
    }
    // 0 = Sunday ... 6 = Saturday.
    constexpr int WeekDay() const { return WeekDayOf(Serial()); }
    // The weekday of a serial day; 1970-01-01 was a Thursday.
    static constexpr int WeekDayOf(int serial) {
        const int w = (serial + 4) % 7;
        return w < 0 ? w + 7 : w;
    }
    constexpr int MonthLength() const { return DaysInMonth(Year, Month); }
    constexpr CivilDay Plus(int days) const { return FromSerial(Serial() + days); }

    // "2025-10-17".
    std::string IsoText() const;
    // "10/17/2025": month and day without leading zeros.
    std::string SlashText() const;
    // "Fri 17 Oct 2025", or "Fri 17 Oct" without the year.
    std::string NamedText(bool withYear = true) const;
};

// Days from `from` to `to`: positive when `to` is later.
constexpr int DaysBetween(const CivilDay& from, const CivilDay& to) {
    return to.Serial() - from.Serial();
}

// The English three-letter names, "Sun" to "Sat" and "Jan" to "Dec".
std::string_view WeekDayName(int weekDay);
std::string_view MonthName(int month);

// "YYYY-MM-DD" exactly, four, two and two digits, whether or not the day
// exists: each reader checks the days it takes (see CivilDay::Valid).
std::optional<CivilDay> ReadIsoDigits(std::string_view text);

}  // namespace quillon
