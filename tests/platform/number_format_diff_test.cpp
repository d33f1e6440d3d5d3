// The formatters the writers use against the implementations they replaced, over a hundred
// thousand values each (bench_format_diff runs ten million).
#include <gtest/gtest.h>

#include <string>

#include "tests/support/format_diff.h"

namespace quillon {
namespace {

using testing::DiffCounts;
using testing::DoubleForm;

// A quarter of them under AddressSanitizer, where the formatters run several
// times slower: the build of the core without it runs them all.
#if defined(__SANITIZE_ADDRESS__)
#define QUILLON_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUILLON_ASAN 1
#endif
#endif
#ifdef QUILLON_ASAN
constexpr std::uint64_t kValues = 25'000;
#else
constexpr std::uint64_t kValues = 100'000;
#endif

void ExpectSameText(const std::vector<DoubleForm>& forms, std::uint64_t count, std::uint64_t seed) {
    for (const DoubleForm& form : forms) {
        int reported = 0;
        const DiffCounts counts = testing::RunDoubleForm(
            form, count, ++seed,
            [&](double value, const std::string& before, const std::string& now) {
                if (reported++ < 5) {
                    ADD_FAILURE() << form.name << " of " << std::hexfloat << value
                                  << std::defaultfloat << " (" << value << "): was \"" << before
                                  << "\", now \"" << now << "\"";
                }
            });
        EXPECT_EQ(counts.values, count) << form.name;
        EXPECT_EQ(counts.mismatches, 0u) << form.name;
    }
}

TEST(FormatDifferentialTest, PicturePatternsMatchTheFormerFormatter) {
    ExpectSameText(testing::PictureForms(), kValues, 1);
}

TEST(FormatDifferentialTest, UnusualPicturesMatchTheFormerFormatter) {
    ExpectSameText(testing::UnusualPictureForms(), kValues / 10, 100);
}

TEST(FormatDifferentialTest, PrintfFormsMatchTheCLibrary) {
    ExpectSameText(testing::PrintfForms(), kValues, 200);
}

TEST(FormatDifferentialTest, IntegerAndTextFormsMatchTheCLibrary) {
    int reported = 0;
    const DiffCounts counts = testing::RunIntegerForms(
        kValues, 300,
        [&](const std::string& what, const std::string& before, const std::string& now) {
            if (reported++ < 5) {
                ADD_FAILURE() << what << ": was \"" << before << "\", now \"" << now << "\"";
            }
        });
    EXPECT_GT(counts.values, kValues);
    EXPECT_EQ(counts.mismatches, 0u);
}

}  // namespace
}  // namespace quillon
