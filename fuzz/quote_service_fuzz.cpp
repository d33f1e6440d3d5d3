// Any bytes as a request to the demo quote service: the head is found within
// the bytes, the request line and the credentials are read without a crash,
// and every request gets a complete answer of the kind its parse calls for.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_context.h"
#include "sim/quote_pages.h"
#include "sim/quote_service.h"

namespace {

using quillon::fuzz::Check;
using namespace quillon::sim;

bool IsSymbol(const std::string& ticker) {
    return !ticker.empty() && ticker.size() <= 10 &&
           std::all_of(ticker.begin(), ticker.end(),
                       [](char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); });
}

void CheckCredentials(const std::string& credentials) {
    Check(credentials.find('\n') == std::string::npos);
    Check(credentials.empty() || (credentials.front() != ' ' && credentials.back() != ' '));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    // The head ends with its blank line, inside the bytes received.
    const std::size_t end = RequestHeadEnd(bytes);
    Check(end <= bytes.size());
    if (end > 0) {
        const std::string_view head = bytes.substr(0, end);
        Check(head.ends_with("\n\n") || head.ends_with("\r\n\r\n"));
        Check(RequestHeadEnd(head) == end);
    }

    const QuoteRequest request = ParseQuoteRequest(bytes);
    Check(request.status == 200 || request.status == 400 || request.status == 404);
    if (request.status == 200) Check(IsSymbol(request.ticker));
    if (request.credentials) CheckCredentials(*request.credentials);

    // The service answers as the server does: only a head of bounded size.
    static QuoteService service(1, "guest", "lantern4");
    const std::string_view head = bytes.substr(0, std::min(bytes.size(), kMaxRequestHead));
    const QuoteRequest bounded = ParseQuoteRequest(head);
    const std::string answer = service.Answer(head, false);
    Check(answer.starts_with("HTTP/"));
    if (bounded.status == 400) Check(answer == BadRequestPage());
    if (!bounded.credentials) Check(answer == BadRequestPage() || answer == RefusalPage());
    return 0;
}
