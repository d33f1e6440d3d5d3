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

// The figures both prices share.
struct ModelTerms {
    float T;  // years
    float d1;
    float d2;
};

ModelTerms Terms(const PricingInputs& in) {
    const double S = in.StockPrice;
    const double K = in.StrikePrice;
    const double sigma = in.Volatility;
    ModelTerms terms{};
    terms.T = Stored(in.DaysToGo * (1.0 / 365));
    const float v = Stored(std::sqrt(static_cast<double>(terms.T)) * sigma);
    terms.d1 = Stored((std::log(S / K) + (static_cast<double>(in.InterestRate) - in.DividendYield +
                                          sigma * sigma * 0.5) *
                                             terms.T) /
                      v);
    terms.d2 = Stored(static_cast<double>(terms.d1) - v);
    return terms;
}

// No model price without days to go or with a zero (or, against damaged
// input, negative) stock or strike price.
bool NoModelPrice(const PricingInputs& in) {
    return in.DaysToGo <= 0 || !(in.StockPrice > 0) || !(in.StrikePrice > 0);
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
    const ModelTerms m = Terms(in);
    const float n1 = CumulativeNormal(m.d1);
    const float n2 = CumulativeNormal(m.d2);
    return Stored(std::exp(-static_cast<double>(in.DividendYield) * m.T) * in.StockPrice * n1 -
                  std::exp(-static_cast<double>(in.InterestRate) * m.T) * in.StrikePrice * n2);
}

float BlackScholesPut(const PricingInputs& in) {
    if (NoModelPrice(in)) return 0;
    const ModelTerms m = Terms(in);
    const float n2 = CumulativeNormal(-m.d2);
    const float n1 = CumulativeNormal(-m.d1);
    return Stored(std::exp(-static_cast<double>(in.InterestRate) * m.T) * in.StrikePrice * n2 -
                  std::exp(-static_cast<double>(in.DividendYield) * m.T) * in.StockPrice * n1);
}

float CallValue(const PricingInputs& in) {
    const float model = BlackScholesCall(in);
    const double intrinsic = static_cast<double>(in.StockPrice) - in.StrikePrice;
    return model >= intrinsic ? model : Stored(intrinsic);
}

float PutValue(const PricingInputs& in) {
    const float model = BlackScholesPut(in);
    const double intrinsic = static_cast<double>(in.StrikePrice) - in.StockPrice;
    return model >= intrinsic ? model : Stored(intrinsic);
}

float OptionValue(const PricingInputs& in, bool isPut) {
    return isPut ? PutValue(in) : CallValue(in);
}

float ImpliedVolatility(PricingInputs& in, bool isPut, float price) {
    const double S = in.StockPrice;
    const double K = in.StrikePrice;
    const float intrinsic = Stored(isPut ? K - S : S - K);
    if (price <= intrinsic || price <= 0 || K <= 0) return -1;
    // A negative stock price has no model price; rather than search a
    // meaningless curve the option gets no implied volatility.
    if (S < 0) return -1;

    // Coarse sweep: the first trial of 0.1, 0.2, ... 3.2 whose value exceeds
    // the market price.
    float sigma = Stored(kSweepStep);
    while (sigma <= kSweepEnd) {
        in.Volatility = sigma;
        if (OptionValue(in, isPut) > price) break;
        sigma = Stored(sigma + kSweepStep);
    }

    // Bisection of the bracket below it; the answer is the last midpoint.
    float hi = sigma;
    float lo = Stored(hi - kSweepStep);
    while (static_cast<double>(hi) - lo > kTolerance) {
        sigma = Stored((static_cast<double>(hi) + lo) * 0.5);
        in.Volatility = sigma;
        const float p = OptionValue(in, isPut);
        if (p > price) hi = sigma;
        if (p < price) lo = sigma;
        if (p == price) break;
    }
    if (sigma < kTolerance) return -1;
    return Stored(static_cast<double>(sigma) * 100);
}

}  // namespace quillon
