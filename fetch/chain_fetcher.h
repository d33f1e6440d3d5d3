#pragma once
// The chain source of a scan of a market-data service: each symbol's whole
// chain fetched ahead of the scan over HTTPS (a few symbols at a time, as the
// service's limits allow), read from the service's replies and placed in the
// quote state when the scan takes it.
//
// The exchange's delayed quotes answer a symbol in one request
// (/api/global/delayed_quotes/options/{SYMBOL}.json, an index with a leading
// underscore). Tradier wants three kinds: the quote, the expiration dates,
// then the chain of each expiration the scan keeps options of.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "fetch/https_client.h"
#include "scan/chain_source.h"
#include "scan/context.h"

namespace quillon::fetch {

enum class Service { Exchange, Tradier };

inline constexpr const char* kExchangeBaseUrl = "https://cdn.cboe.com";
inline constexpr const char* kTradierBaseUrl = "https://api.tradier.com";

struct ChainFetchSetup {
    Service service = Service::Exchange;
    // The service's base address; empty: its own (a mirror or a test server otherwise).
    std::string baseUrl;
    // The CA file, the token (Tradier) and the limits.
    HttpsOptions https;
    // Symbols fetched ahead of the scan; 0: twice the connections.
    std::size_t ahead = 0;
    // The scan's own date (--date): Tradier's expirations are chosen on its
    // calendar rather than the data's.
    std::optional<CivilDay> scanDate;
};

// A service's own limits: the exchange a polite 5 requests a second, Tradier
// its 120 a minute; `connections` requests in flight.
ServiceLimits DefaultLimits(Service service, int connections);

std::unique_ptr<ChainSource> MakeChainFetcher(ChainFetchSetup setup);

// What the user may choose of the fetching (quillon-scan's options).
struct FetchChoices {
    std::string caFile;     // --ca-file, a full path
    int connections = 4;    // --connections
    std::string sourceUrl;  // --source-url
    double rate = 0;        // --rate, requests a second; 0: the service's own
};

// The chain source of the service the context's settings name, its token
// from the working directory's store (Tradier), its scan date the requested
// one. Nothing, with `error` in words, without a token.
std::unique_ptr<ChainSource> ChainSourceFor(const Context& context, const FetchChoices& choices,
                                            std::string& error);

// The request path of a symbol's chain at the exchange: "^RUT" and "$RUT"
// are the index "_RUT"; bytes other than letters, digits, '.', '-' and '_'
// are percent-encoded.
std::string ExchangeChainPath(const std::string& symbol);

}  // namespace quillon::fetch
