#pragma once
// A symbol's recorded days as the chart draws them: IV30 with the high and
// low of IV30 over the last 52 weeks, HV20, the last sale, and the days the
// stock was saved. Plain figures, built without Qt so that what the chart
// shows can be checked against the database.

#include <optional>
#include <string>
#include <vector>

#include "analytics/iv_history.h"
#include "history/history_row.h"

namespace quillon {

// The days of IV30 the high-low band reaches over: 52 weeks of trading days.
inline constexpr int kChartBandDays = 252;

// How the stock was saved on a day: by the UP or the DOWN rule, by the other
// filters alone, or not at all.
enum class ChartMark { None, Up, Down, Saved };

struct ChartPoint {
    HistoryDay Day = 0;
    std::optional<double> Iv30;
    // The lowest and highest IV30 of the last kChartBandDays days that have
    // one, this day's included; nothing on a day without IV30.
    std::optional<double> BandLow, BandHigh;
    // From the last sales of the days recorded with one, up to this day;
    // nothing on a day without a last sale.
    std::optional<double> Hv20;
    std::optional<double> Last;
    // IV30 against the days of the window that have one, this day's last;
    // with no IV30 this day, nothing, and Days the window's days before it.
    IvStanding Standing;
    ChartMark Mark = ChartMark::None;
};

struct ChartSeries {
    std::vector<ChartPoint> Points;  // oldest first

    bool Empty() const { return Points.empty(); }
    // Days with an IV30, with a last sale, and days the stock was saved.
    int Iv30Days() const;
    int LastDays() const;
    int MarkedDays() const;
};

// The figures of the series' last day as a report's history line shows a
// saved stock's, after the day: "2026-12-09: IV30 31.5  IV rank 42.0  IV pctl
// 61.5  (240 days of 52 wk)  HV20 27.3"; n/a for a figure the day lacks.
// Empty for an empty series.
std::string LastDayText(const ChartSeries& series);

// The series of one symbol's rows, oldest first (HistoryStore::Rows), with
// the band and the IV rank and percentile over `window` days of IV30.
ChartSeries ChartSeriesOf(const std::vector<HistoryRow>& rows, int window = kChartBandDays);

// The series of `symbol` from the History.db at `file`, opened for the read
// alone: a missing file is not created. False, with `error` saying why, when
// the file is missing or cannot be read; an unknown symbol gives an empty
// series and true.
bool LoadChartSeries(const std::string& file, const std::string& symbol, ChartSeries& series,
                     std::string& error);

}  // namespace quillon
