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

namespace {

bool IsPortText(std::string_view port) {
    if (port.empty() || port.size() > 5) return false;
    int value = 0;
    for (char c : port) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return value >= 1 && value <= 65535;
}

}  // namespace

// "HOST" or "HOST:PORT" (the port 80 unless given); an IPv6 address goes in
// brackets ("[::1]:8080"). Nothing, with `error` set, for anything else.
std::optional<QuoteHost> ParseHostPort(std::string_view text, std::string& error) {
    QuoteHost host;
    std::string_view name = text;
    std::optional<std::string_view> port;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos) {
            error = "'" + std::string(text) + "' lacks the ] of its address";
            return std::nullopt;
        }
        name = text.substr(1, close - 1);
        std::string_view rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') {
                error = "'" + std::string(text) + "' has more after its address than a port";
                return std::nullopt;
            }
            port = rest.substr(1);
        }
    } else if (const std::size_t colon = text.rfind(':'); colon != std::string_view::npos) {
        name = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (name.find(':') != std::string_view::npos) {
            error = "'" + std::string(text) + "': write an IPv6 address in brackets, as [::1]:8080";
            return std::nullopt;
        }
    }
    if (name.empty()) {
        error = "'" + std::string(text) + "' names no host";
        return std::nullopt;
    }
    for (char c : name) {
        if (static_cast<unsigned char>(c) <= ' ' || c == 0x7F || c == '[' || c == ']') {
            error = "'" + std::string(text) + "' is no host name";
            return std::nullopt;
        }
    }
    if (port && !IsPortText(*port)) {
        error = "'" + std::string(text) + "' has no port from 1 to 65535 after its colon";
        return std::nullopt;
    }
    host.Host = std::string(name);
    if (port) host.Port = std::string(*port);
    return host;
}

// One or two hosts separated by a comma: the delayed-quote host, then the
// real-time-quote host; one serves both.
std::optional<QuoteHosts> ParseHostList(std::string_view text, std::string& error) {
    const std::size_t comma = text.find(',');
    std::optional<QuoteHost> delayed = ParseHostPort(text.substr(0, comma), error);
    if (!delayed) return std::nullopt;
    QuoteHosts hosts{*delayed, *delayed};
    if (comma == std::string_view::npos) return hosts;
    const std::string_view second = text.substr(comma + 1);
    if (second.find(',') != std::string_view::npos) {
        error = "takes two hosts at most: the delayed-quote host, then the real-time-quote host";
        return std::nullopt;
    }
    std::optional<QuoteHost> realTime = ParseHostPort(second, error);
    if (!realTime) return std::nullopt;
    hosts.RealTime = *realTime;
    return hosts;
}

// QuoteHosts.txt naming `hosts`, each with its port, so that the file reads
// back the same.
std::string QuoteHostsText(const QuoteHosts& hosts) {
    return hosts.Delayed.Host + ":" + hosts.Delayed.Port + "\r\n" + hosts.RealTime.Host + ":" +
           hosts.RealTime.Port + "\r\n";
}

}  // namespace quillon
