#include "ui/chart_form.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <optional>
#include <utility>
#include <vector>

#include "history/history_store.h"
#include "ui/qt/qt_services.h"

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
// The PNG is never smaller than this, whatever the window's size.
constexpr int kPngWidth = 960;
constexpr int kPngHeight = 560;

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

QString DayText(HistoryDay day) {
    return QString::fromLatin1(HistoryDayText(day));
}

// "1 day", "1,260 days".
QString Counted(qlonglong count, const char* one, const char* many) {
    return QLocale(QLocale::English).toString(count) + QLatin1Char(' ') +
           QString::fromLatin1(count == 1 ? one : many);
}

// A value range with round tick marks.
ChartScale NiceScale(double low, double high, int ticks) {
    if (!(high > low)) {
        const double pad = std::max(1.0, std::fabs(low) * 0.05);
        low -= pad;
        high += pad;
    }
    const double rough = (high - low) / ticks;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    double step = 10 * power;
    for (double f : {1.0, 2.0, 2.5, 5.0}) {
        if (f * power >= rough) {
            step = f * power;
            break;
        }
    }
    return {std::floor(low / step) * step, std::ceil(high / step) * step, step};
}

QString TickText(double value, double step) {
    const int decimals =
        step >= 1 ? 0 : std::min(4, static_cast<int>(std::ceil(-std::log10(step))));
    return QString::number(value, 'f', decimals);
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
    return NiceScale(lo, hi, 6);
}

// Tick marks, their texts on the left and the grid of a value axis.
void DrawLeftTicks(QPainter& painter, const QRect& area, const Axis& axis, const QColor& colour) {
    for (double v = axis.scale.Low; v <= axis.scale.High + axis.scale.Step / 2;
         v += axis.scale.Step) {
        const double y = axis.Y(v);
        painter.setPen(QPen(kGridColour, 1));
        painter.drawLine(QPointF(axis.rect.left(), y), QPointF(axis.rect.right(), y));
        painter.setPen(colour);
        painter.drawText(QRectF(area.left(), y - 10, kLeftMargin - 6, 20),
                         Qt::AlignRight | Qt::AlignVCenter, TickText(v, axis.scale.Step));
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
    if (lo > hi) return NiceScale(0, 100, 6);
    // A nearly flat series is drawn flat: a change of a few hundredths of a
    // point must not fill the height and read as a jump.
    if (hi - lo < kChartLeastVolatilitySpan) {
        const double mid = (lo + hi) / 2;
        lo = std::max(0.0, mid - kChartLeastVolatilitySpan / 2);
        hi = lo + kChartLeastVolatilitySpan;
    }
    // Volatility starts at 0 unless the figures lie far above it.
    if (lo > 0 && lo < (hi - lo)) lo = 0;
    return NiceScale(lo, hi, 6);
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
    const HistoryDay first = series.Points.front().Day, last = series.Points.back().Day;
    const QFontMetrics metrics = painter.fontMetrics();
    const ChartLayout layout = LayOutChart(area, series, options, metrics);
    const QRectF& plot = layout.Plot;
    const Axis volatility{plot, VolatilityScale(series)};
    const Axis price{plot, PriceScale(series)};
    const Axis rank{layout.RankPanel, ChartScale{0, 100, 50}};
    // The bottom of the lowest panel, where the dates go.
    const double dateLine = options.IvRank ? layout.RankPanel.bottom() : plot.bottom();

    // Title and the last day's figures.
    QFont titleFont = painter.font();
    titleFont.setBold(true);
    painter.setFont(titleFont);
    painter.setPen(Qt::black);
    painter.drawText(layout.Title, Qt::AlignCenter,
                     QStringLiteral("%1: %2, %3 to %4")
                         .arg(symbol,
                              Counted(static_cast<qlonglong>(series.Points.size()), "recorded day",
                                      "recorded days"),
                              DayText(first), DayText(last)));
    titleFont.setBold(false);
    painter.setFont(titleFont);
    painter.drawText(layout.Readout, Qt::AlignCenter,
                     QStringLiteral("Last day ") + QString::fromLatin1(LastDayText(series)));
    DrawLegend(painter, layout.Legend, options);

    // Grid and value axes.
    DrawLeftTicks(painter, area, volatility, kIvColour);
    painter.setPen(kLastColour);
    for (double v = price.scale.Low; v <= price.scale.High + price.scale.Step / 2;
         v += price.scale.Step) {
        const double y = price.Y(v);
        painter.drawLine(QPointF(plot.right(), y), QPointF(plot.right() + 4, y));
        painter.drawText(QRectF(plot.right() + 6, y - 10, kRightMargin - 8, 20),
                         Qt::AlignLeft | Qt::AlignVCenter, TickText(v, price.scale.Step));
    }
    if (options.IvRank) DrawLeftTicks(painter, area, rank, kRankColour);
    // Date axis.
    for (const auto& [serial, label] :
         DateTicks(SerialOf(first), SerialOf(last), static_cast<int>(plot.width()))) {
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

    // Axis titles.
    painter.save();
    painter.setPen(kIvColour);
    painter.translate(area.left() + 4 + metrics.ascent(), plot.center().y());
    painter.rotate(-90);
    const QString leftTitle = QStringLiteral("Volatility (%)");
    painter.drawText(QPointF(-metrics.horizontalAdvance(leftTitle) / 2.0, 0), leftTitle);
    painter.restore();
    if (options.IvRank) {
        painter.save();
        painter.setPen(kRankColour);
        painter.translate(area.left() + 4 + metrics.ascent(), layout.RankPanel.center().y());
        painter.rotate(-90);
        const QString rankTitle = QStringLiteral("IV rank");
        painter.drawText(QPointF(-metrics.horizontalAdvance(rankTitle) / 2.0, 0), rankTitle);
        painter.restore();
    }
    painter.save();
    painter.setPen(kLastColour);
    painter.translate(area.right() - 4, plot.center().y());
    painter.rotate(-90);
    const QString rightTitle = QStringLiteral("Last sale ($)");
    painter.drawText(QPointF(-metrics.horizontalAdvance(rightTitle) / 2.0, 0), rightTitle);
    painter.restore();
    painter.drawText(
        QRectF(plot.left(), dateLine + 6 + metrics.height(), plot.width(), metrics.height()),
        Qt::AlignCenter, QStringLiteral("Recorded date"));

    // The series, inside the plot.
    painter.save();
    painter.setClipRect(
        plot.adjusted(-kMarkerSize - 1, -kMarkerSize - 1, kMarkerSize + 1, kMarkerSize + 1));
    painter.setPen(Qt::NoPen);
    painter.setBrush(kBandColour);
    DrawBand(painter, series, layout, volatility);
    DrawLine(painter, series, layout, price,
             {[](const ChartPoint& p) { return p.Last; }, kLastColour, 1.2});
    DrawLine(painter, series, layout, volatility,
             {[](const ChartPoint& p) { return p.Hv20; }, kHvColour, 1.6});
    DrawLine(painter, series, layout, volatility,
             {[](const ChartPoint& p) { return p.Iv30; }, kIvColour, 2.2});
    // A saved day's marker sits on its last sale, or on the date axis
    // without one.
    for (const ChartPoint& p : series.Points) {
        if (p.Mark == ChartMark::None) continue;
        const double y = p.Last ? price.Y(*p.Last) : plot.bottom() - kMarkerSize;
        DrawMarker(painter, p.Mark, QPointF(layout.X(p.Day), y));
    }
    painter.restore();
    if (options.IvRank) {
        painter.save();
        painter.setClipRect(layout.RankPanel.adjusted(-kDotRadius - 1, -kDotRadius - 1,
                                                      kDotRadius + 1, kDotRadius + 1));
        DrawLine(painter, series, layout, rank,
                 {[](const ChartPoint& p) { return p.Standing.Rank; }, kRankColour, 1.6});
        painter.restore();
    }
    painter.restore();
}

// ---------------------------------------------------------------- TChartView

TChartView::TChartView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("ChartView"));
    setMinimumSize(480, 300);
}

void TChartView::SetSeries(const ChartSeries* series, const QString& symbol) {
    series_ = series;
    symbol_ = symbol;
    update();
}

void TChartView::SetOptions(const ChartOptions& options) {
    options_ = options;
    update();
}

void TChartView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (series_) {
        PaintChart(painter, rect(), *series_, symbol_, options_);
    } else {
        painter.fillRect(rect(), Qt::white);
    }
}

// ---------------------------------------------------------------- TChartForm

TChartForm::TChartForm(const std::string& historyFile, const std::string& symbol, QWidget* parent)
    : QDialog(parent), historyFile_(historyFile) {
    setObjectName(QStringLiteral("ChartForm"));
    setWindowTitle(QStringLiteral("Chart"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);

    auto* symbolLabel = new QLabel(QStringLiteral("&Symbol:"), this);
    SymbolField_ = new QComboBox(this);
    SymbolField_->setObjectName(QStringLiteral("SymbolField"));
    SymbolField_->setEditable(true);
    SymbolField_->setInsertPolicy(QComboBox::NoInsert);
    SymbolField_->setMinimumContentsLength(10);
    symbolLabel->setBuddy(SymbolField_);
    PB_Show_ = new QPushButton(QStringLiteral("Show"), this);
    PB_Show_->setObjectName(QStringLiteral("PB_Show"));
    PB_Show_->setDefault(true);
    PB_SavePng_ = new QPushButton(QStringLiteral("Save as PNG..."), this);
    PB_SavePng_->setObjectName(QStringLiteral("PB_SavePng"));
    PB_SavePng_->setAutoDefault(false);
    PB_SavePng_->setEnabled(false);
    CK_IvRank_ = new QCheckBox(QStringLiteral("IV &rank"), this);
    CK_IvRank_->setObjectName(QStringLiteral("CK_IvRank"));
    CK_IvRank_->setToolTip(
        QStringLiteral("Draw IV rank over 52 weeks in a panel below the volatilities"));
    Summary_ = new QLabel(this);
    Summary_->setObjectName(QStringLiteral("Summary"));
    Summary_->setTextFormat(Qt::PlainText);

    auto* top = new QHBoxLayout;
    top->addWidget(symbolLabel);
    top->addWidget(SymbolField_);
    top->addWidget(PB_Show_);
    top->addWidget(Summary_, 1);
    top->addWidget(CK_IvRank_);
    top->addWidget(PB_SavePng_);

    Message_ = new QLabel(this);
    Message_->setObjectName(QStringLiteral("Message"));
    Message_->setTextFormat(Qt::PlainText);
    Message_->setAlignment(Qt::AlignCenter);
    Message_->setWordWrap(true);
    Message_->setMinimumSize(480, 300);
    View_ = new TChartView(this);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(View_, 1);
    layout->addWidget(Message_, 1);
    resize(900, 560);

    ChooseSaveFile = [](QWidget* owner, const QString& suggested) {
        return QFileDialog::getSaveFileName(owner, QStringLiteral("Save the chart as PNG"),
                                            suggested, QStringLiteral("PNG images (*.png)"));
    };
    connect(PB_Show_, &QPushButton::clicked, this, [this] { ShowClick(); });
    connect(SymbolField_->lineEdit(), &QLineEdit::returnPressed, this, [this] { ShowClick(); });
    connect(SymbolField_, &QComboBox::activated, this, [this] { ShowClick(); });
    connect(PB_SavePng_, &QPushButton::clicked, this, [this] { SaveClick(); });
    connect(CK_IvRank_, &QCheckBox::toggled, this, [this] { View_->SetOptions(Options()); });

    FillSymbols();
    if (symbol.empty()) {
        View_->hide();
        Message_->setText(QStringLiteral("Type a symbol and press Show."));
        SymbolField_->setFocus();
    } else {
        ShowSymbol(symbol);
    }
}

TChartForm::~TChartForm() {
    disconnect(SymbolField_, nullptr, this, nullptr);
    disconnect(SymbolField_->lineEdit(), nullptr, this, nullptr);
}

void TChartForm::FillSymbols() {
    std::error_code ignored;
    if (!std::filesystem::is_regular_file(historyFile_, ignored)) return;
    HistoryStore store;
    if (!store.OpenForReading(historyFile_)) return;
    for (const std::string& s : store.Symbols())
        SymbolField_->addItem(ToQt(s));
    SymbolField_->setCurrentIndex(-1);
}

bool TChartForm::ShowSymbol(const std::string& typed) {
    // Symbols are recorded in capitals; a typed "ibm" means IBM.
    symbol_ = FromQt(ToQt(typed).trimmed().toUpper());
    SymbolField_->setEditText(ToQt(symbol_));
    setWindowTitle(symbol_.empty() ? QStringLiteral("Chart")
                                   : QStringLiteral("Chart - ") + ToQt(symbol_));
    std::string error;
    QString message;
    if (symbol_.empty()) {
        series_ = ChartSeries();
        message = QStringLiteral("Type a symbol and press Show.");
    } else if (!LoadChartSeries(historyFile_, symbol_, series_, error)) {
        message = QStringLiteral("The history cannot be read: %1").arg(ToQt(error));
    } else if (series_.Empty()) {
        message = QStringLiteral("No history for %1: no pass or import has recorded it in %2.")
                      .arg(ToQt(symbol_), ToQt(historyFile_));
    }
    View_->SetSeries(&series_, ToQt(symbol_));
    PB_SavePng_->setEnabled(!series_.Empty());
    if (series_.Empty()) {
        Summary_->clear();
        Message_->setText(message);
        View_->hide();
        Message_->show();
        return false;
    }
    const QLocale locale(QLocale::English);
    Summary_->setText(
        QStringLiteral("%1 from %2 to %3: IV30 on %4, saved on %5")
            .arg(Counted(static_cast<qlonglong>(series_.Points.size()), "day", "days"),
                 DayText(series_.Points.front().Day), DayText(series_.Points.back().Day),
                 locale.toString(series_.Iv30Days()), locale.toString(series_.MarkedDays())));
    Message_->hide();
    View_->show();
    return true;
}

bool TChartForm::SaveAsPng(const QString& file) {
    if (series_.Empty()) return false;
    QImage image(std::max(kPngWidth, View_->width()), std::max(kPngHeight, View_->height()),
                 QImage::Format_RGB32);
    {
        QPainter painter(&image);
        PaintChart(painter, image.rect(), series_, ToQt(symbol_), Options());
    }
    return image.save(file, "PNG");
}

ChartOptions TChartForm::Options() const {
    ChartOptions options;
    options.IvRank = CK_IvRank_->isChecked();
    return options;
}

void TChartForm::ShowClick() {
    ShowSymbol(FromQt(SymbolField_->currentText()));
}

void TChartForm::SaveClick() {
    if (series_.Empty() || !ChooseSaveFile) return;
    const std::filesystem::path directory = std::filesystem::path(historyFile_).parent_path();
    const QString suggested = ToQt((directory / (symbol_ + "-chart.png")).string());
    const QString file = ChooseSaveFile(this, suggested);
    if (!file.isEmpty() && !SaveAsPng(file)) {
        QMessageBox::warning(this, QStringLiteral("Chart"),
                             QStringLiteral("The chart could not be saved as %1.").arg(file));
    }
}

TChartForm* OpenChartWindow(QWidget* parent, const std::string& workingDirectory,
                            const std::string& symbol) {
    const std::string file =
        workingDirectory.empty() ? std::string("History.db") : workingDirectory + "/History.db";
    auto* form = new TChartForm(file, symbol, parent);
    form->setAttribute(Qt::WA_DeleteOnClose);
    form->show();
    form->raise();
    form->activateWindow();
    return form;
}

}  // namespace quillon
