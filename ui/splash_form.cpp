#include "ui/splash_form.h"

#include <cerrno>
#include <cstring>

#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStatusBar>
#include <QTimer>

#include "results/token_store.h"
#include "ui/chart_form.h"
#include "ui/qt/qt_printer.h"
#include "ui/qt/qt_services.h"
#include "ui/tracing_form.h"

namespace quillon {

namespace {

constexpr int kClientWidth = 617;
constexpr int kClientHeight = 186;
constexpr int kTitleHeight = 76;
constexpr int kTickerHeight = 21;
constexpr int kVersionHeight = 18;
// What the status bar and its label keep of the window's width for their
// frames and margins.
constexpr int kStatusMargins = 24;

QLabel* AddLabel(QWidget* parent, const char* name, const QRect& place, const QFont& font,
                 const QColor& text, const QColor& background, Qt::Alignment alignment) {
    auto* label = new QLabel(parent);
    if (name) label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(place);
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(alignment);
    label->setAutoFillBackground(true);
    QPalette colours = label->palette();
    colours.setColor(QPalette::WindowText, text);
    colours.setColor(QPalette::Window, background);
    label->setPalette(colours);
    return label;
}

}  // namespace

std::optional<std::string> ChooseSymbolFileWithDialog(QWidget* parent,
                                                      const std::string& preselected) {
    QFileDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("OpenDialog1"));
    dialog.setNameFilter(QStringLiteral("Symbol files (*.sym)"));
    dialog.setDefaultSuffix(QStringLiteral("sym"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // Any name may be typed in; a missing file is caught when the scan reads it.
    dialog.setFileMode(QFileDialog::AnyFile);
    QFileInfo current(ToQt(preselected));
    dialog.setDirectory(current.absolutePath());
    dialog.selectFile(current.fileName());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return FromQt(QFileInfo(dialog.selectedFiles().front()).absoluteFilePath());
}

TSplashForm::TSplashForm(Context& context, ProgramLauncher& launcher, QWidget* parent)
    : QMainWindow(parent), context_(context), launcher_(launcher) {
    setObjectName(QStringLiteral("SplashForm"));
    // A single border with the system menu and the minimize box only.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    Hooks.ChooseSymbolFile = ChooseSymbolFileWithDialog;
    Hooks.PrintResults = [this] {
        PrintOutcome outcome =
            RunPrintResults(this, context_.files, context_.clock, context_.messages);
        if (!outcome.PdfFile.empty()) {
            context_.messages.ShowMessage(PrintedToFileMessage(outcome.PdfFile));
        }
    };
    Hooks.ShowHelp = [this](int topic) { quillon::ShowHelp(this, topic); };
    CreateControls();
    CreateMenus();
    setFixedSize(kClientWidth,
                 kClientHeight + menuBar()->sizeHint().height() + statusBar()->sizeHint().height());

    Timer1_ = new QTimer(this);
    Timer1_->setObjectName(QStringLiteral("Timer1"));
    Timer1_->setInterval(kTickerInterval);
    connect(Timer1_, &QTimer::timeout, this, [this] { Timer1Timer(); });
}

void TSplashForm::CreateControls() {
    Panel1_ = new QFrame(this);
    Panel1_->setObjectName(QStringLiteral("Panel1"));
    Panel1_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1_->setFixedSize(kClientWidth, kClientHeight);
    Panel1_->setAutoFillBackground(true);
    Panel1_->setFocusPolicy(Qt::ClickFocus);
    Panel1_->setFont(QFont(QStringLiteral("Courier New"), 10));
    QPalette navy = Panel1_->palette();
    navy.setColor(QPalette::Window, QColor(0, 0, 128));
    Panel1_->setPalette(navy);
    setCentralWidget(Panel1_);

    const QColor black(0, 0, 0);
    const int inner = kClientWidth - 2;
    QFont title(QStringLiteral("Times New Roman"), 36, QFont::Bold);
    Label4_ = AddLabel(Panel1_, "Label4", QRect(1, 1, inner, kTitleHeight), title,
                       QColor(0, 255, 255), QColor(0, 128, 0), Qt::AlignCenter);
    Label4_->setText(QStringLiteral("Quillon"));

    PB_Start_ = new QPushButton(QStringLiteral("START"), Panel1_);
    PB_Start_->setObjectName(QStringLiteral("PB_Start"));
    PB_Start_->setFont(QFont(QStringLiteral("Times New Roman"), 14, QFont::Bold));
    PB_Start_->setGeometry((kClientWidth - 110) / 2, kTitleHeight + 14, 110, 34);
    PB_Start_->setDefault(true);
    connect(PB_Start_, &QPushButton::clicked, this, [this] { PB_StartClick(); });
    // START is the default button: Enter presses it wherever the focus is.
    for (int key : {int(Qt::Key_Return), int(Qt::Key_Enter)}) {
        auto* enter = new QShortcut(QKeySequence(key), this);
        connect(enter, &QShortcut::activated, this, [this] { PB_Start_->click(); });
    }

    const QFont courier(QStringLiteral("Courier New"), 10);
    const int tickerTop = kClientHeight - 1 - kTickerHeight;
    Version_ =
        AddLabel(Panel1_, "Version", QRect(1, tickerTop - kVersionHeight, inner, kVersionHeight),
                 courier, QColor(255, 0, 0), black, Qt::AlignCenter);
    Ticker_ = AddLabel(Panel1_, "Ticker", QRect(1, tickerTop, inner, kTickerHeight), courier,
                       QColor(0, 255, 0), black, Qt::AlignLeft | Qt::AlignVCenter);

    // Below the panel, a status line names the directory of the working
    // files: started from the menu or from a terminal, the program may work
    // somewhere else than the user expects.
    QStatusBar* status = statusBar();
    status->setObjectName(QStringLiteral("StatusBar"));
    status->setSizeGripEnabled(false);
    WorkingDirectory_ = new QLabel(status);
    WorkingDirectory_->setObjectName(QStringLiteral("WorkingDirectory"));
    WorkingDirectory_->setTextFormat(Qt::PlainText);
    WorkingDirectory_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    status->addWidget(WorkingDirectory_, 1);
}

void TSplashForm::ShowWorkingDirectory() {
    const QString directory = ToQt(context_.files.WorkingDirectory);
    const QString full = QStringLiteral("Working directory: ") + directory;
    // A long path loses its middle, where the two ends say most; the tooltip
    // holds it whole.
    const int room = kClientWidth - kStatusMargins;
    WorkingDirectory_->setText(
        WorkingDirectory_->fontMetrics().elidedText(full, Qt::ElideMiddle, room));
    WorkingDirectory_->setToolTip(directory);
}

QAction* TSplashForm::AddItem(QMenu* menu, const char* name, const char* caption,
                              std::function<void()> handler) {
    QAction* item = menu->addAction(QString::fromLatin1(caption));
    item->setObjectName(QString::fromLatin1(name));
    if (handler) connect(item, &QAction::triggered, this, std::move(handler));
    return item;
}

void TSplashForm::CreateMenus() {
    auto* MainMenu1 = menuBar();
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    const WorkingFileNames& f = context_.files;

    QMenu* file = MainMenu1->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("File1"));
    AddItem(file, "ChooseSymbolFileName1", "&Choose Symbol File Name",
            [this] { ChooseSymbolFileName1Click(); });
    AddItem(file, "EditSymbolFile1", "&Edit Symbol File", [this] { EditSymbolFile1Click(); });
    file->addSeparator();
    AddItem(file, "SwapSymbolFileGoodSymtxtGoodSymbbols1",
            "Swap: Symbol File <-> &GoodSym.txt (Good Symbols)",
            [this, &f] { SwapWith(f.GoodSymFile); });
    AddItem(file, "SwapSymbolFileBadSymtxtBadSymbols1",
            "Swap: Symbol File <-> &BadSym.txt (Bad Symbols)",
            [this, &f] { SwapWith(f.BadSymFile); });
    AddItem(file, "SwapSymbolFileSavedSymtxtSavedSymbols1",
            "Swap: Symbol File <-> &SavedSym.txt (Saved Symbols)",
            [this, &f] { SwapWith(f.SavedSymFile); });
    file->addSeparator();
    AddItem(file, "PrintResults1", "&Print Results", [this] { PrintResults1Click(); });

    // The view commands open a working file in the text editor; the names
    // are read when the command runs, as activation rebuilds them.
    auto view = [this](const std::string& name) { launcher_.LaunchProgram(name); };
    QMenu* viewMenu = MainMenu1->addMenu(QStringLiteral("&View"));
    viewMenu->setObjectName(QStringLiteral("View1"));
    AddItem(viewMenu, "GoodSymbolsGoodSymtxt1", "&Good Symbols (GoodSym.txt)",
            [view, &f] { view(f.GoodSymFile); });
    AddItem(viewMenu, "BadSymbolsBadSymtxt1", "&Bad Symbols (BadSym.txt)",
            [view, &f] { view(f.BadSymFile); });
    viewMenu->addSeparator();
    AddItem(viewMenu, "SavedSymbolsSavedSymtxt1", "&Saved Symbols (SavedSym.txt)",
            [view, &f] { view(f.SavedSymFile); });
    AddItem(viewMenu, "ResultsResultstxt1", "&Results (Results.txt)",
            [view, &f] { view(f.ResultsFile); });
    viewMenu->addSeparator();
    AddItem(viewMenu, "UpSymbols1", "Up Symbols", [view, &f] { view(f.UpSymFile); });
    AddItem(viewMenu, "DownSymbols1", "Down Symbols", [view, &f] { view(f.DownSymFile); });
    viewMenu->addSeparator();
    // The chart window asks for the symbol in its own field.
    AddItem(viewMenu, "Chart1", "&Chart...",
            [this] { OpenChartWindow(this, context_.files.WorkingDirectory, std::string()); });
    viewMenu->addSeparator();
    AddItem(viewMenu, "RunNotepad1", "Run &Notepad", [view] { view(std::string()); });

    QMenu* setup = MainMenu1->addMenu(QStringLiteral("&Setup"));
    setup->setObjectName(QStringLiteral("Setup1"));
    AddItem(setup, "QuotesServer1", "&Quotes Server", [this] { RunModal(Hooks.QuotesServer); });
    AddItem(setup, "RiskFreeInterestRate1", "&Risk Free Interest Rate",
            [this] { RunModal(Hooks.RiskFreeInterestRate); });
    AddItem(setup, "Filter1", "&Filter", [this] { RunModal(Hooks.Filter); });
    setup->addSeparator();
    GetQuotesFromQuoteServer1_ =
        AddItem(setup, "GetQuotesFromQuoteServer1", "Get Quotes From &Quote Server", nullptr);
    GetQuotesFromLocalFileQuotestxt1_ = AddItem(setup, "GetQuotesFromLocalFileQuotestxt1",
                                                "Get Quotes From &Local File: Quotes.txt", nullptr);
    GetQuotesFromQuoteServer1_->setCheckable(true);
    GetQuotesFromQuoteServer1_->setChecked(true);
    GetQuotesFromLocalFileQuotestxt1_->setCheckable(true);
    // Qt has already toggled the mark when triggered() arrives.
    connect(GetQuotesFromQuoteServer1_, &QAction::triggered, this,
            [this](bool checked) { GetQuotesFromQuoteServer1Click(checked); });
    connect(GetQuotesFromLocalFileQuotestxt1_, &QAction::triggered, this,
            [this](bool checked) { GetQuotesFromLocalFileQuotestxt1Click(checked); });
    // Whole chains fetched over HTTPS; the filter dialog's figures that a
    // service lacks are refused when the scan opens.
    GetQuotesFromExchange1_ =
        AddItem(setup, "GetQuotesFromExchange1",
                "Get Quotes From the &Exchange's Delayed Quotes (no key, 15 min delayed)", nullptr);
    GetQuotesFromTradier1_ =
        AddItem(setup, "GetQuotesFromTradier1", "Get Quotes From &Tradier (access token)", nullptr);
    for (QAction* item : {GetQuotesFromExchange1_, GetQuotesFromTradier1_})
        item->setCheckable(true);
    connect(GetQuotesFromExchange1_, &QAction::triggered, this,
            [this](bool checked) { GetQuotesFromServiceClick(QuoteSource::Exchange, checked); });
    connect(GetQuotesFromTradier1_, &QAction::triggered, this,
            [this](bool checked) { GetQuotesFromServiceClick(QuoteSource::Tradier, checked); });
    AddItem(setup, "TradierAccessToken1", "Tradier &Access Token...",
            [this] { TradierAccessToken1Click(); });

    QMenu* help = MainMenu1->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("Help1"));
    AddItem(help, "Contents1", "&Contents", [this] { OpenHelp(kHelpContents); });
    AddItem(help, "ContactUs1", "Contact &Us", [this] { OpenHelp(kHelpContactUs); });
}

void TSplashForm::SetScanWindow(TTracingForm* scanWindow) {
    scanWindow_ = scanWindow;
    connect(scanWindow_, &QDialog::finished, this, [this] { ScanWindowClosed(); });
}

// ---------------------------------------------------------------- window events

void TSplashForm::Start() {
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
    }
    FormShow();
    show();
    FormActivate();
}

void TSplashForm::FormShow() {
    Panel1_->setFocus();
    ShowDataSourceMarks();
}

// Runs at start and whenever a window of the program shown over this one
// closes: the working files and settings are read afresh.
void TSplashForm::FormActivate() {
    InitWorkingFiles(context_.settings, context_.runtime, context_.files);
    tickerCaption_ = context_.runtime.TickerText;
    Ticker_->setText(ToQt(tickerCaption_));
    Version_->setText(ToQt(VersionText(context_.runtime.ProgramVersion)));
    setWindowTitle(ToQt(MainCaption(context_.settings.SymbolFileName)));
    ShowWorkingDirectory();
    // The marks follow the settings just loaded, not the ones before.
    ShowDataSourceMarks();
    Panel1_->setFocus();
    if (!Timer1_->isActive()) Timer1_->start();
}

void TSplashForm::ShowDataSourceMarks() {
    const QuoteSource source = context_.settings.Source();
    GetQuotesFromLocalFileQuotestxt1_->setChecked(source == QuoteSource::Local);
    GetQuotesFromQuoteServer1_->setChecked(source == QuoteSource::Server);
    GetQuotesFromExchange1_->setChecked(source == QuoteSource::Exchange);
    GetQuotesFromTradier1_->setChecked(source == QuoteSource::Tradier);
}

void TSplashForm::Timer1Timer() {
    if (Timer1_->interval() == kScanInterval) {
        if (scanWindow_) scanWindow_->ScanStep();
        return;
    }
    tickerCaption_ = ScrollTicker(tickerCaption_);
    Ticker_->setText(ToQt(tickerCaption_));
}

void TSplashForm::PB_StartClick() {
    if (!scanWindow_) return;
    // The scan window opens only on a directory no other scan works in:
    // two scans in one directory would write over each other's files.
    const std::string& directory = context_.files.WorkingDirectory;
    switch (scanLock_.Take(directory, "quillon")) {
        case ScanLock::Outcome::Taken:
            break;
        case ScanLock::Outcome::Busy:
            context_.messages.ShowMessage(ScanLockRefusal(directory, scanLock_.Holder()) +
                                          "\r\nOpen the scan again when it has ended.");
            return;
        case ScanLock::Outcome::Failed:
            context_.messages.ShowMessage("The scan cannot start: " + scanLock_.Error());
            return;
    }
    hide();
    scanWindow_->ShowModal();
}

void TSplashForm::ScanWindowClosed() {
    scanLock_.Release();
    FormShow();
    show();
    FormActivate();
}

// ---------------------------------------------------------------- menu commands

void TSplashForm::ChooseSymbolFileName1Click() {
    std::optional<std::string> chosen;
    if (Hooks.ChooseSymbolFile)
        chosen = Hooks.ChooseSymbolFile(this, context_.settings.SymbolFileName);
    ApplySymbolFileChoice(chosen, context_.settings, context_.runtime, context_.files,
                          context_.messages);
    setWindowTitle(ToQt(MainCaption(context_.settings.SymbolFileName)));
    FormActivate();  // the dialog has closed
}

void TSplashForm::EditSymbolFile1Click() {
    EditSymbolFile(context_.settings, context_.runtime, context_.files, launcher_);
}

void TSplashForm::SwapWith(const std::string& listFile) {
    const std::string& symbolFile = context_.settings.SymbolFileName;
    bool yes = context_.messages.Confirm(SwapQuestion(symbolFile, listFile));
    if (yes) SwapSymbolFile(symbolFile, listFile, context_.files.TempFile);
    FormActivate();  // the question has closed
}

void TSplashForm::PrintResults1Click() {
    RunModal(Hooks.PrintResults);
}

void TSplashForm::RunModal(const std::function<void()>& dialog) {
    if (!dialog) return;
    dialog();
    FormActivate();
}

void TSplashForm::OpenHelp(int context) {
    if (Hooks.ShowHelp) Hooks.ShowHelp(context);
}

void TSplashForm::GetQuotesFromQuoteServer1Click(bool checked) {
    SelectDataSource(QuoteSource::Server, !checked, context_.settings, context_.runtime,
                     context_.files, context_.messages);
    ShowDataSourceMarks();
}

void TSplashForm::GetQuotesFromServiceClick(QuoteSource source, bool checked) {
    SelectDataSource(source, !checked, context_.settings, context_.runtime, context_.files,
                     context_.messages);
    ShowDataSourceMarks();
    if (source == QuoteSource::Tradier && !LoadToken(context_.files)) TradierAccessToken1Click();
}

void TSplashForm::TradierAccessToken1Click() {
    bool given = false;
    const QString text = QInputDialog::getText(
        this, QStringLiteral("Tradier Access Token"),
        QStringLiteral("The access token of your Tradier account (kept in Tradier.--- in the "
                       "working directory, readable by you alone):"),
        QLineEdit::Password, QString(), &given);
    if (!given) return;
    const std::string token = text.trimmed().toStdString();
    if (!TokenCanBeKept(token)) {
        context_.messages.ShowMessage(
            "The token must be one word of printable characters, of at most 4096 bytes.");
        return;
    }
    if (!SaveToken(context_.files, token)) {
        context_.messages.ShowMessage("Cannot write " + context_.files.TokenFile + ": " +
                                      std::strerror(errno != 0 ? errno : EIO));
    }
}

void TSplashForm::GetQuotesFromLocalFileQuotestxt1Click(bool checked) {
    SelectDataSource(QuoteSource::Local, !checked, context_.settings, context_.runtime,
                     context_.files, context_.messages);
    ShowDataSourceMarks();
}

}  // namespace quillon
