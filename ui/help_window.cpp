#include "ui/help_window.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <QWhatsThis>

namespace quillon {

namespace {

constexpr const char* kHelpContextProperty = "helpContext";

struct TopicOfContext {
    int first;  // the contexts first to last open the topic
    int last;
    const char* file;
};

// The filter contexts without a topic of their own open the filter overview.
constexpr TopicOfContext kTopics[] = {
    {1, 1, "contents.html"},
    {102, 102, "contact.html"},
    {206, 206, "quote_server.html"},
    {207, 207, "interest_rate.html"},
    {213, 213, "derive_zor.html"},
    {215, 215, "templates.html"},
    {250, 250, "filter_pe.html"},
    {251, 251, "filter_market_cap.html"},
    {252, 252, "filter_volume.html"},
    {253, 253, "filter_last_price.html"},
    {255, 255, "filter_change.html"},
    {256, 256, "filter_yield.html"},
    {257, 257, "filter_range.html"},
    {260, 260, "filter_option_volume.html"},
    {261, 261, "filter_open_interest.html"},
    {269, 269, "filter_volatility.html"},
    {270, 270, "filter_zor_ratio.html"},
    {254, 254, "filters.html"},  // the filter dialog as a whole
    {250, 270, "filters.html"},
    {271, 271, "history.html"},  // the IV filters, their window, the history figures
    {301, 301, "scan_window.html"},
    {302, 302, "alarm.html"},
    {303, 303, "repeat.html"},
};

const char* TopicFile(int context) {
    for (const TopicOfContext& topic : kTopics)
        if (context >= topic.first && context <= topic.last) return topic.file;
    return "contents.html";
}

QPointer<HelpWindow>& SharedHelpWindow() {
    static QPointer<HelpWindow> window;
    return window;
}

}  // namespace

QString HelpDirectory() {
    return QDir::cleanPath(QCoreApplication::applicationDirPath() +
                           QStringLiteral("/../share/quillon/help"));
}

QUrl HelpTopic(int context) {
    return QUrl::fromLocalFile(HelpDirectory() + QLatin1Char('/') +
                               QLatin1String(TopicFile(context)));
}

// ---- help window ------------------------------------------------------------------------------

HelpWindow::HelpWindow(QWidget* parent) : QDialog(parent), browser_(new QTextBrowser(this)) {
    setWindowTitle(QStringLiteral("Quillon Help"));
    setObjectName(QStringLiteral("HelpWindow"));
    resize(560, 480);

    auto* contents = new QPushButton(QStringLiteral("&Contents"), this);
    auto* back = new QPushButton(QStringLiteral("&Back"), this);
    back->setEnabled(false);
    connect(contents, &QPushButton::clicked, this, [this] { OpenContext(kHelpContents); });
    connect(back, &QPushButton::clicked, browser_, &QTextBrowser::backward);
    connect(browser_, &QTextBrowser::backwardAvailable, back, &QPushButton::setEnabled);
    connect(browser_, &QTextBrowser::sourceChanged, this, [this] {
        // The contents topic is titled "Quillon Help" itself: said once.
        const QString kHelpTitle = QStringLiteral("Quillon Help");
        const QString topic = browser_->documentTitle();
        setWindowTitle(topic.isEmpty() || topic == kHelpTitle
                           ? kHelpTitle
                           : kHelpTitle + QStringLiteral(" - ") + topic);
    });

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(contents);
    buttons->addWidget(back);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(browser_);
}

void HelpWindow::OpenContext(int context) {
    const QUrl topic = HelpTopic(context);
    if (QFileInfo::exists(topic.toLocalFile())) {
        browser_->setSource(topic);
        return;
    }
    // A missing topic is said in the window, with where it was looked for.
    browser_->setSource(QUrl());
    browser_->setHtml(QStringLiteral("<h3>The help topics are missing</h3><p>Quillon looked for "
                                     "them in %1, where %2 is not found. Installing Quillon "
                                     "again puts them back.</p>")
                          .arg(HelpDirectory().toHtmlEscaped(), topic.fileName()));
    setWindowTitle(QStringLiteral("Quillon Help"));
}

QUrl HelpWindow::CurrentTopic() const {
    return browser_->source();
}

void ShowHelp(QWidget* parent, int context) {
    if (parent == nullptr) parent = QApplication::activeModalWidget();
    QWidget* owner = parent != nullptr ? parent->window() : nullptr;
    QPointer<HelpWindow>& window = SharedHelpWindow();
    if (window == nullptr) window = new HelpWindow(owner);
    // A child of the running modal dialog stays usable while that dialog runs.
    if (window->parentWidget() != owner) window->setParent(owner, window->windowFlags());
    window->OpenContext(context);
    window->show();
    window->raise();
    window->activateWindow();
}

HelpWindow* ProgramHelpWindow() {
    return SharedHelpWindow();
}

// ---- help contexts of controls ----------------------------------------------------------------

void SetHelpContext(QWidget* control, int context) {
    control->setProperty(kHelpContextProperty, context);
}

int HelpContextOf(const QWidget* control) {
    for (const QWidget* w = control; w != nullptr; w = w->parentWidget()) {
        const QVariant context = w->property(kHelpContextProperty);
        if (context.isValid()) return context.toInt();
        if (w->isWindow()) break;
    }
    return kHelpContents;
}

int HelpContextOfFocus(const QWidget* form) {
    const QWidget* focus = form->focusWidget();
    return HelpContextOf(focus != nullptr ? focus : form);
}

FormHelp::FormHelp(QWidget* form, HelpCallback help)
    : QObject(form), form_(form), help_(std::move(help)) {
    form->installEventFilter(this);
}

// Key presses and What's-This events that no control took reach the form;
// the control meant is the one with the focus (F1) or the one clicked.
bool FormHelp::eventFilter(QObject* watched, QEvent* event) {
    if (watched != form_ || !help_) return false;
    switch (event->type()) {
        case QEvent::KeyPress:
            if (static_cast<QKeyEvent*>(event)->key() != Qt::Key_F1) return false;
            help_(HelpContextOfFocus(form_));
            return true;
        case QEvent::QueryWhatsThis:
            event->accept();
            return true;
        case QEvent::WhatsThis: {
            const QPoint at = static_cast<QHelpEvent*>(event)->pos();
            QWidget* control = form_->childAt(at);
            help_(HelpContextOf(control != nullptr ? control : form_));
            QWhatsThis::leaveWhatsThisMode();
            return true;
        }
        default:
            return false;
    }
}

HelpCallback HelpOrDefault(HelpCallback help, QWidget* owner) {
    if (help) return help;
    return [owner](int context) { ShowHelp(owner, context); };
}

}  // namespace quillon
