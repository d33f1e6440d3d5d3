// quillon: the desktop program. It creates the forms once, shows the main
// window, and runs until the main window closes.

#include <QApplication>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/workdir.h"
#include "scan/context.h"
#include "ui/filter_form.h"
#include "ui/interest_form.h"
#include "ui/qt/qt_notifications.h"
#include "ui/qt/qt_services.h"
#include "ui/server_form.h"
#include "ui/splash_form.h"
#include "ui/tracing_form.h"

namespace {

const char* kUsage =
    "Usage: quillon [OPTION]...\n"
    "\n"
    "The desktop program: scans the stocks of a symbol file for option\n"
    "activity, from a quote server or from the local quote archive, and\n"
    "saves the stocks that pass the filters. Its working files (settings,\n"
    "symbol file, quote archive, results and lists) are kept in the\n"
    "working directory: the current directory unless told otherwise.\n"
    "\n"
    "  --workdir DIR   work in DIR, created when missing\n"
    "  --user-workdir  work in the per-user data directory,\n"
    "                  $XDG_DATA_HOME/quillon (~/.local/share/quillon by\n"
    "                  default), created when missing; the menu entry\n"
    "                  starts the program with it\n"
    "  --help          show this text\n"
    "  --version       show the program's name and version\n"
    "\n"
    "Qt's own options (-platform, -display, ...) are accepted as well.\n";

}  // namespace

int main(int argc, char** argv) {
    using namespace quillon;
    const WorkdirChoice workdir = TakeWorkdirOptions(argc, argv);
    // Answered before any window or display is needed.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("quillon " QUILLON_VERSION);
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillon"));
    QApplication::setDesktopFileName(QStringLiteral("quillon"));
    QApplication::setWindowIcon(ProgramIcon());

    SystemClock clock;
    QtMessageService messages;
    // Started from the menu there is no terminal: a working directory that
    // cannot be used is told in a box, and the program does not start
    // somewhere the user did not ask for.
    std::string workdirError = workdir.Error;
    if (workdirError.empty() && !workdir.Directory.empty()) {
        workdirError = EnterWorkingDirectory(workdir.Directory);
    }
    if (!workdirError.empty()) {
        std::fprintf(stderr, "quillon: %s\n", workdirError.c_str());
        messages.ShowMessage("Quillon cannot start: " + workdirError);
        return 2;
    }
    QtBeeper beeper;
    QtDesktopNotifications notifications;
    QtProgramLauncher launcher(messages);
    Context context(clock, messages, beeper, notifications);

    TSplashForm SplashForm(context, launcher);
    TTracingForm TracingForm(context, SplashForm.Timer1(), &SplashForm);
    TServerForm ServerForm(context.settings, context.files, messages, {}, &SplashForm);
    TInterestForm InterestForm(context.settings, context.files, messages, {}, &SplashForm);
    TFilterForm FilterForm(context.settings, context.files, messages, {}, &SplashForm);

    SplashForm.SetScanWindow(&TracingForm);
    SplashForm.Hooks.QuotesServer = [&ServerForm] { ServerForm.exec(); };
    SplashForm.Hooks.RiskFreeInterestRate = [&InterestForm] { InterestForm.exec(); };
    SplashForm.Hooks.Filter = [&FilterForm] { FilterForm.exec(); };

    SplashForm.Start();
    return QApplication::exec();
}
