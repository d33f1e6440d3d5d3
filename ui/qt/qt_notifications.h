#pragma once
// Desktop notifications through the freedesktop notification service on the
// session bus.

#include <string>

#include "platform/services.h"

namespace quillon {

// The D-Bus name, object and interface of the notification service.
inline constexpr const char* kNotificationsService = "org.freedesktop.Notifications";
inline constexpr const char* kNotificationsPath = "/org/freedesktop/Notifications";

// Posts each notification as an asynchronous Notify call and never waits for
// the answer: without a session bus nothing is sent, and a bus without the
// service answers with an error nobody reads. The body is escaped, since
// notification servers may read it as markup and a company name can hold "&".
class QtDesktopNotifications final : public NotificationService {
  public:
    void Notify(const std::string& summary, const std::string& body) override;
};

}  // namespace quillon
