// The HTTPS client: one worker thread drives a curl multi handle. Requests
// wait in a queue until a connection slot, the rate limit and their own
// back-off let them start; each attempt is an easy handle of its own, and the
// multi handle's connection cache lets the attempts share connections. The
// worker classifies every finished attempt: a reply, a retry after a wait, or
// a failure in words.

#include "fetch/https_client.h"

#include "fetch/https_support.h"
#include "platform/text.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <deque>
#include <fstream>
#include <iterator>
#include <list>
#include <mutex>
#include <sstream>
#include <thread>
#include <utility>

namespace quillon::fetch {

using namespace https;

namespace {

using Clock = std::chrono::steady_clock;

void InitCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

struct HttpsClient::Worker {
    struct Request {
        std::uint64_t id = 0;
        std::string url;
        std::vector<std::string> headers;
        Where where;
        int attempts = 0;
        Clock::time_point readyAt;  // not started again before this (back-off)
    };

    // One attempt in flight.
    struct Transfer {
        Worker* worker = nullptr;
        Request request;
        CURL* easy = nullptr;
        curl_slist* headerList = nullptr;
        char errorText[CURL_ERROR_SIZE] = "";
        std::string body;
        std::string retryAfter;  // the last reply's Retry-After value
        bool tooLarge = false;
        Clock::time_point started;
        Clock::time_point heard;  // the connection was made, or bytes last came
    };

    HttpsOptions options;
    std::string caBlob;      // the system's CA bundle and the further CA, when one is given
    std::string setupError;  // why no request can be made (the CA file unread)
    FetchFault setupFault = FetchFault::Other;
    CURLM* multi = nullptr;

    mutable std::mutex mutex;
    std::condition_variable doneChanged;
    std::deque<Request> incoming;
    std::vector<HttpsReply> done;
    std::size_t pending = 0;
    std::uint64_t nextId = 1;
    bool stopping = false;

    // The worker's own, touched by its thread alone.
    std::deque<Request> waiting;
    std::list<Transfer> inFlight;
    double tokens = 0;
    Clock::time_point tokensAt;

    std::thread thread;

    explicit Worker(HttpsOptions given) : options(std::move(given)) {
        InitCurlOnce();
        auto& limits = options.limits;
        limits.connections = std::max(1, limits.connections);
        limits.retries = std::max(0, limits.retries);
        if (!options.caFile.empty()) {
            std::ifstream in(options.caFile, std::ios::binary);
            std::ostringstream text;
            if (in) text << in.rdbuf();
            if (!in || text.str().find("-----BEGIN CERTIFICATE-----") == std::string::npos) {
                setupError = "the CA file " + options.caFile + " could not be read";
                setupFault = FetchFault::Certificate;
            } else {
                // libcurl's CA file replaces the system's store; the two are
                // joined here so that the further CA adds to it.
                caBlob = SystemCaBundle() + "\n" + text.str();
            }
        }
        if (!SafeHeaderText(options.bearerToken)) {
            setupError = "the access token holds characters a header cannot carry";
            setupFault = FetchFault::Other;
        }
        multi = curl_multi_init();
        const long connections = limits.connections;
        curl_multi_setopt(multi, CURLMOPT_MAX_TOTAL_CONNECTIONS, connections);
        curl_multi_setopt(multi, CURLMOPT_MAX_HOST_CONNECTIONS, connections);
        tokens = static_cast<double>(limits.connections);
        tokensAt = Clock::now();
        thread = std::thread([this] { Run(); });
    }

    ~Worker() {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        curl_multi_wakeup(multi);
        thread.join();
        for (auto& transfer : inFlight)
            Release(transfer);
        inFlight.clear();
        curl_multi_cleanup(multi);
    }

    void Finish(HttpsReply reply) {
        {
            std::lock_guard lock(mutex);
            done.push_back(std::move(reply));
            --pending;
        }
        doneChanged.notify_all();
    }

    void Release(Transfer& transfer) {
        if (transfer.easy) {
            curl_multi_remove_handle(multi, transfer.easy);
            curl_easy_cleanup(transfer.easy);
            transfer.easy = nullptr;
        }
        curl_slist_free_all(transfer.headerList);
        transfer.headerList = nullptr;
    }

    // The rate limit: a bucket of `connections` starts, refilled at
    // requestsPerSecond.
    void Refill(Clock::time_point now) {
        const double rate = options.limits.requestsPerSecond;
        if (rate <= 0) return;
        const double elapsed = std::chrono::duration<double>(now - tokensAt).count();
        tokens = std::min(static_cast<double>(options.limits.connections), tokens + elapsed * rate);
        tokensAt = now;
    }
    bool RateAllows() const { return options.limits.requestsPerSecond <= 0 || tokens >= 1.0; }
    Clock::duration UntilToken() const {
        const double missing = 1.0 - tokens;
        return std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(missing / options.limits.requestsPerSecond));
    }

    static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
        auto& transfer = *static_cast<Transfer*>(user);
        const std::size_t bytes = size * count;
        transfer.heard = Clock::now();
        if (transfer.body.size() + bytes > transfer.worker->options.limits.maxReplyBytes) {
            transfer.tooLarge = true;
            return 0;  // ends the transfer with a write error
        }
        transfer.body.append(data, bytes);
        return bytes;
    }

    static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
        auto& transfer = *static_cast<Transfer*>(user);
        const std::size_t bytes = size * count;
        transfer.heard = Clock::now();
        const std::string line(data, bytes);
        if (line.rfind("HTTP/", 0) == 0) {
            transfer.retryAfter.clear();  // a new reply (after a 100 Continue, say)
        } else if (StartsWithNoCase(line, "retry-after:")) {
            transfer.retryAfter = std::string(Trim(line.substr(12), IsSpaceOrControl));
        }
        return bytes;
    }

    static int OnConnected(void* user, char*, char*, int, int) {
        static_cast<Transfer*>(user)->heard = Clock::now();
        return CURL_PREREQFUNC_OK;
    }

    void Start(Request request, Clock::time_point now) {
        ++request.attempts;
        auto& transfer = inFlight.emplace_back();
        transfer.worker = this;
        transfer.request = std::move(request);
        transfer.started = now;
        transfer.heard = now;
        CURL* easy = curl_easy_init();
        transfer.easy = easy;
        const auto& limits = options.limits;
        curl_easy_setopt(easy, CURLOPT_URL, transfer.request.url.c_str());
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "https");
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
        // Verification is always on; nothing in this client turns it off.
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
        if (!caBlob.empty()) {
            curl_blob blob{caBlob.data(), caBlob.size(), CURL_BLOB_NOCOPY};
            curl_easy_setopt(easy, CURLOPT_CAINFO_BLOB, &blob);
        }
        curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS,
                         static_cast<long>(limits.connectTimeout.count()));
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.totalTimeout.count()));
        // The stall time-out is also watched by the worker to the millisecond;
        // libcurl's own check counts whole seconds.
        const long stallSeconds =
            std::max<long>(1, static_cast<long>((limits.stallTimeout.count() + 999) / 1000));
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, stallSeconds);
        curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE,
                         static_cast<curl_off_t>(std::min<std::size_t>(
                             limits.maxReplyBytes, static_cast<std::size_t>(INT64_MAX))));
        curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, transfer.errorText);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Worker::OnBody);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Worker::OnHeader);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, &transfer);
        curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &Worker::OnConnected);
        curl_easy_setopt(easy, CURLOPT_PREREQDATA, &transfer);
        curl_easy_setopt(easy, CURLOPT_PRIVATE, &transfer);
        for (const auto& header : transfer.request.headers) {
            transfer.headerList = curl_slist_append(transfer.headerList, header.c_str());
        }
        if (!options.bearerToken.empty()) {
            const std::string line = "Authorization: Bearer " + options.bearerToken;
            transfer.headerList = curl_slist_append(transfer.headerList, line.c_str());
        }
        if (transfer.headerList) curl_easy_setopt(easy, CURLOPT_HTTPHEADER, transfer.headerList);
        curl_multi_add_handle(multi, easy);
    }

    // What became of an attempt; `retryIn` is set when it is to be tried again.
    struct Outcome {
        HttpsReply reply;
        bool transient = false;
        std::chrono::milliseconds waitFor{-1};  // a Retry-After to honour
    };

    Outcome Judge(Transfer& transfer, CURLcode code, bool stalled) {
        Outcome outcome;
        auto& reply = outcome.reply;
        const auto& where = transfer.request.where;
        const auto& limits = options.limits;
        reply.id = transfer.request.id;
        reply.attempts = transfer.request.attempts;
        long status = 0;
        curl_easy_getinfo(transfer.easy, CURLINFO_RESPONSE_CODE, &status);
        reply.status = static_cast<int>(status);
        const std::string detail = transfer.errorText;
        if (stalled) {
            reply.fault = FetchFault::TimedOut;
            reply.error = "no answer from " + where.host + " within " +
                          SecondsText(limits.stallTimeout) + " s";
            outcome.transient = true;
            return outcome;
        }
        if (transfer.tooLarge || code == CURLE_FILESIZE_EXCEEDED) {
            reply.fault = FetchFault::TooLarge;
            reply.error = "the reply from " + where.host + " is larger than " +
                          SizeText(limits.maxReplyBytes);
            return outcome;
        }
        if (code != CURLE_OK) {
            curl_off_t connected = 0;
            curl_easy_getinfo(transfer.easy, CURLINFO_APPCONNECT_TIME_T, &connected);
            const CurlFailure failure =
                CurlFailureOf(code, detail, where, limits, connected != 0 || status != 0,
                              Clock::now() - transfer.started >= limits.totalTimeout);
            reply.fault = failure.fault;
            reply.error = failure.error;
            outcome.transient = failure.transient;
            return outcome;
        }
        if (status >= 200 && status < 300) {
            reply.body = std::move(transfer.body);
            return outcome;
        }
        reply.fault = FetchFault::Status;
        reply.error = where.host + " answered with status " + std::to_string(status);
        if (TransientStatus(status)) {
            outcome.transient = true;
            if (status == 429 || status == 503) {
                const long after = RetryAfterSeconds(transfer.retryAfter);
                if (after >= 0) {
                    reply.retryAfterSeconds = after;
                    outcome.waitFor = std::chrono::seconds(after);
                }
            }
        }
        reply.body = std::move(transfer.body);
        return outcome;
    }

    // Ends an attempt: the reply is done, or the request waits for its retry.
    void Conclude(std::list<Transfer>::iterator it, CURLcode code, bool stalled,
                  Clock::time_point now) {
        Outcome outcome = Judge(*it, code, stalled);
        Request request = std::move(it->request);
        Release(*it);
        inFlight.erase(it);
        auto& reply = outcome.reply;
        const auto& limits = options.limits;
        if (outcome.transient && outcome.waitFor >= std::chrono::milliseconds(0) &&
            outcome.waitFor > limits.longestRetryAfter) {
            reply.error += ", and asks to wait " + std::to_string(reply.retryAfterSeconds) +
                           " s before another try";
            Finish(std::move(reply));
            return;
        }
        if (outcome.transient && request.attempts <= limits.retries) {
            auto wait = outcome.waitFor;
            if (wait < std::chrono::milliseconds(0)) {
                wait =
                    limits.firstBackoff * (std::int64_t{1} << std::min(request.attempts - 1, 20));
            }
            request.readyAt = now + wait;
            waiting.push_back(std::move(request));
            return;
        }
        if (reply.fault == FetchFault::None) reply.retryAfterSeconds = -1;
        Finish(std::move(reply));
    }

    void Run() {
        for (;;) {
            {
                std::lock_guard lock(mutex);
                if (stopping) return;
                while (!incoming.empty()) {
                    waiting.push_back(std::move(incoming.front()));
                    incoming.pop_front();
                }
            }
            auto now = Clock::now();
            Refill(now);
            // Start what may start, in the order queued.
            Clock::time_point nextWake = now + std::chrono::milliseconds(500);
            for (auto it = waiting.begin(); it != waiting.end();) {
                if (static_cast<int>(inFlight.size()) >= options.limits.connections) break;
                if (it->readyAt > now) {
                    nextWake = std::min(nextWake, it->readyAt);
                    ++it;
                    continue;
                }
                if (!RateAllows()) {
                    nextWake = std::min(nextWake, now + UntilToken());
                    break;
                }
                if (options.limits.requestsPerSecond > 0) tokens -= 1.0;
                Request request = std::move(*it);
                it = waiting.erase(it);
                Start(std::move(request), now);
            }

            int running = 0;
            curl_multi_perform(multi, &running);
            int left = 0;
            while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
                if (message->msg != CURLMSG_DONE) continue;
                Transfer* transfer = nullptr;
                curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &transfer);
                const CURLcode code = message->data.result;
                auto it = std::find_if(inFlight.begin(), inFlight.end(),
                                       [&](const Transfer& t) { return &t == transfer; });
                if (it != inFlight.end()) Conclude(it, code, false, Clock::now());
            }
            // The stall time-out to the millisecond.
            now = Clock::now();
            for (auto it = inFlight.begin(); it != inFlight.end();) {
                const auto next = std::next(it);
                const auto stallAt = it->heard + options.limits.stallTimeout;
                if (stallAt <= now) {
                    Conclude(it, CURLE_OPERATION_TIMEDOUT, true, now);
                } else {
                    nextWake = std::min(nextWake, stallAt);
                }
                it = next;
            }

            // A request that was put back for a retry above may be due soon.
            if (static_cast<int>(inFlight.size()) < options.limits.connections) {
                const auto tokenAt = RateAllows() ? now : now + UntilToken();
                for (const auto& request : waiting) {
                    nextWake = std::min(nextWake, std::max(request.readyAt, tokenAt));
                }
            }
            const auto wait =
                std::chrono::duration_cast<std::chrono::milliseconds>(nextWake - Clock::now());
            const int waitMs = static_cast<int>(std::clamp<std::int64_t>(wait.count() + 1, 0, 500));
            {
                std::lock_guard lock(mutex);
                if (stopping) return;
                if (!incoming.empty()) continue;
            }
            curl_multi_poll(multi, nullptr, 0, waitMs, nullptr);
        }
    }
};

HttpsClient::HttpsClient(HttpsOptions options)
    : worker_(std::make_unique<Worker>(std::move(options))) {}

HttpsClient::~HttpsClient() = default;

std::uint64_t HttpsClient::Get(const std::string& url, const std::vector<std::string>& headers) {
    auto& worker = *worker_;
    Worker::Request request;
    request.url = url;
    request.headers = headers;
    request.where = WhereOf(url);
    request.readyAt = Clock::now();
    std::string refusal = worker.setupError;
    if (refusal.empty() && !StartsWithNoCase(url, "https://")) {
        refusal = "only https addresses are fetched";
    }
    if (refusal.empty() && !SafeHeaderText(url)) refusal = "the address holds control characters";
    for (const auto& header : headers) {
        if (refusal.empty() && !SafeHeaderText(header)) {
            refusal = "a header line holds characters a header cannot carry";
        }
    }
    std::uint64_t id = 0;
    {
        std::lock_guard lock(worker.mutex);
        id = worker.nextId++;
        request.id = id;
        ++worker.pending;
        if (refusal.empty()) worker.incoming.push_back(std::move(request));
    }
    if (!refusal.empty()) {
        HttpsReply reply;
        reply.id = id;
        reply.fault = worker.setupError.empty() ? FetchFault::Other : worker.setupFault;
        reply.error = refusal;
        worker.Finish(std::move(reply));
    } else {
        curl_multi_wakeup(worker.multi);
    }
    return id;
}

std::vector<HttpsReply> HttpsClient::TakeDone() {
    std::lock_guard lock(worker_->mutex);
    std::vector<HttpsReply> replies;
    replies.swap(worker_->done);
    return replies;
}

bool HttpsClient::WaitDone(std::chrono::milliseconds most) {
    std::unique_lock lock(worker_->mutex);
    return worker_->doneChanged.wait_for(lock, most, [&] { return !worker_->done.empty(); });
}

std::size_t HttpsClient::Pending() const {
    std::lock_guard lock(worker_->mutex);
    return worker_->pending;
}

}  // namespace quillon::fetch
