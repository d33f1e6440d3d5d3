#include "ui/chart_form.h"

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
#include <chrono>
#include <cmath>
#include <filesystem>
#include <optional>
#include <utility>
#include <vector>

#include "history/history_store.h"
#include "platform/qt/qt_services.h"

namespace quillon {

namespace {

constexpr int kLeftMargin = 64;
constexpr int kRightMargin = 72;
constexpr int kTopMargin = 34;
constexpr int kBottomMargin = 44;
// Fewest pixels between two date labels.
constexpr int kDateLabelRoom = 80;
constexpr int kMarkerSize = 5;
// The PNG is never smaller than this, whatever the window's size.
constexpr int kPngWidth = 960;
constexpr int kPngHeight = 560;

const QColor kIvColour(0, 70, 200);
const QColor kBandColour(190, 210, 250);
const QColor kHvColour(230, 120, 0);
const QColor kLastColour(80, 80, 80);
const QColor kUpColour(0, 150, 0);
const QColor kDownColour(210, 0, 0);
const QColor kSavedColour(130, 0, 170);
const QColor kGridColour(225, 225, 225);

using std::chrono::days;
using std::chrono::sys_days;
using std::chrono::year_month_day;

year_month_day DateOf(HistoryDay day) {
    return year_month_day{std::chrono::year{day / 10000},
                          std::chrono::month{static_cast<unsigned>(day / 100 % 100)},
                          std::chrono::day{static_cast<unsigned>(day % 100)}};
}

// Days since 1970-01-01: dates are placed by the calendar, so a gap in the
// recording shows as one.
double SerialOf(HistoryDay day) {
    return static_cast<double>(sys_days{DateOf(day)}.time_since_epoch().count());
}

QString DateText(const year_month_day& d) {
    return QStringLiteral("%1-%2-%3")
        .arg(static_cast<int>(d.year()))
        .arg(static_cast<unsigned>(d.month()), 2, 10, QLatin1Char('0'))
        .arg(static_cast<unsigned>(d.day()), 2, 10, QLatin1Char('0'));
}

QString DayText(HistoryDay day) {
    return DateText(DateOf(day));
}

// A value range with round tick marks.
struct Scale {
    double Low = 0, High = 1, Step = 1;
};

Scale NiceScale(double low, double high, int ticks) {
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

// The date ticks between `first` and `last`: the first of every k-th month
// over long spans, every k-th day over short ones, no closer than the labels
// allow.
std::vector<std::pair<double, QString>> DateTicks(HistoryDay first, HistoryDay last, int width) {
    std::vector<std::pair<double, QString>> ticks;
    const double from = SerialOf(first), to = SerialOf(last);
    const int most = std::max(2, width / kDateLabelRoom);
    const double span = to - from;
    if (span <= 62) {
        int step = 1;
        for (int s : {1, 2, 7, 14, 31}) {
            step = s;
            if (span / s <= most) break;
        }
        for (double d = from; d <= to; d += step) {
            ticks.emplace_back(d, DateText(year_month_day{sys_days{days{static_cast<int>(d)}}}));
        }
        return ticks;
    }
    int months = 1;
    for (int m : {1, 2, 3, 6, 12, 24, 60, 120}) {
        months = m;
        if (span / 30.4 / m <= most) break;
    }
    const year_month_day start = DateOf(first);
    // Ticks fall on months that are multiples of the step: January, April,
    // July and October for quarters.
    const unsigned month = static_cast<unsigned>(start.month());
    const unsigned aligned = months >= 12 ? 1 : (month - 1) / months * months + 1;
    year_month_day tick{start.year(), std::chrono::month{aligned}, std::chrono::day{1}};
    for (; static_cast<double>(sys_days{tick}.time_since_epoch().count()) <= to;
         tick += std::chrono::months{months}) {
        const double at = static_cast<double>(sys_days{tick}.time_since_epoch().count());
        if (at < from) continue;
        const QString label =
            months >= 12 ? QString::number(static_cast<int>(tick.year())) : DateText(tick).left(7);
        ticks.emplace_back(at, label);
    }
    return ticks;
}

// Where a figure goes on the chart.
struct Mapping {
    QRectF plot;
    double from = 0, to = 1;
    Scale left, right;

    double X(double serial) const {
        return plot.left() + (serial - from) / (to - from) * plot.width();
    }
    double YLeft(double v) const {
        return plot.bottom() - (v - left.Low) / (left.High - left.Low) * plot.height();
    }
    double YRight(double v) const {
        return plot.bottom() - (v - right.Low) / (right.High - right.Low) * plot.height();
    }
};

// Draws the runs of consecutive days that have a figure as lines; a run of
// one day as a dot.
void DrawLine(QPainter& painter, const ChartSeries& series, const Mapping& map,
              const std::function<std::optional<double>(const ChartPoint&)>& value,
              bool rightAxis) {
    QPolygonF run;
    auto flush = [&] {
        if (run.size() == 1) painter.drawPoint(run.front());
        if (run.size() > 1) painter.drawPolyline(run);
        run.clear();
    };
    for (const ChartPoint& p : series.Points) {
        const std::optional<double> v = value(p);
        if (!v) {
            flush();
            continue;
        }
        run << QPointF(map.X(SerialOf(p.Day)), rightAxis ? map.YRight(*v) : map.YLeft(*v));
    }
    flush();
}

void DrawBand(QPainter& painter, const ChartSeries& series, const Mapping& map) {
    std::vector<const ChartPoint*> run;
    auto flush = [&] {
        if (run.size() > 1) {
            QPolygonF band;
            for (const ChartPoint* p : run)
                band << QPointF(map.X(SerialOf(p->Day)), map.YLeft(*p->BandHigh));
            for (auto p = run.rbegin(); p != run.rend(); ++p)
                band << QPointF(map.X(SerialOf((*p)->Day)), map.YLeft(*(*p)->BandLow));
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

void DrawLegend(QPainter& painter, const QRectF& plot) {
    struct Entry {
        QString text;
        int kind;  // 0 line, 1 band, 2 marker
        QColor colour;
        ChartMark mark;
    };
    const std::vector<Entry> entries = {
        {QStringLiteral("IV30"), 0, kIvColour, ChartMark::None},
        {QStringLiteral("IV30 52-week high-low"), 1, kBandColour, ChartMark::None},
        {QStringLiteral("HV20"), 0, kHvColour, ChartMark::None},
        {QStringLiteral("Last sale (right axis)"), 0, kLastColour, ChartMark::None},
        {QStringLiteral("Saved UP"), 2, kUpColour, ChartMark::Up},
        {QStringLiteral("Saved DOWN"), 2, kDownColour, ChartMark::Down},
        {QStringLiteral("Saved"), 2, kSavedColour, ChartMark::Saved},
    };
    const QFontMetrics metrics = painter.fontMetrics();
    const int line = metrics.height();
    int textWidth = 0;
    for (const Entry& e : entries)
        textWidth = std::max(textWidth, metrics.horizontalAdvance(e.text));
    const QRectF box(plot.left() + 8, plot.top() + 8, textWidth + 40,
                     line * static_cast<int>(entries.size()) + 8);
    painter.setPen(QPen(QColor(160, 160, 160)));
    painter.setBrush(QColor(255, 255, 255, 225));
    painter.drawRect(box);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        const double y = box.top() + 4 + line * (static_cast<double>(i) + 0.5);
        const double x = box.left() + 6;
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
        painter.drawText(QPointF(x + 30, y + metrics.ascent() / 2.0 - 1), e.text);
    }
}

}  // namespace

void PaintChart(QPainter& painter, const QRect& area, const ChartSeries& series,
                const QString& symbol) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(area, Qt::white);
    if (series.Empty()) {
        painter.restore();
        return;
    }
    const HistoryDay first = series.Points.front().Day, last = series.Points.back().Day;

    Mapping map;
    map.plot = QRectF(area.left() + kLeftMargin, area.top() + kTopMargin,
                      std::max(40, area.width() - kLeftMargin - kRightMargin),
                      std::max(40, area.height() - kTopMargin - kBottomMargin));
    map.from = SerialOf(first);
    map.to = SerialOf(last);
    if (map.to <= map.from) {  // one day: a week either side
        map.from -= 7;
        map.to += 7;
    }
    double lo = HUGE_VAL, hi = -HUGE_VAL, lastLo = HUGE_VAL, lastHi = -HUGE_VAL;
    for (const ChartPoint& p : series.Points) {
        for (const std::optional<double>& v : {p.Iv30, p.BandLow, p.BandHigh, p.Hv20}) {
            if (v && std::isfinite(*v)) {
                lo = std::min(lo, *v);
                hi = std::max(hi, *v);
            }
        }
        if (p.Last && std::isfinite(*p.Last)) {
            lastLo = std::min(lastLo, *p.Last);
            lastHi = std::max(lastHi, *p.Last);
        }
    }
    if (lo > hi) lo = 0, hi = 100;
    if (lastLo > lastHi) lastLo = 0, lastHi = 1;
    // Volatility starts at 0 unless the figures lie far above it.
    if (lo > 0 && lo < (hi - lo)) lo = 0;
    map.left = NiceScale(lo, hi, 6);
    map.right = NiceScale(lastLo, lastHi, 6);
    const QRectF& plot = map.plot;

    // Title.
    QFont titleFont = painter.font();
    titleFont.setBold(true);
    painter.setFont(titleFont);
    painter.setPen(Qt::black);
    painter.drawText(
        QRectF(area.left(), area.top() + 4, area.width(), kTopMargin - 8), Qt::AlignCenter,
        QStringLiteral("%1: %2 recorded days, %3 to %4")
            .arg(symbol)
            .arg(QLocale(QLocale::English).toString(static_cast<qlonglong>(series.Points.size())))
            .arg(DayText(first), DayText(last)));
    titleFont.setBold(false);
    painter.setFont(titleFont);
    const QFontMetrics metrics = painter.fontMetrics();

    // Grid and value axes.
    painter.setPen(QPen(kGridColour, 1));
    for (double v = map.left.Low; v <= map.left.High + map.left.Step / 2; v += map.left.Step) {
        const double y = map.YLeft(v);
        painter.setPen(QPen(kGridColour, 1));
        painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        painter.setPen(kIvColour);
        painter.drawText(QRectF(area.left(), y - 10, kLeftMargin - 6, 20),
                         Qt::AlignRight | Qt::AlignVCenter, TickText(v, map.left.Step));
    }
    painter.setPen(kLastColour);
    for (double v = map.right.Low; v <= map.right.High + map.right.Step / 2; v += map.right.Step) {
        const double y = map.YRight(v);
        painter.drawLine(QPointF(plot.right(), y), QPointF(plot.right() + 4, y));
        painter.drawText(QRectF(plot.right() + 6, y - 10, kRightMargin - 8, 20),
                         Qt::AlignLeft | Qt::AlignVCenter, TickText(v, map.right.Step));
    }
    // Date axis.
    for (const auto& [serial, label] : DateTicks(first, last, static_cast<int>(plot.width()))) {
        const double x = map.X(serial);
        painter.setPen(QPen(kGridColour, 1));
        painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        painter.setPen(Qt::black);
        painter.drawLine(QPointF(x, plot.bottom()), QPointF(x, plot.bottom() + 4));
        const int w = metrics.horizontalAdvance(label);
        painter.drawText(QPointF(x - w / 2.0, plot.bottom() + 6 + metrics.ascent()), label);
    }
    painter.setPen(Qt::black);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(plot);

    // Axis titles.
    painter.save();
    painter.setPen(kIvColour);
    painter.translate(area.left() + 4 + metrics.ascent(), plot.center().y());
    painter.rotate(-90);
    const QString leftTitle = QStringLiteral("Volatility (%)");
    painter.drawText(QPointF(-metrics.horizontalAdvance(leftTitle) / 2.0, 0), leftTitle);
    painter.restore();
    painter.save();
    painter.setPen(kLastColour);
    painter.translate(area.right() - 4, plot.center().y());
    painter.rotate(-90);
    const QString rightTitle = QStringLiteral("Last sale ($)");
    painter.drawText(QPointF(-metrics.horizontalAdvance(rightTitle) / 2.0, 0), rightTitle);
    painter.restore();
    painter.drawText(
        QRectF(plot.left(), plot.bottom() + 6 + metrics.height(), plot.width(), metrics.height()),
        Qt::AlignCenter, QStringLiteral("Recorded date"));

    // The series, inside the plot.
    painter.save();
    painter.setClipRect(
        plot.adjusted(-kMarkerSize - 1, -kMarkerSize - 1, kMarkerSize + 1, kMarkerSize + 1));
    painter.setPen(Qt::NoPen);
    painter.setBrush(kBandColour);
    DrawBand(painter, series, map);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(kLastColour, 1.2));
    DrawLine(
        painter, series, map, [](const ChartPoint& p) { return p.Last; }, true);
    painter.setPen(QPen(kHvColour, 1.6));
    DrawLine(
        painter, series, map, [](const ChartPoint& p) { return p.Hv20; }, false);
    painter.setPen(QPen(kIvColour, 2.2, Qt::SolidLine, Qt::RoundCap));
    DrawLine(
        painter, series, map, [](const ChartPoint& p) { return p.Iv30; }, false);
    // A saved day's marker sits on its last sale, or on the date axis
    // without one.
    for (const ChartPoint& p : series.Points) {
        if (p.Mark == ChartMark::None) continue;
        const double y = p.Last ? map.YRight(*p.Last) : plot.bottom() - kMarkerSize;
        DrawMarker(painter, p.Mark, QPointF(map.X(SerialOf(p.Day)), y));
    }
    painter.restore();

    DrawLegend(painter, plot);
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

void TChartView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (series_) {
        PaintChart(painter, rect(), *series_, symbol_);
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
    Summary_ = new QLabel(this);
    Summary_->setObjectName(QStringLiteral("Summary"));
    Summary_->setTextFormat(Qt::PlainText);

    auto* top = new QHBoxLayout;
    top->addWidget(symbolLabel);
    top->addWidget(SymbolField_);
    top->addWidget(PB_Show_);
    top->addWidget(Summary_, 1);
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

    FillSymbols();
    if (symbol.empty()) {
        View_->hide();
        Message_->setText(QStringLiteral("Type a symbol and press Show."));
        SymbolField_->setFocus();
    } else {
        ShowSymbol(symbol);
    }
}

void TChartForm::FillSymbols() {
    std::error_code ignored;
    if (!std::filesystem::is_regular_file(historyFile_, ignored)) return;
    HistoryStore store;
    if (!store.Open(historyFile_)) return;
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
        QStringLiteral("%1 days from %2 to %3: IV30 on %4, saved on %5")
            .arg(locale.toString(static_cast<qlonglong>(series_.Points.size())),
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
        PaintChart(painter, image.rect(), series_, ToQt(symbol_));
    }
    return image.save(file, "PNG");
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
