// The demo quote service's server: one request per connection, in a single
// thread that polls every socket without blocking. Connections that send no
// request do not lock the others out: when there is no room for one more,
// the idle connection heard from longest ago makes way. Test faults make it
// misbehave in the ways a real service can.

#include "sim/quote_server.h"

#include "sim/quote_pages.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace quillon::sim {

struct QuoteServer::Connection {
    enum class Phase { Reading, Writing, Stalled, Draining, Closed };
    int fd = -1;
    Phase phase = Phase::Reading;
    Fault fault = Fault::None;  // the fault this answer carries
    std::string in;
    std::string out;
    std::size_t sent = 0;
    SteadyClock::time_point deadline;   // the connection is given up then
    SteadyClock::time_point nextPiece;  // drip: when the next piece may go
    SteadyClock::time_point heard;      // accepted, or the last bytes of its request came
    // Accepted since the last poll, so not read yet: it may hold a request
    // already and is not taken for an idle connection.
    bool fresh = true;
};

std::string AddressText(const sockaddr_in& address) {
    char host[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &address.sin_addr, host, sizeof host);
    return std::string(host) + ":" + std::to_string(ntohs(address.sin_port));
}

namespace {

constexpr auto kRequestTimeout = std::chrono::seconds(30);
// While room is short, a connection that has sent nothing for this long is
// closed; the server counts as short of room for the request timeout after
// a connection last had to make way or be refused.
constexpr auto kIdleTimeoutWhenCrowded = std::chrono::seconds(5);
constexpr auto kCrowdedSpell = kRequestTimeout;
// Accepting rests this long after a failure that does not consume the
// waiting connection (the system's descriptors or memory are short).
constexpr auto kAcceptPause = std::chrono::milliseconds(100);
constexpr auto kWriteTimeout = std::chrono::seconds(60);
constexpr auto kDrainTimeout = std::chrono::seconds(2);
constexpr auto kDripDelay = std::chrono::milliseconds(5);
constexpr auto kPollLimit = std::chrono::milliseconds(200);

// ---- Sockets ----

void SetNonBlocking(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
}

// A socket bound to `address`, listening unless `listening` is false: a
// bound socket that does not listen keeps the port while connections to it
// are refused. -1 on failure, with errno telling why.
int OpenEndpoint(const sockaddr_in& address, bool listening) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        (listening && listen(fd, 128) != 0)) {
        const int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    SetNonBlocking(fd);
    return fd;
}

// The lowest port a process without root may listen on.
int LowestUnprivilegedPort() {
    int port = 1024;
    if (std::FILE* file = std::fopen("/proc/sys/net/ipv4/ip_unprivileged_port_start", "r")) {
        if (std::fscanf(file, "%d", &port) != 1) port = 1024;
        std::fclose(file);
    }
    return port;
}

// A port near 8080 that `host` can listen on now; 8080 when none of them is
// free.
std::uint16_t FreePortNear8080(in_addr host) {
    for (std::uint16_t port = 8080; port < 8100; ++port) {
        sockaddr_in probe{};
        probe.sin_family = AF_INET;
        probe.sin_addr = host;
        probe.sin_port = htons(port);
        const int fd = OpenEndpoint(probe, true);
        if (fd >= 0) {
            close(fd);
            return port;
        }
    }
    return 8080;
}

// Why `wanted` cannot be listened on (errno `error`). For the causes a user
// meets (a port that needs root, a port taken, an address that is not this
// machine's) it goes on with the commands that get a scan going: the service
// on a free port of this machine, and the scan told where it is, since the
// scan asks port 80 unless told otherwise.
std::string ListenFailureText(const sockaddr_in& wanted, int error) {
    const std::uint16_t port = ntohs(wanted.sin_port);
    std::string text =
        "quillon-quoted: cannot listen on " + AddressText(wanted) + ": " + std::strerror(error);
    sockaddr_in suggested = wanted;
    const char* instead = "a free port";
    if (error == EACCES) {
        const int lowest = LowestUnprivilegedPort();
        if (port < lowest) text += " (ports below " + std::to_string(lowest) + " need root)";
    } else if (error == EADDRINUSE) {
        text += " (another program listens there)";
    } else if (error == EADDRNOTAVAIL) {
        text += " (not an address of this machine)";
        instead = "an address of this machine";
        suggested.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    } else {
        return text + "\n";
    }
    suggested.sin_port = htons(FreePortNear8080(suggested.sin_addr));
    // A service on every address is reached by the scan through loopback.
    sockaddr_in scanned = suggested;
    if (scanned.sin_addr.s_addr == htonl(INADDR_ANY))
        scanned.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return text + ".\nRun it on " + instead + " instead, e.g.  quillon-quoted --listen " +
           AddressText(suggested) + "\nand tell the scan where it is:  quillon-scan --hosts " +
           AddressText(scanned) + "  (or a QuoteHosts.txt)\n";
}

int OpenReserve() {
    return open("/dev/null", O_RDONLY | O_CLOEXEC);
}

// An idle connection is one that has sent no complete request yet.
bool IsIdle(const QuoteServer::Connection& c) {
    return c.phase == QuoteServer::Connection::Phase::Reading && !c.fresh;
}

}  // namespace

QuoteServer::QuoteServer(const ServerConfig& config, std::unique_ptr<MarketSource> market)
    : config_(config), service_(std::move(market), config.user, config.password) {}

QuoteServer::~QuoteServer() = default;

bool QuoteServer::Open() {
    listening_ = !(config_.fault == Fault::Refuse && config_.faultAfter == 0);
    for (const sockaddr_in& wanted : config_.listen) {
        const int fd = OpenEndpoint(wanted, listening_);
        sockaddr_in actual{};
        socklen_t length = sizeof actual;
        if (fd < 0 || getsockname(fd, reinterpret_cast<sockaddr*>(&actual), &length) != 0) {
            std::fputs(ListenFailureText(wanted, errno).c_str(), stderr);
            if (fd >= 0) close(fd);
            return false;
        }
        listeners_.push_back(fd);
        bound_.push_back(actual);
        std::printf("listening on %s\n", AddressText(actual).c_str());
    }
    std::fflush(stdout);
    reserve_ = OpenReserve();
    return true;
}

// The refuse fault: the listening sockets are replaced by bound sockets that
// do not listen, so the ports stay ours but every connection is refused.
void QuoteServer::StopListening() {
    listening_ = false;
    for (std::size_t i = 0; i < listeners_.size(); ++i) {
        close(listeners_[i]);
        listeners_[i] = OpenEndpoint(bound_[i], false);
    }
}

void QuoteServer::AddConnection(int fd) {
    SetNonBlocking(fd);
    Connection c;
    c.fd = fd;
    c.heard = SteadyClock::now();
    c.deadline = c.heard + kRequestTimeout;
    connections_.push_back(std::move(c));
}

bool QuoteServer::HasIdle() const {
    return std::any_of(connections_.begin(), connections_.end(), IsIdle);
}

// Closes the idle connection heard from longest ago, making room for
// another; false when no connection is idle.
bool QuoteServer::CloseOldestIdle() {
    auto oldest = connections_.end();
    for (auto c = connections_.begin(); c != connections_.end(); ++c) {
        if (IsIdle(*c) && (oldest == connections_.end() || c->heard < oldest->heard)) oldest = c;
    }
    if (oldest == connections_.end()) return false;
    Close(*oldest);
    connections_.erase(oldest);
    crowdedUntil_ = SteadyClock::now() + kCrowdedSpell;
    return true;
}

bool QuoteServer::Crowded(SteadyClock::time_point now) const {
    return connections_.size() >= config_.maxConnections || now < crowdedUntil_;
}

void QuoteServer::PauseAccepting() {
    acceptPausedUntil_ = SteadyClock::now() + kAcceptPause;
}

// Takes the connections waiting on `listener`. With no room for one more (the
// cap is reached) the idle connection heard from longest ago makes way;
// without an idle one the others wait in the queue.
void QuoteServer::Accept(int listener) {
    if (reserve_ < 0) reserve_ = OpenReserve();
    for (;;) {
        if (connections_.size() >= config_.maxConnections && !CloseOldestIdle()) {
            crowdedUntil_ = SteadyClock::now() + kCrowdedSpell;
            return;
        }
        const int fd = accept(listener, nullptr, nullptr);
        if (fd >= 0) {
            AddConnection(fd);
            continue;
        }
        switch (errno) {
            case EAGAIN:
#if EWOULDBLOCK != EAGAIN
            case EWOULDBLOCK:
#endif
                return;  // no more waiting
            case EMFILE:
            case ENFILE:
                if (!AcceptWithReserve(listener)) return;
                break;
            // A signal came, or the waiting connection failed before it was
            // taken: the next one may do.
            case EINTR:
            case ECONNABORTED:
            case EPROTO:
            case ENETDOWN:
            case ENETUNREACH:
            case EHOSTDOWN:
            case EHOSTUNREACH:
            case ENONET:
            case ENOPROTOOPT:
            case EOPNOTSUPP:
                break;
            default:
                // Memory is short, or the listening socket failed: trying
                // again at once would only fail again.
                PauseAccepting();
                return;
        }
    }
}

// The descriptors are used up while connections wait. The reserve descriptor
// is closed to take the first waiting connection, which then replaces the
// idle connection heard from longest ago, or is closed at once when none is
// idle; then the reserve is taken again. So the queue drains and the
// listening socket does not stay readable for ever, which would turn the
// poll into a busy loop. Connections accepted just now have not been read:
// they are looked at in the next round before any waiting one is refused.
// False when accepting stops for this round.
bool QuoteServer::AcceptWithReserve(int listener) {
    crowdedUntil_ = SteadyClock::now() + kCrowdedSpell;
    if (!HasIdle() && std::any_of(connections_.begin(), connections_.end(),
                                  [](const Connection& c) { return c.fresh; }))
        return false;
    if (reserve_ < 0) {
        // Without a reserve (the system's descriptors were short too), an
        // idle connection's descriptor serves the next accept.
        if (CloseOldestIdle()) return true;
        PauseAccepting();
        return false;
    }
    close(reserve_);
    const int fd = accept(listener, nullptr, nullptr);
    const int error = errno;
    if (fd >= 0) {
        if (CloseOldestIdle()) {
            AddConnection(fd);
        } else {
            close(fd);
        }
    }
    reserve_ = OpenReserve();
    if (fd >= 0) return true;
    // Still short (the system's descriptors, taken by another process), or
    // nothing waits any more.
    if (error != EAGAIN && error != EWOULDBLOCK) PauseAccepting();
    return false;
}

void QuoteServer::Close(Connection& c) {
    if (c.fd >= 0) close(c.fd);
    c.fd = -1;
    c.phase = Connection::Phase::Closed;
}

void QuoteServer::OnReadable(Connection& c) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = recv(c.fd, buffer, sizeof buffer, 0);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
        if (n <= 0) return Close(c);  // the client closed, or the connection failed
        if (c.phase != Connection::Phase::Reading) continue;  // stalled or draining: discard
        c.in.append(buffer, static_cast<std::size_t>(n));
        c.heard = SteadyClock::now();
        if (const std::size_t end = RequestHeadEnd(c.in); end > 0 && end <= sim::kMaxRequestHead) {
            return Respond(c, std::string_view(c.in).substr(0, end));
        }
        if (c.in.size() > sim::kMaxRequestHead) {
            c.out = BadRequestPage();
            c.phase = Connection::Phase::Writing;
            c.deadline = SteadyClock::now() + kWriteTimeout;
            return;
        }
    }
}

void QuoteServer::Respond(Connection& c, std::string_view head) {
    const bool faulty = config_.fault != Fault::None && requests_ >= config_.faultAfter;
    ++requests_;
    if (config_.fault == Fault::Refuse && listening_ && requests_ >= config_.faultAfter)
        StopListening();
    c.fault = faulty ? config_.fault : Fault::None;
    c.out = service_.Answer(head, c.fault == Fault::Huge);
    c.in.clear();
    c.phase = Connection::Phase::Writing;
    c.deadline = SteadyClock::now() + kWriteTimeout;
    switch (c.fault) {
        case Fault::Stall:
            c.phase = Connection::Phase::Stalled;
            break;
        case Fault::Zero:
            FinishReply(c);
            break;
        case Fault::Reset:
            c.out.resize(c.out.size() / 2);
            break;
        case Fault::Drip: {
            // Every piece goes out as a segment of its own.
            const int on = 1;
            setsockopt(c.fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            c.nextPiece = SteadyClock::now();
            break;
        }
        default:
            break;
    }
}

void QuoteServer::OnWritable(Connection& c) {
    const auto now = SteadyClock::now();
    if (c.fault == Fault::Drip && now < c.nextPiece) return;
    while (c.sent < c.out.size()) {
        std::size_t length = c.out.size() - c.sent;
        // Drip: about 200 pieces a page, at least 5 bytes each.
        if (c.fault == Fault::Drip)
            length = std::min(length, std::max<std::size_t>(5, c.out.size() / 200));
        const ssize_t n = send(c.fd, c.out.data() + c.sent, length, MSG_NOSIGNAL);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
        if (n < 0) return Close(c);
        c.sent += static_cast<std::size_t>(n);
        c.deadline = now + kWriteTimeout;
        if (c.fault == Fault::Drip) {
            c.nextPiece = now + kDripDelay;
            if (c.sent < c.out.size()) return;
        }
    }
    FinishReply(c);
}

// After the answer: the reset fault aborts the connection; otherwise the
// sending side is shut and what the client still sends is read and dropped
// until it closes, so closing never turns into a reset that could cost the
// client the end of its page.
void QuoteServer::FinishReply(Connection& c) {
    if (c.fault == Fault::Reset) {
        const linger abort{1, 0};
        setsockopt(c.fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        return Close(c);
    }
    shutdown(c.fd, SHUT_WR);
    c.phase = Connection::Phase::Draining;
    c.deadline = SteadyClock::now() + kDrainTimeout;
}

short QuoteServer::Events(const Connection& c, SteadyClock::time_point now) const {
    if (c.phase != Connection::Phase::Writing) return POLLIN;
    if (c.fault == Fault::Drip && now < c.nextPiece) return 0;
    return POLLOUT;
}

int QuoteServer::PollTimeout(SteadyClock::time_point now) const {
    auto wake = now + kPollLimit;
    if (acceptPausedUntil_ > now) wake = std::min(wake, acceptPausedUntil_);
    const bool crowded = Crowded(now);
    for (const Connection& c : connections_) {
        if (c.phase != Connection::Phase::Stalled) wake = std::min(wake, c.deadline);
        if (c.phase == Connection::Phase::Writing && c.fault == Fault::Drip)
            wake = std::min(wake, c.nextPiece);
        if (crowded && c.phase == Connection::Phase::Reading)
            wake = std::min(wake, c.heard + kIdleTimeoutWhenCrowded);
    }
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(wake - now).count();
    return static_cast<int>(std::max<long long>(0, ms));
}

void QuoteServer::Run(const volatile std::sig_atomic_t& stop) {
    std::vector<pollfd> fds;
    while (!stop) {
        const auto now = SteadyClock::now();
        fds.clear();
        for (const Connection& c : connections_)
            fds.push_back({c.fd, Events(c, now), 0});
        // A socket that is not accepting stays out of the poll (a negative
        // descriptor is skipped): a bound socket that does not listen reports
        // POLLHUP at once, whatever is asked, and would turn the wait into a
        // busy loop while connections are refused; so would a full server
        // that has no idle connection to close.
        const bool accepting = listening_ && now >= acceptPausedUntil_ &&
                               (connections_.size() < config_.maxConnections || HasIdle());
        for (int fd : listeners_)
            fds.push_back({accepting ? fd : -1, POLLIN, 0});
        if (poll(fds.data(), fds.size(), PollTimeout(now)) < 0 && errno != EINTR) {
            std::perror("quillon-quoted: poll");
            return;
        }
        const std::size_t count = connections_.size();
        const auto polled = SteadyClock::now();
        const bool crowded = Crowded(polled);
        for (std::size_t i = 0; i < count; ++i) {
            Connection& c = connections_[i];
            c.fresh = false;
            const short revents = fds[i].revents;
            if (revents & (POLLIN | POLLHUP | POLLERR)) OnReadable(c);
            // A dripping answer is written whenever its next piece is due.
            if (c.phase == Connection::Phase::Writing &&
                ((revents & POLLOUT) || c.fault == Fault::Drip))
                OnWritable(c);
            const auto after = SteadyClock::now();
            // While room is short, a client that keeps silent gives up its place.
            const bool silent = crowded && c.phase == Connection::Phase::Reading &&
                                after - c.heard >= kIdleTimeoutWhenCrowded;
            if (c.phase != Connection::Phase::Stalled && c.phase != Connection::Phase::Closed &&
                (after >= c.deadline || silent))
                Close(c);
        }
        std::erase_if(connections_,
                      [](const Connection& c) { return c.phase == Connection::Phase::Closed; });
        for (std::size_t i = 0; i < listeners_.size(); ++i)
            if (fds[count + i].revents & POLLIN) Accept(listeners_[i]);
    }
}

void QuoteServer::CloseAll() {
    for (Connection& c : connections_)
        Close(c);
    if (reserve_ >= 0) close(reserve_);
    for (int fd : listeners_)
        if (fd >= 0) close(fd);
}

}  // namespace quillon::sim
