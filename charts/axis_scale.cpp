#include "charts/axis_scale.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace quillon {

namespace {

constexpr std::size_t kMostTicks = 20;

std::string TickLabel(double value, double step, double largest) {
    char text[40];
    if (largest < 1e9 && step >= 1e-6) {
        const int decimals =
            std::clamp(static_cast<int>(std::ceil(-std::log10(step) - 1e-9)), 0, 6);
        std::snprintf(text, sizeof text, "%.*f", decimals, value);
    } else {
        std::snprintf(text, sizeof text, "%.3g", value);
    }
    return text;
}

}  // namespace

AxisScale RoundAxis(double low, double high, AxisEnds ends) {
    AxisScale scale;
    const double rawStep = (high / 2 - low / 2) / 3;
    const double power = std::pow(10.0, std::floor(std::log10(rawStep)));
    const double fraction = rawStep / power;
    double step = (fraction < 1.5 ? 1 : fraction < 3 ? 2 : fraction < 7 ? 5 : 10) * power;
    if (!std::isfinite(step) || !(step > 0)) step = rawStep;
    scale.Step = step;
    double first = std::ceil(low / step);
    double last = std::floor(high / step);
    scale.Low = low;
    scale.High = high;
    if (ends == AxisEnds::OnTicks) {
        first = std::floor(low / step);
        last = std::ceil(high / step);
        scale.Low = first * step;
        scale.High = last * step;
    }
    for (double k = first; k <= last && scale.Ticks.size() < kMostTicks; ++k)
        scale.Ticks.push_back(k * step + 0.0);  // + 0.0 turns -0 into 0
    double largest = 0;
    for (double tick : scale.Ticks)
        largest = std::max(largest, std::fabs(tick));
    for (double tick : scale.Ticks)
        scale.Labels.push_back(TickLabel(tick, step, largest));
    return scale;
}

}  // namespace quillon
