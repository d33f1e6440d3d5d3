#include "scan/scan_parts.h"

#include "analytics/evaluation.h"
#include "market/archive.h"
#include "market/option_page.h"
#include "market/page_scan.h"
#include "market/stock_page.h"

namespace quillon {

ScanParts ScanParts::Defaults() {
    ScanParts parts;
    // A received page loses its markup tags, then the stock or option page
    // parser reads it.
    parts.StripTags = [](const std::string& page) { return quillon::StripTags(page); };
    parts.ParseStockPage = quillon::ParseStockPage;
    parts.ParseOptionPage = quillon::ParseOptionPage;
    parts.SaveQuote = quillon::SaveQuote;
    parts.ReplayQuote = quillon::ReplayQuote;
    parts.EvaluateSymbol = quillon::EvaluateSymbol;
    return parts;
}

}  // namespace quillon
