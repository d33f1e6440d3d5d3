#pragma once
// The quote-server dialog: the quote server, the user name and the password.
// It has no OK or Cancel button: closing it by any means applies the edits
// and writes the settings file. An edit holding a character the settings
// cannot store keeps the dialog open; a save that fails is told.

#include <QDialog>

#include "platform/services.h"
#include "results/settings.h"
#include "ui/help_window.h"

class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace quillon {

// F1 anywhere in the dialog opens the quote-server topic.
inline constexpr int kServerHelpContext = 206;

class TServerForm final : public QDialog {
    Q_OBJECT
  public:
    // `settings`, `files` and `messages` are the program's own and outlive
    // the dialog.
    TServerForm(Settings& settings, const WorkingFileNames& files, MessageService& messages,
                HelpCallback help = {}, QWidget* parent = nullptr);

    // Shows the settings in the edits and the list, naming the hosts in use.
    void FormActivate();
    // "Use Default": the built-in account on the delayed-quote server.
    void Button1Click();

  protected:
    // Centred on the screen, then FormActivate.
    void showEvent(QShowEvent* event) override;
    // FormClose: the edits become the settings, which are then saved.
    void done(int result) override;

  private:
    void FillServerList();

    Settings& settings_;
    const WorkingFileNames& files_;
    MessageService& messages_;
    QComboBox* CB_QuoteServer;
    QLineEdit* ED_UserName;
    QLineEdit* ED_Password;
    QPushButton* Button1;
    QPlainTextEdit* Memo1;
};

}  // namespace quillon
