#pragma once
// The scan window: its buttons, check boxes, run lamp, log and status bar.
// It shows what the scan driver hands it and forwards every click to the
// driver; the steps come from the main window's timer.

#include <QDialog>
#include <functional>
#include <memory>
#include <string>

#include "scan/context.h"
#include "scan/scan_driver.h"
#include "scan/scan_view.h"
#include "scan/sockets.h"

class QCheckBox;
class QFrame;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;
class QTimer;

namespace quillon {

class QtSocketHost;

// The main window's timer: a scan step every 55 ms while the scan window is
// open, a ticker step every 275 ms otherwise.
inline constexpr int kScanInterval = 55;
inline constexpr int kTickerInterval = 275;

// The help topics of the scan window's controls.
inline constexpr int kHelpScanWindow = 301;
inline constexpr int kHelpAlarm = 302;
inline constexpr int kHelpRepeat = 303;

class TTracingForm final : public QDialog, public ScanView {
    Q_OBJECT

  public:
    // `scanTimer` is the main window's timer: 55 ms while this window is
    // open, 275 ms otherwise.
    TTracingForm(Context& context, QTimer& scanTimer, QWidget* parent = nullptr);
    ~TTracingForm() override;

    // Opens the window modally and returns at once; finished() is emitted
    // when it closes.
    void ShowModal();

    // One step of the scan, on a tick of the main window's timer.
    void ScanStep();

    ScanDriver& Driver() { return *driver_; }

    // The chart window of the current symbol (the log's context menu).
    void OpenChart();

    // The interim printout of the log (by default on the current printer,
    // or into a PDF file when there is none), and help at a topic (by
    // default the program's help window).
    std::function<void(const std::string& memo)> PrintInterim;
    std::function<void(int context)> OpenHelp;

    // ScanView.
    void SetStatusText(int panel, const std::string& text) override;
    std::string StatusText(int panel) const override;
    void SetMemoText(const std::string& text) override;
    void SetEnabled(ScanControl control, bool enabled) override;
    void SetLamp(LampColour colour) override;
    bool AlarmChecked() const override;
    bool RepeatChecked() const override;
    void CloseWindow() override;

  protected:
    void done(int result) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void CreateControls();
    void ConnectControls();
    QPushButton* AddButton(const char* name, const char* caption, int x, int helpContext);
    QCheckBox* AddCheckBox(const char* name, const char* caption, int x, int helpContext);
    QWidget* Control(ScanControl control) const;
    void FormShow();
    void FormActivate();
    void FormCloseQuery();
    void FormClose();
    void PB_PrintClick();
    void Button1Click();
    void ShowPrintedToFile(const std::string& file);

    Context& context_;
    QTimer& scanTimer_;
    // Sockets1 and the event loop's notifications for it; the driver goes
    // first when the window goes.
    std::unique_ptr<QtSocketHost> socketHost_;
    std::unique_ptr<TSockets> Sockets1_;
    // The chain source of a scan of a market-data service, made when the
    // window is activated with such a source set.
    std::unique_ptr<ChainSource> chains_;
    std::unique_ptr<ScanDriver> driver_;

    QPushButton* PB_Reset_ = nullptr;
    QPushButton* PB_Print_ = nullptr;
    QPushButton* PB_Go_ = nullptr;
    QPushButton* PB_Pause_ = nullptr;
    QCheckBox* CkAlarm_ = nullptr;
    QCheckBox* CkRepeat_ = nullptr;
    QFrame* Panel1_ = nullptr;
    QPlainTextEdit* Memo1_ = nullptr;
    QStatusBar* StatusBar1_ = nullptr;
    QLabel* Panels_[2] = {nullptr, nullptr};
    QPushButton* Button1_ = nullptr;
};

}  // namespace quillon
