#include "ui/tracing_form.h"

#include "fetch/chain_fetcher.h"

#include <QCheckBox>
#include <QFontDatabase>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>

#include "results/shell_rules.h"
#include "ui/chart_form.h"
#include "ui/help_window.h"
#include "ui/qt/latin1.h"
#include "ui/qt/qt_printer.h"
#include "ui/qt/qt_services.h"
#include "ui/qt/qt_socket_host.h"

namespace quillon {

namespace {

constexpr int kClientWidth = 608;
constexpr int kClientHeight = 388;
constexpr int kStatusPanelWidth = 300;
constexpr int kStatusBarHeight = 22;
constexpr int kMargin = 8;
constexpr int kRowHeight = 25;
constexpr int kButtonWidth = 75;
constexpr int kLampSize = 25;

QColor LampRgb(LampColour colour) {
    switch (colour) {
        case LampColour::clRed:
            return QColor(255, 0, 0);
        case LampColour::clYellow:
            return QColor(255, 255, 0);
        case LampColour::clLime:
        default:
            return QColor(0, 255, 0);
    }
}

}  // namespace

TTracingForm::TTracingForm(Context& context, QTimer& scanTimer, QWidget* parent)
    : QDialog(parent),
      context_(context),
      scanTimer_(scanTimer),
      socketHost_(std::make_unique<QtSocketHost>()),
      Sockets1_(std::make_unique<TSockets>(*socketHost_, context.messages)) {
    setObjectName(QStringLiteral("TracingForm"));
    setWindowTitle(QStringLiteral("Tracing"));
    // A single, fixed border: title, system menu, minimize and close only.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(kClientWidth, kClientHeight);
    CreateControls();
    // FormCreate: a new window has never connected.
    driver_ = std::make_unique<ScanDriver>(context_, *this, *Sockets1_);
    BindSocketEvents(*Sockets1_, *driver_);
    // The component as the window sets it up: port 80, a minute for a
    // blocking call, 8 KiB receives.
    Sockets1_->Port = kDefaultServerPort;
    Sockets1_->Timeout = 60;
    Sockets1_->MaximumReceiveLength = kReceiveChunk;
    // The socket component's own boxes are plain system message boxes with
    // their own caption and OK and Cancel; closing one does not re-activate
    // the scan window.
    Sockets1_->ShowBox = [this](const std::string& caption, const std::string& text) {
        QMessageBox box(QMessageBox::Warning, FromLatin1(caption), FromLatin1(text),
                        QMessageBox::Ok | QMessageBox::Cancel, this);
        box.exec();
    };
    ConnectControls();

    PrintInterim = [this](const std::string& memo) {
        PrintOutcome outcome = RunInterimPrintout(memo, context_.files, context_.clock);
        if (!outcome.PdfFile.empty()) ShowPrintedToFile(outcome.PdfFile);
    };
    OpenHelp = [this](int topic) { ShowHelp(this, topic); };
    // F1 opens the topic of the focused control.
    new FormHelp(this, [this](int topic) {
        if (OpenHelp) OpenHelp(topic);
    });
}

TTracingForm::~TTracingForm() {
    context_.chains = nullptr;
}

// ---------------------------------------------------------------- controls

QPushButton* TTracingForm::AddButton(const char* name, const char* caption, int x,
                                     int helpContext) {
    auto* button = new QPushButton(QString::fromLatin1(caption), this);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(x, kMargin, kButtonWidth, kRowHeight);
    // Enter must not press a button behind the user's back.
    button->setAutoDefault(false);
    SetHelpContext(button, helpContext);
    button->installEventFilter(this);
    return button;
}

QCheckBox* TTracingForm::AddCheckBox(const char* name, const char* caption, int x,
                                     int helpContext) {
    auto* box = new QCheckBox(QString::fromLatin1(caption), this);
    box->setObjectName(QString::fromLatin1(name));
    box->setGeometry(x, kMargin, kButtonWidth, kRowHeight);
    SetHelpContext(box, helpContext);
    box->installEventFilter(this);
    return box;
}

void TTracingForm::CreateControls() {
    const int step = kButtonWidth + kMargin;
    PB_Reset_ = AddButton("PB_Reset", "Reset", kMargin, kHelpScanWindow);
    PB_Print_ = AddButton("PB_Print", "Print", kMargin + step, kHelpScanWindow);
    PB_Go_ = AddButton("PB_Go", "Go", kMargin + 2 * step, kHelpScanWindow);
    PB_Pause_ = AddButton("PB_Pause", "Pause", kMargin + 3 * step, kHelpScanWindow);
    PB_Reset_->setEnabled(false);
    PB_Print_->setEnabled(false);
    PB_Go_->setEnabled(false);
    CkAlarm_ = AddCheckBox("CkAlarm", "Alarm", kMargin + 4 * step + kMargin, kHelpAlarm);
    CkRepeat_ = AddCheckBox("CkRepeat", "Repeat", kMargin + 5 * step + kMargin, kHelpRepeat);

    // The run lamp; it takes the focus after every click so that no button
    // or check box keeps it.
    Panel1_ = new QFrame(this);
    Panel1_->setObjectName(QStringLiteral("Panel1"));
    Panel1_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1_->setLineWidth(1);
    Panel1_->setGeometry(kClientWidth - 2 * kMargin - 2 * kLampSize, kMargin, kLampSize, kLampSize);
    Panel1_->setAutoFillBackground(true);
    Panel1_->setFocusPolicy(Qt::ClickFocus);
    SetLamp(LampColour::clLime);

    Button1_ = new QPushButton(QStringLiteral("?"), this);
    Button1_->setObjectName(QStringLiteral("Button1"));
    Button1_->setGeometry(kClientWidth - kMargin - kLampSize, kMargin, kLampSize, kRowHeight);
    Button1_->setAutoDefault(false);
    SetHelpContext(Button1_, kHelpScanWindow);
    Button1_->installEventFilter(this);

    // The log: the report of the last evaluated symbol, navy on button face.
    Memo1_ = new QPlainTextEdit(this);
    Memo1_->setObjectName(QStringLiteral("Memo1"));
    Memo1_->setReadOnly(true);
    Memo1_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    QPalette memoColours = Memo1_->palette();
    memoColours.setColor(QPalette::Base, memoColours.color(QPalette::Button));
    memoColours.setColor(QPalette::Text, QColor(0, 0, 128));
    Memo1_->setPalette(memoColours);
    const int memoTop = kMargin + kRowHeight + kMargin;
    Memo1_->setGeometry(kMargin, memoTop, kClientWidth - 2 * kMargin,
                        kClientHeight - kStatusBarHeight - kMargin - memoTop);
    Memo1_->installEventFilter(this);
    Memo1_->viewport()->installEventFilter(this);
    // The log's context menu adds the chart of the current symbol.
    Memo1_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Memo1_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu* menu = Memo1_->createStandardContextMenu();
        menu->addSeparator();
        const std::string& symbol = context_.quote.Ticker;
        QAction* chart = menu->addAction(
            symbol.empty() ? QStringLiteral("&Chart...")
                           : QStringLiteral("&Chart of %1...").arg(FromLatin1(symbol)));
        chart->setObjectName(QStringLiteral("Chart1"));
        connect(chart, &QAction::triggered, this, [this] { OpenChart(); });
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(Memo1_->viewport()->mapToGlobal(at));
    });

    StatusBar1_ = new QStatusBar(this);
    StatusBar1_->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1_->setSizeGripEnabled(false);
    StatusBar1_->setGeometry(0, kClientHeight - kStatusBarHeight, kClientWidth, kStatusBarHeight);
    for (int i = 0; i < 2; ++i) {
        Panels_[i] = new QLabel(StatusBar1_);
        Panels_[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        Panels_[i]->setFixedWidth(kStatusPanelWidth);
        Panels_[i]->setTextFormat(Qt::PlainText);
        Panels_[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        StatusBar1_->addWidget(Panels_[i]);
    }
}

void TTracingForm::ConnectControls() {
    ScanDriver& driver = *driver_;
    connect(PB_Go_, &QPushButton::clicked, this, [&driver] { driver.PB_GoClick(); });
    connect(PB_Pause_, &QPushButton::clicked, this, [&driver] { driver.PB_PauseClick(); });
    connect(PB_Reset_, &QPushButton::clicked, this, [&driver] { driver.PB_ResetClick(); });
    connect(PB_Print_, &QPushButton::clicked, this, [this] { PB_PrintClick(); });
    connect(Button1_, &QPushButton::clicked, this, [this] { Button1Click(); });
    // Checking or unchecking, by the user or not, is a click of the box.
    connect(CkAlarm_, &QCheckBox::toggled, this, [&driver] { driver.CkAlarmClick(); });
    connect(CkRepeat_, &QCheckBox::toggled, this, [&driver] { driver.CkRepeatClick(); });
}

QWidget* TTracingForm::Control(ScanControl control) const {
    switch (control) {
        case ScanControl::PB_Go:
            return PB_Go_;
        case ScanControl::PB_Pause:
            return PB_Pause_;
        case ScanControl::PB_Print:
            return PB_Print_;
        case ScanControl::PB_Reset:
            return PB_Reset_;
        case ScanControl::CkRepeat:
        default:
            return CkRepeat_;
    }
}

// ---------------------------------------------------------------- opening and closing

void TTracingForm::ShowModal() {
    setWindowModality(Qt::ApplicationModal);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    FormShow();
    show();
    // The window is now the active one: the scan is prepared. Activation is
    // run here and after the driver's own boxes, never on the window
    // manager's say-so.
    FormActivate();
    Panel1_->setFocus();
}

void TTracingForm::FormShow() {
    driver_->FormShow();
    scanTimer_.setInterval(kScanInterval);
}

void TTracingForm::FormActivate() {
    // Made afresh at each activation: the source, or Tradier's token, may
    // have changed in Setup since the last. One that cannot be made (no
    // token) leaves none, which the scan says.
    chains_.reset();
    if (context_.settings.Fetched()) {
        std::string ignored;
        chains_ = fetch::ChainSourceFor(context_, fetch::FetchChoices(), ignored);
    }
    context_.chains = chains_.get();
    driver_->FormActivate();
    // A scan as of another day than today says so in the caption too, where
    // it stays in sight while the status panels change.
    const std::string& note = driver_->ScanDateNote();
    setWindowTitle(note.empty() ? QStringLiteral("Tracing")
                                : QStringLiteral("Tracing - ") + FromLatin1(note));
}

void TTracingForm::FormCloseQuery() {
    scanTimer_.setInterval(kTickerInterval);
}

void TTracingForm::FormClose() {
    driver_->FormClose();
}

void TTracingForm::done(int result) {
    // Every way of closing (the close box, Escape, the driver) comes here.
    if (isVisible()) {
        FormCloseQuery();
        FormClose();
    }
    QDialog::done(result);
}

void TTracingForm::CloseWindow() {
    close();
}

void TTracingForm::ScanStep() {
    driver_->ScanStep();
}

// ---------------------------------------------------------------- events

void TTracingForm::PB_PrintClick() {
    if (PrintInterim) PrintInterim(ToLatin1(Memo1_->toPlainText()));
}

void TTracingForm::OpenChart() {
    OpenChartWindow(this, context_.files.WorkingDirectory, context_.quote.Ticker);
}

void TTracingForm::Button1Click() {
    if (OpenHelp) OpenHelp(kHelpScanWindow);
}

// Without a printer the printout went to a file; the user is told where. The
// box is a window of the program over this one: closing it activates the scan
// window again.
void TTracingForm::ShowPrintedToFile(const std::string& file) {
    context_.messages.ShowMessage(PrintedToFileMessage(file));
    FormActivate();
}

void TTracingForm::keyPressEvent(QKeyEvent* event) {
    // The window has no Cancel button: Escape does not close it.
    if (event->key() == Qt::Key_Escape) return;
    QDialog::keyPressEvent(event);
}

bool TTracingForm::eventFilter(QObject* watched, QEvent* event) {
    // After a click on a button, a check box or the log, the lamp takes the
    // focus. The move waits until the click has been handled: a button that
    // loses the focus while its mouse button is down would not click.
    if (event->type() == QEvent::MouseButtonRelease) {
        QTimer::singleShot(0, Panel1_, [this] { Panel1_->setFocus(); });
    }
    return QDialog::eventFilter(watched, event);
}

// ---------------------------------------------------------------- ScanView

void TTracingForm::SetStatusText(int panel, const std::string& text) {
    Panels_[panel == 0 ? 0 : 1]->setText(ToQt(text));
}

std::string TTracingForm::StatusText(int panel) const {
    return FromQt(Panels_[panel == 0 ? 0 : 1]->text());
}

void TTracingForm::SetMemoText(const std::string& text) {
    QString shown = FromLatin1(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    Memo1_->setPlainText(shown);
}

void TTracingForm::SetEnabled(ScanControl control, bool enabled) {
    Control(control)->setEnabled(enabled);
}

void TTracingForm::SetLamp(LampColour colour) {
    QPalette lamp = Panel1_->palette();
    lamp.setColor(QPalette::Window, LampRgb(colour));
    Panel1_->setPalette(lamp);
}

bool TTracingForm::AlarmChecked() const {
    return CkAlarm_->isChecked();
}

bool TTracingForm::RepeatChecked() const {
    return CkRepeat_->isChecked();
}

}  // namespace quillon
