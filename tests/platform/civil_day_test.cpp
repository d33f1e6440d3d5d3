#include "platform/civil_day.h"

#include <gtest/gtest.h>

#include <optional>
#include <string_view>

namespace quillon {
namespace {

// Steps a day at a time from 1 March 1899 to 2101 by the month lengths
// alone: the serial count, the stepping, the weekday and the stored number
// must all agree with that walk, through the century years 1900 (no leap
// day), 2000 (a leap day) and 2100 (none).
TEST(CivilDay, CountsAgreeWithAWalkOfTheCalendar) {
    CivilDay walked{1899, 3, 1};
    const int first = walked.Serial();
    EXPECT_EQ(first, -25873);
    for (int serial = first; walked.Year < 2101; ++serial) {
        SCOPED_TRACE(walked.IsoText());
        ASSERT_TRUE(walked.Valid());
        ASSERT_EQ(walked.Serial(), serial);
        ASSERT_EQ(CivilDay::FromSerial(serial), walked);
        ASSERT_EQ(CivilDay::FromNumber(walked.Number()), walked);
        ASSERT_EQ(walked.WeekDay(), ((serial - first) % 7 + 3) % 7);  // 1 March 1899: a Wednesday
        const CivilDay next = walked.Day < walked.MonthLength()
                                  ? CivilDay{walked.Year, walked.Month, walked.Day + 1}
                              : walked.Month < 12 ? CivilDay{walked.Year, walked.Month + 1, 1}
                                                  : CivilDay{walked.Year + 1, 1, 1};
        ASSERT_EQ(walked.Plus(1), next);
        ASSERT_EQ(DaysBetween(walked, next), 1);
        ASSERT_LT(walked, next);
        walked = next;
    }
}

TEST(CivilDay, KnownDays) {
    const struct {
        CivilDay day;
        int serial;
        int weekDay;
        int monthLength;
    } cases[] = {
        {{1970, 1, 1}, 0, 4, 31},
        {{1969, 12, 31}, -1, 3, 31},
        {{2026, 12, 8}, 20795, kMonday + 1, 31},
        {{2024, 2, 29}, 19782, 4, 29},
        {{1900, 2, 1}, -25536, 4, 28},
        {{2000, 2, 1}, 10988, 2, 29},
        {{2100, 2, 1}, 47513, kMonday, 28},
        {{2027, 1, 16}, 20834, kSaturday, 31},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.day.IsoText());
        EXPECT_EQ(c.day.Serial(), c.serial);
        EXPECT_EQ(c.day.WeekDay(), c.weekDay);
        EXPECT_EQ(c.day.MonthLength(), c.monthLength);
    }
}

TEST(CivilDay, Validity) {
    const struct {
        CivilDay day;
        bool valid;
    } cases[] = {
        {{2024, 2, 29}, true},
        {{2023, 2, 29}, false},
        {{2000, 2, 29}, true},
        {{1900, 2, 29}, false},
        {{2025, 4, 31}, false},
        {{2025, 12, 31}, true},
        {{2025, 0, 10}, false},
        {{2025, 13, 1}, false},
        {{2025, 1, 0}, false},
        {CivilDay::FromNumber(20261300), false},
        {CivilDay::FromNumber(0), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.day.Valid(), c.valid) << c.day.IsoText();
}

// A serial count that is right for real days counts a day past a month's
// end on into the next month, as a clock's date that runs over is counted.
TEST(CivilDay, DayPastTheMonthCountsOn) {
    EXPECT_EQ((CivilDay{2025, 2, 29}.Serial()), (CivilDay{2025, 3, 1}.Serial()));
    EXPECT_EQ((CivilDay{2025, 4, 31}.Plus(0)), (CivilDay{2025, 5, 1}));
}

TEST(CivilDay, TextForms) {
    const struct {
        CivilDay day;
        const char* iso;
        const char* slash;
        const char* named;
    } cases[] = {
        {{2025, 10, 17}, "2025-10-17", "10/17/2025", "Fri 17 Oct 2025"},
        {{2027, 1, 9}, "2027-01-09", "1/9/2027", "Sat 9 Jan 2027"},
        {{999, 3, 1}, "0999-03-01", "3/1/999", "Fri 1 Mar 999"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.day.IsoText(), c.iso);
        EXPECT_EQ(c.day.SlashText(), c.slash);
        EXPECT_EQ(c.day.NamedText(), c.named);
    }
    EXPECT_EQ((CivilDay{2026, 12, 8}.NamedText(false)), "Tue 8 Dec");
}

TEST(CivilDay, ReadIsoDigitsTakesTheShapeAlone) {
    const struct {
        std::string_view text;
        std::optional<CivilDay> day;
    } cases[] = {
        {"2025-10-17", CivilDay{2025, 10, 17}},
        {"2025-02-30", CivilDay{2025, 2, 30}},  // the reader checks the day
        {"0000-00-00", CivilDay{0, 0, 0}},
        {"2025/10/17", std::nullopt},
        {"2025-1-017", std::nullopt},
        {"2025-10-17 ", std::nullopt},
        {"2025-10-1", std::nullopt},
        {"-025-10-17", std::nullopt},
        {"+025-10-17", std::nullopt},
        {"2025-+1-17", std::nullopt},
        {"2025-10- 7", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReadIsoDigits(c.text), c.day) << c.text;
}

}  // namespace
}  // namespace quillon
