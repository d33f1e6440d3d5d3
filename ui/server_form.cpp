#include "ui/server_form.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>
#include <utility>

#include "results/settings_save.h"
#include "scan/quote_requests.h"
#include "ui/dialog_flags.h"
#include "ui/dialog_frame.h"
#include "ui/qt/latin1.h"

namespace quillon {

namespace {

constexpr int kClientWidth = 312;
constexpr int kClientHeight = 303;

// The note under the account: six lines.
constexpr const char* kNote =
    "Note: The default user name and\n"
    "password are only meant for the first\n"
    "launch of Quillon. Please obtain your\n"
    "own user name and password from your\n"
    "quote provider, which offers delayed\n"
    "quotes free of charge.";

// The settings store user name and password as 8-bit Latin-1 text: a
// character beyond Latin-1 cannot be stored as typed.
bool StorableText(const QString& text) {
    for (QChar c : text)
        if (c.unicode() > 0xFF) return false;
    return true;
}

std::string UnstorableTextMessage(const char* what) {
    return std::string("The ") + what +
           " contains a character that cannot be saved: only the letters, digits and signs of "
           "Western European text (Latin-1) can be used.\nPlease change the " +
           what + ".";
}

QString HostText(const QuoteHost& host) {
    return FromLatin1(host.Host + ":" + host.Port);
}

QLabel* BoldLabel(const char* name, const char* text, QWidget* parent) {
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setObjectName(QString::fromLatin1(name));
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

// An edit that shows every character as "*".
QLineEdit* HiddenEdit(const char* name, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setEchoMode(QLineEdit::Password);
    edit->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
    return edit;
}

}  // namespace

TServerForm::TServerForm(Settings& settings, const WorkingFileNames& files,
                         MessageService& messages, HelpCallback help, QWidget* parent)
    : QDialog(parent, kSetupDialogFlags),
      settings_(settings),
      files_(files),
      messages_(messages),
      CB_QuoteServer(new QComboBox(this)),
      ED_UserName(HiddenEdit("ED_UserName", this)),
      ED_Password(HiddenEdit("ED_Password", this)),
      Button1(new QPushButton(QStringLiteral("Use Default"), this)),
      Memo1(new QPlainTextEdit(QString::fromLatin1(kNote), this)) {
    setObjectName(QStringLiteral("ServerForm"));
    setWindowTitle(QStringLiteral("Setup - Quote Server"));
    setFixedSize(kClientWidth, kClientHeight);
    // The classic dialog face, 8 points; fontconfig substitutes a sans-serif face.
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
    new FormHelp(this, HelpOrDefault(std::move(help), this));
    SetHelpContext(this, kServerHelpContext);

    CB_QuoteServer->setObjectName(QStringLiteral("CB_QuoteServer"));
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setAutoDefault(false);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    connect(Button1, &QPushButton::clicked, this, &TServerForm::Button1Click);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 10, 16, 10);
    layout->setSpacing(4);
    layout->addWidget(BoldLabel("Label3", "Quote Server Name", this));
    layout->addWidget(CB_QuoteServer);
    layout->addSpacing(6);
    layout->addWidget(BoldLabel("Label1", "Quote Server User Name", this));
    layout->addWidget(ED_UserName);
    layout->addSpacing(6);
    layout->addWidget(BoldLabel("Label2", "Quote Server Password", this));
    layout->addWidget(ED_Password);
    layout->addSpacing(6);
    layout->addWidget(Button1, 0, Qt::AlignHCenter);
    layout->addSpacing(6);
    layout->addWidget(Memo1);
}

// The two items name the hosts in use: QuoteHosts.txt of the working
// directory may replace the built-in ones.
void TServerForm::FillServerList() {
    const QuoteHosts hosts = ReadQuoteHosts(files_.WorkingDirectory);
    CB_QuoteServer->clear();
    CB_QuoteServer->addItem(QStringLiteral("Delayed quotes - ") + HostText(hosts.Delayed));
    CB_QuoteServer->addItem(QStringLiteral("Real-time quotes - ") + HostText(hosts.RealTime));
}

void TServerForm::FormActivate() {
    FillServerList();
    ED_UserName->setText(FromLatin1(settings_.UserName));
    ED_Password->setText(FromLatin1(settings_.Password));
    // A stored value other than 0 or 1 selects no item.
    const bool listed =
        settings_.QuoteServer >= 0 && settings_.QuoteServer < CB_QuoteServer->count();
    CB_QuoteServer->setCurrentIndex(listed ? settings_.QuoteServer : -1);
}

void TServerForm::Button1Click() {
    SetDefaultServer(settings_);
    FormActivate();
}

void TServerForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return;
    CentreOnScreen(this);
    FormActivate();
}

// Texts are taken as typed, without trimming. A text that cannot be stored
// as typed is refused: the dialog says so and stays open with that edit
// selected, and nothing is taken. With no item chosen (a stored server the
// list does not know) the stored server stays.
void TServerForm::done(int result) {
    const std::pair<QLineEdit*, const char*> edits[] = {{ED_UserName, "user name"},
                                                        {ED_Password, "password"}};
    for (const auto& [edit, what] : edits) {
        if (StorableText(edit->text())) continue;
        messages_.ShowMessage(UnstorableTextMessage(what));
        edit->setFocus();
        edit->selectAll();
        return;
    }
    // Both passed StorableText, so the conversion keeps every character.
    settings_.UserName = ToLatin1(ED_UserName->text());
    settings_.Password = ToLatin1(ED_Password->text());
    if (CB_QuoteServer->currentIndex() >= 0) settings_.QuoteServer = CB_QuoteServer->currentIndex();
    SaveSettingsOrTell(settings_, files_, messages_);
    QDialog::done(result);
}

}  // namespace quillon
