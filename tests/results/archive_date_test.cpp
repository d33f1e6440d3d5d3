#include "results/archive_date.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "tests/support/temp_dir.h"

namespace quillon {
namespace {

using testing::TempDir;

struct Ymd {
    int Year, Month, Day;
};

std::optional<Ymd> Parsed(std::string_view text) {
    const std::optional<DateTime> at = ParseArchiveDate(text);
    if (!at) return std::nullopt;
    EXPECT_EQ(at->Hour, 0);
    EXPECT_EQ(at->Minute, 0);
    EXPECT_EQ(at->Second, 0);
    return Ymd{at->Year, at->Month, at->Day};
}

TEST(ArchiveDate, TheFileTextIsTheDateWithCrLf) {
    EXPECT_EQ(ArchiveDateText(2025, 6, 17), "2025-06-17\r\n");
    EXPECT_EQ(ArchiveDateText(1999, 12, 1), "1999-12-01\r\n");
    EXPECT_STREQ(kArchiveDateFile, "QuoteDate.txt");
}

TEST(ArchiveDate, ParsesOnlyAWholeRealDateOnTheFirstLine) {
    using namespace std::string_view_literals;
    struct Case {
        std::string_view text;
        std::optional<Ymd> date;
    } cases[] = {
        // The written form, LF, no line end, and whatever follows the line.
        {"2025-06-17\r\n", Ymd{2025, 6, 17}},
        {"2025-06-17\n", Ymd{2025, 6, 17}},
        {"2025-06-17", Ymd{2025, 6, 17}},
        {"2025-06-17\r\nsecond line\r\n", Ymd{2025, 6, 17}},
        {"2025-06-17\n\x00\xff"sv, Ymd{2025, 6, 17}},
        {"2024-02-29\r\n", Ymd{2024, 2, 29}},
        {"2000-02-29\r\n", Ymd{2000, 2, 29}},
        {"1900-01-01\r\n", Ymd{1900, 1, 1}},
        {"9999-12-31\r\n", Ymd{9999, 12, 31}},
        // Bytes on the line after the date, a lone CR, a cut-short date.
        {"2025-06-17 \r\n", std::nullopt},
        {"2025-06-17\r", std::nullopt},
        {"2025-06-17x", std::nullopt},
        {"2025-06-1", std::nullopt},
        {"2025-06-170\r\n", std::nullopt},
        // Other forms and junk.
        {"", std::nullopt},
        {"\r\n2025-06-17\r\n", std::nullopt},
        {" 2025-06-17\r\n", std::nullopt},
        {"\xEF\xBB\xBF"
         "2025-06-17\r\n",
         std::nullopt},
        {"2025/06/17\r\n", std::nullopt},
        {"6/17/2025\r\n", std::nullopt},
        {"17-06-2025\r\n", std::nullopt},
        {"2025-6-17\r\n", std::nullopt},
        {"+025-06-17\r\n", std::nullopt},
        {"2025-0x-17\r\n", std::nullopt},
        {"2025-06-1\x00\r\n"sv, std::nullopt},
        {"abcdefghij\r\n", std::nullopt},
        // Impossible dates.
        {"2025-02-29\r\n", std::nullopt},
        {"1900-02-29\r\n", std::nullopt},
        {"2025-04-31\r\n", std::nullopt},
        {"2025-13-01\r\n", std::nullopt},
        {"2025-00-10\r\n", std::nullopt},
        {"2025-06-00\r\n", std::nullopt},
        {"2025-12-32\r\n", std::nullopt},
        {"1899-12-31\r\n", std::nullopt},
        {"0000-01-01\r\n", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(std::string(c.text)));
        const std::optional<Ymd> got = Parsed(c.text);
        ASSERT_EQ(got.has_value(), c.date.has_value());
        if (!got) continue;
        EXPECT_EQ(got->Year, c.date->Year);
        EXPECT_EQ(got->Month, c.date->Month);
        EXPECT_EQ(got->Day, c.date->Day);
    }
}

TEST(ArchiveDate, EveryDayOfALeapAndACommonYearRoundTrips) {
    for (const int year : {2024, 2025}) {
        int days = 0;
        for (int month = 1; month <= 12; ++month) {
            for (int day = 1; day <= 31; ++day) {
                const std::optional<Ymd> got = Parsed(ArchiveDateText(year, month, day));
                if (!got) continue;
                ++days;
                EXPECT_EQ(got->Month, month);
                EXPECT_EQ(got->Day, day);
            }
        }
        EXPECT_EQ(days, year == 2024 ? 366 : 365);
    }
}

TEST(ArchiveDate, ReadingTheFileTellsWhyItGaveNoDate) {
    struct Case {
        const char* name;
        std::optional<std::string> content;  // nothing: no file; "<dir>": a directory
        bool dated;
        std::string problem;  // the start of the problem text; empty for none
    } cases[] = {
        {"missing", std::nullopt, false, ""},
        {"empty", "", false, ""},
        {"dated", "2025-06-17\r\n", true, ""},
        {"junk", "June 17\r\n", false, "QuoteDate.txt holds no date of the form YYYY-MM-DD"},
        {"impossible", "2025-02-30\r\n", false, "QuoteDate.txt holds no date"},
        {"a directory", "<dir>", false, "Cannot read QuoteDate.txt: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        if (c.content == "<dir>") {
            std::filesystem::create_directory(dir.File(kArchiveDateFile));
        } else if (c.content) {
            dir.Write(kArchiveDateFile, *c.content);
        }
        const ArchiveDateRead read = ReadArchiveDate(dir.File(kArchiveDateFile));
        EXPECT_EQ(read.Date.has_value(), c.dated);
        if (c.dated) {
            EXPECT_EQ(read.Date->Day, 17);
        }
        if (c.problem.empty()) {
            EXPECT_EQ(read.Problem, "");
        } else {
            EXPECT_TRUE(read.Problem.starts_with(c.problem)) << read.Problem;
        }
    }
}

}  // namespace
}  // namespace quillon
