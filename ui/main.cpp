// quillon: the desktop program. It creates the forms once, shows the main
// window, and runs until the main window closes.

#include <QApplication>
#include <cstdio>
#include <cstring>

#include "platform/clock.h"
#include "platform/qt/qt_notifications.h"
#include "platform/qt/qt_services.h"
#include "scan/context.h"
#include "ui/filter_form.h"
#include "ui/interest_form.h"
#include "ui/server_form.h"
#include "ui/splash_form.h"
#include "ui/tracing_form.h"

int main(int argc, char** argv) {
    using namespace quillon;
    // Answered before any window or display is needed.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("quillon " QUILLON_VERSION);
            return 0;
        }
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillon"));

    SystemClock clock;
    QtMessageService messages;
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
