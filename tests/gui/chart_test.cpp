// The chart window on the offscreen platform: opened for a symbol of a
// made-up History.db it shows the symbol's series and saves it as PNG; for
// a symbol without history, or without a History.db, it says so.
#include <gtest/gtest.h>

#include <cstdlib>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <cmath>
#include <iostream>
#include <memory>
#include <vector>

#include "history/history_store.h"
#include "tests/gui/application.h"
#include "tests/support/temp_dir.h"
#include "ui/chart_form.h"
#include "ui/qt/qt_services.h"

namespace quillon {
namespace {

using testing::TempDir;

// `days` weekdays of ABC from 2021-01-04, with IV30, a last sale and a save
// every 50th day (UP and DOWN in turn); the working directory's History.db.
void RecordHistory(const TempDir& dir, int days) {
    HistoryStore store;
    ASSERT_TRUE(store.Open(dir.File("History.db"))) << store.Error();
    ASSERT_TRUE(store.BeginBatch());
    QDate date(2021, 1, 4);
    for (int n = 0; n < days; date = date.addDays(1)) {
        if (date.dayOfWeek() > 5) continue;
        HistoryRow row;
        row.Symbol = "ABC";
        row.Day = date.year() * 10000 + date.month() * 100 + date.day();
        row.Iv30 = 30 + 10 * std::sin(n / 40.0);
        row.Last = 100 + 20 * std::sin(n / 90.0);
        row.Verdict = n % 50 == 0 ? (n % 100 == 0 ? Verdict::SavedUp : Verdict::SavedDown)
                                  : Verdict::Rejected;
        ASSERT_TRUE(store.Record(row)) << store.Error();
        ++n;
    }
    ASSERT_TRUE(store.CommitBatch());
}

int PixelsOf(const QImage& image, const QColor& colour) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            count += image.pixelColor(x, y) == colour;
    }
    return count;
}

TEST(ChartFormTest, ShowsTheSeriesOfASymbolAndSavesItAsPng) {
    TempDir dir;
    RecordHistory(dir, 1260);  // five years

    QElapsedTimer clock;
    clock.start();
    TChartForm form(dir.File("History.db"), " abc ");  // typed as a user might
    form.show();
    form.repaint();
    std::cout << "chart of 1,260 days opened and drawn in " << clock.elapsed() << " ms\n";

    EXPECT_EQ(form.Symbol(), "ABC");
    EXPECT_EQ(form.Series().Points.size(), 1260u);
    EXPECT_EQ(form.Series().MarkedDays(), 26);  // days 0, 50, ..., 1250
    auto* summary = form.findChild<QLabel*>(QStringLiteral("Summary"));
    ASSERT_NE(summary, nullptr);
    EXPECT_EQ(
        summary->text(),
        QStringLiteral("1,260 days from 2021-01-04 to 2025-10-31: IV30 on 1,260, saved on 26"));
    EXPECT_FALSE(form.findChild<QLabel*>(QStringLiteral("Message"))->isVisible());
    EXPECT_TRUE(form.findChild<QPushButton*>(QStringLiteral("PB_SavePng"))->isEnabled());
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Chart - ABC"));
    if (const char* shots = std::getenv("QUILLON_SCREENSHOT_DIR"))
        form.grab().save(QString::fromLocal8Bit(shots) + "/chart-window.png");

    // The save button asks for the file, then writes it.
    QString asked;
    form.ChooseSaveFile = [&](QWidget*, const QString& suggested) {
        asked = suggested;
        return ToQt(dir.File("abc.png"));
    };
    form.findChild<QPushButton*>(QStringLiteral("PB_SavePng"))->click();
    EXPECT_EQ(asked, ToQt(dir.File("ABC-chart.png")));
    QImage image;
    ASSERT_TRUE(image.load(ToQt(dir.File("abc.png")), "PNG"));
    EXPECT_GE(image.width(), 960);
    EXPECT_GE(image.height(), 560);
    // The IV30 line, the band and the UP and DOWN markers are drawn.
    EXPECT_GT(PixelsOf(image, QColor(0, 70, 200)), 500);
    EXPECT_GT(PixelsOf(image, QColor(190, 210, 250)), 5000);
    EXPECT_GT(PixelsOf(image, QColor(0, 150, 0)), 50);
    EXPECT_GT(PixelsOf(image, QColor(210, 0, 0)), 50);
    // IV rank is drawn when it is asked for, in the window and the PNG alike.
    const QColor rankColour(0, 140, 130);
    EXPECT_EQ(PixelsOf(image, rankColour), 0);
    form.findChild<QCheckBox*>(QStringLiteral("CK_IvRank"))->click();
    ASSERT_TRUE(form.SaveAsPng(ToQt(dir.File("rank.png"))));
    ASSERT_TRUE(image.load(ToQt(dir.File("rank.png")), "PNG"));
    EXPECT_GT(PixelsOf(image, rankColour), 500);
    // A file that cannot be written is refused, not reported as saved.
    EXPECT_FALSE(form.SaveAsPng(ToQt(dir.File("no-such-directory/abc.png"))));
}

TEST(ChartFormTest, SaysWhenThereIsNothingToDraw) {
    TempDir dir;
    struct Case {
        const char* name;
        bool record;
        const char* symbol;
        const char* message;
    } const cases[] = {
        {"unknown symbol", true, "ZZZ", "No history for ZZZ"},
        {"no History.db", false, "ABC", "does not exist"},
        {"no symbol yet", true, "", "Type a symbol"},
    };
    RecordHistory(dir, 30);
    TempDir empty;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TempDir& where = c.record ? dir : empty;
        TChartForm form(where.File("History.db"), c.symbol);
        form.show();
        auto* message = form.findChild<QLabel*>(QStringLiteral("Message"));
        EXPECT_TRUE(message->isVisible());
        EXPECT_TRUE(message->text().contains(QString::fromLatin1(c.message)))
            << FromQt(message->text());
        EXPECT_FALSE(form.findChild<QPushButton*>(QStringLiteral("PB_SavePng"))->isEnabled());
        EXPECT_TRUE(form.Series().Empty());
        EXPECT_FALSE(form.SaveAsPng(ToQt(where.File("x.png"))));
        EXPECT_FALSE(where.Exists("x.png"));
    }
    EXPECT_FALSE(empty.Exists("History.db"));  // looking did not create one
}

// A series of the given IV30 and HV20 figures, a day each from 2021-01-04
// (nothing for NAN).
ChartSeries SeriesOf(const std::vector<double>& ivs, const std::vector<double>& hvs = {}) {
    ChartSeries series;
    QDate date(2021, 1, 4);
    for (std::size_t i = 0; i < std::max(ivs.size(), hvs.size()); ++i, date = date.addDays(1)) {
        ChartPoint point;
        point.Day = date.year() * 10000 + date.month() * 100 + date.day();
        if (i < ivs.size() && !std::isnan(ivs[i])) point.Iv30 = ivs[i];
        if (i < hvs.size() && !std::isnan(hvs[i])) point.Hv20 = hvs[i];
        series.Points.push_back(point);
    }
    return series;
}

TEST(ChartScaleTest, TheVolatilityAxisSpansAtLeastFourPointsAndHoldsEveryFigure) {
    const struct Case {
        const char* name;
        std::vector<double> ivs, hvs;
        double lowest, highest;  // the figures
        double mostSpan;         // the axis is no higher than this
        bool fromZero;
    } cases[] = {
        {"flat IV30", {33.43, 33.47, 33.45, 33.44}, {}, 33.43, 33.47, 6, false},
        {"flat HV20", {}, {13.1, 13.7, 13.4}, 13.1, 13.7, 6, false},
        {"near zero", {0.5, 1.0}, {}, 0.5, 1.0, 5, true},
        {"wide", {10, 60}, {25, NAN}, 10, 60, 70, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ChartScale scale = VolatilityScale(SeriesOf(c.ivs, c.hvs));
        EXPECT_LE(scale.Low, c.lowest);
        EXPECT_GE(scale.High, c.highest);
        EXPECT_GE(scale.High - scale.Low, kChartLeastVolatilitySpan);
        EXPECT_LE(scale.High - scale.Low, c.mostSpan);
        EXPECT_EQ(scale.Low == 0, c.fromZero) << scale.Low;
        // The axis ends on round ticks, a handful of them.
        ASSERT_GE(scale.Ticks.size(), 3u);
        EXPECT_LE(scale.Ticks.size(), 11u);
        EXPECT_DOUBLE_EQ(scale.Ticks.front(), scale.Low);
        EXPECT_DOUBLE_EQ(scale.Ticks.back(), scale.High);
        EXPECT_EQ(scale.Labels.size(), scale.Ticks.size());
    }
}

// IV30 pixels in the square of `half` pixels either side of `at`.
int IvPixelsAround(const QImage& image, QPointF at, int half) {
    int count = 0;
    for (int y = static_cast<int>(at.y()) - half; y <= static_cast<int>(at.y()) + half; ++y) {
        for (int x = static_cast<int>(at.x()) - half; x <= static_cast<int>(at.x()) + half; ++x)
            count += image.valid(x, y) && image.pixelColor(x, y) == QColor(0, 70, 200);
    }
    return count;
}

// The legend lies outside the data, the first and last days inside the
// plot's edges, the IV rank panel below the plot when asked for; a day alone
// and the last day are drawn as dots that can be seen.
TEST(ChartLayoutTest, LegendAndPanelsKeepClearOfTheDataAndEndsAreMarked) {
    const struct Case {
        const char* name;
        std::vector<double> ivs;
        bool ivRank;
        QSize size;
    } cases[] = {
        {"one day", {41.2}, false, {960, 560}},
        {"a year", std::vector<double>(252, 30), true, {960, 560}},
        {"narrow", {20, 30, 25}, true, {480, 300}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ChartSeries series = SeriesOf(c.ivs);
        for (std::size_t i = 0; i < c.ivs.size(); ++i)
            series.Points[i].Iv30 = c.ivs[i] + std::sin(static_cast<double>(i)) * 3;
        QImage image(c.size, QImage::Format_RGB32);
        QPainter painter(&image);
        ChartOptions options;
        options.IvRank = c.ivRank;
        const ChartLayout layout =
            LayOutChart(image.rect(), series, options, painter.fontMetrics());
        PaintChart(painter, image.rect(), series, QStringLiteral("ABC"), options);
        painter.end();

        EXPECT_FALSE(layout.Legend.intersects(layout.Plot));
        EXPECT_LE(layout.Legend.bottom(), layout.Plot.top());
        EXPECT_GE(layout.Legend.top(), layout.Readout.bottom());
        EXPECT_EQ(layout.RankPanel.isEmpty(), !c.ivRank);
        if (c.ivRank) {
            EXPECT_GT(layout.RankPanel.top(), layout.Plot.bottom());
            EXPECT_LE(layout.RankPanel.bottom(), c.size.height());
        }
        const double first = layout.X(series.Points.front().Day);
        const double last = layout.X(series.Points.back().Day);
        EXPECT_GE(first - layout.Plot.left(), 8);
        EXPECT_GE(layout.Plot.right() - last, 8);
        const ChartScale scale = VolatilityScale(series);
        const double value = *series.Points.back().Iv30;
        const QPointF end(last, layout.Plot.bottom() - (value - scale.Low) /
                                                           (scale.High - scale.Low) *
                                                           layout.Plot.height());
        EXPECT_GE(IvPixelsAround(image, end, 3), 20);
    }
}

// One day is counted as one. Closing the window while the symbol field has
// the focus: the field's focus-out on the way must not show the symbol again
// in a window half gone.
TEST(ChartFormTest, OneDayIsCountedAsOneAndTheWindowClosesWithTheFieldFocused) {
    TempDir dir;
    RecordHistory(dir, 1);
    auto form = std::make_unique<TChartForm>(dir.File("History.db"), "ABC");
    EXPECT_EQ(form->findChild<QLabel*>(QStringLiteral("Summary"))->text(),
              QStringLiteral("1 day from 2021-01-04 to 2021-01-04: IV30 on 1, saved on 1"));
    form->show();
    QApplication::setActiveWindow(form.get());
    form->findChild<QComboBox*>(QStringLiteral("SymbolField"))->setFocus();
    QApplication::processEvents();
    form.reset();
    SUCCEED();
}

}  // namespace
}  // namespace quillon
