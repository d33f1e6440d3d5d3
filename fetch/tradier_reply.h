#pragma once
// Tradier's market data: the quotes of several symbols
// (/v1/markets/quotes), a symbol's expiration dates
// (/v1/markets/options/expirations) and the chain of one expiration
// (/v1/markets/options/chains). Tradier writes a list of one as the one
// object itself, which each reader takes as a list of one.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fetch/fetched_chain.h"

namespace quillon::fetch {

struct TradierQuotes {
    std::vector<FetchedQuote> quotes;
    // Symbols the reply has no stock quote for: unknown to the service, an
    // option's quote, or a quote without a last price or a time.
    std::vector<std::string> notQuoted;
};

// Each stock's figures (0 for null, as before the day's first trade), and
// as its time the latest of its trade, bid and ask times (epoch
// milliseconds, UTC) in Eastern time. Nothing, with `error` in words, for a
// reply that is not JSON, is cut short or has a value of the wrong kind.
std::optional<TradierQuotes> ReadTradierQuotes(std::string_view reply, std::string& error);

// The expiration dates, in the reply's order; nothing with `error` for an
// unknown symbol's reply ("expirations": null) or a date that is no day.
std::optional<std::vector<CivilDay>> ReadTradierExpirations(std::string_view reply,
                                                            std::string& error);

// The options of one expiration, with the underlying each row names; a
// never-traded row has no last price or change. Nothing with `error` for
// an unknown symbol's reply ("options": null).
std::optional<std::vector<import::OptionRow>> ReadTradierChain(std::string_view reply,
                                                               std::string& error,
                                                               long* skippedRows = nullptr);

// A stock's chain from its quote and the chain replies of its expirations.
FetchedChain TradierChain(const FetchedQuote& quote,
                          const std::vector<std::vector<import::OptionRow>>& expirations);

}  // namespace quillon::fetch
