#pragma once
// The risk-free interest-rate dialog: one edit with the rate in per cent. It
// has no OK or Cancel button: closing it by any means takes the entry; an
// entry that is not a valid rate is ignored and the settings file is then
// not written. A save that fails is told in a message box.

#include <QDialog>

#include "platform/services.h"
#include "results/settings.h"
#include "ui/help_window.h"

class QLineEdit;

namespace quillon {

inline constexpr int kInterestHelpContext = 207;

class TypedLengthLimit;

class TInterestForm final : public QDialog {
    Q_OBJECT
  public:
    // `settings`, `files` and `messages` are the program's own and outlive
    // the dialog.
    TInterestForm(Settings& settings, const WorkingFileNames& files, MessageService& messages,
                  HelpCallback help = {}, QWidget* parent = nullptr);

    // Shows the stored rate in per cent and puts the focus in the edit.
    void FormActivate();

  protected:
    // Centred on the screen, then FormActivate.
    void showEvent(QShowEvent* event) override;
    // FormClose: a valid entry becomes the rate and the settings are saved.
    void done(int result) override;

  private:
    Settings& settings_;
    const WorkingFileNames& files_;
    MessageService& messages_;
    QLineEdit* TX_Interest;
    TypedLengthLimit* typedLimit_;  // TX_Interest's validator
};

}  // namespace quillon
