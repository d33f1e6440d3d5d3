// The requests of both services answered from a market source: the route
// by path, the query's parameters, Tradier's token, and the answers a
// service gives for what it does not know.
#include <algorithm>
#include <cctype>
#include <optional>
#include <utility>

#include "sim/service_replies.h"
#include "sim/service_replies_internal.h"

namespace quillon::sim {

namespace {

// -------------------------------------------------------------- requests

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// %XX escapes decoded; a "%" without two hex digits stays as it is.
std::string PercentDecoded(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int high = HexDigit(text[i + 1]), low = HexDigit(text[i + 2]);
            if (high >= 0 && low >= 0) {
                out += static_cast<char>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

// The decoded value of a query parameter; nothing when it is absent.
std::optional<std::string> QueryValue(std::string_view query, std::string_view name) {
    while (!query.empty()) {
        const std::size_t end = std::min(query.find('&'), query.size());
        const std::string_view pair = query.substr(0, end);
        const std::size_t equals = pair.find('=');
        if (PercentDecoded(pair.substr(0, equals)) == name) {
            return equals == std::string_view::npos ? std::string()
                                                    : PercentDecoded(pair.substr(equals + 1));
        }
        query.remove_prefix(std::min(end + 1, query.size()));
    }
    return std::nullopt;
}

// A symbol the sources can be asked for: 1 to 10 letters and digits,
// upper-cased; empty for anything else.
std::string CleanSymbol(std::string_view text) {
    std::string symbol;
    if (text.empty() || text.size() > 10) return symbol;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (!std::isalnum(byte)) return {};
        symbol += static_cast<char>(std::toupper(byte));
    }
    return symbol;
}

// The symbols of a comma-separated list, blanks around them dropped.
std::vector<std::string> SymbolList(std::string_view text) {
    std::vector<std::string> symbols;
    while (true) {
        const std::size_t comma = std::min(text.find(','), text.size());
        std::string_view item = text.substr(0, comma);
        while (!item.empty() && item.front() == ' ')
            item.remove_prefix(1);
        while (!item.empty() && item.back() == ' ')
            item.remove_suffix(1);
        if (!item.empty()) symbols.emplace_back(item);
        if (comma == text.size()) break;
        text.remove_prefix(comma + 1);
    }
    return symbols;
}

HttpsResponse Reply(int status, std::string contentType, std::string body) {
    HttpsResponse response;
    response.status = status;
    response.headers.emplace_back("Content-Type", std::move(contentType));
    response.body = std::move(body);
    return response;
}

HttpsResponse JsonReply(std::string body) {
    return Reply(200, "application/json", std::move(body));
}

constexpr std::string_view kExchangePrefix = "/api/global/delayed_quotes/options/";
constexpr std::string_view kJsonSuffix = ".json";

// What the exchange's CDN answers for a symbol it has no file of.
constexpr const char* kAccessDenied =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<Error><Code>AccessDenied</Code><Message>Access Denied</Message></Error>";

}  // namespace

ServiceAnswers::ServiceAnswers(MarketSource& source, ServiceConfig config)
    : source_(source), config_(std::move(config)) {}

HttpsResponse ServiceAnswers::Answer(const HttpsRequest& request) {
    const std::string_view target = request.target;
    const std::size_t question = target.find('?');
    const std::string_view path = target.substr(0, question);
    const std::string_view query =
        question == std::string_view::npos ? std::string_view() : target.substr(question + 1);
    if (request.method != "GET") return Reply(405, "text/plain", "Method Not Allowed");

    if (path.starts_with(kExchangePrefix) && path.ends_with(kJsonSuffix) &&
        path.size() > kExchangePrefix.size() + kJsonSuffix.size()) {
        std::string requested = PercentDecoded(path.substr(
            kExchangePrefix.size(), path.size() - kExchangePrefix.size() - kJsonSuffix.size()));
        // An index is asked for as "_SPX"; the market knows it as SPX.
        if (requested.starts_with('_')) requested.erase(0, 1);
        const std::string symbol = CleanSymbol(requested);
        const std::lock_guard lock(mutex_);
        const std::optional<SimStock> stock = symbol.empty() ? std::nullopt : source_.Stock(symbol);
        if (!stock) return Reply(403, "application/xml", kAccessDenied);
        return JsonReply(ExchangeChainJson(*stock, source_.Options(*stock), config_.marketDate,
                                           config_.eastern));
    }

    const bool quotes = path == "/v1/markets/quotes";
    const bool expirations = path == "/v1/markets/options/expirations";
    const bool chains = path == "/v1/markets/options/chains";
    if (!quotes && !expirations && !chains) return Reply(404, "text/plain", "Not Found");
    // An empty token configured lets no request in.
    if (config_.tradierToken.empty() ||
        request.Header("Authorization") != "Bearer " + config_.tradierToken) {
        return Reply(401, "text/plain", "Invalid Access Token");
    }

    const std::lock_guard lock(mutex_);
    if (quotes) {
        const std::optional<std::string> list = QueryValue(query, "symbols");
        if (!list || SymbolList(*list).empty()) {
            return Reply(400, "text/plain", "Missing required parameter: symbols");
        }
        std::vector<SimStock> found;
        std::vector<std::string> unmatched;
        for (const std::string& asked : SymbolList(*list)) {
            const std::string symbol = CleanSymbol(asked);
            std::optional<SimStock> stock = symbol.empty() ? std::nullopt : source_.Stock(symbol);
            if (stock) {
                found.push_back(std::move(*stock));
            } else {
                unmatched.push_back(asked);
            }
        }
        return JsonReply(TradierQuotesJson(found, unmatched, config_.eastern));
    }

    const std::optional<std::string> asked = QueryValue(query, "symbol");
    if (!asked || asked->empty()) {
        return Reply(400, "text/plain", "Missing required parameter: symbol");
    }
    const std::string symbol = CleanSymbol(*asked);
    const std::optional<SimStock> stock = symbol.empty() ? std::nullopt : source_.Stock(symbol);
    const std::vector<SimOption> options =
        stock ? source_.Options(*stock) : std::vector<SimOption>();

    if (expirations) {
        // An unknown symbol, or a stock without options: "expirations": null.
        return JsonReply(
            TradierExpirationsJson(stock ? ListedExpirations(*stock, options, config_.marketDate)
                                         : std::vector<CivilDay>()));
    }

    const std::optional<std::string> expirationText = QueryValue(query, "expiration");
    const std::optional<CivilDay> expiration =
        expirationText ? ReadIsoDigits(*expirationText) : std::nullopt;
    if (!expiration || !expiration->Valid()) {
        return Reply(400, "text/plain", "Missing or invalid parameter: expiration");
    }
    // An unknown symbol, or an expiration it has no options at: "options": null.
    return JsonReply(TradierChainJson(stock.value_or(SimStock{}), options, config_.marketDate,
                                      *expiration, config_.eastern));
}

}  // namespace quillon::sim
