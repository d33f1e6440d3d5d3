#include "platform/qt/qt_services.h"

#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>

namespace quillon {

namespace {

// Line ends of the core's texts are CR LF; a label wants LF alone.
QString DisplayText(const std::string& text) {
    QString shown = ToQt(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return shown;
}

const char* const kTerminals[] = {"x-terminal-emulator", "xterm"};
const char* const kGraphicalEditors[] = {"gnome-text-editor", "gedit", "kate", "kwrite",
                                         "mousepad",          "pluma", "xed",  "featherpad",
                                         "leafpad",           "geany", "xedit"};

QString FirstFound(const char* const* names, std::size_t count,
                   const std::function<QString(const QString&)>& findProgram) {
    for (std::size_t i = 0; i < count; ++i) {
        QString path = findProgram(QString::fromLatin1(names[i]));
        if (!path.isEmpty()) return path;
    }
    return {};
}

}  // namespace

QString ToQt(const std::string& text) {
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

std::string FromQt(const QString& text) {
    return text.toLocal8Bit().toStdString();
}

QString FromAnsi(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToAnsi(const QString& text) {
    return text.toLatin1().toStdString();
}

void QtMessageService::ShowMessage(const std::string& text) {
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), DisplayText(text),
                    QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

bool QtMessageService::Confirm(const std::string& text) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), DisplayText(text),
                    QMessageBox::Yes | QMessageBox::No, QApplication::activeWindow());
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

void QtBeeper::Beep() {
    QApplication::beep();
}

std::optional<EditorCommand> ChooseEditorCommand(
    const QString& file, const std::function<QString(const char*)>& environment,
    const std::function<QString(const QString&)>& findProgram) {
    QStringList fileArgument;
    if (!file.isEmpty()) fileArgument << file;

    if (!file.isEmpty()) {
        QString opener = findProgram(QStringLiteral("xdg-open"));
        if (!opener.isEmpty()) return EditorCommand{opener, fileArgument};
    }

    QString preferred = environment("VISUAL");
    if (preferred.trimmed().isEmpty()) preferred = environment("EDITOR");
    QStringList editor = QProcess::splitCommand(preferred);
    QString terminal = FirstFound(kTerminals, std::size(kTerminals), findProgram);
    if (!editor.isEmpty() && !terminal.isEmpty()) {
        return EditorCommand{terminal, QStringList{QStringLiteral("-e")} + editor + fileArgument};
    }

    QString graphical = FirstFound(kGraphicalEditors, std::size(kGraphicalEditors), findProgram);
    if (!graphical.isEmpty()) return EditorCommand{graphical, fileArgument};
    return std::nullopt;
}

void QtProgramLauncher::LaunchProgram(const std::string& file) {
    auto environment = [](const char* name) { return qEnvironmentVariable(name); };
    auto findProgram = [](const QString& name) { return QStandardPaths::findExecutable(name); };
    if (auto command = ChooseEditorCommand(ToQt(file), environment, findProgram)) {
        QProcess::startDetached(command->program, command->arguments);
    }
}

}  // namespace quillon
