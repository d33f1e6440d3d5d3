#pragma once
// The layout and drawing of a symbol's chart with QPainter: the chart
// window and its PNG both come from here.

#include <QRectF>
#include <QString>

#include "charts/axis_scale.h"
#include "history/history_series.h"

class QFontMetrics;
class QPainter;
class QRect;

namespace quillon {

// What the chart shows besides IV30, its band, HV20 and the last sale.
struct ChartOptions {
    bool IvRank = false;  // IV rank over 52 weeks, in a panel below the plot
};

// A value axis: from Low to High with a tick every Step.
using ChartScale = AxisScale;

// The volatility axis of `series`: round ticks around every IV30, band and
// HV20 figure, at least kChartLeastVolatilitySpan points high so that a
// nearly flat series draws as one, from 0 unless the figures lie far above
// it.
inline constexpr double kChartLeastVolatilitySpan = 4;
ChartScale VolatilityScale(const ChartSeries& series);

// Where the parts of the chart go in its area: from the top the title, the
// last day's figures, the legend, the plot and, with IV rank asked for, the
// IV rank panel; the dates below. The recorded days map inside the plot's
// left and right edges, so that the first and last day's markers are drawn
// whole and not under an axis.
struct ChartLayout {
    QRectF Title, Readout, Legend, Plot, RankPanel;  // RankPanel empty without IV rank
    double From = 0, To = 1;                         // days since 1970 at the inner edges
    double Inset = 0;                                // pixels between an edge and its day

    // The x of a recorded day, and of a day given as days since 1970.
    double X(HistoryDay day) const;
    double XAt(double serial) const;
};
ChartLayout LayOutChart(const QRect& area, const ChartSeries& series, const ChartOptions& options,
                        const QFontMetrics& metrics);

// Draws `series` into `area`: title, the last day's figures, the legend
// above the plot, axes with dates and values, the series. The chart window
// and its PNG both come from here.
void PaintChart(QPainter& painter, const QRect& area, const ChartSeries& series,
                const QString& symbol, const ChartOptions& options = {});

// "2021-01-04": a recorded day as the chart and its window show it.
QString ChartDayText(HistoryDay day);
// "1 day", "1,260 days".
QString ChartCount(qlonglong count, const char* one, const char* many);

}  // namespace quillon
