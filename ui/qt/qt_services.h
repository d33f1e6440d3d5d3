#pragma once
// The desktop program's platform services: message and confirmation boxes,
// the program's icon, the system beep, and opening files in the desktop's
// text editor.

#include <QIcon>
#include <QString>
#include <QStringList>
#include <functional>
#include <string>
#include <vector>

#include "platform/services.h"

namespace quillon {

// File names and messages, in the locale's encoding: a name chosen in a file
// dialog must come back as the bytes that name the file on disk, which Latin-1
// (latin1.h, for the core's 8-bit texts) would not give for a name beyond
// ASCII.
// Defined here, so that the dialogs library uses them without the shell's.
inline QString ToQt(const std::string& text) {
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}
inline std::string FromQt(const QString& text) {
    return text.toLocal8Bit().toStdString();
}

// What a message tells, which decides the icon of its box.
enum class MessageKind {
    Information,  // an outcome to know of (a printout went to a file)
    Warning,      // something the user's entry or choice stands in the way of
    Error,        // an operation that failed (a file not read or written)
};

// The kind of a message the core shows, told by its text: the core speaks
// to every program through one plain "show a message", so its words are all
// the desktop has to go on.
MessageKind KindOfMessage(const std::string& text);

// Message boxes over the active window: a message with an OK button under
// the application's title and the icon of its kind, a question with Yes and
// No buttons and the question icon.
class QtMessageService final : public MessageService {
  public:
    void ShowMessage(const std::string& text) override;
    bool Confirm(const std::string& text) override;
};

// The program's icon, drawn for 16, 32, 48, 64, 128 and 256 pixels: the
// pictures installed in the icon theme, built into the program so that every
// window has it wherever the program runs from. The program gives it to the
// application, and so to every window.
QIcon ProgramIcon();

class QtBeeper final : public BeepService {
  public:
    void Beep() override;
};

// A way to open a file: a program and its arguments. A program that hands
// the file on to another (`handsOn`, xdg-open) tells by its exit status
// whether that worked; any other is taken as working once it has started.
struct EditorCommand {
    QString program;
    QStringList arguments;
    bool handsOn = false;
};

// Every way to open `file` in a text editor (empty: the editor without a
// file), in the order they are tried:
// 1. a file goes to xdg-open, the desktop's own choice of application;
// 2. $VISUAL, then $EDITOR, runs in a terminal emulator;
// 3. the known graphical text editors that are installed.
// `environment` reads a variable, `findProgram` gives a program's full path
// or an empty text; programs that are not found are left out.
std::vector<EditorCommand> EditorCandidates(
    const QString& file, const std::function<QString(const char*)>& environment,
    const std::function<QString(const QString&)>& findProgram);

// Starts one candidate and calls `finished` once with whether it worked; it
// may call back at once or later from the event loop.
using CommandStarter =
    std::function<void(const EditorCommand& command, std::function<void(bool worked)> finished)>;

// Tries the candidates in order with `start` until one works; calls
// `noneWorked` when none did (at once for an empty list).
void StartFirstThatWorks(std::vector<EditorCommand> candidates, CommandStarter start,
                         std::function<void()> noneWorked);

// How long a program that hands the file on has to report a failure; one
// still running then is taken as working (xdg-open may wait for the editor
// it started).
inline constexpr int kHandOnGraceMs = 5000;

// Starts `command` on the desktop: a program that hands the file on is
// watched until it exits or `graceMs` have passed; any other is started
// detached and works when it could be started.
void StartEditorCommand(const EditorCommand& command, std::function<void(bool worked)> finished,
                        int graceMs = kHandOnGraceMs);

// Told when nothing could open `file` (empty: when no editor could be started).
std::string NoEditorMessage(const std::string& file);

// Opens a file in the first of the EditorCandidates of the real environment
// and PATH that works, and says so in a message box when none does.
class QtProgramLauncher final : public ProgramLauncher {
  public:
    explicit QtProgramLauncher(MessageService& messages);
    // The same over another environment, program search and starter.
    QtProgramLauncher(MessageService& messages, std::function<QString(const char*)> environment,
                      std::function<QString(const QString&)> findProgram, CommandStarter start);

    void LaunchProgram(const std::string& file) override;

  private:
    MessageService& messages_;
    std::function<QString(const char*)> environment_;
    std::function<QString(const QString&)> findProgram_;
    CommandStarter start_;
};

}  // namespace quillon
