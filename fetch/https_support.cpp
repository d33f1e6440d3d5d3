// The HTTPS client's texts and rules apart from its worker: the words of a
// failure, the Retry-After header, the CA bundle, the base addresses a user
// may give.

#include "fetch/https_support.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>
#include <vector>

#include "fetch/https_client.h"

namespace quillon::fetch {

namespace https {

// "0.3", "15", "2.5": a duration in seconds for a message.
std::string SecondsText(std::chrono::milliseconds duration) {
    const auto ms = duration.count();
    char text[32];
    if (ms % 1000 == 0) {
        std::snprintf(text, sizeof text, "%lld", static_cast<long long>(ms / 1000));
    } else {
        std::snprintf(text, sizeof text, "%.1f", static_cast<double>(ms) / 1000.0);
    }
    return text;
}

std::string SizeText(std::size_t bytes) {
    char text[32];
    if (bytes >= (std::size_t{1} << 20)) {
        std::snprintf(text, sizeof text, "%.1f MB",
                      static_cast<double>(bytes) / static_cast<double>(std::size_t{1} << 20));
    } else {
        std::snprintf(text, sizeof text, "%zu bytes", bytes);
    }
    return text;
}

// A header value or a token may not carry line breaks or other control
// characters: they would end the header and start another.
bool SafeHeaderText(const std::string& text) {
    return std::none_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte < 0x20 && c != '\t') || byte == 0x7f;
    });
}

bool StartsWithNoCase(const std::string& text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    }
    return true;
}

Where WhereOf(const std::string& url) {
    Where where;
    CURLU* parsed = curl_url();
    if (parsed && curl_url_set(parsed, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK) {
        char* host = nullptr;
        if (curl_url_get(parsed, CURLUPART_HOST, &host, 0) == CURLUE_OK) {
            where.host = host;
            curl_free(host);
        }
        char* port = nullptr;
        if (curl_url_get(parsed, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK) {
            where.hostPort = where.host + ":" + port;
            curl_free(port);
        }
    }
    curl_url_cleanup(parsed);
    if (where.host.empty()) where.host = "the server";
    if (where.hostPort.empty()) where.hostPort = where.host;
    return where;
}

// A Retry-After value in seconds from now: delta seconds or an HTTP date;
// -1 when it is neither.
long RetryAfterSeconds(const std::string& value) {
    if (value.empty()) return -1;
    if (std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        if (value.size() > 9) return 999999999;
        return std::stol(value);
    }
    const time_t when = curl_getdate(value.c_str(), nullptr);
    if (when == -1) return -1;
    const time_t now = std::time(nullptr);
    return when > now ? static_cast<long>(when - now) : 0;
}

bool TransientStatus(long status) {
    return status == 429 || status == 500 || status == 502 || status == 503 || status == 504;
}

// The system's CA bundle as libcurl was built to find it, or the usual
// places. Empty when there is none.
std::string SystemCaBundle() {
    std::vector<std::string> paths;
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    if (info && info->age >= CURLVERSION_SEVENTH && info->cainfo) paths.emplace_back(info->cainfo);
    paths.emplace_back("/etc/ssl/certs/ca-certificates.crt");
    paths.emplace_back("/etc/pki/tls/certs/ca-bundle.crt");
    paths.emplace_back("/etc/ssl/cert.pem");
    for (const auto& path : paths) {
        std::ifstream in(path, std::ios::binary);
        if (!in) continue;
        std::ostringstream text;
        text << in.rdbuf();
        if (!text.str().empty()) return text.str();
    }
    return {};
}

CurlFailure CurlFailureOf(CURLcode code, const std::string& detail, const Where& where,
                          const ServiceLimits& limits, bool connected, bool overTotal) {
    CurlFailure failure;
    switch (code) {
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_INVALIDCERTSTATUS:
            failure.fault = FetchFault::Certificate;
            if (detail.find("subject name") != std::string::npos ||
                detail.find("host name") != std::string::npos) {
                failure.error = "the certificate of " + where.host + " is not for that name";
            } else {
                failure.error = "the certificate of " + where.host + " is not trusted";
                const auto problem = detail.find("certificate problem: ");
                if (problem != std::string::npos) {
                    failure.error += " (" + detail.substr(problem + 21) + ")";
                }
            }
            return failure;
        case CURLE_COULDNT_RESOLVE_HOST:
            failure.fault = FetchFault::Unreachable;
            failure.error = "the name " + where.host + " was not found";
            return failure;
        case CURLE_COULDNT_CONNECT:
            failure.fault = FetchFault::Unreachable;
            failure.error = "no connection to " + where.hostPort;
            failure.transient = true;
            return failure;
        case CURLE_OPERATION_TIMEDOUT: {
            failure.fault = FetchFault::TimedOut;
            if (!connected) {
                failure.error = "no connection to " + where.hostPort + " within " +
                                SecondsText(limits.connectTimeout) + " s";
            } else if (overTotal) {
                failure.error = "the reply from " + where.host + " was not complete within " +
                                SecondsText(limits.totalTimeout) + " s";
            } else {
                failure.error = "no answer from " + where.host + " within " +
                                SecondsText(limits.stallTimeout) + " s";
            }
            failure.transient = true;
            return failure;
        }
        case CURLE_PARTIAL_FILE:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
            failure.fault = FetchFault::CutShort;
            failure.error = "the reply from " + where.host + " was cut short";
            failure.transient = true;
            return failure;
        case CURLE_SSL_CONNECT_ERROR:
            failure.fault = FetchFault::Other;
            failure.error = "no secure connection to " + where.hostPort;
            if (!detail.empty()) failure.error += " (" + detail + ")";
            return failure;
        default:
            failure.fault = FetchFault::Other;
            failure.error = "the request to " + where.host +
                            " failed: " + (detail.empty() ? curl_easy_strerror(code) : detail);
            return failure;
    }
}

}  // namespace https

using namespace https;

bool CheckBaseUrl(const std::string& url, std::string& error) {
    error.clear();
    if (!StartsWithNoCase(url, "https://")) {
        error = "the address must begin with https://";
        return false;
    }
    const std::string rest = url.substr(8);
    const auto slash = rest.find('/');
    const std::string authority = rest.substr(0, slash);
    if (authority.empty() || authority.front() == ':') {
        error = "the address has no host";
        return false;
    }
    if (authority.find('@') != std::string::npos) {
        error = "the address may not carry a user name or password";
        return false;
    }
    if (url.find_first_of("?# \t\r\n") != std::string::npos || !SafeHeaderText(url)) {
        error = "the address may hold only a host, a port and a path";
        return false;
    }
    // A port, when given, is a number from 1 to 65535.
    const auto bracket = authority.rfind(']');
    const auto colon = authority.rfind(':');
    if (colon != std::string::npos && (bracket == std::string::npos || colon > bracket)) {
        const std::string port = authority.substr(colon + 1);
        if (port.empty() || port.size() > 5 ||
            !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
            std::stol(port) < 1 || std::stol(port) > 65535) {
            error = "the address's port is not a number from 1 to 65535";
            return false;
        }
    }
    CURLU* parsed = curl_url();
    const bool valid = parsed && curl_url_set(parsed, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK;
    curl_url_cleanup(parsed);
    if (!valid) {
        error = "the address is not a valid https address";
        return false;
    }
    return true;
}

}  // namespace quillon::fetch

namespace quillon::fetch {

std::string TrimBaseUrl(const std::string& url) {
    std::string trimmed = url;
    while (trimmed.size() > 8 && trimmed.back() == '/')
        trimmed.pop_back();
    return trimmed;
}

}  // namespace quillon::fetch
