#include "analytics/pricing.h"

#include <cmath>

namespace quillon {

namespace {

// The solver's sweep and stopping constants, compared at full precision
// against the stored 32-bit trial values.
constexpr double kSweepStep = 0.1;
constexpr double kSweepEnd = 3.2;
constexpr double kTolerance = 0.0005;

float Stored(double value) {
    return static_cast<float>(value);
}

// What the price of one option needs besides the volatility. The solver
// prices the same option many times at different volatilities, so these are
// worked out once per option; each is computed exactly as a single pricing
// would compute it, so the prices are the same to the bit.
struct FixedTerms {
    double S;
    double K;
    float T;           // years, stored
    double sqrtT;      // square root of the stored T
    double logSK;      // ln(S/K)
    double carry;      // r - q
    double discountQ;  // e^(-qT)
    double discountR;  // e^(-rT)
};

FixedTerms Fixed(const PricingInputs& in) {
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

// d1 and d2 at volatility `sigma`, each stored.
struct ModelTerms {
    float d1;
    float d2;
};

ModelTerms Terms(const FixedTerms& f, double sigma) {
    const float v = Stored(f.sqrtT * sigma);
    ModelTerms terms{};
    terms.d1 = Stored((f.logSK + (f.carry + sigma * sigma * 0.5) * f.T) / v);
    terms.d2 = Stored(static_cast<double>(terms.d1) - v);
    return terms;
}

float CallAt(const FixedTerms& f, double sigma) {
    const ModelTerms m = Terms(f, sigma);
    const float n1 = CumulativeNormal(m.d1);
    const float n2 = CumulativeNormal(m.d2);
    return Stored(f.discountQ * f.S * n1 - f.discountR * f.K * n2);
}

float PutAt(const FixedTerms& f, double sigma) {
    const ModelTerms m = Terms(f, sigma);
    const float n2 = CumulativeNormal(-m.d2);
    const float n1 = CumulativeNormal(-m.d1);
    return Stored(f.discountR * f.K * n2 - f.discountQ * f.S * n1);
}

// No model price without days to go or with a zero (or, against damaged
// input, negative) stock or strike price.
bool NoModelPrice(const PricingInputs& in) {
    return in.DaysToGo <= 0 || !(in.StockPrice > 0) || !(in.StrikePrice > 0);
}

// The model price floored at the intrinsic value, at volatility `sigma`.
float ValueAt(const PricingInputs& in, const FixedTerms& f, bool isPut, double sigma) {
    const float model = NoModelPrice(in) ? 0.0f : isPut ? PutAt(f, sigma) : CallAt(f, sigma);
    const double intrinsic = isPut ? f.K - f.S : f.S - f.K;
    return model >= intrinsic ? model : Stored(intrinsic);
}

}  // namespace

float CumulativeNormal(float x) {
    const double ax = std::fabs(static_cast<double>(x));
    const float t = Stored(1.0 / (1.0 + 0.3327 * ax));
    const float t2 = Stored(static_cast<double>(t) * t);
    const float t3 = Stored(static_cast<double>(t) * t2);
    const double z = std::exp(-static_cast<double>(x) * x * 0.5) / std::sqrt(6.2831853);
    const float e = Stored(z * (0.4361836 * t - 0.1201676 * t2 + 0.937298 * t3));
    return x >= 0 ? Stored(1.0 - e) : e;
}

float BlackScholesCall(const PricingInputs& in) {
    if (NoModelPrice(in)) return 0;
    return CallAt(Fixed(in), in.Volatility);
}

float BlackScholesPut(const PricingInputs& in) {
    if (NoModelPrice(in)) return 0;
    return PutAt(Fixed(in), in.Volatility);
}

float CallValue(const PricingInputs& in) {
    return ValueAt(in, Fixed(in), false, in.Volatility);
}

float PutValue(const PricingInputs& in) {
    return ValueAt(in, Fixed(in), true, in.Volatility);
}

float OptionValue(const PricingInputs& in, bool isPut) {
    return isPut ? PutValue(in) : CallValue(in);
}

// The search is a fixed recipe, not a root finder to be tuned: its answers
// are printed in the report and weighed into ZOR, and earlier results are
// compared with new ones, so every step must stay as it is. The sweep's
// trials are accumulated in float (0.1, then 0.1 + 0.1, ...), not computed as
// k * 0.1, and end past 3.2, which caps the answer at 329.96. The bisection
// answers its last midpoint rather than the better end of the bracket, and
// stops at an exact hit as well as at the tolerance. A faster or more accurate
// method (Newton's, say) would change figures that users compare.
float ImpliedVolatility(const PricingInputs& in, bool isPut, float price) {
    const double S = in.StockPrice;
    const double K = in.StrikePrice;
    const float intrinsic = Stored(isPut ? K - S : S - K);
    if (price <= intrinsic || price <= 0 || K <= 0) return -1;
    // A negative stock price has no model price; rather than search a
    // meaningless curve the option gets no implied volatility.
    if (S < 0) return -1;

    const FixedTerms fixed = Fixed(in);

    // Coarse sweep: the first trial of 0.1, 0.2, ... 3.2 whose value exceeds
    // the market price.
    float sigma = Stored(kSweepStep);
    while (sigma <= kSweepEnd) {
        if (ValueAt(in, fixed, isPut, sigma) > price) break;
        sigma = Stored(sigma + kSweepStep);
    }

    // Bisection of the bracket below it; the answer is the last midpoint.
    float hi = sigma;
    float lo = Stored(hi - kSweepStep);
    while (static_cast<double>(hi) - lo > kTolerance) {
        sigma = Stored((static_cast<double>(hi) + lo) * 0.5);
        const float p = ValueAt(in, fixed, isPut, sigma);
        if (p > price) hi = sigma;
        if (p < price) lo = sigma;
        if (p == price) break;
        // A NaN price, or a NaN value from inputs too extreme to price,
        // compares neither way and would leave the bracket as it is forever.
        if (!(p > price) && !(p < price)) return -1;
    }
    if (sigma < kTolerance) return -1;
    return Stored(static_cast<double>(sigma) * 100);
}

}  // namespace quillon
