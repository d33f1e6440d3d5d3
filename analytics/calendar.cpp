#include "analytics/calendar.h"

#include <cmath>

namespace quillon {

namespace {

constexpr const char* kCallMonthCodes = "ABCDEFGHIJKL";
constexpr const char* kPutMonthCodes = "MNOPQRSTUVWX";
constexpr const char* kStrikeCodeTable = "AUBVCWDXEEFFGGHHIIJJKKLLMMNNOOPPQQRRSSTT";

}  // namespace

void BuildExpirationCalendar(ExpirationCalendar& calendar, const DateTime& today) {
    // The reference date: today, or the following Monday at a weekend.
    int year = today.Year;
    int month = today.Month - 1;  // 0 = January
    int day = today.Day;
    int w = today.Date().WeekDay();
    int skip = w == 0 ? 1 : w == 6 ? 2 : 0;
    for (int i = 0; i < skip; ++i) {
        // A weekend is at most two days from the Monday, so one month step
        // is all a roll-over can take.
        // Every fourth year, no century rule, as for February below (right until 2100).
        bool leap = year % 4 == 0;
        int length = month == 1 ? (leap ? 29 : 28) : calendar.MonthLengths[month];
        if (++day > length) {
            day = 1;
            if (++month == 12) {
                month = 0;
                ++year;
            }
        }
        w = (w + 1) % 7;
    }

    // February: 29 days when the coming February lies in a year divisible by 4.
    bool leapFebruary = (year % 4 == 0 && month <= 1) || (year % 4 == 3 && month >= 2);
    calendar.MonthLengths[1] = leapFebruary ? 29 : 28;

    // Weekday of the 1st of the month, then the first Friday.
    for (int d = day; d > 1; --d)
        w = (w + 6) % 7;
    int firstFriday = 1;
    while (w != kFriday) {
        ++firstFriday;
        w = (w + 1) % 7;
    }
    int e = firstFriday + 15;  // the Saturday after the third Friday

    int days = e - day;
    int m = month;
    if (days <= 0) {
        days += 28;
        e = e + 28 - calendar.MonthLengths[m];
        if (e < 16) {
            days += 7;
            e += 7;
        }
        m = (m + 1) % 12;
    }
    calendar.DaysToExpiration[0] = days;
    calendar.ExpirationDay[0] = e;

    int n = m;
    for (int k = 1; k < kExpirations; ++k) {
        calendar.DaysToExpiration[k] = calendar.DaysToExpiration[k - 1] + 28;
        e = e + 28 - calendar.MonthLengths[n];
        n = (n + 1) % 12;
        if (e < 16) {
            calendar.DaysToExpiration[k] += 7;
            e += 7;
        }
        calendar.ExpirationDay[k] = e;
    }

    for (int k = 0; k < kExpirations; ++k) {
        int expirationMonth = (m + k) % 12;
        calendar.ExpirationMonth[k] = expirationMonth;
        calendar.MonthLetters[0][k] = kCallMonthCodes[expirationMonth];
        calendar.MonthLetters[1][k] = kPutMonthCodes[expirationMonth];
    }
}

char StrikeLetter(float strike) {
    // Above 100 the letters repeat every 100 (105 is A, 200 is T). The
    // remainder is taken in one step, exactly, so a damaged price of any size
    // cannot keep a loop of repeated subtraction going.
    double x = strike;
    if (x > 100) {
        const double rest = std::fmod(x, 100.0);
        x = rest == 0 ? 100 : rest;
    }
    double n = std::floor((x + x) * 0.2);
    long index = static_cast<long>(n) - 2;
    // Strikes outside the table (at or below 2.5, or not a number) have no
    // letter of their own; they take the nearest end of the table.
    if (!(index >= 0)) index = 0;
    if (index > 39) index = 39;
    return kStrikeCodeTable[index];
}

void SelectStrikes(StrikeTable& table, float price) {
    std::array<float, 5>& k = table.StrikePrices;
    double p = price;
    if (p > 10) {
        double c = p >= 23.75 ? std::trunc((p + 2.5) * 0.2) * 5
                              : std::trunc((2 * p + 2.5) * 0.2) * 5 * 0.5;
        k[2] = static_cast<float>(c);
        k[3] = static_cast<float>(c >= 25 ? c + 5 : c + 2.5);
        k[1] = static_cast<float>(c >= 30 ? c - 5 : c - 2.5);
        k[4] = k[3] >= 25 ? k[3] + 5 : k[3] + 2.5f;
        k[0] = k[1] >= 30 ? k[1] - 5 : k[1] - 2.5f;
    } else {
        k = {5, 7.5f, 10, 12.5f, 15};
    }
    for (int i = 0; i < 5; ++i)
        table.StrikeLetters[i] = StrikeLetter(k[i]);
}

}  // namespace quillon
