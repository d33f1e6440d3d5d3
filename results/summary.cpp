#include "results/summary.h"

#include <string>
#include <string_view>

#include "platform/number_format.h"
#include "scan/context.h"

namespace quillon {
namespace {

constexpr const char* kLineEnd = "\r\n";

// The columns of the summary lines; its first line is empty.
constexpr const char* kSummaryHeading =
    "\r\n"
    " Stock        ZORC:   Stock  % Price\r\n"
    " Symbol Root  ZORP    Price   Change Company Name\r\n"
    "------- ---- ------- ------- ------- ------------------------------------\r\n";

std::string WithoutTrailingBlanks(std::string_view text) {
    const std::size_t end = text.find_last_not_of(' ');
    return std::string(end == std::string_view::npos ? std::string_view()
                                                     : text.substr(0, end + 1));
}

// The 8-character ratio field: the larger ZOR figure over the smaller, marked
// with a leading "d" when the puts' figure is the larger. Lists the ticker in
// the up or down list to match.
std::string RatioField(Context& context, float zorc, float zorp) {
    if (zorc <= 0 || zorp <= 0) return "  n/a   ";
    const std::string entry = context.quote.Ticker + kLineEnd;
    if (zorc >= zorp) {
        context.pending.PendingUpSym += entry;
        return " " + FormatArgs("%6.2f ", static_cast<double>(zorc) / zorp);
    }
    context.pending.PendingDownSym += entry;
    return "d" + FormatArgs("%6.2f ", static_cast<double>(zorp) / zorc);
}

}  // namespace

void AppendResults(Context& context) {
    std::string& results = context.pending.PendingResults;
    results += context.quote.PageText;
    results += '\f';
    results += kLineEnd;
}

void WriteSummaryLine(Context& context, float zorc, float zorp) {
    std::string& saved = context.pending.PendingSavedSym;
    if (context.counters.ProcessCount == 1) saved += kSummaryHeading;

    const QuoteState& state = context.quote;
    std::string line = FormatArgs("%-8s%-5s", state.Ticker.c_str(), state.Quote.OptionRoot.c_str());
    line += RatioField(context, zorc, zorp);
    line += FormatMoney(state.Quote.LastSale, 7, 2) + " ";
    line += FormatArgs("%7.2f ", static_cast<double>(state.Quote.PercentChange));
    line += WithoutTrailingBlanks(state.Quote.CompanyName);
    saved += line + kLineEnd;
}

}  // namespace quillon
