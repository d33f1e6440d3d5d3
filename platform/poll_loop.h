#pragma once
// The notification host of the headless runner and the tests: a poll() loop
// over the registered sockets, run on the calling thread between the scan's
// timer steps. Notifications are delivered from RunOnce / RunFor only.

#include <chrono>
#include <cstdint>
#include <vector>

#include "platform/winsock.h"

namespace quillon {

// When the step after the one due at `due` is due, for a loop that woke for
// it at `now`: a tick after `due`, so that wake-ups a little late do not add
// up over thousands of steps (the five-minute request limit stays five
// minutes); a tick after `now` once the loop has fallen a whole tick behind.
inline std::chrono::steady_clock::time_point NextStepDue(std::chrono::steady_clock::time_point due,
                                                         std::chrono::steady_clock::time_point now,
                                                         std::chrono::milliseconds tick) {
    return now - due >= tick ? now + tick : due + tick;
}

class PollLoop final : public winsock::AsyncSelectHost {
  public:
    void Watch(winsock::SOCKET s, bool wantRead, bool wantWrite) override;
    void Unwatch(winsock::SOCKET s) override;

    // Waits up to `timeout` for a watched socket to become ready and delivers
    // the notifications of every socket found ready. Returns the number of
    // sockets found ready; 0 after the whole wait when none was. With
    // nothing to watch it simply waits.
    int RunOnce(std::chrono::milliseconds timeout);

    // Delivers notifications until `duration` has passed.
    void RunFor(std::chrono::milliseconds duration);

    // True while some socket is watched for reading or writing.
    bool Watching() const;

  private:
    struct Entry {
        winsock::SOCKET socket = winsock::INVALID_SOCKET;
        bool read = false;
        bool write = false;
        // Changes whenever the entry is made again, so that a poll result for
        // a socket closed (and its number reused) meanwhile is not applied.
        std::uint64_t serial = 0;
    };

    Entry* Find(winsock::SOCKET s);

    std::vector<Entry> entries_;
    std::uint64_t nextSerial_ = 0;
};

}  // namespace quillon
