#pragma once
// European option prices by Black-Scholes with a continuous dividend yield,
// floored at intrinsic value, and the implied volatility of one option from
// its market price.
//
// Every figure the solver keeps (time in years, sigma * sqrt(T), d1, d2, each
// normal value, each price, each trial volatility) is a 32-bit float; each
// formula is evaluated in double and rounded to float where it is kept. The
// report prints these figures and saved results are compared across runs, so
// they must come out the same everywhere: the build never contracts or
// reorders floating-point operations.

namespace quillon {

struct PricingInputs {
    float StockPrice = 0;     // S, dollars
    float StrikePrice = 0;    // K, dollars
    int DaysToGo = 0;         // calendar days to expiration
    float InterestRate = 0;   // r, fraction per year, continuously compounded
    float DividendYield = 0;  // q, fraction per year, continuously compounded
    float Volatility = 0;     // sigma, fraction per year
};

// N(x), the standard normal distribution function, by a three-term
// polynomial approximation (N(0) is 0.50000006).
float CumulativeNormal(float x);

// Model prices; 0 when there are no days to go or the stock or strike price
// is not positive.
float BlackScholesCall(const PricingInputs& in);
float BlackScholesPut(const PricingInputs& in);

// Model prices floored at the intrinsic value.
float CallValue(const PricingInputs& in);
float PutValue(const PricingInputs& in);
float OptionValue(const PricingInputs& in, bool isPut);

// The implied volatility in percent (35.2 means 35.2 %) of an option whose
// market price is `price`, or -1 when it has none. Uses every field of `in`
// but Volatility, and changes none: the trial volatilities live in the solve.
float ImpliedVolatility(const PricingInputs& in, bool isPut, float price);

}  // namespace quillon
