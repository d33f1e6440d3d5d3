#pragma once
// A quick estimate of the tail term of N(x) that tells when it is certainly
// the stored figure.
//
// The tail term is stored as a float rounded from
//     y = (exp(-x*x/2) / sqrt(2 pi)) * P
// computed in double with the library's exp (P is the tail's polynomial). Its
// float is what every later figure depends on, and the double y only decides
// which float that is: any double on the same side of every float rounding
// boundary (a midpoint between two adjacent floats) rounds to the same float.
// The estimate works out y without calling exp and without dividing: e^a by
// a short polynomial, and a product with 1 / sqrt(2 pi) in place of the
// division. It differs from the library's y by less than 2^-44 of y (with
// the library's exp within a unit in the last place of e^a, as it is; the
// margin below leaves room for far more). When it lies further than 2^-39
// of itself from every float midpoint, its float is the stored figure;
// otherwise (about one estimate in 16,000) the caller works out the figure
// as it always has. Being all arithmetic with no call, the estimates of
// several arguments run side by side.

#include <bit>
#include <cstdint>

namespace quillon::tail {

// Arguments up to this magnitude are estimated: e^a for a >= -60.5 and the
// polynomial at |x| <= 11 keep y above 1e-28, a normal float far from the
// float range's ends. Larger ones, and NaN, take the exact way.
constexpr double kLargestEstimated = 11.0;

// 2^(j/32) for j = 0..31, to within a few units of 2^-53: e^(j ln 2 / 32) by
// its Taylor series, summed at compile time to terms far below 2^-53.
struct PowersOfTwo {
    double value[32];
};

constexpr PowersOfTwo MakePowersOfTwo() {
    PowersOfTwo powers{};
    for (int j = 0; j < 32; ++j) {
        const double y = j * 0x1.62e42fefa39efp-1 / 32;  // j ln 2 / 32, below 0.68
        double term = 1;
        double sum = 1;
        for (int i = 1; i < 30; ++i) {
            term = term * y / i;
            sum += term;
        }
        powers.value[j] = sum;
    }
    return powers;
}

inline constexpr PowersOfTwo kPowersOfTwo = MakePowersOfTwo();

// `Lanes` doubles side by side, and their bits as integers: the compilers'
// vector types, each operation working on every lane with the same rounding
// as on one double. Two fill a register of the default x86-64 target, four
// one of AVX2.
template <int Lanes>
struct Vectors {
    typedef double Doubles __attribute__((vector_size(8 * Lanes)));
    typedef std::uint64_t Bits __attribute__((vector_size(8 * Lanes)));
};

// e^a[j] for -60.5 <= a[j] <= 0, each to within 2^-47 of itself: a = n ln(2)
// / 32 + r with an integer n = 32 m + i and |r| <= ln(2)/64 (plus a hair), so
// that e^a = 2^m * 2^(i/32) * e^r; e^r by its Taylor polynomial of degree 5
// (the remainder is below 2^-48.7 of e^r, the rounding of its evaluation and
// of the table's entry a few units of 2^-53). Outside that range a result is
// not meaningful but is computed without undefined behaviour. The arguments
// are worked on `Lanes` at a time in vector registers, so that their chains of
// dependent steps run side by side. The polynomial is evaluated in pairs of
// terms (Estrin's scheme) rather than term by term: the pairs do not wait for
// one another, so the chain from a to the result is three multiply-adds long
// instead of five, for the same accuracy give or take a unit of 2^-53.
// Always built into its caller, so that it is compiled for the caller's
// target (the vectors never pass between functions).
template <int Lanes = 2, int M>
[[gnu::always_inline]] inline void ExpOfModerate(const double (&a)[M], double (&out)[M]) {
    using Doubles = typename Vectors<Lanes>::Doubles;
    using Bits = typename Vectors<Lanes>::Bits;
    // Adding and subtracting 1.5 * 2^52 rounds 32 a / ln 2 to an integer n,
    // and leaves n, in two's complement, in the low bits of the sum.
    constexpr double kRound = 0x1.8p52;
    constexpr double k32Log2e = 0x1.71547652b82fep5;
    // ln(2) / 32 in two parts, the first with enough trailing zero bits that
    // n times it is exact.
    constexpr double kStepHigh = 0x1.62e42feep-6;
    constexpr double kStepLow = 0x1.a39ef35793c76p-38;
    for (int j = 0; j < M; j += Lanes) {
        // Past the end, the last argument again.
        Doubles x;
        for (int k = 0; k < Lanes; ++k)
            x[k] = a[j + k < M ? j + k : M - 1];
        const Doubles shifted = x * k32Log2e + kRound;
        const Doubles n = shifted - kRound;
        const Doubles r = (x - n * kStepHigh) - n * kStepLow;
        // 1 + r + r^2/2 + ... + r^5/120 as (1 + r) + r^2 (1/2 + r/6) + r^4 (1/24 + r/120).
        const Doubles r2 = r * r;
        const Doubles low = 1.0 + r;
        const Doubles middle = 0.5 + r * (1.0 / 6);
        const Doubles high = 1.0 / 24 + r * (1.0 / 120);
        const Doubles p = (low + r2 * middle) + (r2 * r2) * high;
        // Read as an integer, the sum's bits are those of 1.5 * 2^52 plus n:
        // a multiple of 32 plus n, so the low five bits are i, and shifting
        // five out leaves m plus a multiple of 2^12. 2^m is the biased
        // exponent m + 1023 shifted into place: only the low 12 bits of the
        // sum survive the shift, which hold m + 1023 for the m (-88 to 0) of
        // this range.
        const auto bits = __builtin_bit_cast(Bits, shifted);
        const auto scale = __builtin_bit_cast(Doubles, ((bits >> 5) + 1023) << 52);
        Doubles table;
        for (int k = 0; k < Lanes; ++k)
            table[k] = kPowersOfTwo.value[bits[k] & 31];
        const Doubles e = p * (table * scale);
        for (int k = 0; k < Lanes && j + k < M; ++k)
            out[j + k] = e[k];
    }
}

// How far the estimate may lie from the double it estimates, with room to
// spare: 2^-39 of itself, where the estimate stays within 2^-44.
constexpr double kMargin = 0x1p-39;

// Whether the float nearest to `estimate` is certainly the float nearest to
// the double it estimates: the doubles kMargin of the estimate below and
// above it round to the same float, and rounding never goes backwards, so
// every double between them does as well. About one estimate in 16,000 lies
// too near a float midpoint for that. For estimates of the tail term, which
// lie between 1e-28 and 1, far inside the float range, or NaN (never sure).
inline bool RoundsSurely(double estimate) {
    return static_cast<float>(estimate * (1 - kMargin)) ==
           static_cast<float>(estimate * (1 + kMargin));
}

}  // namespace quillon::tail
