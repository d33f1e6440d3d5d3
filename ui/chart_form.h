#pragma once
// The chart of one symbol's pass history: IV30 over the recorded dates with
// its 52-week high-low band, HV20, the last sale on a second axis, a marker
// on each date the stock was saved, the last day's figures above the plot
// and, when asked for, IV rank in a panel of its own below it. Drawn with
// QPainter from History.db in the working directory, which it only reads;
// saved as PNG.

#include <QDialog>
#include <QWidget>
#include <functional>
#include <string>

#include "history/history_series.h"
#include "ui/chart_paint.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace quillon {

// The drawing surface of the chart window.
class TChartView final : public QWidget {
    Q_OBJECT
  public:
    explicit TChartView(QWidget* parent = nullptr);
    void SetSeries(const ChartSeries* series, const QString& symbol);
    void SetOptions(const ChartOptions& options);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    const ChartSeries* series_ = nullptr;
    QString symbol_;
    ChartOptions options_;
};

class TChartForm final : public QDialog {
    Q_OBJECT
  public:
    // `historyFile`: the working directory's History.db. `symbol` is shown
    // at once when not empty; the symbol field takes another.
    TChartForm(const std::string& historyFile, const std::string& symbol,
               QWidget* parent = nullptr);
    // Cuts the symbol field's signals first: hiding the window on the way
    // out takes the focus from the field, whose editing then ends and would
    // show the symbol again in members already gone.
    ~TChartForm() override;

    // Reads the symbol's rows and draws them, or says why there is nothing
    // to draw. False when there is no series.
    bool ShowSymbol(const std::string& symbol);

    // Writes the chart as a PNG image, as the window shows it (with the IV
    // rank panel when it is checked); false when there is no chart or the
    // file could not be written (the Save button then tells the user).
    bool SaveAsPng(const QString& file);

    const ChartSeries& Series() const { return series_; }
    const std::string& Symbol() const { return symbol_; }

    // The file the chart is saved to: by default a save dialog; empty when
    // the user cancels.
    std::function<QString(QWidget* parent, const QString& suggested)> ChooseSaveFile;

  private:
    ChartOptions Options() const;
    void ShowClick();
    void SaveClick();
    void FillSymbols();

    std::string historyFile_;
    std::string symbol_;
    ChartSeries series_;

    QComboBox* SymbolField_ = nullptr;
    QPushButton* PB_Show_ = nullptr;
    QPushButton* PB_SavePng_ = nullptr;
    QCheckBox* CK_IvRank_ = nullptr;
    QLabel* Summary_ = nullptr;
    QLabel* Message_ = nullptr;
    TChartView* View_ = nullptr;
};

// Opens a chart window over `parent` for `symbol` (empty: the symbol field
// waits for one), reading History.db in `workingDirectory`. The window
// deletes itself when closed.
TChartForm* OpenChartWindow(QWidget* parent, const std::string& workingDirectory,
                            const std::string& symbol);

}  // namespace quillon
