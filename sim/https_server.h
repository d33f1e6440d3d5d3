#pragma once
// A small HTTPS server for tests, benchmarks and quillon-quoted --tls:
// TLS by OpenSSL with a certificate and key read from PEM files, HTTP/1.1
// with keep-alive, a thread per connection (at most maxConnections), each
// request answered by a handler. A response can misbehave on purpose as a
// real service can: its body cut short, or sent a few bytes at a time.

#include <netinet/in.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillon::sim {

struct HttpsRequest {
    std::string method;  // "GET"
    std::string target;  // "/v1/markets/quotes?symbols=A,B"
    std::vector<std::pair<std::string, std::string>> headers;
    // The value of a header (any case of its name); empty when absent.
    std::string Header(std::string_view name) const {
        for (const auto& [key, value] : headers) {
            if (key.size() == name.size() &&
                std::equal(key.begin(), key.end(), name.begin(), [](char a, char b) {
                    return std::tolower(static_cast<unsigned char>(a)) ==
                           std::tolower(static_cast<unsigned char>(b));
                })) {
                return value;
            }
        }
        return {};
    }
};

struct HttpsResponse {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;  // besides Content-Length
    std::string body;
    // Faults: the connection is closed after this many bytes of the body
    // (Content-Length still gives the whole); the body is sent dripBytes at
    // a time every dripEvery; the connection is closed with no answer.
    std::size_t cutAfter = static_cast<std::size_t>(-1);
    std::size_t dripBytes = 0;
    std::chrono::milliseconds dripEvery{0};
    bool noAnswer = false;
};

using HttpsHandler = std::function<HttpsResponse(const HttpsRequest&)>;

struct HttpsServerConfig {
    std::string certFile;  // PEM: the server's certificate (and its chain)
    std::string keyFile;   // PEM: its private key
    sockaddr_in listen{};  // 127.0.0.1:0 when the port is 0 and the address unset
    int maxConnections = 64;
};

class HttpsServer {
  public:
    HttpsServer(HttpsServerConfig config, HttpsHandler handler);
    ~HttpsServer();  // Stop()
    HttpsServer(const HttpsServer&) = delete;
    HttpsServer& operator=(const HttpsServer&) = delete;

    // Reads the certificate and key and listens; false with `error` in words.
    bool Open(std::string& error);
    // The port listened on (the one port 0 picked).
    std::uint16_t Port() const;
    // Serves on a thread of its own until Stop.
    void Start();
    // Serves on this thread until `stop` is set (quillon-quoted).
    void Run(const volatile std::sig_atomic_t& stop);
    void Stop();
    // Requests answered so far.
    std::uint64_t Requests() const;
    // Connections accepted so far (fewer than the requests when kept alive).
    std::uint64_t Connections() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// A throw-away certificate authority and a server certificate it signed,
// made at run time (tests, `scripts/make-test-ca`'s twin), all PEM text.
struct TestCertificates {
    std::string caCert;
    std::string serverCert;
    std::string serverKey;
};

// The server certificate names `names`: IP addresses ("127.0.0.1") as IP
// entries, anything else as DNS names. Valid from an hour ago for 30 days.
TestCertificates MakeTestCertificates(const std::vector<std::string>& names);

// The three written as ca.pem, server.pem and server.key in `dir`
// (the key 0600); false with `error` set.
bool WriteTestCertificates(const TestCertificates& certificates, const std::string& dir,
                           std::string& error);

}  // namespace quillon::sim
