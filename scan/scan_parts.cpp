#include "scan/scan_parts.h"

#include "analytics/evaluation.h"
#include "market/archive.h"

namespace quillon {

ScanParts ScanParts::Defaults() {
    ScanParts parts;
    // Page parsing is filled in by its own module; until then a page is
    // taken as no quote.
    parts.StripTags = [](const std::string& page) { return page; };
    parts.ParseStockPage = [](Context&) { return false; };
    parts.ParseOptionPage = [](Context&) { return false; };
    parts.SaveQuote = quillon::SaveQuote;
    parts.ReplayQuote = quillon::ReplayQuote;
    parts.EvaluateSymbol = quillon::EvaluateSymbol;
    return parts;
}

}  // namespace quillon
