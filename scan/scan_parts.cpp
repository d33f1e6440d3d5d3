#include "scan/scan_parts.h"

#include "platform/number_format.h"

namespace quillon {

ScanParts ScanParts::Defaults() {
    ScanParts parts;
    // Page parsing, the archive and the evaluation proper are filled in by
    // their own modules; until then a page is taken as no quote, nothing is
    // archived or replayed, and the evaluation records the resume point only.
    parts.StripTags = [](const std::string& page) { return page; };
    parts.ParseStockPage = [](Context&) { return false; };
    parts.ParseOptionPage = [](Context&) { return false; };
    parts.SaveQuote = [](Context&) {};
    parts.ReplayQuote = [](Context& context) {
        context.quote.HaveStockData = false;
        context.quote.HaveOptionData = false;
    };
    parts.EvaluateSymbol = [](Context& context, AlarmControl&) {
        context.pending.PendingProgress =
            FormatArgs("%d %d", context.counters.ProcessCount, context.counters.SymbolIndex);
        context.quote.PageText.clear();
    };
    return parts;
}

}  // namespace quillon
