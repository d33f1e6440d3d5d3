#pragma once
// Where a scan of a market-data service gets each symbol's whole chain: the
// fetching runs on its own (ahead of the scan, a few symbols at a time), and
// the scan takes each symbol's outcome in the order of its symbol list. The
// fetch layer implements it; the programs hand it to the scan.

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "analytics/iv_history.h"
#include "market/quote.h"
#include "platform/clock.h"

namespace quillon {

struct ChainOutcome {
    enum class Kind {
        Quoted,         // the quote state is filled
        UnknownSymbol,  // the service has no stock of this symbol
        Refused,        // the service refused the access token
        Unreachable,    // no connection, or no answer within the time-outs
        Failed,         // another failure: a reply cut short, not readable, too large
    };
    Kind kind = Kind::Quoted;
    // Why, in words, for everything but Quoted ("GRF: the exchange's delayed
    // quotes have no stock of that symbol").
    std::string reason;
    // Quoted: the data's own time (US Eastern), and IV30 of the whole chain.
    DateTime time;
    Iv30Result iv30;
};

class ChainSource {
  public:
    virtual ~ChainSource() = default;

    // "the exchange's delayed quotes at https://cdn.example.com": the service
    // and its address, for messages.
    virtual std::string ServiceText() const = 0;

    // The scan takes `symbols` from index `next` on, in order: the source
    // fetches ahead of it, as many as it keeps in flight.
    virtual void Expect(const std::vector<std::string>& symbols, std::size_t next) = 0;

    // The outcome for `symbol` once it is there; nothing while it is on its
    // way. Quoted fills `quote` as the quote and option pages do, its
    // options placed on the expiration calendar of `date` (the data's own
    // date when not given) at interest rate `rate` for IV30.
    virtual std::optional<ChainOutcome> Take(const std::string& symbol, QuoteState& quote,
                                             const std::optional<DateTime>& date, float rate) = 0;

    // Waits until an outcome may be there or `most` has passed.
    virtual void Wait(std::chrono::milliseconds most) = 0;
};

}  // namespace quillon
