#include "sim/quote_pages.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <numeric>
#include <set>
#include <utility>

#include "platform/number_format.h"
#include "platform/text.h"

namespace quillon::sim {

namespace {

// ---- Number forms ----

bool IsWholeSixteenths(double value) {
    return std::fabs(value * 16 - std::round(value * 16)) < 1e-6;
}

// A non-negative whole number of sixteenths as "124 5/8", "5/8" or "124".
std::string Fraction(double value) {
    const long sixteenths = std::lround(value * 16);
    const long whole = sixteenths / 16;
    long numerator = sixteenths % 16;
    if (numerator == 0) return FormatArgs("%ld", whole);
    const long divisor = std::gcd(numerator, 16L);
    numerator /= divisor;
    const long denominator = 16 / divisor;
    if (whole == 0) return FormatArgs("%ld/%ld", numerator, denominator);
    return FormatArgs("%ld %ld/%ld", whole, numerator, denominator);
}

// A price as the stock is quoted: a fraction for a stock quoted in
// sixteenths (when the figure is a whole number of them), two decimals
// otherwise (more when cents do not hold the figure).
std::string Price(double value, bool sixteenths) {
    if (sixteenths && IsWholeSixteenths(value)) {
        return value < 0 ? "-" + Fraction(-value) : Fraction(value);
    }
    const bool cents = std::fabs(value * 100 - std::round(value * 100)) < 1e-3;
    return FormatArgs(cents ? "%.2f" : "%.4f", value);
}

// A change with its sign: "+1/8", "-2 1/16", "+0.35"; no change is "0".
std::string Change(double value, bool sixteenths) {
    if (value == 0) return "0";
    return (value > 0 ? "+" : "") + Price(value, sixteenths);
}

std::string Whole(double value) {
    return FormatArgs("%.0f", value);
}

// The ticker or name as HTML text.
std::string Escape(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// ---- HTTP and the page frame ----

std::string Response(std::string_view status, std::string_view body,
                     std::string_view extraHeaders = {}) {
    std::string out = "HTTP/1.0 ";
    out += status;
    out += "\r\nServer: quillon-quoted/1.0\r\nContent-Type: text/html\r\nContent-Length: ";
    out += std::to_string(body.size());
    out += "\r\n";
    out += extraHeaders;
    out += "Connection: close\r\n\r\n";
    out += body;
    return out;
}

std::string PageHead(std::string_view title) {
    std::string out = "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 3.2 Final//EN\">\n<html>\n<head>\n";
    out += "<title>";
    out += title;
    out += "</title>\n</head>\n<body bgcolor=\"#FFFFFF\" link=\"#003399\" vlink=\"#663399\">\n";
    return out;
}

const char* kPageFoot =
    "<hr noshade size=1>\n"
    "<p><font size=-1>Quotes are delayed at least 20 minutes. Demo data only;\n"
    "not for trading decisions.</font></p>\n"
    "</body>\n</html>\n";

// The stock pages' navigation bar. The company name is the first text after
// its "Trade" link, so nothing between "SEC Filings" and "Trade" may say
// "trade".
std::string NavigationBar(const std::string& ticker) {
    std::string out =
        "<table width=\"100%\" cellspacing=0 cellpadding=3 bgcolor=\"#E8E8F0\">\n<tr>\n";
    const std::pair<const char*, const char*> links[] = {
        {"/cgi-bin/getquote.dll?ticker=", "Quote"},
        {"/cgi-bin/options.dll?ticker=", "Options"},
        {"/charts?ticker=", "Charts"},
        {"/filings?ticker=", "SEC Filings"},
        {"/account/order?ticker=", "Trade"}};
    for (const auto& [href, text] : links)
        out += FormatArgs("\t<td><a href=\"%s%s\">%s</a></td>\n", href, ticker.c_str(), text);
    return out + "</tr>\n</table>\n";
}

// ---- The stock page ----

using Field = std::pair<const char*, std::string>;  // label, value

// The quote's labels and values in page order. Each label is the first text
// after the company name to contain its keyword: "Last Sale" comes before
// "Time of Last Sale", "Bid" before "Size Bid/Ask", the day's high and low
// before the 52-week ones. The ask's label is written after a tab (the
// cell's indentation), which tells it from the "Ask" in "Size Bid/Ask".
std::vector<Field> QuoteFields(const SimStock& s) {
    const bool x16 = s.QuotedInSixteenths;
    const bool paysDividend = s.Dividend > 0;
    const bool hasRatio = s.EarningsPerShare >= 0.01f;
    std::string tick = s.LastTick.substr(0, 1);
    for (std::size_t i = 1; i < s.LastTick.size(); ++i)
        tick += static_cast<char>(std::tolower(static_cast<unsigned char>(s.LastTick[i])));
    return {
        {"Last Sale", "<b>" + Price(s.LastSale, x16) + "</b>"},
        {"Last Tick", tick},
        {"Net Change", Change(s.NetChange, x16)},
        {"Percent Change", Change(s.PercentChange, false) + "%"},
        {"Exchange", s.Exchange},
        {"Time of Last Sale", s.SaleTime},
        {"Bid", Price(s.Bid, x16)},
        {"Size Bid/Ask", s.BidAskSize},
        {"Ask", Price(s.Ask, x16)},
        {"Open", Price(s.OpenPrice, x16)},
        {"Day's High", Price(s.HighPrice, x16)},
        {"Day's Low", Price(s.LowPrice, x16)},
        {"Volume", Whole(s.Volume)},
        {"Previous Close", Price(s.PreviousClose, x16)},
        {"52 Week High", Price(s.High52Week, x16)},
        {"52 Week Low", Price(s.Low52Week, x16)},
        {"Historical Volatility", FormatArgs("%.2f%%", static_cast<double>(s.HistVolatility))},
        {"Ex-Dividend Date", paysDividend ? s.ExDividendDate : "&nbsp;"},
        {"Indicated Annual Dividend", paysDividend ? Price(s.Dividend, false) : "N/A"},
        {"EPS", Price(s.EarningsPerShare, false)},
        {"P/E", hasRatio ? FormatArgs("%.1f", s.LastSale / static_cast<double>(s.EarningsPerShare))
                         : "N/A"},
        {"Yield", paysDividend ? FormatArgs("%.2f%%", static_cast<double>(s.YieldPercent)) : "N/A"},
        {"Shares Outstanding (000s)", Whole(s.SharesOutstanding / 1000)},
    };
}

// Two label/value pairs to a table row, every cell on a line of its own.
std::string QuoteTable(const std::vector<Field>& fields) {
    std::string out = "<table border=0 cellspacing=1 cellpadding=4 width=\"60%\">\n";
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i % 2 == 0) out += "<tr>\n";
        out += FormatArgs("\t<td class=\"label\"><font size=-1>%s</font></td>\n", fields[i].first);
        out += "\t<td class=\"value\" align=right>" + fields[i].second + "</td>\n";
        if (i % 2 == 1 || i + 1 == fields.size()) out += "</tr>\n";
    }
    return out + "</table>\n";
}

// ---- The option page ----

const char* const kMonthNames[12] = {"January",   "February", "March",    "April",
                                     "May",       "June",     "July",     "August",
                                     "September", "October",  "November", "December"};

// Calls take the month letters A to L, puts M to X, January first.
int MonthOfLetter(char letter) {
    return (letter - 'A') % 12;
}

char MonthLetterOf(const SimOption& row) {
    return row.Symbol[row.Symbol.size() - 2];
}

std::string Trimmed(std::string_view text) {
    return std::string(TrimEnd(text, [](char c) { return c == ' '; }));
}

// One option row: the description ending in " (." and the symbol, then the
// six figures. No cell line is indented with blanks, so the figures follow
// one another with nothing but line breaks between them.
std::string OptionRow(const SimStock& s, const SimOption& row) {
    const bool x16 = s.QuotedInSixteenths;
    const bool traded = row.Last >= 0;
    std::string series = row.Symbol;
    std::replace(series.begin(), series.end(), ' ', '+');
    const char* month = kMonthNames[MonthOfLetter(MonthLetterOf(row))];
    std::string out = "<tr>\n";
    out += FormatArgs(
        "<td nowrap><a href=\"/cgi-bin/options.dll?ticker=%s&amp;series=%s\">%s %.3s %g %s</a> "
        "(.%s)</td>\n",
        s.Ticker.c_str(), series.c_str(), Trimmed(row.Symbol.substr(0, 3)).c_str(), month,
        static_cast<double>(row.Strike), row.Type == 0 ? "Call" : "Put", row.Symbol.c_str());
    auto cell = [&out](const std::string& text) { out += "<td align=right>" + text + "</td>\n"; };
    auto count = [](float value) { return value < 0 ? std::string("&nbsp;") : Whole(value); };
    cell(traded ? Price(row.Last, x16) : "N/A");
    cell(traded ? Change(row.Change, x16) : "N/A");
    cell(row.Bid < 0 ? "&nbsp;" : Price(row.Bid, x16));
    cell(row.Ask < 0 ? "&nbsp;" : Price(row.Ask, x16));
    cell(count(row.Volume));
    cell(count(row.OpenInterest));
    return out + "</tr>\n";
}

std::string GroupHeading(const std::string& text) {
    return "<tr>\n<td colspan=7 bgcolor=\"#E0E0E0\"><b>" + text + "</b></td>\n</tr>\n";
}

// The rows grouped by month, calls before puts, each group under a heading.
std::string OptionRows(const SimStock& s, std::vector<SimOption> rows) {
    std::stable_sort(rows.begin(), rows.end(), [](const SimOption& a, const SimOption& b) {
        return std::pair(a.Month, a.Type) < std::pair(b.Month, b.Type);
    });
    std::string out;
    std::pair<int, int> group{-1, -1};
    for (const SimOption& row : rows) {
        if (std::pair(row.Month, row.Type) != group) {
            group = {row.Month, row.Type};
            out += GroupHeading(std::string(kMonthNames[MonthOfLetter(MonthLetterOf(row))]) +
                                (row.Type == 0 ? " Calls" : " Puts"));
        }
        out += OptionRow(s, row);
    }
    return out;
}

// Rows of the months beyond the three nearest: the listed rows again under
// the month letters that no row of the three nearest months uses, repeated
// until there are at least `bytes` of them.
std::string FarMonthRows(const SimStock& s, const std::vector<SimOption>& rows, std::size_t bytes) {
    std::set<char> near;
    for (const SimOption& row : rows)
        if (row.Month < 3) near.insert(MonthLetterOf(row));
    std::string out = GroupHeading("Long-term series");
    while (out.size() < bytes) {
        for (const SimOption& row : rows) {
            const char first = row.Type == 0 ? 'A' : 'M';
            for (char letter = first; letter < first + 12; ++letter) {
                if (near.count(letter) != 0) continue;
                SimOption far = row;
                far.Symbol[far.Symbol.size() - 2] = letter;
                out += OptionRow(s, far);
            }
        }
    }
    return out;
}

}  // namespace

std::string StockPage(const SimStock& stock) {
    std::string body = PageHead(Escape(stock.Ticker) + ": Quote");
    body += NavigationBar(stock.Ticker);
    // The name's own line; "&nbsp;" keeps a missing name from letting the
    // next label pass for it.
    body += "<h2>" + (stock.CompanyName.empty() ? "&nbsp;" : Escape(stock.CompanyName)) + "</h2>\n";
    body += QuoteTable(QuoteFields(stock));
    body += kPageFoot;
    return Response("200 OK", body);
}

std::string OptionPage(const SimStock& stock, const std::vector<SimOption>& options,
                       std::size_t padToBytes) {
    std::string body = PageHead(Escape(stock.Ticker) + ": Option Chain");
    // The company line; the scanner takes the name from it when the stock
    // page gave none.
    body += "<h2>" + Escape(stock.CompanyName) + " (" + Escape(stock.Ticker) + ")</h2>\n";
    body += FormatArgs("<p>Last sale %s</p>\n",
                       Price(stock.LastSale, stock.QuotedInSixteenths).c_str());
    body += "<table border=1 cellspacing=0 cellpadding=3>\n<tr bgcolor=\"#C0C0C0\">\n";
    for (const char* heading : {"Series", "Last", "Change", "Bid", "Ask", "Volume", "Open Int"})
        body += FormatArgs("<th>%s</th>\n", heading);
    body += "</tr>\n";
    if (padToBytes > 0 && !options.empty()) body += FarMonthRows(stock, options, padToBytes);
    body += OptionRows(stock, options);
    body += "</table>\n";
    body += kPageFoot;
    return Response("200 OK", body);
}

std::string UnknownSymbolPage(std::string_view ticker) {
    const std::string name = Escape(ticker);
    std::string body = PageHead(name + ": Quote");
    body += NavigationBar(name);
    body += "<p><b>" + name + "</b> is not a symbol we have a quote for. Please try again.</p>\n";
    body += kPageFoot;
    return Response("200 OK", body);
}

std::string NoOptionsPage(std::string_view ticker) {
    const std::string name = Escape(ticker);
    std::string body = PageHead(name + ": Option Chain");
    body += "<p>No options are listed for " + name + ".</p>\n<p>Error code: symbol_not_found</p>\n";
    body += kPageFoot;
    return Response("200 OK", body);
}

std::string RefusalPage() {
    const std::string body = PageHead("Access Denied") +
                             "<h1>Access Denied</h1>\n"
                             "<p>The user name or password is not valid for this service.</p>\n"
                             "</body>\n</html>\n";
    return Response("401 Unauthorized", body, "WWW-Authenticate: Basic realm=\"Quotes\"\r\n");
}

std::string BadRequestPage() {
    return Response("400 Bad Request",
                    PageHead("Bad Request") + "<h1>Bad Request</h1>\n</body>\n</html>\n");
}

std::string NotFoundPage() {
    return Response("404 Not Found",
                    PageHead("Not Found") + "<h1>Not Found</h1>\n</body>\n</html>\n");
}

}  // namespace quillon::sim
