#pragma once
// Socket notifications of the desktop program: a pair of QSocketNotifiers
// per watched socket, so that readiness arrives through the Qt event loop on
// the user-interface thread, between timer ticks and clicks.

#include <QObject>
#include <map>

#include "platform/winsock.h"

class QSocketNotifier;

namespace quillon {

class QtSocketHost final : public QObject, public winsock::AsyncSelectHost {
    Q_OBJECT

  public:
    explicit QtSocketHost(QObject* parent = nullptr);
    ~QtSocketHost() override;

    void Watch(winsock::SOCKET s, bool wantRead, bool wantWrite) override;
    void Unwatch(winsock::SOCKET s) override;

    // True while some socket is watched for reading or writing.
    bool Watching() const;

  private:
    struct Notifiers {
        QSocketNotifier* read = nullptr;
        QSocketNotifier* write = nullptr;
    };

    QSocketNotifier* MakeNotifier(winsock::SOCKET s, bool forReading);
    static void Retire(QSocketNotifier* notifier);

    std::map<winsock::SOCKET, Notifiers> watched_;
};

}  // namespace quillon
