#pragma once
// Shared by the fuzz targets that parse pages in a scan context: a check that
// aborts, so libFuzzer reports the input that broke it, and the services a
// context needs, on a fixed date so every run sees the same calendar.

#include <cstdlib>

#include "platform/clock.h"
#include "platform/services.h"

namespace quillon::fuzz {

inline void Check(bool condition) {
    if (!condition) std::abort();
}

struct Services {
    FixedClock clock{DateTime{2026, 12, 1, 9, 5}};
    ScriptedMessages messages;
    SilentBeeper beeper;
};

}  // namespace quillon::fuzz
