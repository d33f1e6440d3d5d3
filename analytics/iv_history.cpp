#include "analytics/iv_history.h"

namespace quillon {

Iv30Result ComputeIv30(const Iv30Inputs&) {
    return {};
}

Iv30Inputs Iv30InputsOf(const QuoteRecord&, const OptionChain&, const ZorInputs&) {
    return {};
}

IvStanding IvRankAndPercentile(const std::vector<double>& window) {
    return {std::nullopt, std::nullopt, static_cast<int>(window.size())};
}

std::optional<double> Hv20(const std::vector<double>&) {
    return std::nullopt;
}

std::string StandingText(const std::optional<double>&, int days) {
    return "n/a (" + std::to_string(days) + " days)";
}

}  // namespace quillon
