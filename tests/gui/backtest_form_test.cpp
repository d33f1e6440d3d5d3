// The back-test window opened from the filter dialog: it judges the filters
// as the edits show them on a made-up History.db, shows the report and the
// chart and saves them in the working directory; without a History.db it
// says so and leaves an earlier report as it was.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <cstdlib>
#include <optional>
#include <string>

#include "history/backtest_report.h"
#include "history/history_store.h"
#include "platform/files.h"
#include "platform/services.h"
#include "results/settings.h"
#include "tests/gui/application.h"
#include "tests/support/temp_dir.h"
#include "ui/backtest_form.h"
#include "ui/filter_form.h"
#include "ui/qt/qt_services.h"

namespace quillon {
namespace {

using testing::TempDir;

// Thirty days (1 to 30 October 2025), each of a finished pass, of three
// stocks whose last sales are 20, 60 and 100 on the first and rise by one a
// day.
void RecordHistory(const TempDir& dir) {
    HistoryStore store;
    ASSERT_TRUE(store.Open(dir.File("History.db"))) << store.Error();
    ASSERT_TRUE(store.BeginBatch());
    for (int day = 0; day < 30; ++day) {
        const struct {
            const char* symbol;
            double last;
        } stocks[] = {{"LOW", 20}, {"MID", 60}, {"TOP", 100}};
        for (const auto& stock : stocks) {
            HistoryRow row;
            row.Symbol = stock.symbol;
            row.Day = 20251001 + day;
            row.Last = stock.last + day;
            row.Volume = 1e6;
            row.PeRatio = 15;
            row.High52 = 200;
            row.Low52 = 10;
            row.Verdict = Verdict::Rejected;
            ASSERT_TRUE(store.Record(row)) << store.Error();
        }
        // Each day ended whole, as a finished pass leaves it.
        HistoryPass pass;
        pass.AsOf = 20251001 + day;
        pass.Finished = true;
        ASSERT_NE(store.BeginPass(pass), 0) << store.Error();
    }
    ASSERT_TRUE(store.CommitBatch());
}

struct FilterDialog {
    explicit FilterDialog(const TempDir& dir) : files(WorkingFileNames::In(dir.Path())) {
        SetDefaultSettings(settings);
        for (FilterValue& value : settings.Filters.Values)
            value = FilterValue::Text("NA");
    }
    Settings settings;
    WorkingFileNames files;
    ScriptedMessages messages;
};

TEST(BacktestFormTest, RunsTheEditedFiltersAndSavesTheReportAndChart) {
    TempDir dir;
    RecordHistory(dir);
    FilterDialog setup(dir);
    TFilterForm filters(setup.settings, setup.files, setup.messages);
    filters.show();
    // Edited, not yet stored: the back-test takes the edits as they stand.
    filters.findChild<QLineEdit*>("TX_MinLast")->setText("50");

    std::string shownReport;
    std::string message;
    bool ran = false;
    filters.ShowBacktest = [&](TBacktestForm& form) {
        form.show();
        ran = form.Run();
        shownReport = form.ReportText();
        message = FromQt(form.Message());
        EXPECT_FALSE(form.Chart().isNull());
        // The window within the screen's free area, its buttons inside it.
        const QRect screen = form.screen()->availableGeometry();
        EXPECT_TRUE(screen.contains(form.geometry()))
            << form.width() << "x" << form.height() << " on " << screen.width() << "x"
            << screen.height();
        for (const char* name : {"PB_SaveReport", "PB_SaveChart", "PB_Close"}) {
            const auto* button = form.findChild<QPushButton*>(name);
            EXPECT_TRUE(
                form.rect().contains(QRect(button->mapTo(&form, QPoint(0, 0)), button->size())))
                << name;
        }
        if (const char* shots = std::getenv("QUILLON_SCREENSHOT_DIR")) {
            form.grab().save(QString::fromLocal8Bit(shots) + "/backtest-window.png");
            QTest::qWait(200);
            form.screen()->grabWindow(0).save(QString::fromLocal8Bit(shots) +
                                              "/backtest-screen.png");
        }
    };
    QTest::mouseClick(filters.findChild<QPushButton*>("PB_Backtest"), Qt::LeftButton);

    ASSERT_TRUE(ran) << message;
    EXPECT_EQ(message, "Saved as " + dir.File("Backtest.txt") + " and Backtest.png.");
    // MID and TOP pass MinLast 50 every day; LOW never does.
    EXPECT_NE(shownReport.find("MinLast 50"), std::string::npos) << shownReport;
    EXPECT_EQ(ReadWholeFile(dir.File("Backtest.txt")), shownReport);
    const std::optional<std::string> png = ReadWholeFile(dir.File("Backtest.png"));
    ASSERT_TRUE(png.has_value());
    EXPECT_TRUE(png->starts_with("\x89PNG\r\n\x1a\n"));
    // The edits are not stored by the back-test.
    EXPECT_FALSE(setup.settings.Filters.Values[TX_MinLast].InUse());

    // The same report as the engine and the report writer give for the same
    // filters.
    HistoryStore store;
    ASSERT_TRUE(store.Open(dir.File("History.db")));
    BacktestOptions options;
    options.Filters = setup.settings.Filters.Values;
    options.Filters[TX_MinLast] = FilterValue::Number(50);
    options.History = setup.settings.History;
    BacktestReport report;
    std::string error;
    ASSERT_TRUE(RunBacktest(store, options, report, error)) << error;
    EXPECT_EQ(shownReport, BacktestReportText(report, options, "the filter dialog's filters"));
    ASSERT_FALSE(report.Horizons.empty());
    EXPECT_EQ(report.Horizons[0].Every[kEveryPick].Signals, 2 * 30);
}

TEST(BacktestFormTest, WithoutHistoryItSaysSoAndKeepsTheEarlierReport) {
    TempDir dir;
    ASSERT_TRUE(ReplaceFileAtomically(dir.File("Backtest.txt"), "earlier\r\n", false));
    TBacktestForm form(dir.Path(), BacktestOptions{}, "test");
    EXPECT_FALSE(form.Run());
    EXPECT_EQ(FromQt(form.Message()),
              "No history to back-test: " + dir.File("History.db") +
                  " is not there. Every scan pass records its stocks in it, and quillon-history "
                  "add builds it from past quote files.");
    EXPECT_EQ(ReadWholeFile(dir.File("Backtest.txt")), "earlier\r\n");
    EXPECT_FALSE(FileExists(dir.File("Backtest.png")));
}

}  // namespace
}  // namespace quillon
