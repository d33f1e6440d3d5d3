#include "market/option_page.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "market/page_scan.h"

namespace quillon {

namespace {

// An option row begins right after this marker with the option symbol: a
// root of up to 3 characters (a shorter one padded with blanks), the month
// letter and the strike letter.
constexpr std::string_view kRowMarker = " (.";
constexpr int kSymbolLength = 5;

constexpr auto kMonths = static_cast<std::size_t>(kFilledMonthSlots);
constexpr auto kStrikes = static_cast<std::size_t>(kStrikeSlots);

// The position of one option in the chain.
struct Slot {
    std::size_t type = 0;  // 0 calls, 1 puts
    std::size_t strike = 0;
    std::size_t month = 0;
};

bool IsXYZ(char c) {
    return c == 'X' || c == 'Y' || c == 'Z';
}

// The rest of the line before the first "(TICKER" of the page, trailing
// blanks included: the company name in the option page's heading. Empty
// when the ticker does not appear so.
std::string NameBeforeTicker(std::string_view page, const std::string& ticker) {
    const std::size_t at = page.find("(" + ticker);
    if (at == std::string_view::npos) return {};
    std::size_t start = at;
    while (start > 0 && static_cast<unsigned char>(page[start - 1]) >= ' ')
        --start;
    return std::string(page.substr(start, at - start));
}

// Whether the row of `symbol` is one the system reads: the symbol holds a
// month and a strike letter, the strike letter is not Y or Z, the last two
// characters of the root are not X, Y or Z, and for a ticker of up to 3
// characters the root is the ticker itself.
bool Acceptable(const std::string& symbol, const std::string& ticker) {
    const std::size_t length = symbol.size();
    if (length < 3) return false;
    const char strikeLetter = symbol[length - 1];
    if (strikeLetter == 'Y' || strikeLetter == 'Z') return false;
    if (length > 3 && IsXYZ(symbol[length - 3])) return false;
    if (length > 4 && IsXYZ(symbol[length - 4])) return false;
    if (ticker.size() < 4 && !symbol.starts_with(ticker)) return false;
    return true;
}

// The slot of an acceptable symbol: its month among the three nearest
// expirations and its strike among the five of the strike table.
std::optional<Slot> SlotOf(const std::string& symbol, const ExpirationCalendar& calendar,
                           const StrikeTable& strikes) {
    const char strikeLetter = symbol[symbol.size() - 1];
    const char monthLetter = symbol[symbol.size() - 2];
    Slot slot;
    slot.type = static_cast<unsigned char>(monthLetter) >= 'M' ? 1 : 0;
    const auto& months = calendar.MonthLetters[slot.type];
    while (slot.month < kMonths && months[slot.month] != monthLetter)
        ++slot.month;
    while (slot.strike < kStrikes && strikes.StrikeLetters[slot.strike] != strikeLetter)
        ++slot.strike;
    if (slot.month == kMonths || slot.strike == kStrikes) return std::nullopt;
    return slot;
}

// The six values of a row, one field each, from the cursor on. False when
// the page ends before the last of them; the values read so far stay.
bool ReadRowValues(PageCursor& page, OptionChain& chain, const Slot& at) {
    auto value = [&at](ChainArray<float>& array) -> float& {
        return array[at.type][at.strike][at.month];
    };
    value(chain.OptLast) = page.ReadNumber();
    const std::array<ChainArray<float>*, 5> rest = {&chain.OptColumn2, &chain.OptBid, &chain.OptAsk,
                                                    &chain.OptVolume, &chain.OptOpenInterest};
    for (ChainArray<float>* array : rest) {
        if (!page.NextField()) return false;
        value(*array) = page.ReadNumber();
    }
    return true;
}

}  // namespace

bool ParseOptionPage(QuoteState& quote, const OptionTables& tables) {
    QuoteRecord& q = quote.Quote;
    if (quote.PageText.find("SYMBOL_NOT_FOUND") != std::string::npos) return false;
    if (q.CompanyName.empty()) q.CompanyName = NameBeforeTicker(quote.PageText, quote.Ticker);
    if (quote.Ticker.size() < 4) q.OptionRoot = quote.Ticker;

    bool stored = false;
    quote.ScanPos = 1;
    PageCursor page(quote);
    for (;;) {
        page.CutAtCursor();
        if (!page.FindKeyword(kRowMarker)) break;
        const std::string symbol = page.ReadToken(kSymbolLength);
        if (!page.NextField()) break;
        if (!Acceptable(symbol, quote.Ticker)) continue;
        const std::optional<Slot> slot = SlotOf(symbol, tables.Calendar, tables.Strikes);
        if (!slot) continue;

        // A later row for the same slot replaces an earlier one.
        quote.Chain.OptSymbol[slot->type][slot->strike][slot->month] = symbol;
        if (q.OptionRoot.empty()) q.OptionRoot = symbol.substr(0, 3);
        page.CutAtCursor();
        // A row counts once another field follows its open interest; a page
        // that ends inside a row ends the parse.
        if (!ReadRowValues(page, quote.Chain, *slot) || !page.NextField()) break;
        stored = true;
    }
    return stored;
}

}  // namespace quillon
