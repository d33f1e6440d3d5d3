// The desktop chart's layout and drawing with QPainter, for the window and
// its PNG alike.
#include "ui/chart_paint.h"

#include <QFontMetrics>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>
#include <vector>

namespace quillon {

namespace {

constexpr int kLeftMargin = 64;
constexpr int kRightMargin = 72;
constexpr int kBottomMargin = 44;
// Pixels between the plot's left or right edge and the first or last day.
constexpr int kPlotInset = 14;
// Fewest pixels between two date labels.
constexpr int kDateLabelRoom = 80;
constexpr int kMarkerSize = 5;
// The radius of the dot on a line's last day and on a day alone.
constexpr double kDotRadius = 4;
// The IV rank panel: its share of the height below the legend, its least
// height and the gap above it.
constexpr double kRankShare = 0.24;
constexpr int kRankLeastHeight = 56;
constexpr int kRankGap = 18;
// A last sale that barely moves is drawn on an axis at least this share of
// its level high.
constexpr double kLeastPriceSpan = 0.02;
const QColor kIvColour(0, 70, 200);
const QColor kBandColour(190, 210, 250);
const QColor kHvColour(230, 120, 0);
const QColor kLastColour(80, 80, 80);
const QColor kRankColour(0, 140, 130);
const QColor kUpColour(0, 150, 0);
const QColor kDownColour(210, 0, 0);
const QColor kSavedColour(130, 0, 170);
const QColor kGridColour(225, 225, 225);

// Days since 1970-01-01: dates are placed by the calendar, so a gap in the
// recording shows as one.
double SerialOf(HistoryDay day) {
    return static_cast<double>(CivilDay::FromNumber(day).Serial());
}

QString DateText(const CivilDay& day) {
    return QString::fromLatin1(day.IsoText());
}

}  // namespace

QString ChartDayText(HistoryDay day) {
    return QString::fromLatin1(HistoryDayText(day));
}

QString ChartCount(qlonglong count, const char* one, const char* many) {
    return QLocale(QLocale::English).toString(count) + QLatin1Char(' ') +
           QString::fromLatin1(count == 1 ? one : many);
}

namespace {

// A value range with round tick marks at its ends; a range without a span
// is widened around its value.
ChartScale NiceScale(double low, double high) {
    if (!(high > low)) {
        const double pad = std::max(1.0, std::fabs(low) * 0.05);
        low -= pad;
        high += pad;
    }
    return RoundAxis(low, high, AxisEnds::OnTicks);
}

// The date ticks between the days `from` and `to`: the first of every k-th month
// over long spans, every k-th day over short ones, no closer than the labels
// allow.
std::vector<std::pair<double, QString>> DateTicks(double from, double to, int width) {
    std::vector<std::pair<double, QString>> ticks;
    const int most = std::max(2, width / kDateLabelRoom);
    const double span = to - from;
    if (span <= 62) {
        int step = 1;
        for (int s : {1, 2, 7, 14, 31}) {
            step = s;
            if (span / s <= most) break;
        }
        for (double d = from; d <= to; d += step) {
            ticks.emplace_back(d, DateText(CivilDay::FromSerial(static_cast<int>(d))));
        }
        return ticks;
    }
    int months = 1;
    for (int m : {1, 2, 3, 6, 12, 24, 60, 120}) {
        months = m;
        if (span / 30.4 / m <= most) break;
    }
    const CivilDay start = CivilDay::FromSerial(static_cast<int>(from));
    // Ticks fall on months that are multiples of the step: January, April,
    // July and October for quarters.
    const int aligned = months >= 12 ? 1 : (start.Month - 1) / months * months + 1;
    const auto monthsLater = [months](const CivilDay& first) {
        const int index = first.Month - 1 + months;
        return CivilDay{first.Year + index / 12, index % 12 + 1, 1};
    };
    for (CivilDay tick{start.Year, aligned, 1}; tick.Serial() <= to; tick = monthsLater(tick)) {
        const double at = static_cast<double>(tick.Serial());
        if (at < from) continue;
        const QString label = months >= 12 ? QString::number(tick.Year) : DateText(tick).left(7);
        ticks.emplace_back(at, label);
    }
    return ticks;
}

// A value axis over a rectangle of the chart.
struct Axis {
    QRectF rect;
    ChartScale scale;

    double Y(double v) const {
        return rect.bottom() - (v - scale.Low) / (scale.High - scale.Low) * rect.height();
    }
};

// One kind of figure drawn as a line.
struct LineSpec {
    std::function<std::optional<double>(const ChartPoint&)> value;
    QColor colour;
    double width;
};

// Draws the runs of consecutive days that have a figure as lines, with a dot
// on a day alone and on the last day, so that neither is lost.
void DrawLine(QPainter& painter, const ChartSeries& series, const ChartLayout& layout,
              const Axis& axis, const LineSpec& line) {
    painter.setPen(QPen(line.colour, line.width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    QPolygonF run;
    auto dot = [&](QPointF at) {
        painter.save();
        painter.setPen(QPen(Qt::white, 1));
        painter.setBrush(line.colour);
        painter.drawEllipse(at, kDotRadius, kDotRadius);
        painter.restore();
    };
    auto flush = [&] {
        if (run.size() == 1) dot(run.front());
        if (run.size() > 1) painter.drawPolyline(run);
        run.clear();
    };
    std::optional<QPointF> last;
    for (const ChartPoint& p : series.Points) {
        const std::optional<double> v = line.value(p);
        if (!v || !std::isfinite(*v)) {
            flush();
            continue;
        }
        last = QPointF(layout.X(p.Day), axis.Y(*v));
        run << *last;
    }
    flush();
    if (last) dot(*last);
}

void DrawBand(QPainter& painter, const ChartSeries& series, const ChartLayout& layout,
              const Axis& axis) {
    std::vector<const ChartPoint*> run;
    auto flush = [&] {
        if (run.size() > 1) {
            QPolygonF band;
            for (const ChartPoint* p : run)
                band << QPointF(layout.X(p->Day), axis.Y(*p->BandHigh));
            for (auto p = run.rbegin(); p != run.rend(); ++p)
                band << QPointF(layout.X((*p)->Day), axis.Y(*(*p)->BandLow));
            painter.drawPolygon(band);
        }
        run.clear();
    };
    for (const ChartPoint& p : series.Points) {
        if (p.BandLow && p.BandHigh) {
            run.push_back(&p);
        } else {
            flush();
        }
    }
    flush();
}

void DrawMarker(QPainter& painter, ChartMark mark, QPointF at) {
    const double s = kMarkerSize;
    painter.setPen(Qt::NoPen);
    switch (mark) {
        case ChartMark::Up:
            painter.setBrush(kUpColour);
            painter.drawPolygon(QPolygonF{
                {at.x(), at.y() - s}, {at.x() - s, at.y() + s}, {at.x() + s, at.y() + s}});
            break;
        case ChartMark::Down:
            painter.setBrush(kDownColour);
            painter.drawPolygon(QPolygonF{
                {at.x(), at.y() + s}, {at.x() - s, at.y() - s}, {at.x() + s, at.y() - s}});
            break;
        case ChartMark::Saved:
            painter.setBrush(kSavedColour);
            painter.drawEllipse(at, s - 1, s - 1);
            break;
        case ChartMark::None:
            break;
    }
}

struct LegendEntry {
    QString text;
    int kind;  // 0 line, 1 band, 2 marker
    QColor colour;
    ChartMark mark;
};

std::vector<LegendEntry> LegendEntries(const ChartOptions& options) {
    std::vector<LegendEntry> entries = {
        {QStringLiteral("IV30"), 0, kIvColour, ChartMark::None},
        {QStringLiteral("IV30 52-week high-low"), 1, kBandColour, ChartMark::None},
        {QStringLiteral("HV20"), 0, kHvColour, ChartMark::None},
        {QStringLiteral("Last sale (right axis)"), 0, kLastColour, ChartMark::None},
    };
    if (options.IvRank) {
        entries.push_back(
            {QStringLiteral("IV rank, 52 weeks (lower panel)"), 0, kRankColour, ChartMark::None});
    }
    entries.push_back({QStringLiteral("Saved UP"), 2, kUpColour, ChartMark::Up});
    entries.push_back({QStringLiteral("Saved DOWN"), 2, kDownColour, ChartMark::Down});
    entries.push_back({QStringLiteral("Saved"), 2, kSavedColour, ChartMark::Saved});
    return entries;
}

// The sample before an entry's text and the room after it.
constexpr int kLegendSample = 30;
constexpr int kLegendGap = 18;

// Lays the legend's entries out in rows that fit `width`: the left x of each
// entry and its row.
std::vector<std::pair<double, int>> LegendPlaces(const std::vector<LegendEntry>& entries,
                                                 const QFontMetrics& metrics, double width) {
    std::vector<std::pair<double, int>> places;
    double x = 0;
    int row = 0;
    for (const LegendEntry& e : entries) {
        const double w = kLegendSample + metrics.horizontalAdvance(e.text);
        if (x > 0 && x + w > width) {
            x = 0;
            ++row;
        }
        places.emplace_back(x, row);
        x += w + kLegendGap;
    }
    return places;
}

// The legend in its own strip above the plot, so that it covers no figure;
// each row centred.
void DrawLegend(QPainter& painter, const QRectF& box, const ChartOptions& options) {
    const std::vector<LegendEntry> entries = LegendEntries(options);
    const QFontMetrics metrics = painter.fontMetrics();
    const std::vector<std::pair<double, int>> places = LegendPlaces(entries, metrics, box.width());
    const int line = metrics.height();
    std::vector<double> rowWidths(entries.empty() ? 0 : places.back().second + 1, 0.0);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        rowWidths[places[i].second] =
            places[i].first + kLegendSample + metrics.horizontalAdvance(entries[i].text);
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const LegendEntry& e = entries[i];
        const double x =
            box.left() + (box.width() - rowWidths[places[i].second]) / 2 + places[i].first;
        const double y = box.top() + line * (places[i].second + 0.5);
        if (e.kind == 0) {
            painter.setPen(QPen(e.colour, 2));
            painter.drawLine(QPointF(x, y), QPointF(x + 22, y));
        } else if (e.kind == 1) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(e.colour);
            painter.drawRect(QRectF(x, y - 4, 22, 8));
        } else {
            DrawMarker(painter, e.mark, QPointF(x + 11, y));
        }
        painter.setPen(Qt::black);
        painter.drawText(QPointF(x + kLegendSample - 4, y + metrics.ascent() / 2.0 - 1), e.text);
    }
}

// The axis of the last sale: round ticks around every recorded last sale, at
// least kLeastPriceSpan of its level high.
ChartScale PriceScale(const ChartSeries& series) {
    double lo = HUGE_VAL, hi = -HUGE_VAL;
    for (const ChartPoint& p : series.Points) {
        if (p.Last && std::isfinite(*p.Last)) {
            lo = std::min(lo, *p.Last);
            hi = std::max(hi, *p.Last);
        }
    }
    if (lo > hi) lo = 0, hi = 1;
    const double least = (lo + hi) / 2 * kLeastPriceSpan;
    if (hi - lo < least) {
        const double mid = (lo + hi) / 2;
        lo = std::max(0.0, mid - least / 2);
        hi = lo + least;
    }
    return NiceScale(lo, hi);
}

// Tick marks, their texts on the left and the grid of a value axis.
void DrawLeftTicks(QPainter& painter, const QRect& area, const Axis& axis, const QColor& colour) {
    for (std::size_t i = 0; i < axis.scale.Ticks.size(); ++i) {
        const double y = axis.Y(axis.scale.Ticks[i]);
        painter.setPen(QPen(kGridColour, 1));
        painter.drawLine(QPointF(axis.rect.left(), y), QPointF(axis.rect.right(), y));
        painter.setPen(colour);
        painter.drawText(QRectF(area.left(), y - 10, kLeftMargin - 6, 20),
                         Qt::AlignRight | Qt::AlignVCenter,
                         QString::fromStdString(axis.scale.Labels[i]));
    }
}

// Tick marks and their texts right of the plot, for the last sale.
void DrawRightTicks(QPainter& painter, const QRectF& plot, const Axis& axis) {
    painter.setPen(kLastColour);
    for (std::size_t i = 0; i < axis.scale.Ticks.size(); ++i) {
        const double y = axis.Y(axis.scale.Ticks[i]);
        painter.drawLine(QPointF(plot.right(), y), QPointF(plot.right() + 4, y));
        painter.drawText(QRectF(plot.right() + 6, y - 10, kRightMargin - 8, 20),
                         Qt::AlignLeft | Qt::AlignVCenter,
                         QString::fromStdString(axis.scale.Labels[i]));
    }
}

// The axes of a chart: volatility on the left, the last sale on the right,
// IV rank on the left of its panel.
struct ChartAxes {
    Axis volatility;
    Axis price;
    Axis rank;
};

// The title and the last day's figures above the legend.
void DrawHeading(QPainter& painter, const ChartLayout& layout, const ChartSeries& series,
                 const QString& symbol, const ChartOptions& options) {
    QFont titleFont = painter.font();
    titleFont.setBold(true);
    painter.setFont(titleFont);
    painter.setPen(Qt::black);
    painter.drawText(
        layout.Title, Qt::AlignCenter,
        QStringLiteral("%1: %2, %3 to %4")
            .arg(symbol,
                 ChartCount(static_cast<qlonglong>(series.Points.size()), "recorded day",
                            "recorded days"),
                 ChartDayText(series.Points.front().Day), ChartDayText(series.Points.back().Day)));
    titleFont.setBold(false);
    painter.setFont(titleFont);
    painter.drawText(layout.Readout, Qt::AlignCenter,
                     QStringLiteral("Last day ") + QString::fromLatin1(LastDayText(series)));
    DrawLegend(painter, layout.Legend, options);
}

// The bottom of the lowest panel, where the dates go.
double DateLine(const ChartLayout& layout, const ChartOptions& options) {
    return options.IvRank ? layout.RankPanel.bottom() : layout.Plot.bottom();
}

// The value axes' ticks and grid, the date axis, and the frames of the plot
// and the IV rank panel.
void DrawAxes(QPainter& painter, const QRect& area, const ChartSeries& series,
              const ChartLayout& layout, const ChartAxes& axes, const ChartOptions& options) {
    const QRectF& plot = layout.Plot;
    const QFontMetrics metrics = painter.fontMetrics();
    const double dateLine = DateLine(layout, options);
    DrawLeftTicks(painter, area, axes.volatility, kIvColour);
    DrawRightTicks(painter, plot, axes.price);
    if (options.IvRank) DrawLeftTicks(painter, area, axes.rank, kRankColour);
    for (const auto& [serial, label] :
         DateTicks(SerialOf(series.Points.front().Day), SerialOf(series.Points.back().Day),
                   static_cast<int>(plot.width()))) {
        const double x = layout.XAt(serial);
        painter.setPen(QPen(kGridColour, 1));
        painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        if (options.IvRank) {
            painter.drawLine(QPointF(x, layout.RankPanel.top()),
                             QPointF(x, layout.RankPanel.bottom()));
        }
        painter.setPen(Qt::black);
        painter.drawLine(QPointF(x, dateLine), QPointF(x, dateLine + 4));
        const int w = metrics.horizontalAdvance(label);
        painter.drawText(QPointF(x - w / 2.0, dateLine + 6 + metrics.ascent()), label);
    }
    painter.setPen(Qt::black);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(plot);
    if (options.IvRank) painter.drawRect(layout.RankPanel);
}

// `text` turned to run upwards, centred on the height `centreY`, its
// baseline at `x`.
void DrawTurnedTitle(QPainter& painter, const QColor& colour, double x, double centreY,
                     const QString& text) {
    painter.save();
    painter.setPen(colour);
    painter.translate(x, centreY);
    painter.rotate(-90);
    painter.drawText(QPointF(-painter.fontMetrics().horizontalAdvance(text) / 2.0, 0), text);
    painter.restore();
}

void DrawAxisTitles(QPainter& painter, const QRect& area, const ChartLayout& layout,
                    const ChartOptions& options) {
    const QRectF& plot = layout.Plot;
    const QFontMetrics metrics = painter.fontMetrics();
    const double left = area.left() + 4 + metrics.ascent();
    DrawTurnedTitle(painter, kIvColour, left, plot.center().y(), QStringLiteral("Volatility (%)"));
    if (options.IvRank) {
        DrawTurnedTitle(painter, kRankColour, left, layout.RankPanel.center().y(),
                        QStringLiteral("IV rank"));
    }
    DrawTurnedTitle(painter, kLastColour, area.right() - 4, plot.center().y(),
                    QStringLiteral("Last sale ($)"));
    painter.drawText(QRectF(plot.left(), DateLine(layout, options) + 6 + metrics.height(),
                            plot.width(), metrics.height()),
                     Qt::AlignCenter, QStringLiteral("Recorded date"));
}

// The series, inside the plot, and IV rank inside its panel.
void DrawFigures(QPainter& painter, const ChartSeries& series, const ChartLayout& layout,
                 const ChartAxes& axes, const ChartOptions& options) {
    const QRectF& plot = layout.Plot;
    painter.save();
    painter.setClipRect(
        plot.adjusted(-kMarkerSize - 1, -kMarkerSize - 1, kMarkerSize + 1, kMarkerSize + 1));
    painter.setPen(Qt::NoPen);
    painter.setBrush(kBandColour);
    DrawBand(painter, series, layout, axes.volatility);
    DrawLine(painter, series, layout, axes.price,
             {[](const ChartPoint& p) { return p.Last; }, kLastColour, 1.2});
    DrawLine(painter, series, layout, axes.volatility,
             {[](const ChartPoint& p) { return p.Hv20; }, kHvColour, 1.6});
    DrawLine(painter, series, layout, axes.volatility,
             {[](const ChartPoint& p) { return p.Iv30; }, kIvColour, 2.2});
    // A saved day's marker sits on its last sale, or on the date axis
    // without one.
    for (const ChartPoint& p : series.Points) {
        if (p.Mark == ChartMark::None) continue;
        const double y = p.Last ? axes.price.Y(*p.Last) : plot.bottom() - kMarkerSize;
        DrawMarker(painter, p.Mark, QPointF(layout.X(p.Day), y));
    }
    painter.restore();
    if (options.IvRank) {
        painter.save();
        painter.setClipRect(layout.RankPanel.adjusted(-kDotRadius - 1, -kDotRadius - 1,
                                                      kDotRadius + 1, kDotRadius + 1));
        DrawLine(painter, series, layout, axes.rank,
                 {[](const ChartPoint& p) { return p.Standing.Rank; }, kRankColour, 1.6});
        painter.restore();
    }
}

}  // namespace

ChartScale VolatilityScale(const ChartSeries& series) {
    double lo = HUGE_VAL, hi = -HUGE_VAL;
    for (const ChartPoint& p : series.Points) {
        for (const std::optional<double>& v : {p.Iv30, p.BandLow, p.BandHigh, p.Hv20}) {
            if (v && std::isfinite(*v)) {
                lo = std::min(lo, *v);
                hi = std::max(hi, *v);
            }
        }
    }
    if (lo > hi) return NiceScale(0, 100);
    // A nearly flat series is drawn flat: a change of a few hundredths of a
    // point must not fill the height and read as a jump.
    if (hi - lo < kChartLeastVolatilitySpan) {
        const double mid = (lo + hi) / 2;
        lo = std::max(0.0, mid - kChartLeastVolatilitySpan / 2);
        hi = lo + kChartLeastVolatilitySpan;
    }
    // Volatility starts at 0 unless the figures lie far above it.
    if (lo > 0 && lo < (hi - lo)) lo = 0;
    return NiceScale(lo, hi);
}

double ChartLayout::XAt(double serial) const {
    const double inner = std::max(1.0, Plot.width() - 2 * Inset);
    return Plot.left() + Inset + (serial - From) / (To - From) * inner;
}

double ChartLayout::X(HistoryDay day) const {
    return XAt(SerialOf(day));
}

ChartLayout LayOutChart(const QRect& area, const ChartSeries& series, const ChartOptions& options,
                        const QFontMetrics& metrics) {
    ChartLayout layout;
    const int line = metrics.height();
    const double left = area.left() + kLeftMargin;
    const double width = std::max(40, area.width() - kLeftMargin - kRightMargin);
    double y = area.top() + 4;
    layout.Title = QRectF(area.left(), y, area.width(), line + 4);
    y += line + 4;
    layout.Readout = QRectF(area.left(), y, area.width(), line + 2);
    y += line + 6;
    const QRectF legend(area.left() + 8, y, std::max(40, area.width() - 16), 0);
    const std::vector<std::pair<double, int>> places =
        LegendPlaces(LegendEntries(options), metrics, legend.width());
    const int rows = places.empty() ? 0 : places.back().second + 1;
    layout.Legend = QRectF(legend.left(), y, legend.width(), line * rows);
    y += line * rows + 8;
    const double bottom = area.bottom() + 1 - kBottomMargin;
    const double room = std::max(80.0, bottom - y);
    double plotHeight = room;
    if (options.IvRank) {
        const double panel = std::max<double>(kRankLeastHeight, room * kRankShare);
        plotHeight = std::max(40.0, room - panel - kRankGap);
        layout.RankPanel = QRectF(left, y + plotHeight + kRankGap, width, panel);
    }
    layout.Plot = QRectF(left, y, width, plotHeight);
    layout.Inset = kPlotInset;
    if (!series.Empty()) {
        layout.From = SerialOf(series.Points.front().Day);
        layout.To = SerialOf(series.Points.back().Day);
    }
    if (layout.To <= layout.From) {  // one day: a week either side
        layout.From -= 7;
        layout.To += 7;
    }
    return layout;
}

void PaintChart(QPainter& painter, const QRect& area, const ChartSeries& series,
                const QString& symbol, const ChartOptions& options) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(area, Qt::white);
    if (series.Empty()) {
        painter.restore();
        return;
    }
    const ChartLayout layout = LayOutChart(area, series, options, painter.fontMetrics());
    const ChartAxes axes{
        {layout.Plot, VolatilityScale(series)},
        {layout.Plot, PriceScale(series)},
        {layout.RankPanel, ChartScale{0, 100, 50, {0, 50, 100}, {"0", "50", "100"}}}};
    DrawHeading(painter, layout, series, symbol, options);
    DrawAxes(painter, area, series, layout, axes, options);
    DrawAxisTitles(painter, area, layout, options);
    DrawFigures(painter, series, layout, axes, options);
    painter.restore();
}

}  // namespace quillon
