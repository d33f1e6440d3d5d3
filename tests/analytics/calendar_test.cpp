#include "analytics/calendar.h"

#include <gtest/gtest.h>

#include <string>

namespace quillon {
namespace {

ExpirationCalendar CalendarOn(int year, int month, int day) {
    ExpirationCalendar calendar;
    BuildExpirationCalendar(calendar, DateTime{year, month, day});
    return calendar;
}

std::string Letters(const ExpirationCalendar& c, int type, int count) {
    return std::string(c.MonthLetters[type].begin(), c.MonthLetters[type].begin() + count);
}

TEST(ExpirationCalendar, WorkedDates) {
    struct Case {
        const char* name;
        int year, month, day;
        std::array<int, 3> days;
        std::array<int, 3> expirationDays;
        const char* calls;
        const char* puts;
    };
    const Case cases[] = {
        {"Tue 1 Dec 2026", 2026, 12, 1, {18, 46, 81}, {19, 16, 20}, "LAB", "XMN"},
        {"Mon 21 Dec 2026", 2026, 12, 21, {26, 61, 89}, {16, 20, 20}, "ABC", "MNO"},
        {"Sat 19 Dec 2026", 2026, 12, 19, {26, 61, 89}, {16, 20, 20}, "ABC", "MNO"},
        {"Sun 20 Dec 2026", 2026, 12, 20, {26, 61, 89}, {16, 20, 20}, "ABC", "MNO"},
        {"Fri 15 Jan 2027", 2027, 1, 15, {1, 36, 64}, {16, 20, 20}, "ABC", "MNO"},
    };
    for (const Case& c : cases) {
        ExpirationCalendar cal = CalendarOn(c.year, c.month, c.day);
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(cal.DaysToExpiration[k], c.days[k]) << c.name << " slot " << k;
            EXPECT_EQ(cal.ExpirationDay[k], c.expirationDays[k]) << c.name << " slot " << k;
        }
        EXPECT_EQ(Letters(cal, 0, 3), c.calls) << c.name;
        EXPECT_EQ(Letters(cal, 1, 3), c.puts) << c.name;
    }
}

TEST(ExpirationCalendar, LeapFebruaryOfJanuary2028) {
    ExpirationCalendar cal = CalendarOn(2028, 1, 10);
    EXPECT_EQ(cal.MonthLengths[1], 29);
    ASSERT_EQ(cal.ExpirationMonth[1], 1);
    EXPECT_EQ(cal.ExpirationDay[1], 19);
    EXPECT_EQ(cal.ExpirationDay[2], 18);
}

// Every expiration is the Saturday after the third Friday of its month, and
// consecutive expirations are four or five weeks apart.
TEST(ExpirationCalendar, EveryDayFrom2026To2030) {
    for (int year = 2026; year <= 2030; ++year) {
        for (int month = 1; month <= 12; ++month) {
            int length = month == 2
                             ? (year % 4 == 0 ? 29 : 28)
                             : (month == 4 || month == 6 || month == 9 || month == 11 ? 30 : 31);
            for (int day = 1; day <= length; ++day) {
                ExpirationCalendar cal = CalendarOn(year, month, day);
                int expYear = year;
                int previousMonth = month - 1;
                for (int k = 0; k < kExpirations; ++k) {
                    int m = cal.ExpirationMonth[k];
                    if (m < previousMonth) ++expYear;
                    previousMonth = m;
                    int e = cal.ExpirationDay[k];
                    ASSERT_GE(e, 16);
                    ASSERT_LE(e, 22);
                    ASSERT_EQ((CivilDay{expYear, m + 1, e}.WeekDay()), kSaturday)
                        << year << "-" << month << "-" << day << " slot " << k;
                    ASSERT_EQ(cal.MonthLetters[0][k], "ABCDEFGHIJKL"[m]);
                    ASSERT_EQ(cal.MonthLetters[1][k], "MNOPQRSTUVWX"[m]);
                    if (k > 0) {
                        int gap = cal.DaysToExpiration[k] - cal.DaysToExpiration[k - 1];
                        ASSERT_TRUE(gap == 28 || gap == 35);
                        ASSERT_EQ(m, (cal.ExpirationMonth[k - 1] + 1) % 12);
                    }
                }
                ASSERT_GE(cal.DaysToExpiration[0], 1);
            }
        }
    }
}

TEST(StrikeTable, WorkedPrices) {
    struct Case {
        float price;
        std::array<float, 5> strikes;
        const char* letters;
    };
    const Case cases[] = {
        {8, {5, 7.5f, 10, 12.5f, 15}, "AUBVC"},
        {10, {5, 7.5f, 10, 12.5f, 15}, "AUBVC"},
        {10.01f, {5, 7.5f, 10, 12.5f, 15}, "AUBVC"},
        {11.25f, {7.5f, 10, 12.5f, 15, 17.5f}, "UBVCW"},
        {12, {7.5f, 10, 12.5f, 15, 17.5f}, "UBVCW"},
        {22.4f, {17.5f, 20, 22.5f, 25, 30}, "WDXEF"},
        {23.75f, {20, 22.5f, 25, 30, 35}, "DXEFG"},
        {26, {20, 22.5f, 25, 30, 35}, "DXEFG"},
        {29.9f, {22.5f, 25, 30, 35, 40}, "XEFGH"},
        {47.3f, {35, 40, 45, 50, 55}, "GHIJK"},
        {98, {90, 95, 100, 105, 110}, "RSTAB"},
        {152.6f, {145, 150, 155, 160, 165}, "IJKLM"},
        {0, {5, 7.5f, 10, 12.5f, 15}, "AUBVC"},
        {-3, {5, 7.5f, 10, 12.5f, 15}, "AUBVC"},
    };
    for (const Case& c : cases) {
        StrikeTable table;
        SelectStrikes(table, c.price);
        EXPECT_EQ(table.StrikePrices, c.strikes) << c.price;
        EXPECT_EQ(std::string(table.StrikeLetters.begin(), table.StrikeLetters.end()), c.letters)
            << c.price;
    }
}

TEST(StrikeTable, LettersAboveOneHundredWrap) {
    EXPECT_EQ(StrikeLetter(105), 'A');
    EXPECT_EQ(StrikeLetter(150), 'J');
    EXPECT_EQ(StrikeLetter(100), 'T');
    EXPECT_EQ(StrikeLetter(200), 'T');
    EXPECT_EQ(StrikeLetter(100.5f), 'A');
    EXPECT_EQ(StrikeLetter(1234567.5f), 'M');  // as 67.5
    // A damaged price of any size still gets a letter, and at once.
    EXPECT_NE(std::string("AUBVCWDXEFGHIJKLMNOPQRST").find(StrikeLetter(3e38f)), std::string::npos);
}

}  // namespace
}  // namespace quillon
