#include "platform/poll_loop.h"

#include <poll.h>

#include <algorithm>
#include <climits>
#include <utility>

namespace quillon {

namespace {

// A wait in whole milliseconds for poll(): never negative, within int.
int PollTimeout(std::chrono::milliseconds timeout) {
    return static_cast<int>(
        std::clamp<std::chrono::milliseconds::rep>(timeout.count(), 0, INT_MAX));
}

}  // namespace

PollLoop::Entry* PollLoop::Find(winsock::SOCKET s) {
    auto it = std::find_if(entries_.begin(), entries_.end(),
                           [s](const Entry& entry) { return entry.socket == s; });
    return it == entries_.end() ? nullptr : &*it;
}

void PollLoop::Watch(winsock::SOCKET s, bool wantRead, bool wantWrite) {
    Entry* entry = Find(s);
    if (entry == nullptr) {
        entries_.push_back(Entry{s, false, false, ++nextSerial_});
        entry = &entries_.back();
    }
    entry->read = wantRead;
    entry->write = wantWrite;
}

void PollLoop::Unwatch(winsock::SOCKET s) {
    std::erase_if(entries_, [s](const Entry& entry) { return entry.socket == s; });
}

bool PollLoop::Watching() const {
    return std::any_of(entries_.begin(), entries_.end(),
                       [](const Entry& entry) { return entry.read || entry.write; });
}

int PollLoop::RunOnce(std::chrono::milliseconds timeout) {
    // Sockets watched for nothing are left out (fd -1): poll() would report
    // their hang-up again and again.
    std::vector<pollfd> fds;
    std::vector<std::pair<winsock::SOCKET, std::uint64_t>> polled;
    for (const Entry& entry : entries_) {
        short events = static_cast<short>((entry.read ? POLLIN : 0) | (entry.write ? POLLOUT : 0));
        fds.push_back(pollfd{events != 0 ? entry.socket : -1, events, 0});
        polled.emplace_back(entry.socket, entry.serial);
    }
    // Nothing to watch and no time to wait: poll() could only answer 0. A
    // local scan steps its work this way, once per step.
    if (fds.empty() && timeout <= std::chrono::milliseconds(0)) return 0;
    if (::poll(fds.data(), fds.size(), PollTimeout(timeout)) <= 0) return 0;

    int ready = 0;
    for (std::size_t i = 0; i < fds.size(); ++i) {
        const short revents = fds[i].revents;
        if (revents == 0) continue;
        // Earlier deliveries may have closed or replaced this socket.
        Entry* entry = Find(polled[i].first);
        if (entry == nullptr || entry->serial != polled[i].second) continue;
        if ((revents & POLLNVAL) != 0) {
            // Closed behind this loop's back: stop watching it.
            entry->read = entry->write = false;
            continue;
        }
        // A hang-up or an error makes the socket readable and writable.
        const bool ended = (revents & (POLLERR | POLLHUP)) != 0;
        const bool readable = entry->read && ((revents & POLLIN) != 0 || ended);
        const bool writable = entry->write && ((revents & POLLOUT) != 0 || ended);
        if (!readable && !writable) continue;
        ++ready;
        SocketReady(polled[i].first, readable, writable);
    }
    return ready;
}

void PollLoop::RunFor(std::chrono::milliseconds duration) {
    using std::chrono::steady_clock;
    const steady_clock::time_point deadline = steady_clock::now() + duration;
    for (;;) {
        const steady_clock::duration left = deadline - steady_clock::now();
        if (left <= steady_clock::duration::zero()) return;
        RunOnce(std::chrono::ceil<std::chrono::milliseconds>(left));
    }
}

}  // namespace quillon
