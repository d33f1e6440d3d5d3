// Checks the pricing code against its earlier version bit for bit: the
// implied volatility, both floored values and both model prices of random
// options, and N(x), over millions of them (analytics_tests runs the same
// check over 20,000). Usage: pricing_identity [options [seed]], by default
// 2,000,000 options from seed 20261207. Exits 0 when every figure agrees.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/analytics/pricing_reference.h"

int main(int argc, char** argv) {
    const long count = argc > 1 ? std::atol(argv[1]) : 2'000'000;
    const unsigned long long seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 20261207;
    if (count <= 0) {
        std::fprintf(stderr, "usage: pricing_identity [options [seed]]\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    quillon::reference::Tally tally;
    const std::string difference = quillon::reference::FirstDifference(seed, count, &tally);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!difference.empty()) {
        std::printf("pricing_identity: %s\n", difference.c_str());
        return 1;
    }
    std::string builds;
    for (const auto& variant : quillon::reference::SearchVariants())
        builds += std::string(builds.empty() ? "" : ", ") + variant.Name;
    std::printf(
        "pricing_identity: %ld options from seed %llu, every figure the same to the bit "
        "(%.1f s)\n  answers: %ld implied volatilities, %ld at the cap, %ld none (-1)\n"
        "  builds of the search checked: %s\n",
        count, seed, seconds, tally.Solved, tally.Capped, tally.None, builds.c_str());
    return 0;
}
