// quillon: the desktop program. It creates the forms once, shows the main
// window, and runs until the main window closes.

#include <QApplication>

#include "platform/clock.h"
#include "platform/qt/qt_services.h"
#include "scan/context.h"
#include "scan/tracing_form.h"
#include "ui/splash_form.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillon"));

    quillon::SystemClock clock;
    quillon::QtMessageService messages;
    quillon::QtBeeper beeper;
    quillon::QtProgramLauncher launcher;
    quillon::Context context(clock, messages, beeper);

    quillon::TSplashForm splashForm(context, launcher);
    quillon::TTracingForm tracingForm(context, splashForm.Timer1(), &splashForm);
    splashForm.SetScanWindow(&tracingForm);

    splashForm.Start();
    return QApplication::exec();
}
