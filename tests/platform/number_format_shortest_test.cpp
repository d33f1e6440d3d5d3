// ShortestValue in the picture patterns against the reference on decimal text, over more than
// ten million floats (tests/support/shortest_diff.h). Every float has its ShortestValue compared
// to the bit, which proves the conversion's short path; the texts are compared for every fourth
// float, so that the run stays within seconds under the sanitizers (bench_format_diff compares
// every text of every float).
#include <gtest/gtest.h>

#include <cstdio>
#include <ios>
#include <string>

#include "tests/support/shortest_diff.h"

namespace quillon {
namespace {

TEST(ShortestValueDifferentialTest, MatchesTheDecimalTextReference) {
    int reported = 0;
    const testing::ShortestPlan plan{4, 8, 16, false};
    const testing::ShortestCounts counts = testing::RunShortestCheck(
        plan,
        [&](std::string_view what, float value, std::string_view expected, std::string_view now) {
            if (reported++ < 8) {
                ADD_FAILURE() << what << " of " << std::hexfloat << value << std::defaultfloat
                              << " (" << FormatGeneral(value, 9) << "): expected \"" << expected
                              << "\", got \"" << now << "\"";
            }
        });
    std::printf(
        "ShortestValue: %llu floats, %llu texts compared, %llu read back, %llu mismatches\n",
        static_cast<unsigned long long>(counts.values),
        static_cast<unsigned long long>(counts.texts),
        static_cast<unsigned long long>(counts.read_back),
        static_cast<unsigned long long>(counts.mismatches));
    EXPECT_GE(counts.values, 10'000'000u);
    EXPECT_GE(counts.texts, 2'500'000u);
    EXPECT_GE(counts.read_back, 1'000'000u);
    EXPECT_EQ(counts.mismatches, 0u);
}

}  // namespace
}  // namespace quillon
