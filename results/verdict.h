#pragma once
// The outcome of judging one symbol, which its report shows as the trend,
// and what the pass history records of it.

#include <optional>
#include <string_view>

namespace quillon {

// The codes are the ones the evaluation has always kept: -2 rejected, 0 saved
// without the ratio filters, 1 saved with the call/put ratio reached ("UP"),
// -1 saved with the put/call ratio reached ("DOWN").
enum class Verdict : int {
    Rejected = -2,
    Saved = 0,
    SavedUp = 1,
    SavedDown = -1,
    // Not judged: no quote of the symbol could be had. Only the history
    // records it; the evaluation never gives it.
    NoQuote = -3,
};

// The verdict as the history records it: "UP", "DOWN", "SAVED", "REJECTED"
// or "NOQUOTE".
constexpr const char* VerdictName(Verdict verdict) {
    switch (verdict) {
        case Verdict::SavedUp:
            return "UP";
        case Verdict::SavedDown:
            return "DOWN";
        case Verdict::Saved:
            return "SAVED";
        case Verdict::NoQuote:
            return "NOQUOTE";
        case Verdict::Rejected:
            break;
    }
    return "REJECTED";
}

// The verdict a recorded text names; nothing for any other text (a row of
// no verdict, or a column that holds none).
constexpr std::optional<Verdict> VerdictNamed(std::string_view name) {
    for (Verdict v : {Verdict::SavedUp, Verdict::SavedDown, Verdict::Saved, Verdict::Rejected,
                      Verdict::NoQuote}) {
        if (name == VerdictName(v)) return v;
    }
    return std::nullopt;
}

// The text of a recorded verdict; empty for none.
constexpr std::string_view VerdictText(std::optional<Verdict> verdict) {
    return verdict ? VerdictName(*verdict) : "";
}

// Whether the verdict saves the stock: UP, DOWN or SAVED.
constexpr bool IsSaved(std::optional<Verdict> verdict) {
    return verdict == Verdict::SavedUp || verdict == Verdict::SavedDown ||
           verdict == Verdict::Saved;
}

// UP or DOWN: saved by a ZOR ratio.
constexpr bool IsRatioSaved(std::optional<Verdict> verdict) {
    return verdict == Verdict::SavedUp || verdict == Verdict::SavedDown;
}

}  // namespace quillon
