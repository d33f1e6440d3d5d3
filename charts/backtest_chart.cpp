#include "charts/backtest_chart.h"

#include "history/backtest_report.h"

namespace quillon {

void BacktestChartData(const BacktestReport& report, std::vector<std::string>& labels,
                       std::vector<LineSeries>& series) {
    labels.clear();
    series.clear();
    for (HistoryDay day : report.Days)
        labels.push_back(HistoryDayText(day));
    for (const HorizonResult& h : report.Horizons) {
        series.push_back(
            LineSeries{"every " + std::to_string(h.Horizon) + (h.Horizon == 1 ? " day" : " days"),
                       h.CumulativeExcess});
    }
}

chart::RgbImage BacktestChartImage(const BacktestReport& report) {
    std::vector<std::string> labels;
    std::vector<LineSeries> series;
    BacktestChartData(report, labels, series);
    return chart::DrawLineChart(kBacktestChartTitle, labels, series);
}

bool WriteBacktestChart(const std::string& path, const BacktestReport& report, std::string& error) {
    std::vector<std::string> labels;
    std::vector<LineSeries> series;
    BacktestChartData(report, labels, series);
    return WritePngLineChart(path, kBacktestChartTitle, labels, series, error);
}

}  // namespace quillon
