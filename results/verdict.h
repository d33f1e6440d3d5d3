#pragma once
// The outcome of judging one symbol, which its report shows as the trend.

namespace quillon {

// The codes are the ones the evaluation has always kept: -2 rejected, 0 saved
// without the ratio filters, 1 saved with the call/put ratio reached ("UP"),
// -1 saved with the put/call ratio reached ("DOWN").
enum class Verdict : int {
    Rejected = -2,
    Saved = 0,
    SavedUp = 1,
    SavedDown = -1,
};

// The verdict as the history records it: "UP", "DOWN", "SAVED" or "REJECTED".
inline const char* VerdictName(Verdict verdict) {
    switch (verdict) {
        case Verdict::SavedUp:
            return "UP";
        case Verdict::SavedDown:
            return "DOWN";
        case Verdict::Saved:
            return "SAVED";
        case Verdict::Rejected:
            break;
    }
    return "REJECTED";
}

}  // namespace quillon
