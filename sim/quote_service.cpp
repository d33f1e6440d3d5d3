#include "sim/quote_service.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "platform/base64.h"
#include "platform/text.h"
#include "sim/quote_pages.h"

namespace quillon::sim {

namespace {

// Option pages of the huge fault hold at least this many bytes.
constexpr std::size_t kHugePageBytes = 4u << 20;

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::toupper(static_cast<unsigned char>(a)) ==
                      std::toupper(static_cast<unsigned char>(b));
           });
}

std::string_view TrimBlanks(std::string_view text) {
    return Trim(text, IsSpaceOrTab);
}

// A symbol of 1 to 10 letters and digits, upper-cased; empty otherwise.
std::string Symbol(std::string_view text) {
    std::string symbol;
    if (text.empty() || text.size() > 10) return symbol;
    for (char c : text) {
        if (!std::isalnum(static_cast<unsigned char>(c))) return "";
        symbol += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return symbol;
}

void ParseRequestLine(std::string_view line, QuoteRequest& request) {
    request.status = 400;
    if (!StartsWithNoCase(line, "GET ")) return;
    std::string_view target = TrimBlanks(line.substr(4));
    target = target.substr(0, target.find(' '));
    const auto query = target.find('?');
    const std::string_view path = target.substr(0, query);
    if (path == "/cgi-bin/getquote.dll") {
        request.page = PageKind::Stock;
    } else if (path == "/cgi-bin/options.dll") {
        request.page = PageKind::Options;
    } else {
        request.status = path.starts_with('/') ? 404 : 400;
        return;
    }
    if (query == std::string_view::npos) return;
    const std::string_view parameter = target.substr(query + 1);
    if (!StartsWithNoCase(parameter, "TICKER=")) return;
    request.ticker = Symbol(parameter.substr(7));
    if (!request.ticker.empty()) request.status = 200;
}

}  // namespace

std::size_t RequestHeadEnd(std::string_view received) {
    const auto crlf = received.find("\r\n\r\n");
    const auto lf = received.find("\n\n");
    if (crlf == std::string_view::npos && lf == std::string_view::npos) return 0;
    return crlf < lf ? crlf + 4 : lf + 2;
}

QuoteRequest ParseQuoteRequest(std::string_view head) {
    QuoteRequest request;
    request.status = 400;  // until a request line is read
    bool first = true;
    while (!head.empty()) {
        const auto end = head.find('\n');
        std::string_view line = head.substr(0, end);
        head = end == std::string_view::npos ? std::string_view() : head.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (first) {
            ParseRequestLine(line, request);
            first = false;
        } else if (StartsWithNoCase(line, "Authorization:")) {
            const std::string_view value = TrimBlanks(line.substr(14));
            if (StartsWithNoCase(value, "Basic "))
                request.credentials = std::string(TrimBlanks(value.substr(6)));
        }
    }
    return request;
}

QuoteService::QuoteService(std::uint64_t seed, std::string user, std::string password)
    : QuoteService(std::make_unique<SyntheticSource>(seed), std::move(user), std::move(password)) {}

QuoteService::QuoteService(std::unique_ptr<MarketSource> source, std::string user,
                           std::string password)
    : source_(std::move(source)), credentials_(std::move(user) + ":" + std::move(password)) {}

std::string QuoteService::Answer(std::string_view head, bool huge) {
    const QuoteRequest request = ParseQuoteRequest(head);
    if (request.status == 400) return BadRequestPage();
    // The credentials are decoded with the service's own Base64 alphabet.
    if (!request.credentials || DecodeBase64(*request.credentials) != credentials_)
        return RefusalPage();
    if (request.status == 404) return NotFoundPage();
    const std::optional<SimStock> stock = source_->Stock(request.ticker);
    if (request.page == PageKind::Stock)
        return stock ? StockPage(*stock) : UnknownSymbolPage(request.ticker);
    const std::vector<SimOption> options =
        stock ? source_->Options(*stock) : std::vector<SimOption>();
    if (options.empty()) return NoOptionsPage(request.ticker);
    return OptionPage(*stock, options, huge ? kHugePageBytes : 0);
}

}  // namespace quillon::sim
