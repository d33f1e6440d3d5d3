#pragma once
// The back-test window of the filter dialog: the filters shown in the dialog
// judged on every day History.db holds, with a progress bar while the days
// are read, then the chart of the cumulative excess per horizon above the
// report. The window fits the screen's free area (a 1366x768 screen keeps
// its buttons in view); the chart scrolls when it has less than its height. A back-test that ran is
// saved like the results, as Backtest.txt and Backtest.png in the working directory; one that could
// not run says why and leaves the files of an earlier one as they were.

#include <QDialog>
#include <QImage>
#include <QString>
#include <functional>
#include <string>

#include "history/backtest.h"

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace quillon {

class TBacktestForm final : public QDialog {
    Q_OBJECT
  public:
    // `workingDirectory` holds History.db and takes the saved files;
    // `filtersName` says whose filters these are in the report's heading.
    TBacktestForm(std::string workingDirectory, BacktestOptions options, std::string filtersName,
                  QWidget* parent = nullptr);

    // Reads the history and shows the result, or the reason there is none.
    // True when the back-test ran.
    bool Run();

    const std::string& ReportText() const { return reportText_; }
    // The line under the progress bar: where the result was saved, or why
    // there is none.
    QString Message() const;
    // The chart as shown, empty before a run.
    const QImage& Chart() const { return chart_; }

    // The file a Save button writes to: by default a save dialog; empty when
    // the user cancels.
    std::function<QString(QWidget* parent, const QString& suggested, const QString& filter)>
        ChooseSaveFile;

  private:
    void SaveReportClick();
    void SaveChartClick();
    void Tell(const QString& text, bool failure);

    std::string workingDirectory_;
    BacktestOptions options_;
    std::string filtersName_;
    BacktestReport report_;
    std::string reportText_;
    QImage chart_;

    QProgressBar* Progress_ = nullptr;
    QLabel* Message_ = nullptr;
    QLabel* ChartView_ = nullptr;
    QPlainTextEdit* ReportView_ = nullptr;
    QPushButton* PB_SaveReport_ = nullptr;
    QPushButton* PB_SaveChart_ = nullptr;
};

}  // namespace quillon
