#pragma once
// The exchange's delayed quotes of one stock or index
// (/api/global/delayed_quotes/options/{SYMBOL}.json): the stock's quote and
// every option of every expiration, and the time of the data.

#include <optional>
#include <string>
#include <string_view>

#include "fetch/fetched_chain.h"

namespace quillon::fetch {

// The reply's stock (its symbol as the scan writes it: "^RUT" is RUT), its
// options from their contract symbols, and its "timestamp" (written in UTC)
// as Eastern time. Never-traded options (no last trade time) have no last
// price or change. Nothing, with `error` in words, for a reply that is not
// JSON, is cut short, has no quote of a stock with a last price (an unknown
// symbol's) or has a value of the wrong kind.
std::optional<FetchedChain> ReadExchangeChain(std::string_view reply, std::string& error);

// The same for a scan: the options of other months than the scan keeps (on
// the expiration calendar of `scanDate`, or of the data's own date) are
// passed over once their contract symbol is read, the rest of their row
// unread, and counted in `passedOver`. A reply whose timestamp does not come
// before its options keeps them all.
// The reply is read where it is when the string has simdjson's padding room
// after it, as a reply grown by appending usually has.
std::optional<FetchedChain> ReadExchangeChainForScan(const std::string& reply, std::string& error,
                                                     const std::optional<CivilDay>& scanDate);

}  // namespace quillon::fetch
