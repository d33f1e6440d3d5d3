#include "scan/quote_requests.h"

#include <string_view>

#include "platform/base64.h"
#include "platform/files.h"
#include "platform/text.h"

namespace quillon {

namespace {

// The text without the blanks (and a line's CR) at either end.
std::string Trimmed(std::string_view text) {
    return std::string(Trim(text, IsSpaceTabOrCr));
}

// "host" or "host:port"; blanks around the host, the colon and the port do
// not count.
void ParseHostLine(std::string_view line, QuoteHost& host) {
    const std::string text = Trimmed(line);
    if (text.empty()) return;
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos) {
        host.Host = text;
        host.Port = kDefaultServerPort;
    } else {
        host.Host = Trimmed(std::string_view(text).substr(0, colon));
        host.Port = Trimmed(std::string_view(text).substr(colon + 1));
    }
}

}  // namespace

QuoteHosts ParseQuoteHosts(const std::string& text) {
    QuoteHosts hosts;
    std::string_view rest(text);
    const std::size_t end = rest.find('\n');
    ParseHostLine(rest.substr(0, end), hosts.Delayed);
    if (end != std::string_view::npos) {
        rest.remove_prefix(end + 1);
        ParseHostLine(rest.substr(0, rest.find('\n')), hosts.RealTime);
    }
    return hosts;
}

QuoteHosts ReadQuoteHosts(const std::string& directory) {
    std::optional<std::string> text =
        ReadFileStart(directory + "/QuoteHosts.txt", kMaxQuoteHostsBytes);
    return text ? ParseQuoteHosts(*text) : QuoteHosts{};
}

std::string BuildAuthHeader(const std::string& userName, const std::string& password) {
    return "Authorization: Basic " + EncodeBase64(userName + ":" + password) + "\r\n\r\n";
}

std::string BuildRequest(const std::string& prefix, const std::string& ticker,
                         const std::string& authHeader) {
    return prefix + ticker + "\r\n" + authHeader;
}

}  // namespace quillon
