#include "history/history_series.h"

#include <algorithm>
#include <deque>
#include <filesystem>

#include "analytics/iv_history.h"
#include "history/history_store.h"
#include "results/report.h"

namespace quillon {

namespace {

// HV20 reads the last 20 returns: 21 prices.
constexpr std::size_t kHv20Prices = 21;

ChartMark MarkOf(std::optional<Verdict> verdict) {
    if (verdict == Verdict::SavedUp) return ChartMark::Up;
    if (verdict == Verdict::SavedDown) return ChartMark::Down;
    if (verdict == Verdict::Saved) return ChartMark::Saved;
    return ChartMark::None;
}

}  // namespace

int ChartSeries::Iv30Days() const {
    return static_cast<int>(
        std::count_if(Points.begin(), Points.end(), [](const ChartPoint& p) { return p.Iv30; }));
}

int ChartSeries::LastDays() const {
    return static_cast<int>(
        std::count_if(Points.begin(), Points.end(), [](const ChartPoint& p) { return p.Last; }));
}

int ChartSeries::MarkedDays() const {
    return static_cast<int>(std::count_if(Points.begin(), Points.end(), [](const ChartPoint& p) {
        return p.Mark != ChartMark::None;
    }));
}

std::string LastDayText(const ChartSeries& series) {
    if (series.Empty()) return {};
    const ChartPoint& last = series.Points.back();
    ReportHistory figures;
    figures.Iv30 = last.Iv30;
    figures.Rank = last.Standing.Rank;
    figures.Percentile = last.Standing.Percentile;
    figures.Days = last.Standing.Days;
    figures.WindowWeeks = kChartBandDays * 52 / 252;
    figures.Hv20 = last.Hv20;
    return HistoryDayText(last.Day) + ": " + HistoryLine(figures);
}

ChartSeries ChartSeriesOf(const std::vector<HistoryRow>& rows, int window) {
    ChartSeries series;
    series.Points.reserve(rows.size());
    std::deque<double> ivs;       // the band's window, oldest first
    std::deque<DatedSale> lasts;  // HV20's prices, oldest first
    for (const HistoryRow& row : rows) {
        ChartPoint point;
        point.Day = row.Day;
        point.Mark = MarkOf(row.Verdict);
        if (row.Iv30) {
            point.Iv30 = row.Iv30;
            if (ivs.size() == static_cast<std::size_t>(window)) ivs.pop_front();
            ivs.push_back(*row.Iv30);
            const auto [lo, hi] = std::minmax_element(ivs.begin(), ivs.end());
            point.BandLow = *lo;
            point.BandHigh = *hi;
            point.Standing = IvRankAndPercentile(std::vector<double>(ivs.begin(), ivs.end()));
        } else {
            point.Standing.Days = static_cast<int>(ivs.size());
        }
        // A last sale of 0 or less is no price: it would break the returns.
        if (row.Last && *row.Last > 0) {
            point.Last = row.Last;
            if (lasts.size() == kHv20Prices) lasts.pop_front();
            lasts.push_back({row.Day, *row.Last});
            point.Hv20 = Hv20(std::vector<DatedSale>(lasts.begin(), lasts.end()));
        }
        series.Points.push_back(point);
    }
    return series;
}

bool LoadChartSeries(const std::string& file, const std::string& symbol, ChartSeries& series,
                     std::string& error) {
    series = ChartSeries();
    std::error_code ignored;
    if (!std::filesystem::is_regular_file(file, ignored)) {
        error = "no pass history: " + file + " does not exist";
        return false;
    }
    HistoryStore store;
    if (!store.OpenForReading(file)) {
        error = file + ": " + store.Error();
        return false;
    }
    const std::vector<HistoryRow> rows = store.Rows(symbol);
    if (rows.empty() && !store.Error().empty()) {
        error = file + ": " + store.Error();
        return false;
    }
    series = ChartSeriesOf(rows);
    error.clear();
    return true;
}

}  // namespace quillon
