#include "analytics/tail_estimate.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "tests/analytics/pricing_reference.h"

namespace quillon {
namespace {

double ExpEstimate(double a) {
    const double in[1] = {a};
    double out[1];
    tail::ExpOfModerate(in, out);
    return out[0];
}

// The estimate is within 2^-47 of e^a; against the library's exp, itself
// rounded, it must stay within 2^-46 over its whole range: at the ends,
// where the reduction's integer changes, and in between.
TEST(TailEstimate, ExpWithinItsBoundOverTheRange) {
    const double ln2 = std::log(2.0);
    std::vector<double> arguments = {0.0,  -0.0, -1e-300, -ln2 / 64, -ln2 / 64 * 3, -ln2 / 2,
                                     -ln2, -0.5, -1.0,    -10.0,     -44.5,         -60.5};
    std::mt19937_64 rng(5);
    for (int i = 0; i < 200000; ++i)
        arguments.push_back(std::uniform_real_distribution<double>(-60.5, 0)(rng));
    for (const double a : arguments) {
        const double exact = std::exp(a);
        EXPECT_LE(std::fabs(ExpEstimate(a) - exact), std::ldexp(exact, -46)) << a;
    }
    // Several arguments at once, two or four to a vector, give each the same
    // figure as alone.
    const double several[5] = {-0.1, -7.25, -60.5, 0.0, -33.3};
    double out[5];
    tail::ExpOfModerate(several, out);
    double inFours[5];
    tail::ExpOfModerate<4>(several, inFours);
    for (int j = 0; j < 5; ++j) {
        EXPECT_EQ(out[j], ExpEstimate(several[j])) << several[j];
        EXPECT_EQ(inFours[j], out[j]) << several[j];
    }
}

// A double `steps` units in the last place away from the float midpoint
// above 1.5 (whose float neighbours are 1.5 and 1.5 + 2^-23).
double NearMidpoint(std::int64_t steps) {
    const double midpoint = 1.5 + std::ldexp(1.0, -24);
    return std::bit_cast<double>(std::bit_cast<std::int64_t>(midpoint) + steps);
}

TEST(TailEstimate, RoundsSurelyOnlyFarFromAMidpoint) {
    // At 1.5 the margin, 2^-39 of the estimate, is 1.5 * 2^13 = 12,288 units
    // in the last place of a double.
    const struct {
        double estimate;
        bool sure;
    } cases[] = {
        {1.5, true},  // a float itself
        {0.3, true},
        {1e-28, true},                 // the smallest the solver estimates
        {NearMidpoint(0), false},      // the midpoint
        {NearMidpoint(12000), false},  // within the margin on either side
        {NearMidpoint(-12000), false},
        {NearMidpoint(12600), true},  // just outside it
        {NearMidpoint(-12600), true},
        {NearMidpoint(1 << 20), true},
        {std::numeric_limits<double>::quiet_NaN(), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(tail::RoundsSurely(c.estimate), c.sure) << c.estimate;
}

// Whenever the estimate of the tail term is sure, its float is the figure
// the tail has always had (the earlier code's N(x) for x < 0 is the tail
// term itself), and it is sure for nearly every argument.
TEST(TailEstimate, SureEstimatesAreTheExactTail) {
    const double overRootTwoPi = 1.0 / std::sqrt(6.2831853);
    std::mt19937_64 rng(11);
    long unsure = 0;
    constexpr long kCount = 1000000;
    for (long i = 0; i < kCount; ++i) {
        const auto x = static_cast<float>(
            -std::uniform_real_distribution<double>(0, tail::kLargestEstimated)(rng));
        const double ax = std::fabs(static_cast<double>(x));
        const auto t = static_cast<float>(1.0 / (1.0 + 0.3327 * ax));
        const auto t2 = static_cast<float>(static_cast<double>(t) * t);
        const auto t3 = static_cast<float>(static_cast<double>(t) * t2);
        const double polynomial = 0.4361836 * t - 0.1201676 * t2 + 0.937298 * t3;
        const double estimate =
            ExpEstimate(-static_cast<double>(x) * x * 0.5) * (overRootTwoPi * polynomial);
        if (!tail::RoundsSurely(estimate)) {
            ++unsure;
            continue;
        }
        ASSERT_EQ(static_cast<float>(estimate), reference::detail::CumulativeNormal(x)) << x;
    }
    EXPECT_LT(unsure, kCount / 1000);
}

}  // namespace
}  // namespace quillon
