#include "ui/interest_form.h"

#include <algorithm>

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QShowEvent>

#include "results/settings_rules.h"
#include "ui/dialog_flags.h"

namespace quillon {

namespace {

constexpr int kClientWidth = 303;
constexpr int kClientHeight = 48;
constexpr int kMaxEntryLength = 5;

}  // namespace

TInterestForm::TInterestForm(Settings& settings, const WorkingFileNames& files, HelpCallback help,
                             QWidget* parent)
    : QDialog(parent, kSetupDialogWithHelpFlags),
      settings_(settings),
      files_(files),
      TX_Interest(new QLineEdit(this)) {
    setObjectName(QStringLiteral("InterestForm"));
    setWindowTitle(QStringLiteral("Setup - Risk Free Interest Rate"));
    setFixedSize(kClientWidth, kClientHeight);
    // The classic dialog face, 8 points; fontconfig substitutes a sans-serif face.
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
    new FormHelp(this, HelpOrDefault(std::move(help), this));

    auto* rateLabel = new QLabel(QStringLiteral("Risk Free Interest Rate"), this);
    rateLabel->setObjectName(QStringLiteral("Label2"));
    QFont bold = rateLabel->font();
    bold.setBold(true);
    rateLabel->setFont(bold);
    auto* percentLabel = new QLabel(QStringLiteral("%"), this);
    percentLabel->setObjectName(QStringLiteral("Label1"));

    TX_Interest->setObjectName(QStringLiteral("TX_Interest"));
    TX_Interest->setMaxLength(kMaxEntryLength);
    TX_Interest->setFixedWidth(64);
    SetHelpContext(TX_Interest, kInterestHelpContext);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(16, 0, 16, 0);
    layout->addWidget(rateLabel);
    layout->addWidget(TX_Interest);
    layout->addWidget(percentLabel);
    layout->addStretch();
}

void TInterestForm::FormActivate() {
    // The length limit is for typing; a stored rate with more digits is
    // shown whole, so closing the dialog unchanged keeps it as it was.
    const QString shown = QString::fromStdString(InterestRatePercentText(settings_.InterestRate));
    TX_Interest->setMaxLength(std::max<int>(kMaxEntryLength, static_cast<int>(shown.size())));
    TX_Interest->setText(shown);
    TX_Interest->setFocus();
    TX_Interest->selectAll();
}

void TInterestForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) FormActivate();
}

void TInterestForm::done(int result) {
    if (const std::optional<float> rate =
            InterestRateFromPercentText(TX_Interest->text().toLatin1().toStdString())) {
        settings_.InterestRate = *rate;
        SaveSettings(settings_, files_);
    }
    QDialog::done(result);
}

}  // namespace quillon
