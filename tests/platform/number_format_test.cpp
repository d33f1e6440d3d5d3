#include "platform/number_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace quillon {
namespace {

struct PictureCase {
    double value;
    const char* pattern;
    const char* expected;
};

void ExpectPictures(const PictureCase* cases, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const PictureCase& c = cases[i];
        EXPECT_EQ(FormatPicture(c.value, c.pattern), c.expected)
            << "value " << c.value << " (" << std::hexfloat << c.value << std::defaultfloat
            << ") in \"" << c.pattern << "\"";
    }
}

const float kFloatPercent = 0.1234567f;  // a stored 32-bit figure taken to per cent

TEST(FormatPictureTest, DecimalPatterns) {
    const PictureCase cases[] = {
        {124.625, "0.#####", "124.625"},
        {3.50, "0.#####", "3.5"},
        {7, "0.#####", "7"},
        {0, "0.#####", "0"},
        {0.5, "0.#####", "0.5"},
        {-3.25, "0.#####", "-3.25"},
        {1.234565, "0.#####", "1.23457"},
        {static_cast<double>(kFloatPercent) * 100, "0.####", "12.3457"},
        {static_cast<double>(kFloatPercent * 100.0f), "0.####", "12.3457"},
        {0.05, " 0.####", " 0.05"},
        {-1.5, " 0.####", " -1.5"},
        {0, " 0.####", " 0"},
        {0.0525 * 100, "0.##", "5.25"},
        {static_cast<double>(0.0525f) * 100, "0.##", "5.25"},
        {0.999999, "0.####", "1"},
        {9.99995, "0.####", "10"},
        {5, "0.##%", "5%"},
        {12.345, "0.##%", "12.35%"},
        {100.0 / 3, "0.#####%", "33.33333%"},
        {-0.5, "0.#####%", "-0.5%"},
    };
    ExpectPictures(cases, std::size(cases));
}

// Halves round away from zero, and the 15-significant-digit step makes binary fractions such
// as 2.675 (stored just below the half) round as their decimal text reads.
TEST(FormatPictureTest, RoundsHalvesAwayFromZero) {
    const PictureCase cases[] = {
        {0.125, "0.##", "0.13"},
        {-0.125, "0.##", "-0.13"},
        {0.0525 * 100, "0.#", "5.3"},
        {2.675, "0.##", "2.68"},
        {-2.675, "0.##", "-2.68"},
        {1.005, "0.##", "1.01"},
        {0.00005, "0.####", "0.0001"},
        {-0.00005, "0.####", "-0.0001"},
        {2.5, "#,###,##0", "3"},
        {-2.5, "#,###,##0", "-3"},
        {0.5, "#,###,###,###", "1"},
        {999.5, "#,###,##0", "1,000"},
        {999999.5, "###,###,###,##0", "1,000,000"},
        {1.4999999, "#,###,##0", "1"},
        // Ties at the 16th significant digit also go away from zero.
        {200000000000000.5, "#,###,##0", "200,000,000,000,001"},
        {-200000000000000.5, "#,###,##0", "-200,000,000,000,001"},
        // Its 17-digit form reads ...7005 but the stored value lies below: it stays ...700.
        {269.6448377027005, "0.############", "269.6448377027"},
        {999999999999999.9, "#,###,##0", "1,000,000,000,000,000"},
    };
    ExpectPictures(cases, std::size(cases));
}

TEST(FormatPictureTest, ZeroHasNoSign) {
    const PictureCase cases[] = {
        {-0.0, "0.####", "0"},
        {-0.00001, "0.####", "0"},
        {-0.00001, " 0.####", " 0"},
        {-0.004, "0.##%", "0%"},
        {-0.4, "#,###,##0", "0"},
        {0, "###,###,###,##0", "0"},
        {0, "#,###,###,###", ""},
        {0.4, "#,###,###,###", ""},
        {-0.4, "#,###,###,###", ""},
        {1e-300, "0.#####", "0"},
        {std::numeric_limits<double>::denorm_min(), "0.#####", "0"},
    };
    ExpectPictures(cases, std::size(cases));
}

TEST(FormatPictureTest, GroupsEveryIntegerDigit) {
    const PictureCase cases[] = {
        {999, "#,###,##0", "999"},
        {1000, "#,###,##0", "1,000"},
        {1234567.5, "###,###,###,##0", "1,234,568"},
        {123456789012.0, "###,###,###,##0", "123,456,789,012"},
        {-1234.4, "#,###,##0", "-1,234"},
        {1e15, "#,###,##0", "1,000,000,000,000,000"},
        {1e20, "#,###,##0", "100,000,000,000,000,000,000"},
        {12345, "#,###,###,###", "12,345"},
        {1e13, "#,###,###,###", "10,000,000,000,000"},
        // Only 15 significant digits are kept; the rest of the integer shows as zeros.
        {1234567890123456789.0, "#,###,##0", "1,234,567,890,123,460,000"},
    };
    ExpectPictures(cases, std::size(cases));
}

TEST(FormatPictureTest, OtherPictures) {
    const PictureCase cases[] = {
        {1.5, "0.00", "1.50"},
        {1.5, "0.0#", "1.5"},
        {1, "0.0#", "1.0"},
        {1.505, "0.0#", "1.51"},
        {7, "000", "007"},
        {0.5, "#.##", ".5"},
        {12.5, "#.##", "12.5"},
        {2.5, "0.", "3"},
        {1234.5, "$#,##0.00", "$1,234.50"},
        {-1234.5, "$#,##0.00", "$-1,234.50"},
        {12345, "0-000", "12-345"},
        {1.5, "0.## pct.", "1.5 pct."},
        {5, "n/a", "n/a"},
        {5, "", ""},
    };
    ExpectPictures(cases, std::size(cases));
}

TEST(FormatPictureTest, HugeValuesKeepEveryDigit) {
    const std::string text = FormatPicture(std::numeric_limits<double>::max(), "#,###,##0");
    ASSERT_EQ(text.size(), 309u + 102u);  // 309 digits and 102 separators
    EXPECT_EQ(text.substr(0, 20), "179,769,313,486,232,");
    EXPECT_EQ(text.find_first_not_of("0,", 20), std::string::npos);
}

TEST(FormatPictureTest, NonFiniteValuesShowAWord) {
    const double inf = std::numeric_limits<double>::infinity();
    const PictureCase cases[] = {
        {std::numeric_limits<double>::quiet_NaN(), "0.##", "NAN"},
        {inf, "0.##%", "INF%"},
        {-inf, " 0.####", " -INF"},
    };
    ExpectPictures(cases, std::size(cases));
}

TEST(FormatMoneyTest, DollarsWithParenthesesForNegatives) {
    struct Case {
        double value;
        int width;
        int decimals;
        const char* expected;
    };
    const Case cases[] = {
        {0, 7, 2, "  $0.00"},
        {1234.5, 7, 2, "$1,234.50"},
        {-1, 7, 2, "($1.00)"},
        {-1234.5, 7, 2, "($1,234.50)"},
        {0.005, 7, 2, "  $0.01"},
        {2.675, 7, 2, "  $2.68"},
        {-0.004, 7, 2, "  $0.00"},
        {-0.0, 7, 2, "  $0.00"},
        {12345.678, 7, 2, "$12,345.68"},
        {1, 10, 2, "     $1.00"},
        {1234.5, 0, 0, "$1,235"},
        {1234.5, 0, -3, "$1,235"},
        {-std::numeric_limits<double>::infinity(), 7, 2, " ($INF)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatMoney(c.value, c.width, c.decimals), c.expected)
            << c.value << " in width " << c.width << " with " << c.decimals << " decimals";
    }
    EXPECT_EQ(FormatMoney(42), " $42.00");
}

// A 32-bit figure is shown as its shortest decimal text rounded by the pattern: the float's own
// error (658.05 is held as 658.0499878) no longer shows, and halves of that text round away
// from zero even where the float lies just below them (2.675 is held as 2.6749999523).
TEST(ShortestValueTest, FloatsShowAsTheirShortestText) {
    struct Case {
        float value;
        const char* pattern;  // nullptr: money in 7 with two decimals
        const char* expected;
        const char* exact;  // the float's exact value in the pattern, where that differs
    };
    const float inf = std::numeric_limits<float>::infinity();
    const Case cases[] = {
        {658.05f, "0.#####", "658.05", "658.04999"},
        {100000.01f, "0.#####", "100000.01", "100000.00781"},
        {124.625f, "0.#####", "124.625", nullptr},
        {-1.0f, "0.#####", "-1", nullptr},
        {0.1234567f, "0.#####", "0.12346", nullptr},
        {1e-7f, "0.#####", "0", nullptr},
        {-1e-7f, "0.#####", "0", nullptr},
        {-0.0f, "0.#####", "0", nullptr},
        {std::numeric_limits<float>::quiet_NaN(), "0.#####", "NAN", nullptr},
        {-inf, "0.#####", "-INF", nullptr},
        {658.05f, " 0.####", " 658.05", " 658.05"},
        {0.00005f, "0.####", "0.0001", "0"},
        {2.675f, "0.##", "2.68", "2.67"},
        {-2.675f, "0.##", "-2.68", "-2.67"},
        {1.005f, "0.##", "1.01", "1"},
        {0.285f, "0.##%", "0.29%", "0.28%"},
        {33.33333f, "0.#####%", "33.33333%", nullptr},
        {16777216.0f, "0", "16777216", nullptr},
        {std::numeric_limits<float>::max(), "0", "340282350000000000000000000000000000000",
         "340282346638529000000000000000000000000"},
        {2.675f, nullptr, "  $2.68", "  $2.67"},
        {-0.005f, nullptr, "($0.01)", "  $0.00"},
        {1234.5f, nullptr, "$1,234.50", nullptr},
        {1e6f + 0.05f, nullptr, "$1,000,000.06", "$1,000,000.06"},
    };
    for (const Case& c : cases) {
        const double exact = c.value;
        const auto show = [&](double v) {
            return c.pattern != nullptr ? FormatPicture(v, c.pattern) : FormatMoney(v, 7, 2);
        };
        const char* pattern = c.pattern != nullptr ? c.pattern : "money";
        EXPECT_EQ(show(ShortestValue(c.value)), c.expected) << c.value << " in " << pattern;
        EXPECT_EQ(show(exact), c.exact != nullptr ? c.exact : c.expected)
            << "exact " << c.value << " in " << pattern;
    }
}

// The value is the double the shortest text reads as, bit for bit, on both sides of the binades
// that take the short way (2^-16 to 2^23) and at the ends of the float range.
TEST(ShortestValueTest, IsTheDoubleOfTheShortestText) {
    const struct {
        float value;
        double expected;
    } cases[] = {
        {658.05f, 658.05},
        {0.1f, 0.1},
        {-0.3f, -0.3},
        {1.52587890625e-05f, 1.5258789e-05},  // 2^-16, the first binade of the short way
        {7.62939453125e-06f, 7.6293945e-06},  // 2^-17, below it
        {8388607.5f, 8388607.5},              // the last binade of the short way
        {8388609.0f, 8388609},
        {1e10f, 1e10},
        {std::numeric_limits<float>::max(), 3.4028235e38},
        {std::numeric_limits<float>::denorm_min(), 1e-45},
        {std::numeric_limits<float>::min(), 1.1754944e-38},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ShortestValue(c.value), c.expected) << c.value;
    }
    EXPECT_TRUE(std::signbit(ShortestValue(-0.0f)));
    EXPECT_TRUE(std::isnan(ShortestValue(std::numeric_limits<float>::quiet_NaN())));
    EXPECT_EQ(ShortestValue(-std::numeric_limits<float>::infinity()),
              -std::numeric_limits<double>::infinity());
}

TEST(FormatGeneralTest, FifteenSignificantDigits) {
    const struct {
        double value;
        const char* expected;
    } cases[] = {
        {250, "250"},
        {8, "8"},
        {1.5, "1.5"},
        {0.1, "0.1"},
        {-2.25, "-2.25"},
        {1e20, "1e+20"},
        {1e-5, "1e-05"},
        {100.0 / 3, "33.3333333333333"},
        {123456789012345678.0, "1.23456789012346e+17"},
        {0, "0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatGeneral(c.value), c.expected) << c.value;
}

// The printf forms give C's text; the differential tests compare them with the C library over
// random values, these cases pin the edges by name.
TEST(PrintfFormsTest, FixedGeneralIntegerAndText) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        std::string actual;
        const char* expected;
    } cases[] = {
        {FormatFixed(1234.0, 0, -12), "1234        "},
        {FormatFixed(2.5, 0), "2"},  // an exact tie goes to the even digit
        {FormatFixed(3.5, 0), "4"},
        {FormatFixed(0.125, 2), "0.12"},
        {FormatFixed(2.675, 2), "2.67"},  // stored just below the half
        {FormatFixed(-0.0, 2, 6), " -0.00"},
        {FormatFixed(-0.001, 2, -7), "-0.00  "},
        {FormatFixed(12.345678, 2, 3), "12.35"},  // padded, never cut
        {FormatFixed(1e20, 0), "100000000000000000000"},
        {FormatFixed(nan, 2, 6), "   nan"},
        {FormatFixed(-nan, 2, 6), "  -nan"},
        {FormatFixed(-inf, 0, -6), "-inf  "},
        {FormatFixed(0.5, 100).substr(0, 6), "0.5000"},
        {FormatGeneral(1.23456, 4), "1.235"},
        {FormatGeneral(0.00001234, 4), "1.234e-05"},
        {FormatGeneral(12345678, 4), "1.235e+07"},
        {FormatInteger(42, -13), "42           "},
        {FormatInteger(-42, 5), "  -42"},
        {FormatInteger(std::numeric_limits<long long>::min()), "-9223372036854775808"},
        {FormatZeroFilled(5, 2), "05"},
        {FormatZeroFilled(-5, 3), "-05"},
        {FormatZeroFilled(-5, 2), "-5"},
        {FormatZeroFilled(123, 2), "123"},
        {FormatText("ab", -7), "ab     "},
        {FormatText("ab", 4), "  ab"},
        {FormatText("abcdefgh", -5), "abcdefgh"},
        {FormatText(std::string("ab\0cd", 5).c_str(), -4), "ab  "},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.actual, c.expected);
}

// A held pattern appends to the text it is given, whatever came before, and serves many values.
TEST(PicturePatternTest, AppendsToTheTextGiven) {
    const PicturePattern picture("$#,##0.00");
    std::string text = "Cap ";
    picture.AppendTo(text, 1234.5);
    text += " / ";
    picture.AppendTo(text, -0.001);
    EXPECT_EQ(text, "Cap $1,234.50 / $0.00");
}

TEST(FormatArgsTest, PrintsLikeC) {
    EXPECT_EQ(FormatArgs("%-12.0f|", 1234.0), "1234        |");
    EXPECT_EQ(FormatArgs(" %-6.2f|", 1.5), " 1.50  |");
    EXPECT_EQ(FormatArgs("%-.2f%s", 12.345678, "%"), "12.35%");
    EXPECT_EQ(FormatArgs("%-.4g", 0.00001234), "1.234e-05");
    EXPECT_EQ(FormatArgs("%1s%-13d%1s", "", 42, " |"), " 42            |");
    EXPECT_EQ(FormatArgs("%s", ""), "");

    const std::string long_text(5000, 'x');
    EXPECT_EQ(FormatArgs("<%s>", long_text.c_str()), "<" + long_text + ">");
}

}  // namespace
}  // namespace quillon
