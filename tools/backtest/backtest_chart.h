#pragma once
// The back-test's chart: the cumulative mean excess of the picks over the
// universe, one line per horizon over the judged days. quillon-backtest
// writes it as a PNG file; the desktop program's back-test window shows the
// same image.

#include <string>
#include <vector>

#include "history/backtest.h"
#include "tools/backtest/png_chart.h"

namespace quillon {

inline constexpr const char* kBacktestChartTitle =
    "Cumulative mean excess over the universe, % points";

// The chart's x labels (the judged days) and one series per horizon ("1 day",
// "5 days").
void BacktestChartData(const BacktestReport& report, std::vector<std::string>& labels,
                       std::vector<LineSeries>& series);

// The chart as drawn.
chart::RgbImage BacktestChartImage(const BacktestReport& report);

// The chart as a PNG file, replaced whole or not at all.
bool WriteBacktestChart(const std::string& path, const BacktestReport& report, std::string& error);

}  // namespace quillon
