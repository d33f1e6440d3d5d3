// Receiving quote pages: how fast a stock page and an option page of about
// 10 KB, 100 KB and 1 MB are stripped of their tags and parsed, then a whole
// server scan of N symbols (default 500) run by quillon-scan against
// quillon-quoted on loopback, with symbols per second and the runner's peak
// memory.
//
// Usage: bench_pages [Google Benchmark flags] [--symbols=N]   (N = 0: no scan)

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "market/option_page.h"
#include "market/page_scan.h"
#include "market/stock_page.h"
#include "platform/files.h"
#include "platform/number_format.h"
#include "results/settings.h"
#include "scan/scan_parts.h"
#include "sim/market_sim.h"
#include "sim/quote_pages.h"
#include "tests/support/quoted_process.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace quillon;
using Stopwatch = std::chrono::steady_clock;

double Seconds(Stopwatch::duration d) {
    return std::chrono::duration<double>(d).count();
}

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// ---------------------------------------------------------------- the pages

// The page as the receive path stores it: every lower-case letter made
// upper case, everything else as it came.
std::string UpperCased(std::string page) {
    for (char& c : page)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return page;
}

// `response` with `insert` placed at byte `at` of it, in its body, and the
// Content-Length header made to match the longer body.
std::string InsertIntoBody(const std::string& response, std::size_t at, const std::string& insert) {
    std::string out = response.substr(0, at) + insert + response.substr(at);
    const std::string lengthHeader = "Content-Length: ";
    const std::size_t lengthAt = out.find(lengthHeader) + lengthHeader.size();
    const std::size_t lengthEnd = out.find("\r\n", lengthAt);
    const std::size_t body = out.size() - (out.find("\r\n\r\n") + 4);
    return out.replace(lengthAt, lengthEnd - lengthAt, std::to_string(body));
}

// Page furniture of a quote portal: a market summary and a headlines list.
// None of its text contains a keyword of the stock page (no "low", "high",
// "open", "bid", "tick", "eps", "yield", ...), so the quote is read the same
// with it as without it; StockPageOfSize checks that.
std::string PortalRow(std::size_t i) {
    static const char* const kIndexes[] = {"Dow Industrials", "Nasdaq Composite", "S&amp;P 500",
                                           "Russell 2000",    "Wilshire 5000",    "Dow Transports",
                                           "Dow Utilities",   "Gold (troy oz)",   "Crude Oil (bbl)",
                                           "Euro in Dollars", "Yen per Dollar",   "Natural Gas"};
    static const char* const kHeadlines[] = {
        "Fed leaves rates unchanged, signals patience into spring",
        "Chipmakers rally as orders beat estimates",
        "Retail sales rise for a third month",
        "Airline shares slide as fuel costs climb",
        "Drug maker wins approval for arthritis treatment",
        "Merger talk lifts regional banks",
        "Software group raises its outlook for the year",
        "Factory orders slip in November"};
    const std::size_t index = i % std::size(kIndexes);
    const std::size_t headline = i % std::size(kHeadlines);
    const double level = 1000.0 + static_cast<double>((i * 7919) % 90000) / 10.0;
    const double change = static_cast<double>(static_cast<long>((i * 104729) % 400) - 200) / 100.0;
    return FormatArgs(
        "<tr bgcolor=\"%s\">\n"
        "\t<td class=\"summary\"><a href=\"/markets/index?id=%zu\">%s</a></td>\n"
        "\t<td class=\"figure\" align=right>%.2f</td>\n"
        "\t<td class=\"figure\" align=right><font color=\"%s\">%+.2f</font></td>\n"
        "\t<td class=\"news\"><a href=\"/news/story?id=%zu&amp;src=portal\">%s</a></td>\n"
        "</tr>\n",
        i % 2 == 0 ? "#FFFFFF" : "#F4F4F8", index, kIndexes[index], level,
        change < 0 ? "#CC0000" : "#008000", change, 100000 + i, kHeadlines[headline]);
}

// Portal rows in a table until the page, `base` bytes so far, is at least
// `target` bytes long.
std::string PortalTable(std::size_t base, std::size_t target) {
    std::string out = "<table width=\"100%\" border=0 cellspacing=0 cellpadding=2>\n";
    const std::string end = "</table>\n";
    for (std::size_t i = 0; base + out.size() + end.size() < target; ++i)
        out += PortalRow(i);
    return out + end;
}

// A stock page grown to about `target` bytes with portal rows. Between the
// company name and the quote table every one of the parser's keyword
// searches crosses them; before the navigation bar only the search for the
// navigation bar does.
enum class StockFiller { BeforeQuoteTable, BeforeNavigationBar };

std::string StockPageOfSize(const sim::SimStock& stock, std::size_t target, StockFiller where) {
    const std::string page = sim::StockPage(stock);
    if (page.size() >= target) return UpperCased(page);
    const std::string table = PortalTable(page.size(), target);
    // The start of the line after the company name's, or after the <body> tag's.
    const std::size_t anchor =
        page.find(where == StockFiller::BeforeQuoteTable ? "</h2>" : "<body");
    return UpperCased(InsertIntoBody(page, page.find('\n', anchor) + 1, table));
}

// The end of the option table's heading row.
constexpr std::string_view kHeaderRowEnd = "Open Int</th>\n</tr>\n";

// The table rows of an option page's chain, each a "<tr>" element of its own
// (month headings included).
std::vector<std::string> ChainRows(const std::string& page) {
    std::size_t at = page.find(kHeaderRowEnd) + kHeaderRowEnd.size();
    const std::size_t end = page.find("</table>", at);
    std::vector<std::string> rows;
    while (at < end) {
        std::size_t next = page.find("<tr>\n", at + 1);
        if (next == std::string::npos || next > end) next = end;
        rows.push_back(page.substr(at, next - at));
        at = next;
    }
    return rows;
}

// An option page grown to about `target` bytes: rows of the months beyond
// the three nearest (every month letter the near rows do not use) come
// before the listed rows, so the rows the parser stores lie at its end.
std::string OptionPageOfSize(const sim::SimStock& stock, const std::vector<sim::SimOption>& options,
                             std::size_t target) {
    const std::string page = sim::OptionPage(stock, options);
    if (page.size() >= target) return UpperCased(page);

    std::set<char> near;
    for (const sim::SimOption& row : options)
        near.insert(row.Symbol[row.Symbol.size() - 2]);
    std::vector<sim::SimOption> far;
    for (const sim::SimOption& row : options) {
        if (row.Month >= 3) continue;
        const char first = row.Type == 0 ? 'A' : 'M';
        for (char letter = first; letter < first + 12; ++letter) {
            if (near.count(letter) != 0) continue;
            sim::SimOption other = row;
            other.Symbol[other.Symbol.size() - 2] = letter;
            // Ordered by letter, so each month gets one heading.
            other.Month = 3 + (letter - first);
            far.push_back(other);
        }
    }
    const std::vector<std::string> rows = ChainRows(sim::OptionPage(stock, far));
    std::string filler;
    for (std::size_t i = 0; page.size() + filler.size() < target; ++i)
        filler += rows[i % rows.size()];
    return UpperCased(
        InsertIntoBody(page, page.find(kHeaderRowEnd) + kHeaderRowEnd.size(), filler));
}

// ---------------------------------------------------------------- parsing

// A scanner's state for one stock of the market, on the market's date.
struct Fixture {
    Fixture() : market(1, SystemClock().Now()), clock(market.Today()) {
        for (const std::string& ticker : market.Universe()) {
            std::optional<sim::SimStock> candidate = market.Stock(ticker);
            if (!candidate || !candidate->ListsOptions) continue;
            stock = *candidate;
            options = market.Options(stock);
            if (!options.empty()) break;
        }
    }

    sim::Market market;
    sim::SimStock stock;
    std::vector<sim::SimOption> options;
    FixedClock clock;
    StderrMessages messages;
    SilentBeeper beeper;
};

Fixture& TheFixture() {
    static Fixture fixture;
    return fixture;
}

// Every field of the quote record, for comparing two parses.
std::string Describe(const QuoteRecord& q) {
    return FormatArgs(
        "%s|%s|%s|%s|%g|%s|%g|%g|%g|%Lg|%g|%g|%s|%g|%g|%g|%g|%g|%g|%s|%g|%g|%g|%g|%Lg",
        q.OptionRoot.c_str(), q.CompanyName.c_str(), q.LastTick.c_str(), q.Exchange.c_str(),
        double{q.LastSale}, q.SaleTime.c_str(), double{q.OpenPrice}, double{q.HighPrice},
        double{q.LowPrice}, q.Volume, double{q.Bid}, double{q.Ask}, q.BidAskSize.c_str(),
        double{q.NetChange}, double{q.PercentChange}, double{q.PreviousClose}, double{q.High52Week},
        double{q.Low52Week}, double{q.HistVolatility}, q.ExDividendDate.c_str(), double{q.Dividend},
        double{q.EarningsPerShare}, double{q.PriceEarnings}, double{q.YieldPercent},
        q.SharesOutstanding);
}

// Every stored option of the chain, for comparing two parses.
std::string Describe(const OptionChain& chain) {
    std::string out;
    for (int t = 0; t < kOptionTypes; ++t)
        for (int s = 0; s < kStrikeSlots; ++s)
            for (int m = 0; m < kMonthSlots; ++m) {
                auto at = [&](const ChainArray<float>& a) { return double{a[t][s][m]}; };
                out += FormatArgs("%s %g %g %g %g %g %g;", chain.OptSymbol[t][s][m].c_str(),
                                  at(chain.OptLast), at(chain.OptColumn2), at(chain.OptBid),
                                  at(chain.OptAsk), at(chain.OptVolume), at(chain.OptOpenInterest));
            }
    return out;
}

// What the receive path does with a stock page once it is complete.
bool StripAndParseStockPage(Context& context, const std::string& page) {
    context.quote.PageText = page;
    context.quote.PageText = StripTags(context.quote.PageText);
    return ParseStockPage(context);
}

bool StripAndParseOptionPage(Context& context, const std::string& page) {
    context.quote.PageText = page;
    context.quote.PageText = StripTags(context.quote.PageText);
    return ParseOptionPage(context);
}

void ReportPage(benchmark::State& state, std::size_t bytes) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(bytes));
    state.counters["page_bytes"] = static_cast<double>(bytes);
}

void StockPageCase(benchmark::State& state, StockFiller where) {
    Fixture& f = TheFixture();
    Context context(f.clock, f.messages, f.beeper);
    context.quote.Ticker = f.stock.Ticker;
    const std::string page =
        StockPageOfSize(f.stock, static_cast<std::size_t>(state.range(0)), where);

    // The grown page must read exactly as the page the service sends.
    StripAndParseStockPage(context, UpperCased(sim::StockPage(f.stock)));
    const std::string expected = Describe(context.quote.Quote);
    if (!StripAndParseStockPage(context, page) || Describe(context.quote.Quote) != expected) {
        state.SkipWithError("the grown stock page parses differently");
        return;
    }

    for (auto _ : state) {
        bool found = StripAndParseStockPage(context, page);
        benchmark::DoNotOptimize(found);
    }
    ReportPage(state, page.size());
    state.SetLabel(f.stock.Ticker);
}

void BM_StockPage(benchmark::State& state) {
    StockPageCase(state, StockFiller::BeforeQuoteTable);
}

void BM_StockPageLeadingMarkup(benchmark::State& state) {
    StockPageCase(state, StockFiller::BeforeNavigationBar);
}

void BM_OptionPage(benchmark::State& state) {
    Fixture& f = TheFixture();
    Context context(f.clock, f.messages, f.beeper);
    context.quote.Ticker = f.stock.Ticker;
    const std::string page =
        OptionPageOfSize(f.stock, f.options, static_cast<std::size_t>(state.range(0)));

    // The state the stock page leaves (calendar, strike table, quote record),
    // set up once; each parse then adds the same rows again.
    if (!StripAndParseStockPage(context, UpperCased(sim::StockPage(f.stock)))) {
        state.SkipWithError("the stock page does not parse");
        return;
    }
    const QuoteState afterStockPage = context.quote;
    StripAndParseOptionPage(context, UpperCased(sim::OptionPage(f.stock, f.options)));
    const std::string expected = Describe(context.quote.Chain);
    context.quote = afterStockPage;
    if (!StripAndParseOptionPage(context, page) || Describe(context.quote.Chain) != expected) {
        state.SkipWithError("the grown option page parses differently");
        return;
    }

    for (auto _ : state) {
        bool stored = StripAndParseOptionPage(context, page);
        benchmark::DoNotOptimize(stored);
    }
    ReportPage(state, page.size());
    state.SetLabel(f.stock.Ticker);
}

BENCHMARK(BM_StockPage)->Arg(10'000)->Arg(100'000)->Arg(1'000'000);
BENCHMARK(BM_StockPageLeadingMarkup)->Arg(10'000)->Arg(100'000)->Arg(1'000'000);
BENCHMARK(BM_OptionPage)->Arg(10'000)->Arg(100'000)->Arg(1'000'000);

// ---------------------------------------------------------------- the scan

// N distinct symbols (the scanner drops duplicates from its symbol file):
// the market's tickers first, each costing a stock page and an option page,
// then unknown tickers U0001, U0002, ..., each answered with the "Please try
// again" page and skipped after that one request.
std::vector<std::string> ScanSymbols(std::size_t count) {
    const std::vector<std::string>& universe = TheFixture().market.Universe();
    std::vector<std::string> symbols(
        universe.begin(),
        universe.begin() + static_cast<std::ptrdiff_t>(std::min(count, universe.size())));
    for (int n = 1; symbols.size() < count; ++n) {
        std::string ticker = FormatArgs("U%04d", n);
        if (!std::binary_search(universe.begin(), universe.end(), ticker))
            symbols.push_back(std::move(ticker));
    }
    return symbols;
}

struct RunFigures {
    int exitCode = -1;
    double seconds = 0;
    rusage usage{};
};

// Runs quillon-scan in `directory`, its output to scan.log there.
RunFigures RunScan(const std::string& directory) {
    RunFigures figures;
    const auto start = Stopwatch::now();
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(directory.c_str()) != 0) _exit(127);
        if (std::freopen("scan.log", "w", stdout) == nullptr) _exit(127);
        dup2(STDOUT_FILENO, STDERR_FILENO);
        execl(QUILLON_SCAN_PATH, "quillon-scan", static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    if (child < 0 || wait4(child, &status, 0, &figures.usage) != child) return figures;
    figures.seconds = Seconds(Stopwatch::now() - start);
    figures.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return figures;
}

// The last line of a text, without its line break.
std::string LastLine(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text.substr(text.rfind('\n') + 1);
}

// A headless server scan of `count` symbols against the demo quote service
// on a free loopback port, with default settings. Returns the exit status.
int ServerScan(std::size_t count) {
    testing::Quoted quoted({});
    if (quoted.Port() <= 0) {
        std::fprintf(stderr, "bench_pages: quillon-quoted did not start\n");
        return 1;
    }
    testing::TempDir dir;
    const std::vector<std::string> symbols = ScanSymbols(count);
    std::string symbolFile;
    for (const std::string& symbol : symbols)
        symbolFile += symbol + "\r\n";
    dir.Write("Symbols.sym", symbolFile);
    dir.Write("QuoteHosts.txt", FormatArgs("127.0.0.1:%d\r\n", quoted.Port()));
    Settings settings;
    SetDefaultSettings(settings);
    settings.SymbolFileName = dir.File("Symbols.sym");
    if (!SaveSettings(settings, WorkingFileNames::In(dir.Path()))) return 1;

    const RunFigures run = RunScan(dir.Path());
    const std::string log = ReadWholeFile(dir.File("scan.log")).value_or("");
    const double cpu = Seconds(run.usage.ru_utime) + Seconds(run.usage.ru_stime);
    // The service's CPU time: the two children are the only ones this program
    // waits for, so it is their sum less the runner's.
    quoted.Stop();
    rusage children{};
    getrusage(RUSAGE_CHILDREN, &children);
    const double serviceCpu = Seconds(children.ru_utime) + Seconds(children.ru_stime) - cpu;
    // Every symbol with a stock record in the archive took two requests, the
    // unknown ones one.
    const std::string archive = ReadWholeFile(dir.File("Quote.txt")).value_or("");
    std::size_t stocks = 0;
    for (auto at = archive.find("<STOCK>"); at != std::string::npos;
         at = archive.find("<STOCK>", at + 1))
        ++stocks;
    const std::size_t known = std::min(symbols.size(), TheFixture().market.Universe().size());
    const std::size_t requests = 2 * stocks + (symbols.size() - stocks);
    std::printf("\nserver scan: %zu symbols, %zu of the market and %zu unknown; %zu requests\n",
                symbols.size(), known, symbols.size() - known, requests);
    std::printf(
        "server scan: %.3f s, %.0f symbols/s, quillon-scan CPU %.3f s (user %.3f, "
        "system %.3f), peak memory %.1f MB\n",
        run.seconds, static_cast<double>(symbols.size()) / run.seconds, cpu,
        Seconds(run.usage.ru_utime), Seconds(run.usage.ru_stime),
        static_cast<double>(run.usage.ru_maxrss) / 1024.0);
    std::printf("server scan: %.0f requests/s, %.2f ms per request\n",
                static_cast<double>(requests) / run.seconds,
                1000.0 * run.seconds / static_cast<double>(requests));
    std::printf("server scan: quillon-quoted CPU %.3f s\n", serviceCpu);
    std::printf("quillon-scan: %s (exit status %d)\n", LastLine(log).c_str(), run.exitCode);
    return run.exitCode == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::size_t count = 500;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--symbols=", 10) == 0)
            count = static_cast<std::size_t>(std::strtoul(argv[i] + 10, nullptr, 10));
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return count > 0 ? ServerScan(count) : 0;
}
