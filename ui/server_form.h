#pragma once
// The quote-server dialog: the quote server, the user name and the password.
// It has no OK or Cancel button: closing it by any means applies the edits
// and writes the settings file.

#include <QDialog>

#include "results/settings.h"
#include "ui/help_window.h"

class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace quillon {

class TServerForm final : public QDialog {
    Q_OBJECT
  public:
    // `settings` and `files` are the program's own and outlive the dialog.
    TServerForm(Settings& settings, const WorkingFileNames& files, HelpCallback help = {},
                QWidget* parent = nullptr);

    // Shows the settings in the edits and the list, naming the hosts in use.
    void FormActivate();
    // "Use Default": the built-in account on the delayed-quote server.
    void Button1Click();

  protected:
    void showEvent(QShowEvent* event) override;
    // FormClose: the edits become the settings, which are then saved.
    void done(int result) override;

  private:
    void FillServerList();

    Settings& settings_;
    const WorkingFileNames& files_;
    QComboBox* CB_QuoteServer;
    QLineEdit* ED_UserName;
    QLineEdit* ED_Password;
    QPushButton* Button1;
    QPlainTextEdit* Memo1;
};

}  // namespace quillon
