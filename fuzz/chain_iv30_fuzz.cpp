// Any bytes as the text of ChainIv30.txt: every entry read holds figures in
// range, and writing the table and reading it again gives the same table.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_context.h"
#include "results/chain_iv30.h"

namespace {

using quillon::fuzz::Check;

bool SameFigure(const std::optional<double>& a, const std::optional<double>& b) {
    // Written with six decimals.
    return a.has_value() == b.has_value() && (!a || std::fabs(*a - *b) <= 5e-7 * (1 + *a));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const quillon::ChainIv30Table table = quillon::ReadChainIv30(bytes);
    Check(table.size() <= size / 10 + 1);
    std::string text = quillon::ChainIv30Header();
    for (const auto& [symbol, entry] : table) {
        Check(!symbol.empty() && symbol.find(',') == std::string::npos);
        Check(entry.Last > 0 && std::isfinite(entry.Last));
        for (const auto* v : {&entry.Iv30.Both, &entry.Iv30.Calls, &entry.Iv30.Puts})
            Check(!*v || (**v > 0 && std::isfinite(**v)));
        text += quillon::ChainIv30Line(symbol, entry);
    }
    const quillon::ChainIv30Table again = quillon::ReadChainIv30(text);
    Check(again.size() == table.size());
    for (const auto& [symbol, entry] : table) {
        const auto found = again.find(symbol);
        Check(found != again.end());
        const quillon::ChainIv30Entry& e = found->second;
        Check(e.Day == entry.Day && e.Last == entry.Last);
        Check(SameFigure(e.Iv30.Both, entry.Iv30.Both) &&
              SameFigure(e.Iv30.Calls, entry.Iv30.Calls) &&
              SameFigure(e.Iv30.Puts, entry.Iv30.Puts));
        Check(e.Iv30.DaysNear == entry.Iv30.DaysNear && e.Iv30.DaysNext == entry.Iv30.DaysNext);
    }
    return 0;
}
