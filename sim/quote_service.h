#pragma once
// The demo quote service's answers: the head of a request read, its
// credentials checked, and the page that answers it taken from the market
// source: the synthetic market of today's date, or a market read from CSV
// files. No sockets here; the server feeds it the bytes.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "sim/market_source.h"

namespace quillon::sim {

// The longest request head the service reads; a longer one is a bad request.
inline constexpr std::size_t kMaxRequestHead = 8192;

enum class PageKind { Stock, Options };

struct QuoteRequest {
    int status = 200;  // 400 malformed, 404 another path
    PageKind page = PageKind::Stock;
    std::string ticker;                      // upper case
    std::optional<std::string> credentials;  // the Base64 text of the Basic header
};

// The length of a request's head in `received`: up to and including the
// blank line (CR LF CR LF, or a bare LF LF); 0 while it is incomplete.
std::size_t RequestHeadEnd(std::string_view received);

// The request line "GET /cgi-bin/getquote.dll?TICKER=SYM" or
// "GET /cgi-bin/options.dll?TICKER=SYM" (a protocol version after it is
// allowed) and the "Authorization: Basic" header of a request head.
QuoteRequest ParseQuoteRequest(std::string_view head);

class QuoteService {
  public:
    // The synthetic market of the seed.
    QuoteService(std::uint64_t seed, std::string user, std::string password);
    // Any market source.
    QuoteService(std::unique_ptr<MarketSource> source, std::string user, std::string password);

    // The complete response to a request head: 400 for a malformed request,
    // the refusal for missing or wrong credentials, 404 for another path,
    // otherwise the stock or option page of the source's market. `huge` pads an
    // option page to megabytes.
    std::string Answer(std::string_view head, bool huge);

  private:
    std::unique_ptr<MarketSource> source_;
    std::string credentials_;  // "user:password"
};

}  // namespace quillon::sim
