// Any bytes as a received option page, after a stock page that set the
// ticker (1 to 6 letters or digits, from the first bytes) and a strike table
// (from a price in the next two bytes). The parser never fails unsafely; it
// stores rows only at slots whose month and strike letters match the
// calendar and the strike table, reports success only with a stored row,
// leaves in PageText an end of the stripped page with the cursor inside it,
// and changes nothing on a page that says "SYMBOL_NOT_FOUND".
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_context.h"
#include "market/option_page.h"
#include "market/page_scan.h"
#include "scan/scan_parts.h"

namespace {

using quillon::Context;
using quillon::fuzz::Check;
using quillon::fuzz::Services;

constexpr std::string_view kTickerCharacters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

// The stored rows sit where their letters say.
void CheckChain(const Context& context, bool found) {
    const quillon::OptionChain& chain = context.quote.Chain;
    bool any = false;
    for (std::size_t type = 0; type < 2; ++type) {
        for (std::size_t strike = 0; strike < 5; ++strike) {
            for (std::size_t month = 0; month < 4; ++month) {
                const std::string& symbol = chain.OptSymbol[type][strike][month];
                for (const auto* array : {&chain.OptLast, &chain.OptColumn2, &chain.OptBid,
                                          &chain.OptAsk, &chain.OptVolume, &chain.OptOpenInterest})
                    Check(std::isfinite((*array)[type][strike][month]));
                if (symbol.empty()) continue;
                any = true;
                Check(month < 3 && symbol.size() >= 3 && symbol.size() <= 5);
                Check(symbol.back() == context.strikes.StrikeLetters[strike]);
                Check(symbol[symbol.size() - 2] == context.calendar.MonthLetters[type][month]);
            }
        }
    }
    Check(any || !found);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Services services;
    if (size < 3) return 0;
    Context context(services.clock, services.messages, services.beeper);
    quillon::QuoteState& quote = context.quote;

    const std::size_t tickerLength = 1 + data[0] % 6;
    if (size < 3 + tickerLength) return 0;
    for (std::size_t i = 0; i < tickerLength; ++i)
        quote.Ticker += kTickerCharacters[data[1 + i] % kTickerCharacters.size()];
    const float price =
        static_cast<float>(data[1 + tickerLength] * 256 + data[2 + tickerLength]) / 64;
    quillon::ResetQuote(quote);
    quillon::BuildExpirationCalendar(context.calendar, services.clock.Now());
    quillon::SelectStrikes(context.strikes, price);

    const std::string_view page(reinterpret_cast<const char*>(data) + 3 + tickerLength,
                                size - 3 - tickerLength);
    const std::string stripped = quillon::StripTags(page);
    quote.PageText = stripped;
    const bool found = quillon::ParseOptionPage(context);

    CheckChain(context, found);
    Check(std::string_view(stripped).ends_with(quote.PageText));
    Check(quote.ScanPos >= 1 && quote.ScanPos <= static_cast<int>(quote.PageText.size()) + 1);
    const std::string& root = quote.Quote.OptionRoot;
    Check(root.size() <= 3 || root == quote.Ticker);
    if (stripped.find("SYMBOL_NOT_FOUND") != std::string::npos)
        Check(!found && root.empty() && quote.Quote.CompanyName.empty() &&
              quote.PageText == stripped);
    return 0;
}
