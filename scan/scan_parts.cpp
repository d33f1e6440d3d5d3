#include "scan/scan_parts.h"

#include "analytics/evaluation.h"

namespace quillon {

ScanParts ScanParts::Defaults() {
    ScanParts parts;
    // Page parsing and the archive are filled in by their own modules; until
    // then a page is taken as no quote and nothing is archived or replayed.
    parts.StripTags = [](const std::string& page) { return page; };
    parts.ParseStockPage = [](Context&) { return false; };
    parts.ParseOptionPage = [](Context&) { return false; };
    parts.SaveQuote = [](Context&) {};
    parts.ReplayQuote = [](Context& context) {
        context.quote.HaveStockData = false;
        context.quote.HaveOptionData = false;
    };
    parts.EvaluateSymbol = quillon::EvaluateSymbol;
    return parts;
}

}  // namespace quillon
