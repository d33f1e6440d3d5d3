#pragma once
// The implied-volatility search compiled for different processors: the same
// code, and the same answers to the bit, built once for the default x86-64
// target and, by clang, once more for processors with AVX2.
// ImpliedVolatility picks the one the processor runs; tests compare each
// with the earlier code.

#include "analytics/pricing.h"

// Built by clang only: GCC's AVX2 build of this code measured slower than
// its default one.
#if defined(__x86_64__) && defined(__clang__)
#define QUILLON_PRICING_HAS_AVX2_VARIANT 1
#else
#define QUILLON_PRICING_HAS_AVX2_VARIANT 0
#endif

namespace quillon::detail {

float ImpliedVolatilityPortable(const PricingInputs& in, bool isPut, float price);

#if QUILLON_PRICING_HAS_AVX2_VARIANT
// Only where ProcessorHasAvx2().
float ImpliedVolatilityAvx2(const PricingInputs& in, bool isPut, float price);
bool ProcessorHasAvx2();
#endif

}  // namespace quillon::detail
