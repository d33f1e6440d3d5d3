// The number formatters against the implementations they replaced, value for value: every
// picture pattern the writers use (the former picture formatter as reference) and every printf
// form (the C library as reference), over ten million values each by default.
//
// Then every 32-bit figure of tests/support/shortest_diff.h through ShortestValue, each in every
// pattern, against the reference on the float's shortest text.
//
// Usage: bench_format_diff [--values=N] [--seed=S]
// Prints the count of values and mismatches per form and exits 1 on any mismatch.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/support/format_diff.h"
#include "tests/support/shortest_diff.h"

namespace {

using namespace quillon;
using namespace quillon::testing;

constexpr int kShownMismatches = 5;  // mismatches printed per form

struct Totals {
    std::uint64_t values = 0;
    std::uint64_t mismatches = 0;
};

void RunForm(const DoubleForm& form, std::uint64_t count, std::uint64_t seed, Totals& totals) {
    const auto start = std::chrono::steady_clock::now();
    int shown = 0;
    const DiffCounts counts = RunDoubleForm(
        form, count, seed, [&](double value, const std::string& before, const std::string& now) {
            if (shown++ < kShownMismatches) {
                std::printf("  MISMATCH %a (%.17g): was \"%s\", now \"%s\"\n", value, value,
                            before.c_str(), now.c_str());
            }
        });
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%-34s %10llu values %6llu mismatches  (%.1f s)\n", form.name.c_str(),
                static_cast<unsigned long long>(counts.values),
                static_cast<unsigned long long>(counts.mismatches), seconds);
    std::fflush(stdout);
    totals.values += counts.values;
    totals.mismatches += counts.mismatches;
}

}  // namespace

int main(int argc, char** argv) {
    std::uint64_t count = 10'000'000;
    std::uint64_t seed = 20261208;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--values=", 9) == 0)
            count = std::strtoull(argv[i] + 9, nullptr, 10);
        if (std::strncmp(argv[i], "--seed=", 7) == 0)
            seed = std::strtoull(argv[i] + 7, nullptr, 10);
    }

    Totals totals;
    std::uint64_t form_seed = seed;
    for (const DoubleForm& form : PictureForms())
        RunForm(form, count, ++form_seed, totals);
    for (const DoubleForm& form : PrintfForms())
        RunForm(form, count, ++form_seed, totals);
    // Patterns no writer uses exercise the general paths; a tenth of the values suffices.
    for (const DoubleForm& form : UnusualPictureForms())
        RunForm(form, count / 10, ++form_seed, totals);

    int shown = 0;
    const DiffCounts integers = RunIntegerForms(
        count, ++form_seed,
        [&](const std::string& what, const std::string& before, const std::string& now) {
            if (shown++ < kShownMismatches) {
                std::printf("  MISMATCH %s: was \"%s\", now \"%s\"\n", what.c_str(), before.c_str(),
                            now.c_str());
            }
        });
    std::printf("%-34s %10llu values %6llu mismatches\n", "integer and text forms",
                static_cast<unsigned long long>(integers.values),
                static_cast<unsigned long long>(integers.mismatches));
    totals.values += integers.values;
    totals.mismatches += integers.mismatches;

    // 32-bit figures through ShortestValue, every text of every float compared.
    const auto start = std::chrono::steady_clock::now();
    int shown_floats = 0;
    const ShortestCounts floats = RunShortestCheck(
        ShortestPlan{1, 1, 1, true},
        [&](std::string_view what, float value, std::string_view expected, std::string_view now) {
            if (shown_floats++ < kShownMismatches) {
                std::printf("  MISMATCH %.*s of %a (%.9g): expected \"%.*s\", now \"%.*s\"\n",
                            static_cast<int>(what.size()), what.data(), static_cast<double>(value),
                            static_cast<double>(value), static_cast<int>(expected.size()),
                            expected.data(), static_cast<int>(now.size()), now.data());
            }
        });
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%-34s %10llu values %6llu mismatches  (%llu texts, %llu read back, %.1f s)\n",
                "32-bit figures, shortest text", static_cast<unsigned long long>(floats.values),
                static_cast<unsigned long long>(floats.mismatches),
                static_cast<unsigned long long>(floats.texts),
                static_cast<unsigned long long>(floats.read_back), seconds);
    totals.values += floats.values;
    totals.mismatches += floats.mismatches;

    std::printf("total: %llu values, %llu mismatches\n",
                static_cast<unsigned long long>(totals.values),
                static_cast<unsigned long long>(totals.mismatches));
    return totals.mismatches == 0 ? 0 : 1;
}
