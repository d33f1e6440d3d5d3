#pragma once
// The back-test's chart: the screen traded, one line per horizon N over the
// judged days: an entry every N judged days (the picks of that day, held N
// days, so that no two entries overlap), each adding its mean excess over
// the universe of its day. Every line then sums the excess of the same span
// of days, whatever its horizon, and the lines compare on one axis.
// quillon-backtest writes it as a PNG file; the desktop program's back-test
// window shows the same image.

#include <string>
#include <vector>

#include "charts/png_chart.h"
#include "history/backtest.h"

namespace quillon {

inline constexpr const char* kBacktestChartTitle =
    "Cumulative excess, one entry every N trading days, % points";

// The chart's x labels (the judged days) and one series per horizon ("1 day",
// "5 days").
void BacktestChartData(const BacktestReport& report, std::vector<std::string>& labels,
                       std::vector<LineSeries>& series);

// The chart as drawn.
chart::RgbImage BacktestChartImage(const BacktestReport& report);

// The chart as a PNG file, replaced whole or not at all.
bool WriteBacktestChart(const std::string& path, const BacktestReport& report, std::string& error);

}  // namespace quillon
