#include "scan/scan_parts.h"

#include "analytics/calendar.h"
#include "market/archive.h"
#include "market/option_page.h"
#include "market/page_scan.h"
#include "market/stock_page.h"
#include "scan/evaluation.h"

namespace quillon {

namespace {

ArchiveTexts PendingArchiveTexts(PendingOutput& pending) {
    return ArchiveTexts{pending.PendingQuote, pending.PendingAscQuote, pending.PendingGoodSym,
                        pending.PendingBadSym};
}

}  // namespace

bool ParseStockPage(Context& context) {
    BuildExpirationCalendar(context.calendar, ScanNow(context));
    const bool found = ParseStockPage(context.quote);
    // A page that asks to try again leaves the strike table of the last stock.
    if (context.quote.PageText.find("PLEASE TRY AGAIN") == std::string::npos)
        SelectStrikes(context.strikes, context.quote.Quote.LastSale);
    return found;
}

bool ParseOptionPage(Context& context) {
    return ParseOptionPage(context.quote, OptionTables{context.calendar, context.strikes});
}

void SaveQuote(Context& context) {
    SaveQuote(context.quote, context.counters.OptionFiltersActive, ScanNow(context),
              PendingArchiveTexts(context.pending));
}

void ReplayQuote(Context& context) {
    BuildExpirationCalendar(context.calendar, ScanNow(context));
    if (!ReplayStockPart(context.quote, context.replay)) return;
    SelectStrikes(context.strikes, context.quote.Quote.LastSale);
    ReplayOptionPart(context.quote, context.replay,
                     OptionTables{context.calendar, context.strikes});
}

ScanParts ScanParts::Defaults() {
    ScanParts parts;
    // A received page loses its markup tags, then the stock or option page
    // parser reads it.
    parts.StripTags = [](const std::string& page) { return quillon::StripTags(page); };
    parts.ParseStockPage = [](Context& context) { return quillon::ParseStockPage(context); };
    parts.ParseOptionPage = [](Context& context) { return quillon::ParseOptionPage(context); };
    parts.SaveQuote = [](Context& context) { quillon::SaveQuote(context); };
    parts.ReplayQuote = [](Context& context) { quillon::ReplayQuote(context); };
    parts.EvaluateSymbol = quillon::EvaluateSymbol;
    parts.MakeRecorder = MakeHistoryRecorder;
    return parts;
}

}  // namespace quillon
