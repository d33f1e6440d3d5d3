#pragma once
// The program's help: HTML topics installed with the program, one for every
// help context, shown in one help window with links between the topics; and
// the routing of F1 and the title bar's "?" on a form to the topic of the
// control asked about.

#include <functional>

#include <QDialog>
#include <QString>
#include <QUrl>

class QTextBrowser;

namespace quillon {

// Opens help at a help context; the dialogs are given one.
using HelpCallback = std::function<void(int context)>;

inline constexpr int kHelpContents = 1;

// Where the topics are: share/quillon/help beside the program's bin/ folder,
// both when installed (/usr/bin/quillon, /usr/share/quillon/help) and in the
// build tree, which copies them there.
QString HelpDirectory();

// The topic a help context opens (a file: address in HelpDirectory); an
// unknown context opens the contents.
QUrl HelpTopic(int context);

class HelpWindow final : public QDialog {
    Q_OBJECT
  public:
    explicit HelpWindow(QWidget* parent = nullptr);

    void OpenContext(int context);
    // The topic on show.
    QUrl CurrentTopic() const;

  private:
    QTextBrowser* browser_;
};

// Shows the program's help window at `context`, above `parent`'s window (the
// active modal dialog when `parent` is null), so it can be used while that
// dialog runs. The one help window is reused.
void ShowHelp(QWidget* parent, int context);

// The help window ShowHelp uses, or null before the first call.
HelpWindow* ProgramHelpWindow();

// Gives `control` a help context: F1 while it has the focus, or the "?" of
// the title bar and a click on it, opens that topic.
void SetHelpContext(QWidget* control, int context);

// The help context of a control: its own, else that of the nearest parent
// (up to its window) that has one, else the contents.
int HelpContextOf(const QWidget* control);

// The help context F1 on `form` asks for: that of the control with the
// focus, or the form's own when no control has it.
int HelpContextOfFocus(const QWidget* form);

// Routes F1 and What's-This clicks on `form` to `help` with the help context
// of the control asked about. Owned by the form.
class FormHelp final : public QObject {
    Q_OBJECT
  public:
    FormHelp(QWidget* form, HelpCallback help);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QWidget* form_;
    HelpCallback help_;
};

// `help`, or ShowHelp above `owner` when `help` is empty.
HelpCallback HelpOrDefault(HelpCallback help, QWidget* owner);

}  // namespace quillon
