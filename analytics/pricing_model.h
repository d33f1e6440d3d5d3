#pragma once
// The model's terms as both the option values (pricing.cpp) and the
// implied-volatility search (implied_volatility.cpp) compute them: the
// stored floats, the tail of N(x), the terms fixed per option, and the
// prices at a volatility. Shared so that the two compute every figure the
// same way to the bit; for those two files only.

#include <cmath>

#include "analytics/pricing.h"

namespace quillon::pricing_model {

constexpr float Stored(double value) {
    return static_cast<float>(value);
}

// Where both operands of a sum, difference or product are floats, the code
// works in float: the float result is the exact result rounded once, and
// the same as working in double and storing the result, as it was written
// at first. (Double carries more than twice a float's precision, enough
// that rounding to double and then to float never differs from rounding to
// float at once; a product of two floats is even exact in double.) Float
// arithmetic skips the two conversions, which lie on the chain of dependent
// steps of every pricing.

// The normal density's constant, correctly rounded like any square root.
const double kRootTwoPi = std::sqrt(6.2831853);
// Its reciprocal, for the tail's estimate (tail_estimate.h), which allows
// for the rounding of both.
const double kOverRootTwoPi = 1.0 / kRootTwoPi;

// The tail term of N(x): N(x) is 1 - e for x >= 0 and e otherwise. The
// tail of -x is that of x to the bit (|x| and x * x are the same), but a put
// evaluates it at the negated argument anyway, as N(-d) is written.
// The tail is the density at x times a polynomial in t = 1 / (1 + 0.3327|x|).
inline double TailPolynomial(float x) {
    const double ax = std::fabs(static_cast<double>(x));
    const float t = Stored(1.0 / (1.0 + 0.3327 * ax));
    const float t2 = t * t;
    const float t3 = t * t2;
    return 0.4361836 * t - 0.1201676 * t2 + 0.937298 * t3;
}

// The exponent of the density, -x^2 / 2 (exact in double for any float x
// short of underflow).
inline double DensityExponent(float x) {
    return -static_cast<double>(x) * x * 0.5;
}

inline float NormalTail(float x) {
    const double z = std::exp(DensityExponent(x)) / kRootTwoPi;
    return Stored(z * TailPolynomial(x));
}

inline float NormalFromTail(float x, float e) {
    return x >= 0 ? 1.0f - e : e;
}

// What the value of one option needs besides the volatility. The solver
// prices the same option many times at different volatilities, so these are
// worked out once per option; each is computed exactly as a single pricing
// would compute it, so the prices are the same to the bit. (The price is
// e^(-qT) * S * N(d1) - e^(-rT) * K * N(d2), which multiplies from the left:
// the two leading products are fixed terms too.)
struct FixedTerms {
    double S;
    double K;
    float T;           // years, stored
    double sqrtT;      // square root of the stored T
    double logSK;      // ln(S/K)
    double carry;      // r - q
    double discountQ;  // e^(-qT)
    double discountR;  // e^(-rT)
    double weightS;    // e^(-qT) * S
    double weightK;    // e^(-rT) * K
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
    f.weightS = f.discountQ * f.S;
    f.weightK = f.discountR * f.K;
    return f;
}

// d1 and d2 at volatility `sigma`, each stored.
struct ModelTerms {
    float d1;
    float d2;
};

inline ModelTerms Terms(const FixedTerms& f, double sigma) {
    const float v = Stored(f.sqrtT * sigma);
    ModelTerms terms{};
    terms.d1 = Stored((f.logSK + (f.carry + sigma * sigma * 0.5) * f.T) / v);
    terms.d2 = terms.d1 - v;
    return terms;
}

inline float CallFrom(const FixedTerms& f, float n1, float n2) {
    return Stored(f.weightS * n1 - f.weightK * n2);
}

inline float PutFrom(const FixedTerms& f, float n1, float n2) {
    return Stored(f.weightK * n2 - f.weightS * n1);
}

inline float CallAt(const FixedTerms& f, double sigma) {
    const ModelTerms m = Terms(f, sigma);
    return CallFrom(f, CumulativeNormal(m.d1), CumulativeNormal(m.d2));
}

inline float PutAt(const FixedTerms& f, double sigma) {
    const ModelTerms m = Terms(f, sigma);
    return PutFrom(f, CumulativeNormal(-m.d1), CumulativeNormal(-m.d2));
}

// No model price without days to go or with a zero (or, against damaged
// input, negative) stock or strike price.
inline bool NoModelPrice(const PricingInputs& in) {
    return in.DaysToGo <= 0 || !(in.StockPrice > 0) || !(in.StrikePrice > 0);
}

// The model price floored at the intrinsic value, at volatility `sigma`.
inline float ValueAt(const PricingInputs& in, const FixedTerms& f, bool isPut, double sigma) {
    const float model = NoModelPrice(in) ? 0.0f : isPut ? PutAt(f, sigma) : CallAt(f, sigma);
    const double intrinsic = isPut ? f.K - f.S : f.S - f.K;
    return model >= intrinsic ? model : Stored(intrinsic);
}

}  // namespace quillon::pricing_model
