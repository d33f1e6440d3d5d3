#include "results/summary.h"

#include <cmath>
#include <string>
#include <string_view>

#include "platform/number_format.h"

namespace quillon {
namespace {

constexpr const char* kLineEnd = "\r\n";

// The columns of the summary lines; its first line is empty.
constexpr const char* kSummaryHeading =
    "\r\n"
    " Stock        ZORC:   Stock  % Price\r\n"
    " Symbol Root  ZORP    Price   Change Company Name\r\n"
    "------- ---- ------- ------- ------- ------------------------------------\r\n";

// The same columns with the IV rank before the company name.
constexpr const char* kSummaryHeadingWithRank =
    "\r\n"
    " Stock        ZORC:   Stock  % Price    IV\r\n"
    " Symbol Root  ZORP    Price   Change   Rank Company Name\r\n"
    "------- ---- ------- ------- ------- ------ ------------------------------------\r\n";

std::string WithoutTrailingBlanks(std::string_view text) {
    const std::size_t end = text.find_last_not_of(' ');
    return std::string(end == std::string_view::npos ? std::string_view()
                                                     : text.substr(0, end + 1));
}

// The 8-character ratio field: the larger ZOR figure over the smaller, marked
// with a leading "d" when the puts' figure is the larger. Lists the ticker in
// the up or down list to match.
std::string RatioField(const std::string& ticker, float zorc, float zorp,
                       const SummaryTexts& pending) {
    if (zorc <= 0 || zorp <= 0) return "  n/a   ";
    const std::string entry = ticker + kLineEnd;
    if (zorc >= zorp) {
        pending.UpSym += entry;
        return " " + FormatFixed(static_cast<double>(zorc) / zorp, 2, 6) + " ";
    }
    pending.DownSym += entry;
    return "d" + FormatFixed(static_cast<double>(zorp) / zorc, 2, 6) + " ";
}

}  // namespace

void AppendResults(std::string& pendingResults, std::string_view reportBlock) {
    pendingResults += reportBlock;
    pendingResults += '\f';
    pendingResults += kLineEnd;
}

void WriteSummaryLine(const SummaryView& symbol, float zorc, float zorp,
                      const SummaryTexts& pending) {
    std::string& saved = pending.SavedSym;
    if (symbol.ProcessCount == 1) {
        saved += symbol.ShowIvRank ? kSummaryHeadingWithRank : kSummaryHeading;
    }

    const QuoteState& state = symbol.Quote;
    std::string line =
        FormatText(state.Ticker.c_str(), -8) + FormatText(state.Quote.OptionRoot.c_str(), -5);
    line += RatioField(state.Ticker, zorc, zorp, pending);
    // The stored 32-bit price as its shortest decimal text, rounded to cents.
    line += FormatMoney(ShortestValue(state.Quote.LastSale), 7, 2) + " ";
    line += FormatFixed(state.Quote.PercentChange, 2, 7) + " ";
    if (symbol.ShowIvRank) {
        line += symbol.IvRank && std::isfinite(*symbol.IvRank)
                    ? FormatFixed(*symbol.IvRank, 1, 6) + " "
                    : "   n/a ";
    }
    line += WithoutTrailingBlanks(state.Quote.CompanyName);
    saved += line + kLineEnd;
}

}  // namespace quillon
