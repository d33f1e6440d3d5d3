#include "ui/qt/qt_notifications.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

#include "ui/qt/latin1.h"

namespace quillon {

void QtDesktopNotifications::Notify(const std::string& summary, const std::string& body) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QLatin1String(kNotificationsService), QLatin1String(kNotificationsPath),
        QLatin1String(kNotificationsService), QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("quillon"));
    call << QStringLiteral("Quillon")         // application name
         << 0U                                // replaces no earlier notification
         << QStringLiteral("quillon")         // icon
         << FromLatin1(summary)               // summary
         << FromLatin1(body).toHtmlEscaped()  // body
         << QStringList()                     // no actions
         << hints                             // hints
         << -1;                               // the server's own time-out
    bus.send(call);
}

}  // namespace quillon
