// Desktop notifications over the session bus. Run under dbus-run-session, a
// stand-in notification service on the private bus records what is posted;
// without a bus, posting does nothing and fails nothing.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include "ui/qt/qt_notifications.h"

namespace quillon {

class NotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

  public:
    struct Call {
        QString app, icon, summary, body;
        uint replaces = 0;
        QStringList actions;
        QVariantMap hints;
        int timeout = 0;
    };
    QList<Call> calls;

  public slots:
    uint Notify(const QString& app, uint replaces, const QString& icon, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints,
                int timeout) {
        calls.append({app, icon, summary, body, replaces, actions, hints, timeout});
        return static_cast<uint>(calls.size());
    }
};

namespace {

bool WaitFor(const std::function<bool()>& done) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return done();
}

TEST(DesktopNotifications, ArePostedToTheNotificationService) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) GTEST_SKIP() << "no session bus (run under dbus-run-session)";
    NotificationServer server;
    ASSERT_TRUE(bus.registerObject(QLatin1String(kNotificationsPath), &server,
                                   QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(bus.registerService(QLatin1String(kNotificationsService)));

    QtDesktopNotifications notifications;
    notifications.Notify("Quillon: QLN saved", "    QLN QLN     2.50   47.30   -1.73 A & B <Corp>");
    notifications.Notify("Quillon: \xC4X saved", "");
    ASSERT_TRUE(WaitFor([&] { return server.calls.size() == 2; }));

    // The bus delivers them in the order sent (dbus-monitor shows it), but a
    // service in the sending process itself may be handed them in either order.
    if (server.calls[0].summary != QStringLiteral("Quillon: QLN saved"))
        server.calls.swapItemsAt(0, 1);
    const NotificationServer::Call& first = server.calls[0];
    EXPECT_EQ(first.app, QStringLiteral("Quillon"));
    EXPECT_EQ(first.replaces, 0U);
    EXPECT_EQ(first.icon, QStringLiteral("quillon"));
    EXPECT_EQ(first.summary, QStringLiteral("Quillon: QLN saved"));
    // Servers may read the body as markup: its "&" and "<" arrive escaped.
    EXPECT_EQ(first.body,
              QStringLiteral("    QLN QLN     2.50   47.30   -1.73 A &amp; B &lt;Corp&gt;"));
    EXPECT_TRUE(first.actions.isEmpty());
    EXPECT_EQ(first.hints.value(QStringLiteral("desktop-entry")).toString(),
              QStringLiteral("quillon"));
    EXPECT_EQ(first.timeout, -1);
    // The core's texts are Latin-1.
    EXPECT_EQ(server.calls[1].summary, QString::fromUtf8("Quillon: \xC3\x84X saved"));

    bus.unregisterService(QLatin1String(kNotificationsService));
    bus.unregisterObject(QLatin1String(kNotificationsPath));
}

// A bus without the service, or no bus at all: nothing is shown, nothing
// fails, and the caller is not held up.
TEST(DesktopNotifications, WithoutTheServiceNothingHappens) {
    QtDesktopNotifications notifications;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 20; ++i)
        notifications.Notify("Quillon: QLN saved", "body");
    QCoreApplication::processEvents();
    EXPECT_LT(timer.elapsed(), 2000);
}

}  // namespace
}  // namespace quillon

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

#include "notifications_test.moc"
