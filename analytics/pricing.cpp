#include "analytics/pricing.h"

#include "analytics/pricing_model.h"

namespace quillon {

using namespace pricing_model;

float CumulativeNormal(float x) {
    return NormalFromTail(x, NormalTail(x));
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

}  // namespace quillon
