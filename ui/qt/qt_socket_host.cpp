#include "ui/qt/qt_socket_host.h"

#include <QSocketNotifier>

namespace quillon {

QtSocketHost::QtSocketHost(QObject* parent) : QObject(parent) {}

// The notifiers are children of the host and go with it.
QtSocketHost::~QtSocketHost() = default;

QSocketNotifier* QtSocketHost::MakeNotifier(winsock::SOCKET s, bool forReading) {
    auto* notifier =
        new QSocketNotifier(s, forReading ? QSocketNotifier::Read : QSocketNotifier::Write, this);
    notifier->setEnabled(false);
    // The notifier fires again on the next round while the condition holds,
    // as long as it stays enabled: the level-triggered readiness the socket
    // layer expects.
    connect(notifier, &QSocketNotifier::activated, this,
            [this, s, forReading] { SocketReady(s, forReading, !forReading); });
    return notifier;
}

void QtSocketHost::Watch(winsock::SOCKET s, bool wantRead, bool wantWrite) {
    Notifiers& notifiers = watched_[s];
    if (!notifiers.read) notifiers.read = MakeNotifier(s, true);
    if (!notifiers.write) notifiers.write = MakeNotifier(s, false);
    notifiers.read->setEnabled(wantRead);
    notifiers.write->setEnabled(wantWrite);
}

// A notifier may be the very one whose signal is being delivered: it is
// switched off now and deleted once control is back in the event loop.
void QtSocketHost::Retire(QSocketNotifier* notifier) {
    if (!notifier) return;
    notifier->setEnabled(false);
    notifier->disconnect();
    notifier->deleteLater();
}

void QtSocketHost::Unwatch(winsock::SOCKET s) {
    auto it = watched_.find(s);
    if (it == watched_.end()) return;
    Retire(it->second.read);
    Retire(it->second.write);
    watched_.erase(it);
}

bool QtSocketHost::Watching() const {
    for (const auto& [socket, notifiers] : watched_) {
        if (notifiers.read->isEnabled() || notifiers.write->isEnabled()) return true;
    }
    return false;
}

}  // namespace quillon
