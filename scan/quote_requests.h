#pragma once
// The requests sent to the quote server: which host and port, and the exact
// bytes of the stock-page and option-page requests.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quillon {

inline constexpr const char* kStockRequestPrefix = "GET /cgi-bin/getquote.dll?TICKER=";
inline constexpr const char* kOptionRequestPrefix = "GET /cgi-bin/options.dll?TICKER=";
inline constexpr const char* kDefaultServerPort = "80";
// Bytes of QuoteHosts.txt that are read: far more than two host lines need.
inline constexpr std::size_t kMaxQuoteHostsBytes = 64 * 1024;

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
// host, line 2 the real-time host, each "host" or "host:port" (split at the
// last colon; blanks around the host and the port do not count); a missing or
// blank line keeps the built-in host.
QuoteHosts ParseQuoteHosts(const std::string& text);
// The same from the file in `directory` (its first kMaxQuoteHostsBytes bytes);
// the built-in hosts when it is missing.
QuoteHosts ReadQuoteHosts(const std::string& directory);

// "HOST" or "HOST:PORT" (the port 80 unless given) as a command line names
// a host; an IPv6 address goes in brackets ("[::1]:8080"). Nothing, with
// `error` set, for anything else.
std::optional<QuoteHost> ParseHostPort(std::string_view text, std::string& error);
// One or two hosts separated by a comma: the delayed-quote host, then the
// real-time-quote host; one serves both.
std::optional<QuoteHosts> ParseHostList(std::string_view text, std::string& error);
// QuoteHosts.txt naming `hosts`, each with its port, so that the file reads
// back the same.
std::string QuoteHostsText(const QuoteHosts& hosts);

// "Authorization: Basic " + the encoded "user:password", CR LF, CR LF.
std::string BuildAuthHeader(const std::string& userName, const std::string& password);

// The request line (prefix + ticker + CR LF) followed by the header.
std::string BuildRequest(const std::string& prefix, const std::string& ticker,
                         const std::string& authHeader);

}  // namespace quillon
