#pragma once
// Requests to a market-data service over HTTPS, made by libcurl on a worker
// thread of their own: certificate verification always on (the system's CA
// store, and a further CA file when one is given; nothing turns it off),
// connections reused and HTTP/2 where the server offers it, a bounded number
// of requests in flight, a rate limit per service, 429 and 503 honoured with
// their Retry-After, time-outs, and transient failures tried again with
// back-off. A bearer token goes into the request's header and nowhere else:
// no error text, no log line and no URL carries it.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quillon::fetch {

// How hard a service may be asked.
struct ServiceLimits {
    int connections = 4;           // requests in flight at most (--connections)
    double requestsPerSecond = 5;  // requests started, on average; Tradier 2 (120 a minute)
    std::chrono::milliseconds connectTimeout{15000};
    // A request that receives nothing for this long has timed out.
    std::chrono::milliseconds stallTimeout{30000};
    // A request not complete after this long has timed out, however it trickles.
    std::chrono::milliseconds totalTimeout{180000};
    // A transient failure (no connection, a time-out, a reply cut short, 429,
    // 500, 502, 503, 504) is tried again at most this many times.
    int retries = 3;
    // The first wait before a retry without Retry-After; each further one doubles.
    std::chrono::milliseconds firstBackoff{500};
    // A Retry-After longer than this is not waited for: the request fails and says so.
    std::chrono::seconds longestRetryAfter{300};
    // A reply body longer than this fails as too large.
    std::size_t maxReplyBytes = std::size_t{64} << 20;
};

struct HttpsOptions {
    // A PEM file of a further certificate authority (a private CA, a test
    // server's), trusted besides the system's store; empty: the system's only.
    std::string caFile;
    // Sent as "Authorization: Bearer TOKEN" when not empty.
    std::string bearerToken;
    ServiceLimits limits;
};

// Why a request brought no usable reply.
enum class FetchFault {
    None,         // a reply with a 2xx status
    Status,       // a reply with another status (after the retries a 429 or 5xx is allowed)
    Certificate,  // the server's certificate was not trusted, or is for another name
    Unreachable,  // the name did not resolve, or no connection could be made
    TimedOut,     // no connection, or no byte or no end, within the time-outs
    CutShort,     // the connection ended before the whole reply
    TooLarge,     // the reply was longer than maxReplyBytes
    Other,
};

struct HttpsReply {
    std::uint64_t id = 0;
    FetchFault fault = FetchFault::None;
    int status = 0;  // the HTTP status of the last attempt; 0 when none came
    std::string body;
    // What went wrong, in words, for a message ("the certificate of
    // 127.0.0.1 is for another name"); empty when fault is None.
    std::string error;
    int attempts = 0;
    // The Retry-After of a last 429 or 503 that was not waited for, in seconds; -1 when none.
    long retryAfterSeconds = -1;
};

class HttpsClient {
  public:
    explicit HttpsClient(HttpsOptions options);
    // Stops the worker; requests still queued or in flight are dropped.
    ~HttpsClient();
    HttpsClient(const HttpsClient&) = delete;
    HttpsClient& operator=(const HttpsClient&) = delete;

    // Queues a GET of `url` (with further header lines "Name: value");
    // its reply comes back from TakeDone with the id returned.
    std::uint64_t Get(const std::string& url, const std::vector<std::string>& headers = {});

    // The replies completed since the last call, in the order they completed.
    std::vector<HttpsReply> TakeDone();

    // Waits until a reply is complete or `most` has passed; true when one is.
    bool WaitDone(std::chrono::milliseconds most);

    // Requests queued or in flight.
    std::size_t Pending() const;

  private:
    struct Worker;
    std::unique_ptr<Worker> worker_;
};

// "https://127.0.0.1:8443" and the like, without a final "/": a base
// address the user may give (--source-url). Nothing, with `error` set, for
// anything but an https address with a host.
bool CheckBaseUrl(const std::string& url, std::string& error);

// A base address checked by CheckBaseUrl without its final "/" (or several),
// so that paths can be appended to it.
std::string TrimBaseUrl(const std::string& url);

}  // namespace quillon::fetch
