#pragma once
// The HTTPS client's parts apart from its worker thread: the words of its
// failures, a Retry-After read, the system's CA bundle.

#include <curl/curl.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "fetch/https_client.h"

namespace quillon::fetch::https {

// "0.3", "15", "2.5": a duration in seconds for a message.
std::string SecondsText(std::chrono::milliseconds duration);
// "64.0 MB", "512 bytes".
std::string SizeText(std::size_t bytes);
// A header value or a token may not carry line breaks or other control
// characters: they would end the header and start another.
bool SafeHeaderText(const std::string& text);
bool StartsWithNoCase(const std::string& text, std::string_view prefix);

// The host and the host:port of an https address, for messages.
struct Where {
    std::string host;
    std::string hostPort;
};
Where WhereOf(const std::string& url);

// A Retry-After value in seconds from now: delta seconds or an HTTP date;
// -1 when it is neither.
long RetryAfterSeconds(const std::string& value);
// 429, 500, 502, 503, 504: a status that may pass.
bool TransientStatus(long status);
// The system's CA bundle as libcurl was built to find it, or the usual
// places. Empty when there is none.
std::string SystemCaBundle();

// What a transfer that libcurl ended with `code` (not CURLE_OK) comes to:
// the fault, its words naming the host, and whether a retry may help.
// `connected`: a connection was made or a status came; `overTotal`: the
// whole request's time was used up.
struct CurlFailure {
    FetchFault fault = FetchFault::Other;
    std::string error;
    bool transient = false;
};
CurlFailure CurlFailureOf(CURLcode code, const std::string& detail, const Where& where,
                          const ServiceLimits& limits, bool connected, bool overTotal);

}  // namespace quillon::fetch::https
