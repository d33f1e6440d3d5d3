// The implied volatility of one option from its market price: a sweep of
// trial volatilities, then a bisection, each pricing many trials side by side.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "analytics/pricing.h"
#include "analytics/pricing_model.h"
#include "analytics/pricing_variants.h"
#include "analytics/tail_estimate.h"

namespace quillon {

using namespace pricing_model;

namespace {

// The solver's sweep and stopping constants, compared at full precision
// against the stored 32-bit trial values.
constexpr double kSweepStep = 0.1;
constexpr double kSweepEnd = 3.2;
constexpr double kTolerance = 0.0005;

// --- The solve ---------------------------------------------------------------

// `Lanes` floats side by side, and as many 32-bit masks (all ones for true),
// as vectors like tail::Vectors; __builtin_convertvector converts between
// them lane by lane. (Never passed between functions: a 32-byte vector
// would change how functions are called on the default target.)
template <int Lanes>
struct FloatVectors {
    typedef float Floats __attribute__((vector_size(4 * Lanes)));
    typedef std::int32_t Masks __attribute__((vector_size(4 * Lanes)));
};

// One option being solved: its fixed terms and what flooring needs.
struct Solve {
    FixedTerms f;
    bool isPut;
    bool noModel;      // values are the floor alone
    double intrinsic;  // K - S or S - K
    float floor;       // the intrinsic value, stored
    // For the bisection's guesses only (see CurvedGuess):
    double slopeScale;  // e^(-qT) S sqrt(T) / sqrt(2 pi): vega is this times e^(-d1^2/2)
    double parity;      // what the model price exceeds by its time value alone
};

// The model price at a trial volatility, not floored, with its slope
// (vega) estimated: what the bisection's first guess is made from.
struct CurveSample {
    float model = std::numeric_limits<float>::quiet_NaN();
    double slope = 0;
};

// The arguments of N for the trials `sigma`: d1 (or -d1 for a put) in
// x[0..N-1], d2 (or -d2) after.
template <int N>
[[gnu::always_inline]] inline void NormalArguments(const Solve& s, const float* sigma, float* x) {
    const FixedTerms& f = s.f;
    for (int i = 0; i < N; ++i) {
        const double sg = sigma[i];
        const float v = Stored(f.sqrtT * sg);
        const float d1 = Stored((f.logSK + (f.carry + sg * sg * 0.5) * f.T) / v);
        const float d2 = d1 - v;
        x[i] = s.isPut ? -d1 : d1;
        x[N + i] = s.isPut ? -d2 : d2;
    }
}

// The tail terms of N at the M arguments `x` from their estimated densities
// e^(-x^2/2), `Lanes` at a time in vector registers. The few whose estimate
// might round to another float than the exact figure (or whose argument
// lies outside the estimate's range) are worked out exactly after.
template <int M, int Lanes>
[[gnu::always_inline]] inline void TailTerms(const float* x, const double* density, float* e) {
    std::int32_t surely[M];  // all ones where the estimate is sure
    using Doubles = typename tail::Vectors<Lanes>::Doubles;
    using Bits = typename tail::Vectors<Lanes>::Bits;
    using Floats = typename FloatVectors<Lanes>::Floats;
    using Masks = typename FloatVectors<Lanes>::Masks;
    Masks allSure = ~Masks{};  // lane by lane over the whole batch
    for (int j = 0; j < M; j += Lanes) {
        // Past the end, the last argument again.
        Floats arguments{};  // every lane is set below; GCC cannot tell
        Doubles densities{};
        for (int k = 0; k < Lanes; ++k) {
            arguments[k] = x[j + k < M ? j + k : M - 1];
            densities[k] = density[j + k < M ? j + k : M - 1];
        }
        // The tail polynomial, as TailPolynomial works it out.
        const Doubles wide = __builtin_convertvector(arguments, Doubles);
        const Doubles magnitude =
            __builtin_bit_cast(Doubles, __builtin_bit_cast(Bits, wide) & 0x7fffffffffffffffULL);
        const Floats t = __builtin_convertvector(1.0 / (1.0 + 0.3327 * magnitude), Floats);
        const Floats t2 = t * t;
        const Floats t3 = t * t2;
        const Doubles polynomial = 0.4361836 * __builtin_convertvector(t, Doubles) -
                                   0.1201676 * __builtin_convertvector(t2, Doubles) +
                                   0.937298 * __builtin_convertvector(t3, Doubles);
        // Outside the estimate's range its figure means nothing; zero keeps
        // its conversions to float in range.
        const auto inRange = magnitude <= tail::kLargestEstimated;
        const Doubles estimate = inRange ? densities * (kOverRootTwoPi * polynomial) : Doubles{};
        const Floats stored = __builtin_convertvector(estimate, Floats);
        // RoundsSurely, lane by lane.
        const Masks sure = (__builtin_convertvector(estimate * (1 - tail::kMargin), Floats) ==
                            __builtin_convertvector(estimate * (1 + tail::kMargin), Floats)) &
                           __builtin_convertvector(inRange, Masks);
        allSure &= sure;
        for (int k = 0; k < Lanes && j + k < M; ++k) {
            e[j + k] = stored[k];
            surely[j + k] = sure[k];
        }
    }
    bool every = true;
    for (int k = 0; k < Lanes; ++k)
        every &= allSure[k] != 0;
    if (!every) {
        for (int j = 0; j < M; ++j) {
            if (!surely[j]) e[j] = NormalTail(x[j]);
        }
    }
}

// The values of one option at N trial volatilities. The N pricings do not
// depend on one another, so the processor overlaps them: a pricing is a
// chain of dependent steps (a division for d1, then for each normal value a
// division and an exponential), and running several side by side costs
// little more than one. Each figure is the one ValueAt computes.
// When `sample` is given, the model price and slope at each trial go there.
// Always built into its caller: the pricings then overlap with the caller's
// own work before and after them, which a call would keep apart.
template <int N, int Lanes = 2>
[[gnu::always_inline]] inline void ValuesAt(const Solve& s, const float* sigma, float* value,
                                            CurveSample* sample = nullptr) {
    float x[2 * N];
    NormalArguments<N>(s, sigma, x);
    // Each tail term by its estimate, which needs neither exp nor a division
    // by sqrt(2 pi): e^(-x^2/2) for all arguments first, then the rest.
    constexpr int M = 2 * N;
    double exponent[M];
    for (int j = 0; j < M; ++j)
        exponent[j] = DensityExponent(x[j]);
    double density[M];  // e^(-x^2/2), estimated
    tail::ExpOfModerate<Lanes>(exponent, density);
    if (sample) {
        for (int i = 0; i < N; ++i)
            sample[i].slope = s.slopeScale * density[i];
    }
    float e[M];
    TailTerms<M, Lanes>(x, density, e);
    float n[2 * N];
    for (int j = 0; j < 2 * N; ++j)
        n[j] = NormalFromTail(x[j], e[j]);
    for (int i = 0; i < N; ++i) {
        const float model = s.noModel ? 0.0f
                            : s.isPut ? PutFrom(s.f, n[i], n[N + i])
                                      : CallFrom(s.f, n[i], n[N + i]);
        value[i] = model >= s.intrinsic ? model : s.floor;
        if (sample) sample[i].model = model;
    }
}

// The values at the first `count` (1 to N) of `sigma`, priced side by side
// as a batch whose size is known when compiling, as ValuesAt needs.
template <int N>
void ValuesOfUpTo(const Solve& s, const float* sigma, float* value, int count) {
    if constexpr (N > 1) {
        if (count < N) return ValuesOfUpTo<N - 1>(s, sigma, value, count);
    }
    ValuesAt<N>(s, sigma, value);
}

// The sweep's trials, accumulated in float as the sweep has always made them
// (0.1, then 0.1 + 0.1, ...): the `count` trials up to 3.2, then the first
// past it, which is where the bracket's top stays when no trial's value
// exceeds the price, then a few more so that the sweep can price trials in
// groups without running off the end.
struct SweepTrials {
    static constexpr int kGroup = 4;
    float sigma[40];
    int count;
};

constexpr SweepTrials MakeSweepTrials() {
    SweepTrials trials{};
    float sigma = Stored(kSweepStep);
    int n = 0;
    while (sigma <= kSweepEnd) {
        trials.sigma[n++] = sigma;
        sigma = Stored(sigma + kSweepStep);
    }
    trials.count = n;
    for (int i = n; i < n + SweepTrials::kGroup; ++i) {
        trials.sigma[i] = sigma;
        sigma = Stored(sigma + kSweepStep);
    }
    return trials;
}

constexpr SweepTrials kSweep = MakeSweepTrials();
static_assert(kSweep.count + SweepTrials::kGroup <= 40);

// A bracket end whose value the solve has not worked out.
constexpr float kUnknownValue = std::numeric_limits<float>::quiet_NaN();

// Where the value of the option likely meets `price` between `lo` and `hi`,
// valued `below` and `above`: the straight line between the two, or when it
// gives no point inside the bracket (an end's value unknown, values out of
// order), the top, as the search there mostly finds the values short of the
// price (above the sweep's last trial, say). Only a guess: the bisection uses
// it to decide which midpoints to price ahead, never to decide a step.
double GuessRoot(float lo, float hi, float below, float above, float price) {
    const double share =
        (static_cast<double>(price) - below) / (static_cast<double>(above) - below);
    if (!(share >= 0 && share <= 1)) return hi;
    return lo + share * (static_cast<double>(hi) - lo);
}

// A closer guess for the first batch of the bisection, from the model's
// prices and slopes at the bracket's ends. The straight line between points
// 0.1 apart misses the root by a few thousandths where the curve bends (out
// of the money most), which the bisection's steps notice after five or six
// midpoints; and where an end's value is floored at intrinsic value the line
// knows nothing of the curve. Here the volatility is taken as a function of
// the logarithm of the time value (the model price less what put-call parity
// fixes), which is nearly straight for options in and out of the money
// alike, and interpolated by the cubic with the right values and slopes at
// both ends (Hermite's). NaN where that does not apply: a time value that is
// not positive, values out of order, a slope that is not positive.
double CurvedGuess(float lo, float hi, CurveSample atLo, CurveSample atHi, double parity,
                   float price) {
    const double w0 = atLo.model - parity;
    const double w1 = atHi.model - parity;
    const double wp = price - parity;
    if (!(w0 > 0 && w0 < wp && wp < w1 && atLo.slope > 0 && atHi.slope > 0))
        return std::numeric_limits<double>::quiet_NaN();
    // The logarithms in float: a guess needs no more than their six digits,
    // and the float function is much the cheaper. (Each time value is at
    // most a float model price, so the conversions stay in range.)
    const double u0 = std::log(static_cast<float>(w0));
    const double span = std::log(static_cast<float>(w1)) - u0;
    const double t = (std::log(static_cast<float>(wp)) - u0) / span;
    // The slopes of the volatility against the logarithm, d(sigma)/du = w /
    // vega, scaled to the span.
    const double m0 = span * w0 / atLo.slope;
    const double m1 = span * w1 / atHi.slope;
    const double rest = 1 - t;
    return (1 + 2 * t) * rest * rest * lo + t * rest * rest * m0 + t * t * (3 - 2 * t) * hi -
           t * t * rest * m1;
}

}  // namespace

namespace {

// The search is a fixed recipe, not a root finder to be tuned: its answers
// are printed in the report and weighed into ZOR, and earlier results are
// compared with new ones, so every step must stay as it is. The sweep's
// trials are accumulated in float (0.1, then 0.1 + 0.1, ...), not computed as
// k * 0.1, and end past 3.2, which caps the answer at 329.96. The bisection
// answers its last midpoint rather than the better end of the bracket, and
// stops at an exact hit as well as at the tolerance. A faster or more accurate
// method (Newton's, say) would change figures that users compare.
//
// Every step is always built into its caller: the variants below compile
// the search, and the pricings it builds in, each for its own processor.

// The option's fixed terms and what flooring and the guesses need.
[[gnu::always_inline]] inline Solve MakeSolve(const PricingInputs& in, bool isPut) {
    Solve s{};
    s.f = Fixed(in);
    s.isPut = isPut;
    s.noModel = NoModelPrice(in);
    s.intrinsic = isPut ? s.f.K - s.f.S : s.f.S - s.f.K;
    s.floor = Stored(s.intrinsic);
    s.slopeScale = s.f.weightS * s.f.sqrtT * kOverRootTwoPi;
    s.parity = std::max(0.0, isPut ? s.f.weightK - s.f.weightS : s.f.weightS - s.f.weightK);
    return s;
}

// What the sweep finds: the top of the bracket the bisection starts from,
// and the values and model samples on either side of the price that guide
// its guesses.
struct SweepResult {
    float top = kSweep.sigma[kSweep.count];  // past the last trial when none exceeds
    float below = kUnknownValue;             // the value of the trial before the one found
    float above = kUnknownValue;             // the value of the one found
    CurveSample atLo;                        // the model at the trial before, and at the one found
    CurveSample atHi;
};

// Coarse sweep: the first trial of 0.1, 0.2, ... 3.2 whose value exceeds
// the market price. The trials are priced four at a time; the values of
// those after the first that exceeds are not used, but the values on either
// side of the price guide the bisection's guesses.
template <int Lanes>
[[gnu::always_inline]] inline SweepResult Sweep(const Solve& s, float price) {
    constexpr int kGroup = SweepTrials::kGroup;
    SweepResult found;
    for (int k = 0; k < kSweep.count; k += kGroup) {
        float trial[kGroup];
        float value[kGroup];
        CurveSample sample[kGroup];
        for (int j = 0; j < kGroup; ++j)
            trial[j] = kSweep.sigma[k + j];
        ValuesAt<kGroup, Lanes>(s, trial, value, sample);
        int j = 0;
        while (j < kGroup && k + j < kSweep.count && !(value[j] > price))
            ++j;
        if (j < kGroup && k + j < kSweep.count) {
            found.top = trial[j];
            found.above = value[j];
            found.atHi = sample[j];
            if (j > 0) {
                found.below = value[j - 1];
                found.atLo = sample[j - 1];
            }
            break;
        }
        found.below = value[kGroup - 1];
        found.atLo = sample[kGroup - 1];
    }
    return found;
}

// The bisection of 0.1 to 0.0005 takes 8 steps.
constexpr int kAhead = 8;

// The midpoints the bisection of `lo` to `hi` visits if the value meets the
// price at `guess`, at most kAhead of them.
struct GuessedPath {
    float trial[kAhead];
    int count = 0;
    bool lastStep = false;  // the path ends the search at its last midpoint
};

[[gnu::always_inline]] inline GuessedPath PathTo(float lo, float hi, double guess) {
    GuessedPath path;
    float l = lo;
    float h = hi;
    while (path.count < kAhead) {
        const float mid = Stored((static_cast<double>(h) + l) * 0.5);
        path.trial[path.count++] = mid;
        const bool down = mid > guess;
        h = down ? mid : h;
        l = down ? l : mid;
        if (!(static_cast<double>(h) - l > kTolerance)) {
            path.lastStep = true;
            break;
        }
    }
    return path;
}

// Most often every comparison goes the way the guess said, none is an exact
// hit and no value is NaN; then the steps would walk the guessed path to its
// end, and the answer is its last midpoint. Checking that in one sweep over
// the batch, without a branch per step, spares taking the steps one by one.
[[gnu::always_inline]] inline bool WalksAsGuessed(const GuessedPath& path, const float* value,
                                                  double guess, float price) {
    bool asGuessed = path.lastStep;
    for (int i = 0; i < path.count; ++i) {
        const bool up = value[i] > price;
        asGuessed &= (up == (path.trial[i] > guess)) & (up | (value[i] < price));
    }
    return asGuessed;
}

// Bisection of the bracket below the sweep's top; the answer is the last
// midpoint, or -1 when a value compares neither way.
//
// Each midpoint depends on the comparisons before it, so pricing them one at
// a time would leave the processor waiting on each pricing's chain of
// dependent steps. Instead the search guesses where the price is met,
// between the bracket's ends by their values, and prices at once every
// midpoint that the steps would visit if the guess is right; pricings that
// do not depend on one another overlap. Then it takes the steps with the
// true values, as one at a time: each midpoint is computed from the bracket
// as it stands, and a step whose comparison goes the other way than guessed
// ends the batch, its later midpoints unused (they are not where the search
// goes). The next batch starts from there with a new guess. So the steps,
// midpoints, comparisons and answer are those of the plain bisection; a
// guess only decides how much is priced ahead.
template <int Lanes>
[[gnu::always_inline]] inline float Bisect(const Solve& s, float price, const SweepResult& swept) {
    float sigma = swept.top;
    float hi = sigma;
    float lo = Stored(hi - kSweepStep);
    float below = swept.below;
    float above = swept.above;
    // One step at midpoint `sigma` of value `p`: false when the search ends
    // at it.
    bool none = false;
    const auto step = [&](float mid, float p) {
        sigma = mid;
        hi = p > price ? mid : hi;
        lo = p < price ? mid : lo;
        if (p == price) return false;
        // A NaN price, or a NaN value from inputs too extreme to price,
        // compares neither way and would leave the bracket as it is forever.
        if (!(p > price) && !(p < price)) {
            none = true;
            return false;
        }
        return static_cast<double>(hi) - lo > kTolerance;
    };
    bool going = static_cast<double>(hi) - lo > kTolerance;
    // The first batch goes by the curved guess from the sweep's samples. A
    // batch ends early only where a comparison goes against its guess, which
    // leaves the guess outside the narrower bracket; the next batch then
    // goes by the straight line between that bracket's ends, close enough
    // over so short a span.
    double guess = CurvedGuess(lo, hi, swept.atLo, swept.atHi, s.parity, price);
    while (going) {
        if (!(guess > lo && guess < hi)) guess = GuessRoot(lo, hi, below, above, price);
        const GuessedPath path = PathTo(lo, hi, guess);
        float value[kAhead];
        // A whole batch is built in here; the shorter ones of a later batch
        // (a wrong guess, a few in a hundred solves) are called.
        if (path.count == kAhead) {
            ValuesAt<kAhead, Lanes>(s, path.trial, value);
        } else {
            ValuesOfUpTo<kAhead - 1>(s, path.trial, value, path.count);
        }
        if (WalksAsGuessed(path, value, guess, price)) {
            sigma = path.trial[path.count - 1];
            break;
        }
        for (int i = 0; i < path.count && going; ++i) {
            const float p = value[i];
            going = step(path.trial[i], p);
            above = p > price ? p : above;
            below = p < price ? p : below;
            if ((p > price) != (path.trial[i] > guess)) break;
        }
    }
    return none ? -1 : sigma;
}

template <int Lanes>
[[gnu::always_inline]] inline float Search(const PricingInputs& in, bool isPut, float price) {
    const double S = in.StockPrice;
    const double K = in.StrikePrice;
    const float intrinsic = Stored(isPut ? K - S : S - K);
    if (price <= intrinsic || price <= 0 || K <= 0) return -1;
    // A negative stock price has no model price; rather than search a
    // meaningless curve the option gets no implied volatility.
    if (S < 0) return -1;
    const Solve s = MakeSolve(in, isPut);
    const float sigma = Bisect<Lanes>(s, price, Sweep<Lanes>(s, price));
    if (sigma < kTolerance) return -1;
    return Stored(static_cast<double>(sigma) * 100);
}

}  // namespace

namespace detail {

// The lanes of the portable build's vectors. clang splits four lanes into
// the default target's two-lane registers well, and four run faster there;
// GCC does it badly, and two run faster with it.
#if defined(__clang__)
constexpr int kPortableLanes = 4;
#else
constexpr int kPortableLanes = 2;
#endif

float ImpliedVolatilityPortable(const PricingInputs& in, bool isPut, float price) {
    return Search<kPortableLanes>(in, isPut, price);
}

#if QUILLON_PRICING_HAS_AVX2_VARIANT
// AVX2 holds four doubles in a register where the default x86-64 target
// holds two, which the batched pricings use. No fused multiply-add: that
// would change the roundings.
[[gnu::target("avx2")]] float ImpliedVolatilityAvx2(const PricingInputs& in, bool isPut,
                                                    float price) {
    return Search<4>(in, isPut, price);
}

bool ProcessorHasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}
#endif

}  // namespace detail

float ImpliedVolatility(const PricingInputs& in, bool isPut, float price) {
#if QUILLON_PRICING_HAS_AVX2_VARIANT
    if (detail::ProcessorHasAvx2()) return detail::ImpliedVolatilityAvx2(in, isPut, price);
#endif
    return detail::ImpliedVolatilityPortable(in, isPut, price);
}

}  // namespace quillon
