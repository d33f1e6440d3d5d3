// The HTTPS client against the HTTPS test server on loopback: whole replies
// over kept-alive connections, retries with their waits, time-outs, refused
// certificates, the bearer token kept out of every message, the size limit,
// the rate limit and the bound on requests in flight.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <map>
#include <mutex>
#include <thread>

#include "fetch/https_client.h"
#include "sim/https_server.h"
#include "tests/support/temp_dir.h"

namespace quillon::fetch {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using quillon::testing::TempDir;
using sim::HttpsRequest;
using sim::HttpsResponse;

// Certificates for 127.0.0.1 and localhost, made once for the program.
const std::string& CertificateDir() {
    static TempDir dir;
    static const bool written = [] {
        std::string error;
        const bool ok = sim::WriteTestCertificates(
            sim::MakeTestCertificates({"127.0.0.1", "localhost"}), dir.Path(), error);
        EXPECT_TRUE(ok) << error;
        return ok;
    }();
    (void)written;
    static const std::string path = dir.Path();
    return path;
}

// A server on a free loopback port answering with `handler`.
class Server {
  public:
    explicit Server(sim::HttpsHandler handler, const std::string& dir = CertificateDir())
        : server_({dir + "/server.pem", dir + "/server.key", {}, 64}, std::move(handler)) {
        std::string error;
        EXPECT_TRUE(server_.Open(error)) << error;
        server_.Start();
    }
    std::string Url(const std::string& path = "/") const {
        return "https://127.0.0.1:" + std::to_string(server_.Port()) + path;
    }
    sim::HttpsServer& Get() { return server_; }

  private:
    sim::HttpsServer server_;
};

HttpsOptions TestOptions() {
    HttpsOptions options;
    options.caFile = CertificateDir() + "/ca.pem";
    options.limits.requestsPerSecond = 0;  // no rate limit unless a test sets one
    options.limits.connectTimeout = 2000ms;
    options.limits.stallTimeout = 2000ms;
    options.limits.totalTimeout = 4000ms;
    options.limits.retries = 2;
    options.limits.firstBackoff = 20ms;
    options.limits.longestRetryAfter = 5s;
    return options;
}

// Every reply of the requests made, in the order of their ids.
std::vector<HttpsReply> AwaitAll(HttpsClient& client, std::size_t count) {
    std::vector<HttpsReply> replies;
    const auto deadline = Clock::now() + 20s;
    while (replies.size() < count && Clock::now() < deadline) {
        client.WaitDone(100ms);
        for (auto& reply : client.TakeDone())
            replies.push_back(std::move(reply));
    }
    EXPECT_EQ(replies.size(), count);
    std::sort(replies.begin(), replies.end(),
              [](const HttpsReply& a, const HttpsReply& b) { return a.id < b.id; });
    return replies;
}

HttpsReply FetchOne(HttpsClient& client, const std::string& url) {
    client.Get(url);
    auto replies = AwaitAll(client, 1);
    return replies.empty() ? HttpsReply{} : replies.front();
}

HttpsResponse Reply(int status, std::string body = "{}",
                    std::vector<std::pair<std::string, std::string>> headers = {}) {
    HttpsResponse response;
    response.status = status;
    response.body = std::move(body);
    response.headers = std::move(headers);
    return response;
}

std::string HttpDateIn(std::chrono::seconds from) {
    const std::time_t when = std::time(nullptr) + from.count();
    std::tm parts{};
    gmtime_r(&when, &parts);
    char text[64];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &parts);
    return text;
}

TEST(HttpsClient, LargeBodiesComeWholeOverOneKeptAliveConnection) {
    std::string body(2 << 20, '\0');
    for (std::size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>('a' + i % 23);
    Server server([&](const HttpsRequest&) { return Reply(200, body); });
    auto options = TestOptions();
    options.limits.connections = 1;
    HttpsClient client(options);
    constexpr std::size_t kRequests = 4;
    for (std::size_t i = 0; i < kRequests; ++i)
        client.Get(server.Url("/chain"));
    for (const auto& reply : AwaitAll(client, kRequests)) {
        EXPECT_EQ(reply.fault, FetchFault::None) << reply.error;
        EXPECT_EQ(reply.status, 200);
        EXPECT_EQ(reply.attempts, 1);
        EXPECT_TRUE(reply.body == body) << reply.body.size() << " bytes";
        EXPECT_TRUE(reply.error.empty());
    }
    EXPECT_EQ(server.Get().Requests(), kRequests);
    EXPECT_LT(server.Get().Connections(), kRequests);
    EXPECT_EQ(client.Pending(), 0u);
}

TEST(HttpsClient, TransientFailuresAreRetriedAndOthersAreNot) {
    struct Case {
        const char* name;
        std::vector<HttpsResponse> script;  // the answers in turn; the last one repeats
        FetchFault fault;
        int status;
        int attempts;
        long retryAfter;
        std::chrono::milliseconds atLeast;
        const char* words;
    };
    HttpsResponse cut = Reply(200, std::string(5000, 'x'));
    cut.cutAfter = 100;
    HttpsResponse silent;
    silent.noAnswer = true;
    const Case cases[] = {
        {"429 waits its Retry-After",
         {Reply(429, "", {{"Retry-After", "1"}}), Reply(200)},
         FetchFault::None,
         200,
         2,
         -1,
         900ms,
         ""},
        {"503 then a reply", {Reply(503), Reply(200)}, FetchFault::None, 200, 2, -1, 0ms, ""},
        {"503 asking too long a wait",
         {Reply(503, "", {{"Retry-After", "600"}})},
         FetchFault::Status,
         503,
         1,
         600,
         0ms,
         "600 s"},
        {"429 with a date too far",
         {Reply(429, "", {{"Retry-After", HttpDateIn(1h)}})},
         FetchFault::Status,
         429,
         1,
         3500,
         0ms,
         "127.0.0.1"},
        {"404 is not retried", {Reply(404)}, FetchFault::Status, 404, 1, -1, 0ms, "404"},
        {"500 after every retry", {Reply(500)}, FetchFault::Status, 500, 3, -1, 0ms, "500"},
        {"cut short after every retry", {cut}, FetchFault::CutShort, 200, 3, -1, 0ms, "cut short"},
        {"cut short once", {cut, Reply(200)}, FetchFault::None, 200, 2, -1, 0ms, ""},
        {"no answer at all", {silent}, FetchFault::CutShort, 0, 3, -1, 0ms, "127.0.0.1"},
    };
    // One server for every case: the path names the case, and each case
    // counts its own requests.
    std::mutex mutex;
    std::map<std::size_t, std::size_t> served;
    Server server([&](const HttpsRequest& request) {
        const std::size_t index = std::stoul(request.target.substr(6));
        std::lock_guard lock(mutex);
        const auto& script = cases[index].script;
        return script[std::min(served[index]++, script.size() - 1)];
    });
    HttpsClient client(TestOptions());
    for (std::size_t index = 0; index < std::size(cases); ++index) {
        const auto& c = cases[index];
        SCOPED_TRACE(c.name);
        const auto started = Clock::now();
        const auto reply = FetchOne(client, server.Url("/case/" + std::to_string(index)));
        EXPECT_EQ(reply.fault, c.fault) << reply.error;
        EXPECT_EQ(reply.status, c.status);
        EXPECT_EQ(reply.attempts, c.attempts);
        if (c.retryAfter > 1000) {
            EXPECT_GT(reply.retryAfterSeconds, c.retryAfter);
        } else {
            EXPECT_EQ(reply.retryAfterSeconds, c.retryAfter);
        }
        EXPECT_GE(Clock::now() - started, c.atLeast);
        EXPECT_NE(reply.error.find(c.words), std::string::npos) << reply.error;
        EXPECT_EQ(reply.error.empty(), c.fault == FetchFault::None) << reply.error;
        if (c.fault == FetchFault::None) {
            EXPECT_EQ(reply.body, "{}");
        }
    }
}

TEST(HttpsClient, AReplyThatStallsTimesOut) {
    HttpsResponse drip = Reply(200, std::string(20, 'x'));
    drip.dripBytes = 1;
    drip.dripEvery = 1000ms;
    Server server([&](const HttpsRequest&) { return drip; });
    auto options = TestOptions();
    options.limits.stallTimeout = 300ms;
    options.limits.retries = 1;
    HttpsClient client(options);
    const auto reply = FetchOne(client, server.Url());
    EXPECT_EQ(reply.fault, FetchFault::TimedOut);
    EXPECT_EQ(reply.attempts, 2);
    EXPECT_EQ(reply.error, "no answer from 127.0.0.1 within 0.3 s");
}

TEST(HttpsClient, UntrustedCertificatesAreRefusedInWords) {
    TempDir otherName;
    std::string error;
    ASSERT_TRUE(sim::WriteTestCertificates(sim::MakeTestCertificates({"example.invalid"}),
                                           otherName.Path(), error))
        << error;
    struct Case {
        const char* name;
        std::string serverDir;
        std::string caFile;
        const char* words;
    };
    const Case cases[] = {
        {"a certificate for another name", otherName.Path(), otherName.Path() + "/ca.pem",
         "the certificate of 127.0.0.1 is not for that name"},
        {"a CA not given", CertificateDir(), "", "the certificate of 127.0.0.1 is not trusted"},
        {"another CA given", CertificateDir(), otherName.Path() + "/ca.pem",
         "the certificate of 127.0.0.1 is not trusted"},
        {"a CA file missing", CertificateDir(), otherName.Path() + "/none.pem",
         "could not be read"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Server server([](const HttpsRequest&) { return Reply(200); }, c.serverDir);
        auto options = TestOptions();
        options.caFile = c.caFile;
        HttpsClient client(options);
        const auto reply = FetchOne(client, server.Url());
        EXPECT_EQ(reply.fault, FetchFault::Certificate) << reply.error;
        EXPECT_LE(reply.attempts, 1);
        EXPECT_NE(reply.error.find(c.words), std::string::npos) << reply.error;
        EXPECT_EQ(server.Get().Requests(), 0u);
    }
}

TEST(HttpsClient, TheBearerTokenIsSentAndNeverInAMessage) {
    const std::string token = "s3cret-T0ken-4711";
    HttpsResponse cut = Reply(200, std::string(4000, 'x'));
    cut.cutAfter = 10;
    Server server([&](const HttpsRequest& request) {
        if (request.Header("authorization") != "Bearer " + token) return Reply(401);
        if (request.target == "/cut") return cut;
        if (request.target == "/missing") return Reply(404);
        if (request.target == "/busy") return Reply(503, "", {{"Retry-After", "900"}});
        return Reply(200, "authorised");
    });
    TempDir otherName;
    std::string error;
    ASSERT_TRUE(sim::WriteTestCertificates(sim::MakeTestCertificates({"example.invalid"}),
                                           otherName.Path(), error));
    Server wrongName([](const HttpsRequest&) { return Reply(200); }, otherName.Path());

    auto options = TestOptions();
    options.bearerToken = token;
    options.limits.retries = 0;
    HttpsClient client(options);
    client.Get(server.Url("/quotes"));
    client.Get(server.Url("/cut"));
    client.Get(server.Url("/missing"));
    client.Get(server.Url("/busy"));
    client.Get(wrongName.Url("/quotes"));
    const auto replies = AwaitAll(client, 5);
    ASSERT_EQ(replies.size(), 5u);
    EXPECT_EQ(replies[0].fault, FetchFault::None) << replies[0].error;
    EXPECT_EQ(replies[0].body, "authorised");
    EXPECT_EQ(replies[1].fault, FetchFault::CutShort);
    EXPECT_EQ(replies[2].status, 404);
    EXPECT_EQ(replies[3].retryAfterSeconds, 900);
    EXPECT_EQ(replies[4].fault, FetchFault::Certificate);
    for (const auto& reply : replies) {
        EXPECT_EQ(reply.error.find(token), std::string::npos) << reply.error;
        EXPECT_EQ(reply.error.find("Bearer"), std::string::npos) << reply.error;
    }
}

TEST(HttpsClient, AReplyOverTheLimitIsTooLarge) {
    Server server([](const HttpsRequest&) { return Reply(200, std::string(5000, 'x')); });
    auto options = TestOptions();
    options.limits.maxReplyBytes = 4096;
    HttpsClient client(options);
    const auto reply = FetchOne(client, server.Url());
    EXPECT_EQ(reply.fault, FetchFault::TooLarge);
    EXPECT_EQ(reply.attempts, 1);
    EXPECT_TRUE(reply.body.empty());
    EXPECT_EQ(reply.error, "the reply from 127.0.0.1 is larger than 4096 bytes");
}

TEST(HttpsClient, RequestsStartNoFasterThanTheRateLimit) {
    Server server([](const HttpsRequest&) { return Reply(200); });
    auto options = TestOptions();
    options.limits.connections = 2;
    options.limits.requestsPerSecond = 20;
    HttpsClient client(options);
    const auto started = Clock::now();
    for (int i = 0; i < 10; ++i)
        client.Get(server.Url());
    for (const auto& reply : AwaitAll(client, 10)) {
        EXPECT_EQ(reply.fault, FetchFault::None) << reply.error;
    }
    // A burst of two, then eight more 50 ms apart.
    EXPECT_GE(Clock::now() - started, 350ms);
}

TEST(HttpsClient, NoMoreRequestsInFlightThanConnections) {
    std::atomic<int> now{0};
    std::atomic<int> most{0};
    Server server([&](const HttpsRequest&) {
        const int inFlight = ++now;
        int seen = most.load();
        while (inFlight > seen && !most.compare_exchange_weak(seen, inFlight)) {
        }
        std::this_thread::sleep_for(60ms);
        --now;
        return Reply(200);
    });
    auto options = TestOptions();
    options.limits.connections = 3;
    HttpsClient client(options);
    for (int i = 0; i < 12; ++i)
        client.Get(server.Url());
    EXPECT_GT(client.Pending(), 0u);
    for (const auto& reply : AwaitAll(client, 12)) {
        EXPECT_EQ(reply.fault, FetchFault::None) << reply.error;
    }
    EXPECT_LE(most.load(), 3);
    EXPECT_GE(most.load(), 2);  // the requests did run side by side
}

TEST(HttpsClient, StopsWithRequestsInFlight) {
    HttpsResponse drip = Reply(200, std::string(100, 'x'));
    drip.dripBytes = 1;
    drip.dripEvery = 100ms;
    Server server([&](const HttpsRequest&) { return drip; });
    {
        HttpsClient client(TestOptions());
        for (int i = 0; i < 6; ++i)
            client.Get(server.Url());
        std::this_thread::sleep_for(200ms);
        EXPECT_EQ(client.Pending(), 6u);
    }
}

TEST(HttpsClient, RefusesAddressesAndHeadersItCannotSendSafely) {
    struct Case {
        std::string url;
        std::vector<std::string> headers;
    };
    const Case cases[] = {
        {"http://127.0.0.1/", {}},
        {"ftp://127.0.0.1/", {}},
        {"https://127.0.0.1/\r\nX-Evil: 1", {}},
        {"https://127.0.0.1/", {"Accept: application/json\r\nX-Evil: 1"}},
    };
    HttpsClient client(TestOptions());
    for (const auto& c : cases)
        client.Get(c.url, c.headers);
    for (const auto& reply : AwaitAll(client, std::size(cases))) {
        EXPECT_EQ(reply.fault, FetchFault::Other);
        EXPECT_EQ(reply.attempts, 0);
        EXPECT_FALSE(reply.error.empty());
    }
}

TEST(CheckBaseUrl, OnlyHttpsAddressesWithAHost) {
    struct Case {
        const char* url;
        bool valid;
        const char* trimmed;
    };
    const Case cases[] = {
        {"https://127.0.0.1:8443", true, "https://127.0.0.1:8443"},
        {"https://api.tradier.com/", true, "https://api.tradier.com"},
        {"https://sandbox.example.com/v1/", true, "https://sandbox.example.com/v1"},
        {"HTTPS://host", true, "HTTPS://host"},
        {"http://127.0.0.1:8443", false, ""},
        {"127.0.0.1:8443", false, ""},
        {"https://", false, ""},
        {"https:///path", false, ""},
        {"https://:8443", false, ""},
        {"https://host:0", false, ""},
        {"https://host:65536", false, ""},
        {"https://host:port", false, ""},
        {"https://user:pw@host", false, ""},
        {"https://host/?q=1", false, ""},
        {"https://host/a b", false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        std::string error = "stale";
        EXPECT_EQ(CheckBaseUrl(c.url, error), c.valid);
        EXPECT_EQ(error.empty(), c.valid) << error;
        if (c.valid) {
            EXPECT_EQ(TrimBaseUrl(c.url), c.trimmed);
        }
    }
}

}  // namespace
}  // namespace quillon::fetch
