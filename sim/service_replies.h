#pragma once
// A market source (the made-up market, or CSV files) answered in the shapes
// of the two market-data services the scan fetches from: the exchange's
// delayed quotes (/api/global/delayed_quotes/options/{SYMBOL}.json) and
// Tradier's market data (/v1/markets/quotes, /v1/markets/options/expirations,
// /v1/markets/options/chains). Options carry contract symbols (root, YYMMDD,
// C or P, strike times 1000 in eight digits), their expirations taken from
// the expiration calendar of the market's date. No sockets here; the HTTPS
// server feeds it the requests.

#include <mutex>
#include <string>
#include <string_view>

#include "platform/civil_day.h"
#include "platform/clock.h"
#include "sim/https_server.h"
#include "sim/market_source.h"

namespace quillon::sim {

// The exchange's reply for one stock: its quote in "data", every option the
// source lists in "data"."options", "timestamp" the time given (US Eastern)
// written in UTC as the service writes it.
std::string ExchangeChainJson(const SimStock& stock, const std::vector<SimOption>& options,
                              const CivilDay& marketDate, const DateTime& eastern);

// Tradier's replies: the quotes of the stocks found ("unmatched_symbols" for
// the rest), a stock's expiration dates, and the chain of one expiration.
std::string TradierQuotesJson(const std::vector<SimStock>& stocks,
                              const std::vector<std::string>& unmatched, const DateTime& eastern);
std::string TradierExpirationsJson(const std::vector<CivilDay>& dates);
std::string TradierChainJson(const SimStock& stock, const std::vector<SimOption>& options,
                             const CivilDay& marketDate, const CivilDay& expiration,
                             const DateTime& eastern);

struct ServiceConfig {
    CivilDay marketDate;  // the calendar the options' expirations come from
    DateTime eastern;     // the data's time
    // Tradier's requests are answered only with "Authorization: Bearer TOKEN".
    std::string tradierToken = "test-token";
};

// Answers both services' requests from one market source, as the services
// answer them: an unknown path 404; a stock the exchange does not know 403
// (as its CDN answers); a Tradier request without the token 401 with
// "Invalid Access Token"; Tradier's unknown symbol as it writes it
// ("expirations": null, "options": null, "unmatched_symbols").
class ServiceAnswers {
  public:
    ServiceAnswers(MarketSource& source, ServiceConfig config);
    HttpsResponse Answer(const HttpsRequest& request);

  private:
    MarketSource& source_;
    ServiceConfig config_;
    std::mutex mutex_;  // the source is asked from one connection at a time
};

}  // namespace quillon::sim
