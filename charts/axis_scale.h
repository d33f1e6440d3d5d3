#pragma once
// Value axes with round ticks, shared by the PNG line chart and the desktop
// chart window: the step, the tick values and their texts.

#include <string>
#include <vector>

namespace quillon {

// Where a value axis ends.
enum class AxisEnds {
    AsGiven,  // at the range given, the ticks the round values inside it
    OnTicks,  // at the round values at or just outside the range
};

// A value axis from Low to High with a tick every Step.
struct AxisScale {
    double Low = 0, High = 1, Step = 1;
    std::vector<double> Ticks;
    std::vector<std::string> Labels;  // one a tick
};

// The axis over `low` to `high` (low < high, both finite) at a round step,
// 1, 2 or 5 times a power of ten, nearest a sixth of the range; at most 20
// ticks, a zero tick never "-0". A tick's text has as many decimals as the
// step needs, or three significant digits where the ticks reach a billion or
// the step lies below a millionth. Halves are taken before differences, so
// that ranges near the largest double do not overflow.
AxisScale RoundAxis(double low, double high, AxisEnds ends);

}  // namespace quillon
