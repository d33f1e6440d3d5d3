#include "market/stock_page.h"

#include <cmath>
#include <string_view>

#include "market/page_scan.h"

namespace quillon {

namespace {

constexpr int kNameLength = 36;  // longest company name kept
constexpr int kShortText = 10;   // longest tick, exchange, time, sizes, date
constexpr float kNotAvailablePE = 100000;
constexpr double kSmallestEarnings = 0.001;  // below this the P/E is not available

// Finds `keyword` and moves to the value in the field after it.
bool ValueAfter(PageCursor& page, std::string_view keyword) {
    return page.FindKeyword(keyword) && page.NextValue();
}

// The company name is the value after "TRADE", which follows "SEC FILINGS".
// Each of the three cuts keeps the later searches off the text before it. A
// name beginning with a digit is page furniture rather than a name, except
// for the one company whose name does.
void ReadCompanyName(PageCursor& page, QuoteRecord& q) {
    if (!page.FindKeyword("SEC FILINGS")) return;
    page.CutAtCursor();
    if (!page.FindKeyword("TRADE")) return;
    page.CutAtCursor();
    if (!page.NextValue()) return;
    q.CompanyName = page.ReadToken(kNameLength);
    page.CutAtCursor();
    const std::string& name = q.CompanyName;
    if (!name.empty() && name[0] >= '0' && name[0] <= '9' && !name.starts_with("3COM"))
        q.CompanyName.clear();
}

// The fields after the last sale, each from the first occurrence of its
// keyword in what is left of the page.
void ReadQuoteFields(PageCursor& page, QuoteRecord& q) {
    if (ValueAfter(page, "TICK")) q.LastTick = page.ReadToken(kShortText);
    if (ValueAfter(page, "NET CHANGE")) q.NetChange = page.ReadNumber();
    if (ValueAfter(page, "PERCENT CHANGE")) q.PercentChange = page.ReadNumber();
    if (ValueAfter(page, "EXCHANGE")) q.Exchange = page.ReadToken(kShortText);
    if (ValueAfter(page, "TIME OF LAST SALE")) q.SaleTime = page.ReadToken(kShortText);
    if (ValueAfter(page, "BID")) q.Bid = page.ReadNumber();
    if (ValueAfter(page, "SIZE BID/ASK")) q.BidAskSize = page.ReadToken(kShortText);
    // The tab keeps this off the "ASK" inside "SIZE BID/ASK".
    if (ValueAfter(page, "\tASK")) q.Ask = page.ReadNumber();
    if (ValueAfter(page, "OPEN")) q.OpenPrice = page.ReadNumber();
    if (ValueAfter(page, "HIGH")) q.HighPrice = page.ReadNumber();
    if (ValueAfter(page, "LOW")) q.LowPrice = page.ReadNumber();
    // Unsigned, as read: a volume past 2^31 shares is not negative.
    if (ValueAfter(page, "VOLUME")) q.Volume = page.ReadInteger();
    if (ValueAfter(page, "PREVIOUS CLOSE")) q.PreviousClose = page.ReadNumber();
    if (ValueAfter(page, "52 WEEK HIGH")) q.High52Week = page.ReadNumber();
    if (ValueAfter(page, "52 WEEK LOW")) q.Low52Week = page.ReadNumber();
    if (ValueAfter(page, "VOLATILITY")) q.HistVolatility = page.ReadNumber();
    if (ValueAfter(page, "EX-DIVIDEND DATE")) q.ExDividendDate = page.ReadToken(kShortText);
    // The dividend amount only counts on a page without the indicated one.
    const bool dividend = page.FindKeyword("INDICATED ANNUAL DIVIDEND")
                              ? page.NextValue()
                              : ValueAfter(page, "DIVIDEND AMOUNT");
    if (dividend) q.Dividend = page.ReadNumber();
    if (ValueAfter(page, "EPS")) q.EarningsPerShare = page.ReadNumber();
    // Read to move past it; replaced from the price and the earnings below.
    if (ValueAfter(page, "P/E")) q.PriceEarnings = page.ReadNumber();
    if (ValueAfter(page, "YIELD")) q.YieldPercent = page.ReadNumber();
    // The page gives thousands of shares.
    if (ValueAfter(page, "SHARES OUTSTANDING"))
        q.SharesOutstanding = static_cast<Extended>(page.ReadNumber()) * 1000;
}

// The P/E from the last sale and the earnings: not available (100000) for
// earnings too small to divide by, capped at 100000; a loss gives a negative
// ratio.
float PriceEarningsOf(const QuoteRecord& q) {
    if (std::fabs(static_cast<double>(q.EarningsPerShare)) < kSmallestEarnings)
        return kNotAvailablePE;
    const auto ratio = static_cast<float>(static_cast<double>(q.LastSale) / q.EarningsPerShare);
    return ratio > kNotAvailablePE ? kNotAvailablePE : ratio;
}

}  // namespace

bool ParseStockPage(QuoteState& quote) {
    QuoteRecord& q = quote.Quote;
    ResetQuote(quote);
    if (quote.PageText.find("PLEASE TRY AGAIN") != std::string::npos) return false;

    quote.ScanPos = 1;
    PageCursor page(quote);
    ReadCompanyName(page, q);
    if (ValueAfter(page, "LAST SALE")) q.LastSale = page.ReadNumber();
    ReadQuoteFields(page, q);
    q.PriceEarnings = PriceEarningsOf(q);
    return q.LastSale > 0;
}

}  // namespace quillon
