#pragma once
// The main window: title, version, the scrolling ticker, the START button,
// the menus, and a status line naming the working directory. It owns the
// program's only timer, which scrolls the ticker and, while the scan window
// is open, steps the scan.

#include <QMainWindow>
#include <functional>
#include <optional>
#include <string>

#include "platform/scan_lock.h"
#include "results/shell_rules.h"
#include "scan/context.h"
#include "ui/help_window.h"

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QPushButton;
class QTimer;

namespace quillon {

class TTracingForm;

// What the main window opens beyond its own controls; an empty hook does
// nothing. The symbol-file chooser, Print Results and help have desktop
// defaults; the setup dialogs are given by the program's start.
struct ShellHooks {
    // OpenDialog1: the symbol-file chooser with `preselected` filled in;
    // the chosen full name, or nothing when the user cancels.
    std::function<std::optional<std::string>(QWidget* parent, const std::string& preselected)>
        ChooseSymbolFile;
    // The setup dialogs, shown modally; they save the settings themselves.
    std::function<void()> QuotesServer;
    std::function<void()> RiskFreeInterestRate;
    std::function<void()> Filter;
    // PrintDialog1, then the printout of Results.txt (into a PDF file when
    // no printer is installed).
    std::function<void()> PrintResults;
    // The help file at a help context.
    std::function<void(int context)> ShowHelp;
};

// The symbol-file chooser of the desktop: a file dialog for "*.sym" files.
std::optional<std::string> ChooseSymbolFileWithDialog(QWidget* parent,
                                                      const std::string& preselected);

inline constexpr int kHelpContactUs = 102;

class TSplashForm final : public QMainWindow {
    Q_OBJECT

  public:
    TSplashForm(Context& context, ProgramLauncher& launcher, QWidget* parent = nullptr);

    // The scan window that START opens and the timer steps.
    void SetScanWindow(TTracingForm* scanWindow);
    QTimer& Timer1() { return *Timer1_; }

    // Program start: the window is shown, then activated.
    void Start();

    ShellHooks Hooks;

  private:
    void CreateControls();
    void CreateMenus();
    QAction* AddItem(QMenu* menu, const char* name, const char* caption,
                     std::function<void()> handler);

    void FormShow();
    void FormActivate();
    void ShowDataSourceMarks();
    // The status line: the directory of the working files.
    void ShowWorkingDirectory();
    void Timer1Timer();
    void PB_StartClick();
    void ScanWindowClosed();

    void ChooseSymbolFileName1Click();
    void EditSymbolFile1Click();
    void SwapWith(const std::string& listFile);
    void PrintResults1Click();
    void RunModal(const std::function<void()>& dialog);
    void OpenHelp(int context);
    void GetQuotesFromQuoteServer1Click(bool checked);
    void GetQuotesFromLocalFileQuotestxt1Click(bool checked);
    // The market-data services: the exchange's delayed quotes and Tradier.
    void GetQuotesFromServiceClick(QuoteSource source, bool checked);
    // Asks for Tradier's access token and keeps it in its owner-only store.
    void TradierAccessToken1Click();

    Context& context_;
    ProgramLauncher& launcher_;
    TTracingForm* scanWindow_ = nullptr;
    // Held while the scan window is open: one scan per working directory.
    ScanLock scanLock_;
    std::string tickerCaption_;

    QFrame* Panel1_ = nullptr;
    QLabel* Label4_ = nullptr;
    QPushButton* PB_Start_ = nullptr;
    QLabel* Version_ = nullptr;
    QLabel* Ticker_ = nullptr;
    QLabel* WorkingDirectory_ = nullptr;
    QTimer* Timer1_ = nullptr;
    QAction* GetQuotesFromQuoteServer1_ = nullptr;
    QAction* GetQuotesFromLocalFileQuotestxt1_ = nullptr;
    QAction* GetQuotesFromExchange1_ = nullptr;
    QAction* GetQuotesFromTradier1_ = nullptr;
};

}  // namespace quillon
