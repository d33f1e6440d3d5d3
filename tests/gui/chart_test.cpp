// The chart window on the offscreen platform: opened for a symbol of a
// made-up History.db it shows the symbol's series and saves it as PNG; for
// a symbol without history, or without a History.db, it says so.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDate>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <cmath>
#include <iostream>
#include <memory>

#include "history/history_store.h"
#include "platform/qt/qt_services.h"
#include "tests/gui/application.h"
#include "tests/support/temp_dir.h"
#include "ui/chart_form.h"

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
        row.Verdict = n % 50 == 0 ? (n % 100 == 0 ? "UP" : "DOWN") : "REJECTED";
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

}  // namespace
}  // namespace quillon
