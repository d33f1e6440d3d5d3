#pragma once
// The pricing and implied-volatility code as it stood before the solver was
// made faster, kept verbatim under quillon::reference so that the current code
// can be checked against it bit for bit, and a generator of random options for
// that check. Used by the short check in analytics_tests and by the long one,
// bench/pricing_identity.cpp. Nothing outside those two programs includes it.
//
// One change to the old code: its bisection looped forever when a trial value
// compared neither above, below nor equal to the market price (a NaN price,
// or inputs so extreme that the model value is NaN). It now answers -1 there,
// as the current code does, so such options can be part of the check.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "analytics/pricing.h"
#include "analytics/pricing_variants.h"

namespace quillon::reference {

namespace detail {

constexpr double kSweepStep = 0.1;
constexpr double kSweepEnd = 3.2;
constexpr double kTolerance = 0.0005;

inline float Stored(double value) {
    return static_cast<float>(value);
}

struct FixedTerms {
    double S;
    double K;
    float T;
    double sqrtT;
    double logSK;
    double carry;
    double discountQ;
    double discountR;
};

inline FixedTerms Fixed(const PricingInputs& in) {
    FixedTerms f{};
    f.S = in.StockPrice;
    f.K = in.StrikePrice;
    f.T = Stored(in.DaysToGo * (1.0 / 365));
    f.sqrtT = std::sqrt(static_cast<double>(f.T));
    f.logSK = f.S > 0 && f.K > 0 ? std::log(f.S / f.K) : 0;
    f.carry = static_cast<double>(in.InterestRate) - in.DividendYield;
    f.discountQ = std::exp(-static_cast<double>(in.DividendYield) * f.T);
    f.discountR = std::exp(-static_cast<double>(in.InterestRate) * f.T);
    return f;
}

struct ModelTerms {
    float d1;
    float d2;
};

inline float CumulativeNormal(float x) {
    const double ax = std::fabs(static_cast<double>(x));
    const float t = Stored(1.0 / (1.0 + 0.3327 * ax));
    const float t2 = Stored(static_cast<double>(t) * t);
    const float t3 = Stored(static_cast<double>(t) * t2);
    const double z = std::exp(-static_cast<double>(x) * x * 0.5) / std::sqrt(6.2831853);
    const float e = Stored(z * (0.4361836 * t - 0.1201676 * t2 + 0.937298 * t3));
    return x >= 0 ? Stored(1.0 - e) : e;
}

inline ModelTerms Terms(const FixedTerms& f, double sigma) {
    const float v = Stored(f.sqrtT * sigma);
    ModelTerms terms{};
    terms.d1 = Stored((f.logSK + (f.carry + sigma * sigma * 0.5) * f.T) / v);
    terms.d2 = Stored(static_cast<double>(terms.d1) - v);
    return terms;
}

inline float CallAt(const FixedTerms& f, double sigma) {
    const ModelTerms m = Terms(f, sigma);
    const float n1 = CumulativeNormal(m.d1);
    const float n2 = CumulativeNormal(m.d2);
    return Stored(f.discountQ * f.S * n1 - f.discountR * f.K * n2);
}

inline float PutAt(const FixedTerms& f, double sigma) {
    const ModelTerms m = Terms(f, sigma);
    const float n2 = CumulativeNormal(-m.d2);
    const float n1 = CumulativeNormal(-m.d1);
    return Stored(f.discountR * f.K * n2 - f.discountQ * f.S * n1);
}

inline bool NoModelPrice(const PricingInputs& in) {
    return in.DaysToGo <= 0 || !(in.StockPrice > 0) || !(in.StrikePrice > 0);
}

inline float ValueAt(const PricingInputs& in, const FixedTerms& f, bool isPut, double sigma) {
    const float model = NoModelPrice(in) ? 0.0f : isPut ? PutAt(f, sigma) : CallAt(f, sigma);
    const double intrinsic = isPut ? f.K - f.S : f.S - f.K;
    return model >= intrinsic ? model : Stored(intrinsic);
}

}  // namespace detail

inline float CumulativeNormal(float x) {
    return detail::CumulativeNormal(x);
}

inline float BlackScholesCall(const PricingInputs& in) {
    if (detail::NoModelPrice(in)) return 0;
    return detail::CallAt(detail::Fixed(in), in.Volatility);
}

inline float BlackScholesPut(const PricingInputs& in) {
    if (detail::NoModelPrice(in)) return 0;
    return detail::PutAt(detail::Fixed(in), in.Volatility);
}

inline float CallValue(const PricingInputs& in) {
    return detail::ValueAt(in, detail::Fixed(in), false, in.Volatility);
}

inline float PutValue(const PricingInputs& in) {
    return detail::ValueAt(in, detail::Fixed(in), true, in.Volatility);
}

inline float ImpliedVolatility(const PricingInputs& in, bool isPut, float price) {
    using detail::Stored;
    const double S = in.StockPrice;
    const double K = in.StrikePrice;
    const float intrinsic = Stored(isPut ? K - S : S - K);
    if (price <= intrinsic || price <= 0 || K <= 0) return -1;
    if (S < 0) return -1;

    const detail::FixedTerms fixed = detail::Fixed(in);

    float sigma = Stored(detail::kSweepStep);
    while (sigma <= detail::kSweepEnd) {
        if (detail::ValueAt(in, fixed, isPut, sigma) > price) break;
        sigma = Stored(sigma + detail::kSweepStep);
    }

    float hi = sigma;
    float lo = Stored(hi - detail::kSweepStep);
    while (static_cast<double>(hi) - lo > detail::kTolerance) {
        sigma = Stored((static_cast<double>(hi) + lo) * 0.5);
        const float p = detail::ValueAt(in, fixed, isPut, sigma);
        if (p > price) hi = sigma;
        if (p < price) lo = sigma;
        if (p == price) break;
        // The one addition (see the top of the file): the old code looped
        // forever here.
        if (!(p > price) && !(p < price)) return -1;
    }
    if (sigma < detail::kTolerance) return -1;
    return Stored(static_cast<double>(sigma) * 100);
}

// --- Random options and the comparison ---------------------------------------

// Random options over every kind of input the solver can meet: ordinary
// near-the-money quotes, prices at, below and just above intrinsic value,
// prices above anything the sweep can reach, tiny and huge figures, zero,
// negative and non-finite ones, calls and puts.
class RandomOptions {
  public:
    explicit RandomOptions(std::uint64_t seed) : rng_(seed) {}

    struct Option {
        PricingInputs In;
        bool IsPut;
        float Price;
    };

    Option Next() {
        Option o{};
        o.IsPut = Chance(0.5);
        PricingInputs& in = o.In;
        in.StockPrice = Money();
        in.StrikePrice = Pick(8) == 0 ? Money() : Stored(in.StockPrice * std::exp(Normal(0.3)));
        if (Pick(40) == 0) in.StrikePrice = Special();
        const int days = Pick(20);
        in.DaysToGo = days == 0   ? Pick(3) - 1
                      : days == 1 ? static_cast<int>(Uniform(0, 2e6))
                                  : static_cast<int>(Uniform(1, 1100));
        in.InterestRate = Pick(10) == 0 ? Stored(Uniform(-3, 3)) : Stored(Uniform(-0.02, 0.15));
        in.DividendYield = Pick(10) == 0 ? Stored(Uniform(-3, 3)) : Stored(Uniform(0, 0.12));
        if (Pick(200) == 0) in.InterestRate = Special();
        if (Pick(200) == 0) in.DividendYield = Special();
        in.Volatility = Pick(10) == 0 ? Special() : Stored(std::exp(Uniform(-7, 2)));

        // The price: mostly the model value at some volatility, rounded to
        // cents or not; otherwise around intrinsic value, above the cap, or
        // an odd figure.
        const double intrinsic = o.IsPut ? static_cast<double>(in.StrikePrice) - in.StockPrice
                                         : static_cast<double>(in.StockPrice) - in.StrikePrice;
        switch (Pick(10)) {
            case 0:
                o.Price = Stored(intrinsic * (1 + Normal(1e-4)));
                break;
            case 1:
                o.Price = Stored(intrinsic + Uniform(-0.05, 0.05));
                break;
            case 2:
                o.Price = Stored((std::fabs(in.StockPrice) + std::fabs(in.StrikePrice)) *
                                 Uniform(0.5, 3));
                break;
            case 3:
                o.Price = Special();
                break;
            default: {
                PricingInputs at = in;
                at.Volatility = Stored(std::exp(Uniform(-5, 1.5)));
                const double value = OptionValue(at, o.IsPut);
                o.Price = Chance(0.5) ? Stored(std::round(value * 100) / 100) : Stored(value);
                break;
            }
        }
        return o;
    }

    // Any 32-bit pattern: every class of float, NaNs and infinities included.
    float AnyFloat() {
        const auto bits = static_cast<std::uint32_t>(rng_());
        float x;
        std::memcpy(&x, &bits, sizeof x);
        return x;
    }

    double Uniform(double a, double b) {
        return std::uniform_real_distribution<double>(a, b)(rng_);
    }

  private:
    static float Stored(double value) { return static_cast<float>(value); }

    bool Chance(double p) { return Uniform(0, 1) < p; }
    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
    double Normal(double sd) { return std::normal_distribution<double>(0, sd)(rng_); }

    // A share price: mostly $0.50 to $2000, sometimes anything.
    float Money() {
        if (Pick(25) == 0) return Special();
        return Stored(std::exp(Uniform(std::log(0.5), std::log(2000.0))));
    }

    // Zero, negative, tiny, huge, subnormal, infinite and NaN figures.
    float Special() {
        constexpr float kInf = std::numeric_limits<float>::infinity();
        constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
        const float figures[] = {0.0f, -0.0f, -1.0f, -50.0f, 1e-30f, 1e-8f, 1e-3f, 0.01f,
                                 1e8f, 1e30f, 3e38f, 1e-40f, kInf,   -kInf, kNaN,  -1e30f};
        const float x = figures[Pick(static_cast<int>(std::size(figures)))];
        return Pick(4) == 0 ? AnyFloat() : x;
    }

    std::mt19937_64 rng_;
};

// True when the two floats are the same to the bit; any two NaNs count as
// the same (the program treats every NaN alike, and which of two NaN operands
// an operation passes on is the compiler's choice).
inline bool SameBits(float a, float b) {
    if (std::isnan(a) && std::isnan(b)) return true;
    std::uint32_t x;
    std::uint32_t y;
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    return x == y;
}

// How the old solver answered the options of a check.
struct Tally {
    long Solved = 0;  // an implied volatility below the cap
    long Capped = 0;  // the cap, 329.96: above the value at every trial
    long None = 0;    // -1
};

// Compares the current functions with the ones above over `count` random
// options (and as many CumulativeNormal arguments): implied volatilities,
// both floored values and both model prices of every option, N(x) of every
// d1-sized argument and of any 32-bit pattern. Returns an empty string when
// all agree, else a description of the first difference. Counts the kinds
// of answer in `tally` when given.
// Each build of the search that this processor can run, by name: the
// portable one always, the AVX2 one where the processor has AVX2.
struct SearchVariant {
    const char* Name;
    float (*Solve)(const PricingInputs& in, bool isPut, float price);
};

inline std::vector<SearchVariant> SearchVariants() {
    std::vector<SearchVariant> variants = {
        {"portable", &quillon::detail::ImpliedVolatilityPortable}};
#if QUILLON_PRICING_HAS_AVX2_VARIANT
    if (quillon::detail::ProcessorHasAvx2())
        variants.push_back({"AVX2", &quillon::detail::ImpliedVolatilityAvx2});
#endif
    return variants;
}

inline std::string FirstDifference(std::uint64_t seed, long count, Tally* tally = nullptr) {
    RandomOptions random(seed);
    const auto describe = [](const char* what, const RandomOptions::Option& o, float ours,
                             float theirs) {
        char text[400];
        std::snprintf(text, sizeof text,
                      "%s differs: S=%a K=%a days=%d r=%a q=%a vol=%a %s price=%a: %a, was %a",
                      what, static_cast<double>(o.In.StockPrice),
                      static_cast<double>(o.In.StrikePrice), o.In.DaysToGo,
                      static_cast<double>(o.In.InterestRate),
                      static_cast<double>(o.In.DividendYield), static_cast<double>(o.In.Volatility),
                      o.IsPut ? "put" : "call", static_cast<double>(o.Price),
                      static_cast<double>(ours), static_cast<double>(theirs));
        return std::string(text);
    };
    const std::vector<SearchVariant> variants = SearchVariants();
    for (long i = 0; i < count; ++i) {
        const RandomOptions::Option o = random.Next();
        const PricingInputs& in = o.In;
        const float iv = quillon::ImpliedVolatility(in, o.IsPut, o.Price);
        const float ivBefore = reference::ImpliedVolatility(in, o.IsPut, o.Price);
        if (!SameBits(iv, ivBefore)) return describe("ImpliedVolatility", o, iv, ivBefore);
        for (const SearchVariant& variant : variants) {
            const float answer = variant.Solve(in, o.IsPut, o.Price);
            if (!SameBits(answer, ivBefore))
                return describe(variant.Name, o, answer, ivBefore) + " (that build of the search)";
        }
        if (tally != nullptr) {
            long& kind = ivBefore < 0     ? tally->None
                         : ivBefore > 329 ? tally->Capped
                                          : tally->Solved;
            ++kind;
        }
        if (!SameBits(quillon::CallValue(in), reference::CallValue(in)))
            return describe("CallValue", o, quillon::CallValue(in), reference::CallValue(in));
        if (!SameBits(quillon::PutValue(in), reference::PutValue(in)))
            return describe("PutValue", o, quillon::PutValue(in), reference::PutValue(in));
        if (!SameBits(quillon::BlackScholesCall(in), reference::BlackScholesCall(in)))
            return describe("BlackScholesCall", o, quillon::BlackScholesCall(in),
                            reference::BlackScholesCall(in));
        if (!SameBits(quillon::BlackScholesPut(in), reference::BlackScholesPut(in)))
            return describe("BlackScholesPut", o, quillon::BlackScholesPut(in),
                            reference::BlackScholesPut(in));
        for (const float x : {static_cast<float>(random.Uniform(-12, 12)), random.AnyFloat()}) {
            if (!SameBits(quillon::CumulativeNormal(x), reference::CumulativeNormal(x))) {
                char text[120];
                std::snprintf(text, sizeof text, "CumulativeNormal(%a) differs: %a, was %a",
                              static_cast<double>(x),
                              static_cast<double>(quillon::CumulativeNormal(x)),
                              static_cast<double>(reference::CumulativeNormal(x)));
                return text;
            }
        }
    }
    return {};
}

}  // namespace quillon::reference
