#include "scan/quote_requests.h"

#include "platform/files.h"
#include "scan/base64.h"

namespace quillon {

namespace {

std::string Trimmed(std::string line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
        line.pop_back();
    }
    std::size_t start = line.find_first_not_of(" \t");
    return start == std::string::npos ? std::string() : line.substr(start);
}

void ParseHostLine(const std::string& line, QuoteHost& host) {
    std::string text = Trimmed(line);
    if (text.empty()) return;
    std::size_t colon = text.rfind(':');
    if (colon == std::string::npos) {
        host.Host = text;
        host.Port = kDefaultServerPort;
    } else {
        host.Host = text.substr(0, colon);
        host.Port = text.substr(colon + 1);
    }
}

}  // namespace

QuoteHosts ParseQuoteHosts(const std::string& text) {
    QuoteHosts hosts;
    std::size_t end = text.find('\n');
    ParseHostLine(text.substr(0, end), hosts.Delayed);
    if (end != std::string::npos) {
        std::size_t second = text.find('\n', end + 1);
        ParseHostLine(text.substr(end + 1, second == std::string::npos ? std::string::npos
                                                                       : second - end - 1),
                      hosts.RealTime);
    }
    return hosts;
}

QuoteHosts ReadQuoteHosts(const std::string& directory) {
    std::optional<std::string> text = ReadWholeFile(directory + "/QuoteHosts.txt");
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
