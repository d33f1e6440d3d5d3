#include "ui/qt/qt_services.h"

#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <cctype>
#include <memory>

// The resource of ui/quillon.qrc, in a static library that nothing else
// references; Q_INIT_RESOURCE must be called outside any namespace.
static void InitProgramIconResource() {
    Q_INIT_RESOURCE(quillon);
}

namespace quillon {

namespace {

// Line ends of the core's texts are CR LF; a label wants LF alone.
QString DisplayText(const std::string& text) {
    QString shown = ToQt(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return shown;
}

// Phrases that tell a message's kind, tried in order; the first found
// decides. The warnings come first: a refusal of the user's entry may speak
// of what "cannot" be done without anything having failed.
struct KindPhrase {
    const char* phrase;  // in lower case
    MessageKind kind;
};

constexpr KindPhrase kKindPhrases[] = {
    {"please change", MessageKind::Warning},          // an entry that cannot be stored
    {"contains no symbols", MessageKind::Warning},    // the symbol file chosen
    {"is in use by", MessageKind::Warning},           // another scan holds the directory
    {"refused the user name", MessageKind::Warning},  // the account set up
    {"no port specified", MessageKind::Warning},      // the quote host set up
    {"no ip address specified", MessageKind::Warning},
    {"install a text editor", MessageKind::Warning},  // no editor to open a file in
    {"error", MessageKind::Error},
    {"cannot", MessageKind::Error},
    {"could not", MessageKind::Error},
    {"failed", MessageKind::Error},
};

QMessageBox::Icon IconOf(MessageKind kind) {
    switch (kind) {
        case MessageKind::Warning:
            return QMessageBox::Warning;
        case MessageKind::Error:
            return QMessageBox::Critical;
        case MessageKind::Information:
            break;
    }
    return QMessageBox::Information;
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

// The candidates still to try and what to do when none is left.
struct CandidateChain {
    std::vector<EditorCommand> candidates;
    std::size_t next = 0;
    CommandStarter start;
    std::function<void()> noneWorked;
};

void TryNextCandidate(const std::shared_ptr<CandidateChain>& chain) {
    if (chain->next >= chain->candidates.size()) {
        if (chain->noneWorked) chain->noneWorked();
        return;
    }
    const EditorCommand& command = chain->candidates[chain->next++];
    // A starter that answers more than once is heard once.
    auto answered = std::make_shared<bool>(false);
    chain->start(command, [chain, answered](bool worked) {
        if (*answered) return;
        *answered = true;
        if (!worked) TryNextCandidate(chain);
    });
}

}  // namespace

MessageKind KindOfMessage(const std::string& text) {
    std::string lower = text;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const KindPhrase& k : kKindPhrases) {
        if (lower.find(k.phrase) != std::string::npos) return k.kind;
    }
    return MessageKind::Information;
}

void QtMessageService::ShowMessage(const std::string& text) {
    QMessageBox box(IconOf(KindOfMessage(text)), QApplication::applicationName(), DisplayText(text),
                    QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

bool QtMessageService::Confirm(const std::string& text) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), DisplayText(text),
                    QMessageBox::Yes | QMessageBox::No, QApplication::activeWindow());
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

QIcon ProgramIcon() {
    InitProgramIconResource();
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256}) {
        const QPixmap picture(QStringLiteral(":/icons/%1x%1/quillon.png").arg(size));
        if (!picture.isNull()) icon.addPixmap(picture);
    }
    return icon;
}

void QtBeeper::Beep() {
    QApplication::beep();
}

std::vector<EditorCommand> EditorCandidates(
    const QString& file, const std::function<QString(const char*)>& environment,
    const std::function<QString(const QString&)>& findProgram) {
    QStringList fileArgument;
    if (!file.isEmpty()) fileArgument << file;
    std::vector<EditorCommand> candidates;

    if (!file.isEmpty()) {
        QString opener = findProgram(QStringLiteral("xdg-open"));
        if (!opener.isEmpty()) candidates.push_back({opener, fileArgument, true});
    }

    const QString terminal = FirstFound(kTerminals, std::size(kTerminals), findProgram);
    QStringList previous;
    for (const char* variable : {"VISUAL", "EDITOR"}) {
        const QStringList editor = QProcess::splitCommand(environment(variable));
        if (editor.isEmpty() || terminal.isEmpty() || editor == previous) continue;
        candidates.push_back({terminal, QStringList{QStringLiteral("-e")} + editor + fileArgument});
        previous = editor;
    }

    for (const char* name : kGraphicalEditors) {
        QString path = findProgram(QString::fromLatin1(name));
        if (!path.isEmpty()) candidates.push_back({path, fileArgument});
    }
    return candidates;
}

void StartFirstThatWorks(std::vector<EditorCommand> candidates, CommandStarter start,
                         std::function<void()> noneWorked) {
    auto chain = std::make_shared<CandidateChain>();
    chain->candidates = std::move(candidates);
    chain->start = std::move(start);
    chain->noneWorked = std::move(noneWorked);
    TryNextCandidate(chain);
}

void StartEditorCommand(const EditorCommand& command, std::function<void(bool worked)> finished,
                        int graceMs) {
    if (!command.handsOn) {
        finished(QProcess::startDetached(command.program, command.arguments));
        return;
    }
    // Owned by the application: a process still running when the program
    // ends is stopped then, but a program it started keeps running.
    auto* process = new QProcess(QCoreApplication::instance());
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->setStandardInputFile(QProcess::nullDevice());
    auto answer = [finished = std::move(finished), answered = false](bool worked) mutable {
        // Nothing more is started while the program ends.
        if (answered || QCoreApplication::closingDown()) return;
        answered = true;
        finished(worked);
    };
    auto shared = std::make_shared<decltype(answer)>(std::move(answer));
    QObject::connect(process, &QProcess::finished, process,
                     [process, shared](int exitCode, QProcess::ExitStatus status) {
                         (*shared)(status == QProcess::NormalExit && exitCode == 0);
                         process->deleteLater();
                     });
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process, shared](QProcess::ProcessError error) {
                         if (error != QProcess::FailedToStart) return;
                         (*shared)(false);
                         process->deleteLater();
                     });
    QTimer::singleShot(graceMs, process, [shared] { (*shared)(true); });
    process->start(command.program, command.arguments);
}

std::string NoEditorMessage(const std::string& file) {
    const std::string advice =
        "Install a text editor, or name one in the environment variable VISUAL or EDITOR.";
    if (file.empty()) return "No text editor could be started.\n" + advice;
    return "No program could be started to open " + file + ".\n" + advice;
}

QtProgramLauncher::QtProgramLauncher(MessageService& messages)
    : QtProgramLauncher(
          messages, [](const char* name) { return qEnvironmentVariable(name); },
          [](const QString& name) { return QStandardPaths::findExecutable(name); },
          [](const EditorCommand& command, std::function<void(bool)> finished) {
              StartEditorCommand(command, std::move(finished));
          }) {}

QtProgramLauncher::QtProgramLauncher(MessageService& messages,
                                     std::function<QString(const char*)> environment,
                                     std::function<QString(const QString&)> findProgram,
                                     CommandStarter start)
    : messages_(messages),
      environment_(std::move(environment)),
      findProgram_(std::move(findProgram)),
      start_(std::move(start)) {}

void QtProgramLauncher::LaunchProgram(const std::string& file) {
    StartFirstThatWorks(
        EditorCandidates(ToQt(file), environment_, findProgram_), start_,
        [&messages = messages_, file] { messages.ShowMessage(NoEditorMessage(file)); });
}

}  // namespace quillon
