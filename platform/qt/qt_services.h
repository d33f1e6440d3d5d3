#pragma once
// The desktop program's platform services: message and confirmation boxes,
// the system beep, and starting the desktop's text editor.

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <string>

#include "platform/services.h"
#include "ui/shell_rules.h"

namespace quillon {

// Texts of the core are 8-bit; file names and messages are shown in the
// locale's encoding.
QString ToQt(const std::string& text);
std::string FromQt(const QString& text);
// Report and log text: 8-bit, one character per byte, so every byte shows
// and comes back unchanged.
QString FromAnsi(const std::string& text);
std::string ToAnsi(const QString& text);

// Message boxes over the active window: a message with an OK button under
// the application's title, a question with Yes and No buttons.
class QtMessageService final : public MessageService {
  public:
    void ShowMessage(const std::string& text) override;
    bool Confirm(const std::string& text) override;
};

class QtBeeper final : public BeepService {
  public:
    void Beep() override;
};

// A program and its arguments, started detached.
struct EditorCommand {
    QString program;
    QStringList arguments;
};

// How the text editor is started for `file` (empty: no file):
// 1. a file goes to xdg-open, the desktop's own choice of application;
// 2. otherwise $VISUAL or $EDITOR runs in a terminal emulator;
// 3. otherwise the first known graphical text editor that is installed.
// `environment` reads a variable, `findProgram` gives a program's full path
// or an empty text. Nothing when no editor can be found.
std::optional<EditorCommand> ChooseEditorCommand(
    const QString& file, const std::function<QString(const char*)>& environment,
    const std::function<QString(const QString&)>& findProgram);

// Starts the editor chosen by ChooseEditorCommand from the real environment
// and PATH; failures are ignored.
class QtProgramLauncher final : public ProgramLauncher {
  public:
    void LaunchProgram(const std::string& file) override;
};

}  // namespace quillon
