// Any bytes as QuoteHosts.txt: every host and port comes out without blanks
// at its ends and without a line break, a text of one line holds no
// real-time host, and the hosts read back as written.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_context.h"
#include "scan/quote_requests.h"

namespace {

using quillon::fuzz::Check;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

void CheckField(const std::string& field) {
    Check(field.find('\n') == std::string::npos);
    Check(field.empty() || (!IsBlank(field.front()) && !IsBlank(field.back())));
}

void CheckHost(const quillon::QuoteHost& host) {
    CheckField(host.Host);
    CheckField(host.Port);
    Check(host.Port.find(':') == std::string::npos);  // split at the last colon
}

bool Same(const quillon::QuoteHost& a, const quillon::QuoteHost& b) {
    return a.Host == b.Host && a.Port == b.Port;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const quillon::QuoteHosts hosts = quillon::ParseQuoteHosts(text);
    CheckHost(hosts.Delayed);
    CheckHost(hosts.RealTime);
    if (text.find('\n') == std::string::npos)
        Check(Same(hosts.RealTime, quillon::QuoteHosts{}.RealTime));

    // Written back as "host:port" lines, the hosts read the same.
    const std::string written = hosts.Delayed.Host + ":" + hosts.Delayed.Port + "\r\n" +
                                hosts.RealTime.Host + ":" + hosts.RealTime.Port + "\r\n";
    const quillon::QuoteHosts again = quillon::ParseQuoteHosts(written);
    Check(Same(again.Delayed, hosts.Delayed) && Same(again.RealTime, hosts.RealTime));
    return 0;
}
