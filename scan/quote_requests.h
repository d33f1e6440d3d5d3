#pragma once
// The requests sent to the quote server: which host and port, and the exact
// bytes of the stock-page and option-page requests.

#include <string>

namespace quillon {

inline constexpr const char* kStockRequestPrefix = "GET /cgi-bin/getquote.dll?TICKER=";
inline constexpr const char* kOptionRequestPrefix = "GET /cgi-bin/options.dll?TICKER=";
inline constexpr const char* kDefaultServerPort = "80";

struct QuoteHost {
    std::string Host;
    std::string Port = kDefaultServerPort;
};

// The delayed-quote host (QuoteServer 0) and the real-time-quote host
// (QuoteServer 1).
struct QuoteHosts {
    QuoteHost Delayed{"127.0.0.1", kDefaultServerPort};
    QuoteHost RealTime{"127.0.0.2", kDefaultServerPort};
};

// The hosts named by the optional QuoteHosts.txt text: line 1 the delayed
// host, line 2 the real-time host, each "host" or "host:port"; a missing or
// empty line keeps the built-in host.
QuoteHosts ParseQuoteHosts(const std::string& text);
// The same from the file in `directory`; the built-in hosts when it is missing.
QuoteHosts ReadQuoteHosts(const std::string& directory);

// "Authorization: Basic " + the encoded "user:password", CR LF, CR LF.
std::string BuildAuthHeader(const std::string& userName, const std::string& password);

// The request line (prefix + ticker + CR LF) followed by the header.
std::string BuildRequest(const std::string& prefix, const std::string& ticker,
                         const std::string& authHeader);

}  // namespace quillon
