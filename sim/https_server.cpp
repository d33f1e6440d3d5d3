// The HTTPS test server: blocking sockets, a thread per connection. The
// accept loop polls its listener with a short time-out so that it notices a
// stop; Stop shuts every connection's socket down, which wakes a thread
// blocked in a read or a write, and joins them all.

#include "sim/https_server.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <list>
#include <mutex>
#include <thread>

namespace quillon::sim {

namespace {

constexpr std::size_t kLongestHead = 16 * 1024;
constexpr int kPollMs = 100;
// A kept-alive connection with no further request is closed after this long.
constexpr int kIdleSeconds = 30;

std::string OpenSslError() {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return "no further detail";
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

const char* ReasonPhrase(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 204:
            return "No Content";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 429:
            return "Too Many Requests";
        case 431:
            return "Request Header Fields Too Large";
        case 500:
            return "Internal Server Error";
        case 502:
            return "Bad Gateway";
        case 503:
            return "Service Unavailable";
        case 504:
            return "Gateway Timeout";
        default:
            return "Status";
    }
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return std::string(text);
}

// The request head (through its blank line) read into a request; false when
// it is malformed.
bool ParseHead(std::string_view head, HttpsRequest& request, bool& http10) {
    const auto lineEnd = head.find("\r\n");
    const std::string_view first = head.substr(0, lineEnd);
    const auto space1 = first.find(' ');
    const auto space2 = first.rfind(' ');
    if (space1 == std::string_view::npos || space2 == space1) return false;
    request.method = std::string(first.substr(0, space1));
    request.target = std::string(first.substr(space1 + 1, space2 - space1 - 1));
    const std::string_view version = first.substr(space2 + 1);
    if (version.rfind("HTTP/1.", 0) != 0) return false;
    http10 = version == "HTTP/1.0";
    std::size_t at = lineEnd + 2;
    while (at < head.size()) {
        const auto end = head.find("\r\n", at);
        if (end == std::string_view::npos || end == at) break;
        const std::string_view line = head.substr(at, end - at);
        const auto colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) return false;
        request.headers.emplace_back(std::string(line.substr(0, colon)),
                                     Trimmed(line.substr(colon + 1)));
        at = end + 2;
    }
    return true;
}

}  // namespace

struct HttpsServer::State {
    struct Connection {
        int fd = -1;
        std::thread thread;
        bool finished = false;
    };

    HttpsServerConfig config;
    HttpsHandler handler;
    SSL_CTX* context = nullptr;
    int listenFd = -1;
    std::uint16_t port = 0;
    std::atomic<std::uint64_t> requests{0};
    std::atomic<std::uint64_t> accepted{0};
    std::atomic<bool> stopping{false};
    std::thread acceptThread;

    std::mutex mutex;
    std::condition_variable changed;  // a connection finished, or the server stops
    std::list<Connection> connections;

    ~State() {
        if (listenFd >= 0) ::close(listenFd);
        SSL_CTX_free(context);
    }

    // Waits `duration` unless the server stops first; false when it stops.
    bool Pause(std::chrono::milliseconds duration) {
        std::unique_lock lock(mutex);
        return !changed.wait_for(lock, duration, [&] { return stopping.load(); });
    }

    std::size_t Active() {
        std::size_t active = 0;
        for (const auto& connection : connections)
            active += connection.finished ? 0 : 1;
        return active;
    }

    // Joins the threads of connections that have ended; with the lock held.
    void Reap(std::unique_lock<std::mutex>& lock) {
        std::list<Connection> ended;
        for (auto it = connections.begin(); it != connections.end();) {
            const auto next = std::next(it);
            if (it->finished) ended.splice(ended.end(), connections, it);
            it = next;
        }
        lock.unlock();
        for (auto& connection : ended)
            connection.thread.join();
        lock.lock();
    }

    // One accept; false when the loop should end.
    void AcceptOnce() {
        {
            std::unique_lock lock(mutex);
            Reap(lock);
            // At the most connections, further ones wait in the listen queue.
            if (Active() >= static_cast<std::size_t>(std::max(1, config.maxConnections))) {
                changed.wait_for(lock, std::chrono::milliseconds(kPollMs));
                return;
            }
        }
        pollfd listener{listenFd, POLLIN, 0};
        if (::poll(&listener, 1, kPollMs) <= 0) return;
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) return;
        std::lock_guard lock(mutex);
        if (stopping) {
            ::close(fd);
            return;
        }
        ++accepted;
        auto& connection = connections.emplace_back();
        connection.fd = fd;
        connection.thread = std::thread([this, &connection] { Serve(connection); });
    }

    void Serve(Connection& connection) {
        // A write to a connection the client has closed fails with EPIPE
        // instead of ending the process: SIGPIPE stays blocked on this thread.
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
        timeval idle{kIdleSeconds, 0};
        ::setsockopt(connection.fd, SOL_SOCKET, SO_RCVTIMEO, &idle, sizeof idle);
        SSL* ssl = SSL_new(context);
        if (ssl && SSL_set_fd(ssl, connection.fd) == 1 && SSL_accept(ssl) == 1) {
            Converse(ssl);
        }
        SSL_free(ssl);
        ERR_clear_error();
        std::lock_guard lock(mutex);
        ::close(connection.fd);
        connection.fd = -1;
        connection.finished = true;
        changed.notify_all();
    }

    static bool WriteAll(SSL* ssl, std::string_view bytes) {
        while (!bytes.empty()) {
            const int chunk = static_cast<int>(std::min<std::size_t>(bytes.size(), 1 << 20));
            const int written = SSL_write(ssl, bytes.data(), chunk);
            if (written <= 0) return false;
            bytes.remove_prefix(static_cast<std::size_t>(written));
        }
        return true;
    }

    // Requests answered one after another on one connection.
    void Converse(SSL* ssl) {
        std::string in;
        char buffer[8192];
        while (!stopping) {
            auto headEnd = in.find("\r\n\r\n");
            while (headEnd == std::string::npos) {
                if (in.size() > kLongestHead) {
                    const std::string refusal =
                        "HTTP/1.1 431 Request Header Fields Too Large\r\n"
                        "Content-Length: 0\r\nConnection: close\r\n\r\n";
                    WriteAll(ssl, refusal);
                    SSL_shutdown(ssl);
                    return;
                }
                const int got = SSL_read(ssl, buffer, sizeof buffer);
                if (got <= 0) return;
                in.append(buffer, static_cast<std::size_t>(got));
                headEnd = in.find("\r\n\r\n");
            }
            HttpsRequest request;
            bool http10 = false;
            if (!ParseHead(std::string_view(in).substr(0, headEnd + 2), request, http10)) {
                WriteAll(ssl,
                         "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n"
                         "Connection: close\r\n\r\n");
                SSL_shutdown(ssl);
                return;
            }
            in.erase(0, headEnd + 4);
            // A request body (none is expected) is read and set aside.
            const std::string length = request.Header("Content-Length");
            if (!length.empty()) {
                char* end = nullptr;
                const unsigned long long bodyBytes = std::strtoull(length.c_str(), &end, 10);
                if (*end != '\0' || bodyBytes > (1u << 20)) return;
                while (in.size() < bodyBytes) {
                    const int got = SSL_read(ssl, buffer, sizeof buffer);
                    if (got <= 0) return;
                    in.append(buffer, static_cast<std::size_t>(got));
                }
                in.erase(0, static_cast<std::size_t>(bodyBytes));
            }
            const std::string connectionHeader = request.Header("Connection");
            const bool close = http10 ? !EqualNoCase(connectionHeader, "keep-alive")
                                      : EqualNoCase(connectionHeader, "close");

            HttpsResponse response;
            try {
                response = handler(request);
            } catch (...) {
                response = HttpsResponse{};
                response.status = 500;
            }
            if (response.noAnswer) return;
            ++requests;
            if (!Answer(ssl, response, close)) return;
            if (close) {
                SSL_shutdown(ssl);
                return;
            }
        }
    }

    // Sends a response with its faults; false when the connection is to end.
    bool Answer(SSL* ssl, const HttpsResponse& response, bool close) {
        std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " +
                           ReasonPhrase(response.status) + "\r\n";
        for (const auto& [name, value] : response.headers)
            head += name + ": " + value + "\r\n";
        head += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
        if (close) head += "Connection: close\r\n";
        head += "\r\n";
        if (!WriteAll(ssl, head)) return false;
        const std::string_view body(response.body);
        const std::string_view sent = body.substr(0, std::min(response.cutAfter, body.size()));
        if (response.dripBytes > 0) {
            for (std::size_t at = 0; at < sent.size(); at += response.dripBytes) {
                if (at > 0 && !Pause(response.dripEvery)) return false;
                if (!WriteAll(ssl, sent.substr(at, response.dripBytes))) return false;
            }
        } else if (!WriteAll(ssl, sent)) {
            return false;
        }
        if (sent.size() < body.size()) {
            // Cut short: the connection ends before the length promised.
            SSL_shutdown(ssl);
            return false;
        }
        return true;
    }

    void StopConnections() {
        std::unique_lock lock(mutex);
        stopping = true;
        changed.notify_all();
        for (auto& connection : connections) {
            if (connection.fd >= 0) ::shutdown(connection.fd, SHUT_RDWR);
        }
        std::list<Connection> all;
        all.swap(connections);
        lock.unlock();
        for (auto& connection : all)
            connection.thread.join();
    }
};

HttpsServer::HttpsServer(HttpsServerConfig config, HttpsHandler handler)
    : state_(std::make_unique<State>()) {
    state_->config = std::move(config);
    state_->handler = std::move(handler);
}

HttpsServer::~HttpsServer() {
    Stop();
}

bool HttpsServer::Open(std::string& error) {
    auto& state = *state_;
    ERR_clear_error();
    state.context = SSL_CTX_new(TLS_server_method());
    if (!state.context) {
        error = "no TLS context: " + OpenSslError();
        return false;
    }
    SSL_CTX_set_min_proto_version(state.context, TLS1_2_VERSION);
    if (SSL_CTX_use_certificate_chain_file(state.context, state.config.certFile.c_str()) != 1) {
        error =
            "the certificate " + state.config.certFile + " could not be read: " + OpenSslError();
        return false;
    }
    if (SSL_CTX_use_PrivateKey_file(state.context, state.config.keyFile.c_str(),
                                    SSL_FILETYPE_PEM) != 1) {
        error = "the key " + state.config.keyFile + " could not be read: " + OpenSslError();
        return false;
    }
    if (SSL_CTX_check_private_key(state.context) != 1) {
        error = "the key " + state.config.keyFile + " does not belong to the certificate";
        return false;
    }
    sockaddr_in address = state.config.listen;
    address.sin_family = AF_INET;
    if (address.sin_port == 0 && address.sin_addr.s_addr == 0) {
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    }
    state.listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (state.listenFd < 0) {
        error = std::string("no socket: ") + std::strerror(errno);
        return false;
    }
    const int yes = 1;
    ::setsockopt(state.listenFd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(state.listenFd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(state.listenFd, 64) != 0) {
        char host[INET_ADDRSTRLEN] = "";
        inet_ntop(AF_INET, &address.sin_addr, host, sizeof host);
        error = std::string("cannot listen on ") + host + ":" +
                std::to_string(ntohs(address.sin_port)) + ": " + std::strerror(errno);
        ::close(state.listenFd);
        state.listenFd = -1;
        return false;
    }
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    ::getsockname(state.listenFd, reinterpret_cast<sockaddr*>(&bound), &length);
    state.port = ntohs(bound.sin_port);
    return true;
}

std::uint16_t HttpsServer::Port() const {
    return state_->port;
}

void HttpsServer::Start() {
    auto& state = *state_;
    if (state.listenFd < 0 || state.acceptThread.joinable()) return;
    state.acceptThread = std::thread([&state] {
        while (!state.stopping)
            state.AcceptOnce();
    });
}

void HttpsServer::Run(const volatile std::sig_atomic_t& stop) {
    auto& state = *state_;
    if (state.listenFd < 0) return;
    while (!stop && !state.stopping)
        state.AcceptOnce();
    state.StopConnections();
}

void HttpsServer::Stop() {
    auto& state = *state_;
    {
        std::lock_guard lock(state.mutex);
        state.stopping = true;
        state.changed.notify_all();
    }
    if (state.acceptThread.joinable()) state.acceptThread.join();
    state.StopConnections();
    if (state.listenFd >= 0) {
        ::close(state.listenFd);
        state.listenFd = -1;
    }
}

std::uint64_t HttpsServer::Requests() const {
    return state_->requests;
}

std::uint64_t HttpsServer::Connections() const {
    return state_->accepted;
}

}  // namespace quillon::sim
