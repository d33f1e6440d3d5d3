#include "ui/backtest_form.h"

#include <QApplication>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSplitter>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "charts/backtest_chart.h"
#include "history/backtest_report.h"
#include "history/history_store.h"
#include "platform/files.h"
#include "ui/qt/latin1.h"
#include "ui/qt/qt_services.h"

namespace quillon {

namespace {

constexpr const char* kHistoryFile = "History.db";
constexpr const char* kReportFile = "Backtest.txt";
constexpr const char* kChartFile = "Backtest.png";

// The chart's own size (tools/backtest/png_chart.cpp draws it so).
constexpr int kChartWidth = 900;
constexpr int kChartHeight = 500;
// The least height of the chart's and the report's panes, and the report's
// share kept below a whole chart.
constexpr int kLeastPaneHeight = 120;
constexpr int kLeastReportHeight = kLeastPaneHeight;
// Kept free around the window for its frame and title bar.
constexpr int kFrameAllowance = 48;

QImage ToQImage(const chart::RgbImage& image) {
    const QImage view(image.Bytes().data(), image.Width(), image.Height(), image.Width() * 3,
                      QImage::Format_RGB888);
    return view.copy();  // the view does not own the bytes
}

QString DefaultChooseSaveFile(QWidget* parent, const QString& suggested, const QString& filter) {
    return QFileDialog::getSaveFileName(parent, QStringLiteral("Save As"), suggested, filter);
}

}  // namespace

TBacktestForm::TBacktestForm(std::string workingDirectory, BacktestOptions options,
                             std::string filtersName, QWidget* parent)
    : QDialog(parent),
      ChooseSaveFile(DefaultChooseSaveFile),
      workingDirectory_(std::move(workingDirectory)),
      options_(std::move(options)),
      filtersName_(std::move(filtersName)) {
    setObjectName(QStringLiteral("BacktestForm"));
    setWindowTitle(QStringLiteral("Back-test"));

    Progress_ = new QProgressBar(this);
    Progress_->setObjectName(QStringLiteral("Progress"));
    Progress_->setFormat(QStringLiteral("%v of %m days"));
    Message_ = new QLabel(this);
    Message_->setObjectName(QStringLiteral("Message"));
    Message_->setWordWrap(true);
    Message_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    ChartView_ = new QLabel;
    ChartView_->setObjectName(QStringLiteral("Chart"));
    ChartView_->setAlignment(Qt::AlignCenter);
    // The chart at its own size, its small bitmap font does not survive
    // scaling; on a screen too small for it and the report, it scrolls.
    auto* chartArea = new QScrollArea;
    chartArea->setObjectName(QStringLiteral("ChartArea"));
    chartArea->setWidget(ChartView_);
    chartArea->setWidgetResizable(true);
    chartArea->setAlignment(Qt::AlignCenter);
    chartArea->setMinimumHeight(kLeastPaneHeight);

    ReportView_ = new QPlainTextEdit;
    ReportView_->setObjectName(QStringLiteral("Report"));
    ReportView_->setReadOnly(true);
    ReportView_->setLineWrapMode(QPlainTextEdit::NoWrap);
    ReportView_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    ReportView_->setMinimumHeight(kLeastPaneHeight);

    // The chart above the report, the line between them movable.
    auto* panes = new QSplitter(Qt::Vertical, this);
    panes->setObjectName(QStringLiteral("Panes"));
    panes->setChildrenCollapsible(false);
    panes->addWidget(chartArea);
    panes->addWidget(ReportView_);

    PB_SaveReport_ = new QPushButton(QStringLiteral("Save Report..."), this);
    PB_SaveReport_->setObjectName(QStringLiteral("PB_SaveReport"));
    PB_SaveChart_ = new QPushButton(QStringLiteral("Save Chart..."), this);
    PB_SaveChart_->setObjectName(QStringLiteral("PB_SaveChart"));
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("PB_Close"));
    PB_SaveReport_->setEnabled(false);
    PB_SaveChart_->setEnabled(false);
    connect(PB_SaveReport_, &QPushButton::clicked, this, &TBacktestForm::SaveReportClick);
    connect(PB_SaveChart_, &QPushButton::clicked, this, &TBacktestForm::SaveChartClick);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(PB_SaveReport_);
    buttons->addWidget(PB_SaveChart_);
    buttons->addWidget(close);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Progress_);
    layout->addWidget(Message_);
    layout->addWidget(panes, 1);
    layout->addLayout(buttons);

    // As large as the whole chart and some report want, but never larger
    // than the screen's free area: the buttons stay on a 1366x768 screen.
    // The chart keeps its height while the report has room left below it.
    const QSize wanted(kChartWidth + 60, 940);
    QSize room = wanted;
    if (const QScreen* shown = screen()) {
        room = shown->availableGeometry().size() - QSize(kFrameAllowance, kFrameAllowance);
    }
    const QSize size = wanted.boundedTo(room).expandedTo(minimumSizeHint());
    resize(size);
    const int panesHeight =
        size.height() - (layout->sizeHint().height() - panes->sizeHint().height());
    const int chartHeight = std::min(kChartHeight + 4, panesHeight - kLeastReportHeight);
    panes->setSizes({std::max(kLeastPaneHeight, chartHeight),
                     std::max(kLeastPaneHeight, panesHeight - chartHeight)});
}

QString TBacktestForm::Message() const {
    return Message_->text();
}

void TBacktestForm::Tell(const QString& text, bool failure) {
    Message_->setText(text);
    Message_->setStyleSheet(failure ? QStringLiteral("color: #b00000") : QString());
}

bool TBacktestForm::Run() {
    const std::string history = workingDirectory_ + "/" + kHistoryFile;
    if (!FileExists(history)) {
        Tell(ToQt("No history to back-test: " + history +
                  " is not there. Every scan pass records its stocks in it, and "
                  "quillon-history add builds it from past quote files."),
             true);
        return false;
    }
    HistoryStore store;
    if (!store.OpenForReading(history)) {
        Tell(ToQt("The history cannot be read: " + history + ": " + store.Error()), true);
        return false;
    }

    Tell(QStringLiteral("Reading the recorded days..."), false);
    BacktestOptions options = options_;
    options.Progress = [this](int done, int total) {
        Progress_->setMaximum(total);
        Progress_->setValue(done);
        // Keeps the window drawn while the days are read.
        QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    };
    std::string error;
    BacktestReport report;
    if (!RunBacktest(store, options, report, error)) {
        Tell(ToQt("The back-test could not run: " + error), true);
        return false;
    }
    report_ = std::move(report);
    reportText_ = BacktestReportText(report_, options_, filtersName_);
    ReportView_->setPlainText(FromLatin1(reportText_));
    chart_ = ToQImage(BacktestChartImage(report_));
    ChartView_->setPixmap(QPixmap::fromImage(chart_));
    PB_SaveReport_->setEnabled(true);
    PB_SaveChart_->setEnabled(true);

    // Saved like the results: in the working directory, each file replaced
    // whole or not at all.
    const std::string reportFile = workingDirectory_ + "/" + kReportFile;
    const std::string chartFile = workingDirectory_ + "/" + kChartFile;
    if (!ReplaceFileAtomically(reportFile, reportText_, false)) {
        Tell(ToQt("The report could not be saved as " + reportFile +
                  "; it is shown below. Save Report... writes it elsewhere."),
             true);
        return true;
    }
    if (!WriteBacktestChart(chartFile, report_, error)) {
        Tell(ToQt("The report is saved as " + reportFile + "; the chart is not: " + error), true);
        return true;
    }
    const std::string partial = BacktestPartialNote(report_);
    Tell(ToQt("Saved as " + reportFile + " and " + kChartFile + "." +
              (partial.empty() ? "" : " " + partial)),
         !partial.empty());
    return true;
}

void TBacktestForm::SaveReportClick() {
    const QString file = ChooseSaveFile(this, ToQt(workingDirectory_ + "/" + kReportFile),
                                        QStringLiteral("Text (*.txt)"));
    if (file.isEmpty()) return;
    if (!ReplaceFileAtomically(FromQt(file), reportText_, false)) {
        Tell(QStringLiteral("The report could not be saved as ") + file, true);
        return;
    }
    Tell(QStringLiteral("Report saved as ") + file, false);
}

void TBacktestForm::SaveChartClick() {
    const QString file = ChooseSaveFile(this, ToQt(workingDirectory_ + "/" + kChartFile),
                                        QStringLiteral("PNG image (*.png)"));
    if (file.isEmpty()) return;
    std::string error;
    if (!WriteBacktestChart(FromQt(file), report_, error)) {
        Tell(ToQt("The chart is not saved: " + error), true);
        return;
    }
    Tell(QStringLiteral("Chart saved as ") + file, false);
}

}  // namespace quillon
