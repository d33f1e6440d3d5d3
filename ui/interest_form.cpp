#include "ui/interest_form.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QShowEvent>
#include <QValidator>

#include "results/settings_rules.h"
#include "results/settings_save.h"
#include "ui/dialog_flags.h"
#include "ui/dialog_frame.h"
#include "ui/qt/latin1.h"

namespace quillon {

namespace {

constexpr int kClientWidth = 303;
constexpr int kClientHeight = 48;
constexpr int kMaxEntryLength = 5;

}  // namespace

// At most `limit` characters can be typed. A longer text that the program
// shows (a stored rate with more digits) is shown whole; typing may then
// only shorten it, and leaving it as it is keeps it.
class TypedLengthLimit final : public QValidator {
  public:
    TypedLengthLimit(QLineEdit* edit, qsizetype limit)
        : QValidator(edit), edit_(edit), limit_(limit) {
        // Emitted after every accepted change.
        connect(edit, &QLineEdit::textChanged, this,
                [this](const QString& text) { shown_ = text; });
    }

    // Puts `text` into the edit, whatever its length.
    void Show(const QString& text) {
        shown_ = text;
        edit_->setText(text);
    }

    State validate(QString& input, int& /*position*/) const override {
        if (input.size() <= limit_ || input.size() < shown_.size() || input == shown_)
            return Acceptable;
        return Invalid;
    }

  private:
    QLineEdit* edit_;
    qsizetype limit_;
    QString shown_;
};

TInterestForm::TInterestForm(Settings& settings, const WorkingFileNames& files,
                             MessageService& messages, HelpCallback help, QWidget* parent)
    : QDialog(parent, kSetupDialogWithHelpFlags),
      settings_(settings),
      files_(files),
      messages_(messages),
      TX_Interest(new QLineEdit(this)),
      typedLimit_(new TypedLengthLimit(TX_Interest, kMaxEntryLength)) {
    setObjectName(QStringLiteral("InterestForm"));
    setWindowTitle(QStringLiteral("Setup - Risk Free Interest Rate"));
    setFixedSize(kClientWidth, kClientHeight);
    // The classic dialog face, 8 points; fontconfig substitutes a sans-serif face.
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
    const HelpCallback formHelp = HelpOrDefault(std::move(help), this);
    new FormHelp(this, formHelp);

    auto* rateLabel = new QLabel(QStringLiteral("Risk Free Interest Rate"), this);
    rateLabel->setObjectName(QStringLiteral("Label2"));
    QFont bold = rateLabel->font();
    bold.setBold(true);
    rateLabel->setFont(bold);
    auto* percentLabel = new QLabel(QStringLiteral("%"), this);
    percentLabel->setObjectName(QStringLiteral("Label1"));

    TX_Interest->setObjectName(QStringLiteral("TX_Interest"));
    TX_Interest->setValidator(typedLimit_);
    TX_Interest->setFixedWidth(64);
    SetHelpContext(TX_Interest, kInterestHelpContext);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(16, 0, 16, 0);
    layout->addWidget(rateLabel);
    layout->addWidget(TX_Interest);
    layout->addWidget(percentLabel);
    layout->addStretch();
    layout->addWidget(MakeHelpButton(this, formHelp));
}

void TInterestForm::FormActivate() {
    // A stored rate with more digits than can be typed is shown whole, so
    // closing the dialog unchanged keeps it as it was.
    typedLimit_->Show(FromLatin1(InterestRatePercentText(settings_.InterestRate)));
    TX_Interest->setFocus();
    TX_Interest->selectAll();
}

void TInterestForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return;
    CentreOnScreen(this);
    FormActivate();
}

void TInterestForm::done(int result) {
    if (const std::optional<float> rate =
            InterestRateFromPercentText(ToLatin1(TX_Interest->text()))) {
        settings_.InterestRate = *rate;
        SaveSettingsOrTell(settings_, files_, messages_);
    }
    QDialog::done(result);
}

}  // namespace quillon
