#include "scan/evaluation.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "analytics/zor.h"
#include "history/history_store.h"
#include "platform/files.h"
#include "platform/number_format.h"
#include "results/report.h"
#include "results/screen.h"
#include "results/summary.h"

namespace quillon {

namespace {

constexpr const char* kHistoryFile = "History.db";
// Last sales before today that HV20 takes with today's: 20 returns.
constexpr int kPastLastSales = 20;

int DayOf(const DateTime& date) {
    return date.Date().Number();
}

ZorInputs ZorInputsOf(const Context& context) {
    return ZorInputs{.Calendar = context.calendar,
                     .Strikes = context.strikes,
                     .InterestRate = context.settings.InterestRate,
                     .DeriveZorFrom = context.settings.Filters.DeriveZorFrom};
}

// The history's figures of the report and the summary line, when they show.
std::optional<ReportHistory> ReportHistoryOf(const Context& context) {
    const HistorySettings& h = context.settings.History;
    if (!h.Needed()) return std::nullopt;
    const HistoryStanding standing = HistoryStandingOf(context);
    return ReportHistory{.Iv30 = standing.Iv30,
                         .Rank = standing.Standing.Rank,
                         .Percentile = standing.Standing.Percentile,
                         .Days = standing.Standing.Days,
                         .WindowWeeks = h.WindowWeeks,
                         .Hv20 = standing.Hv20};
}

// Reads the windows of every symbol before `day` into the context's cache.
void LoadWindows(Context& context, int day, int windowDays) {
    IvHistoryCache& cache = context.ivHistory;
    cache.Loaded = true;
    cache.Day = day;
    cache.WindowDays = windowDays;
    cache.Problem.clear();
    cache.Iv30.clear();
    cache.LastSales.clear();
    cache.LastSaleDays.clear();
    const std::string& directory = context.files.WorkingDirectory;
    const std::string file = directory.empty() ? kHistoryFile : directory + "/" + kHistoryFile;
    if (!FileExists(file)) {
        cache.Problem = std::string(kHistoryFile) + " not found";
        return;
    }
    HistoryStore store;
    if (!store.OpenForReading(file)) {
        cache.Problem = std::string(kHistoryFile) + ": " + store.Error();
        return;
    }
    // Today is the window's last day, so the days before it fill the rest.
    HistoryStore::PastWindows windows = store.Windows(day, windowDays - 1, kPastLastSales);
    if (!store.Error().empty()) {
        cache.Problem = std::string(kHistoryFile) + ": " + store.Error();
        return;
    }
    cache.Iv30 = std::move(windows.Iv30);
    cache.LastSales = std::move(windows.LastSales);
    cache.LastSaleDays = std::move(windows.LastSaleDays);
}

// The saved symbol's outputs go to the pending texts of the summary lists.
SummaryTexts PendingSummaryTexts(PendingOutput& pending) {
    return SummaryTexts{pending.PendingSavedSym, pending.PendingUpSym, pending.PendingDownSym};
}

// What the report of the current symbol shows, as the context holds it.
ReportView ReportViewOf(const Context& context, Verdict trend) {
    const ScanCounters& counters = context.counters;
    return ReportView{.Quote = context.quote,
                      .Calendar = context.calendar,
                      .Strikes = context.strikes,
                      .ProcessCount = counters.ProcessCount,
                      .SymbolIndex = counters.SymbolIndex,
                      .SymbolCount = counters.SymbolCount,
                      .InterestRate = context.settings.InterestRate,
                      .DeriveZorFrom = context.settings.Filters.DeriveZorFrom,
                      .Trend = trend,
                      .WrittenAt = ScanNow(context),
                      .History = ReportHistoryOf(context)};
}

// The report block of the current symbol replaces the page in PageText.
void ReportIntoPageText(Context& context, Verdict trend) {
    context.quote.PageText = RenderReport(ReportViewOf(context, trend));
}

}  // namespace

Iv30Result CurrentIv30(const Context& context) {
    const IvHistoryCache& cache = context.ivHistory;
    const QuoteState& state = context.quote;
    if (cache.Current && cache.CurrentTicker == state.Ticker) return *cache.Current;
    if (!state.HaveStockData) return {};
    // The whole chain's figure where the data source gave one for this quote.
    if (const Iv30Result* whole = ChainIv30Of(cache.ChainIv30, state.Ticker,
                                              DayOf(ScanNow(context)), state.Quote.LastSale)) {
        return *whole;
    }
    if (!state.HaveOptionData) return {};
    return ComputeIv30(Iv30InputsOf(state.Quote, state.Chain, ZorInputsOf(context)));
}

void PrepareIvHistory(Context& context) {
    IvHistoryCache& cache = context.ivHistory;
    cache.Current.reset();
    cache.CurrentStanding.reset();
    const HistorySettings& h = context.settings.History;
    if (!h.Needed()) return;
    cache.Current = CurrentIv30(context);
    cache.CurrentTicker = context.quote.Ticker;

    const int day = DayOf(ScanNow(context));
    const int windowDays = h.WindowDays();
    const bool passStart = context.counters.SymbolIndex == 1;
    if (!(cache.Loaded && !passStart && cache.Day == day && cache.WindowDays == windowDays))
        LoadWindows(context, day, windowDays);
    cache.CurrentStanding = HistoryStandingOf(context);
}

HistoryStanding HistoryStandingOf(const Context& context) {
    const IvHistoryCache& cache = context.ivHistory;
    const std::string& ticker = context.quote.Ticker;
    if (cache.CurrentStanding && cache.CurrentTicker == ticker) return *cache.CurrentStanding;
    HistoryStanding standing;
    standing.Iv30 = CurrentIv30(context).Both;
    if (!cache.Loaded || !cache.Problem.empty()) return standing;

    static const std::vector<double> kNoDays;
    const auto iv = cache.Iv30.find(ticker);
    std::vector<double> window = iv == cache.Iv30.end() ? kNoDays : iv->second;
    if (standing.Iv30) {
        window.push_back(*standing.Iv30);
        standing.Standing = IvRankAndPercentile(window);
    } else {
        standing.Standing.Days = static_cast<int>(window.size());
    }

    const float last = context.quote.Quote.LastSale;
    const auto sales = cache.LastSales.find(ticker);
    const auto days = cache.LastSaleDays.find(ticker);
    if (sales != cache.LastSales.end() && days != cache.LastSaleDays.end() &&
        days->second.size() == sales->second.size() && last > 0) {
        std::vector<DatedSale> dated;
        dated.reserve(sales->second.size() + 1);
        for (std::size_t i = 0; i < sales->second.size(); ++i)
            dated.push_back({days->second[i], sales->second[i]});
        dated.push_back({DayOf(ScanNow(context)), last});
        standing.Hv20 = Hv20(dated);
    }
    return standing;
}

void ComputeZOR(Context& context) {
    ComputeZOR(context.quote.Quote, context.quote.Chain, ZorInputsOf(context));
}

namespace {

// The figures the filters read of the current quote and chain.
ScreenFigures ScreenFiguresOf(const Context& context) {
    const QuoteRecord& q = context.quote.Quote;
    const OptionChain& chain = context.quote.Chain;
    ScreenFigures x;
    x.HaveVolume = !(q.Volume < 0);
    x.VolumeThousands = static_cast<double>(q.Volume / 1000);
    x.PriceEarnings = q.PriceEarnings;
    x.MarketCap = static_cast<double>(q.SharesOutstanding * q.LastSale * 0.000001L);
    x.Last = q.LastSale;
    x.QuoteVolatility = q.HistVolatility;
    x.PercentChange = q.PercentChange;
    x.Yield = q.YieldPercent;
    x.High52 = q.High52Week;
    x.Low52 = q.Low52Week;
    x.SmallerOptionVolume = std::min(chain.TotalVolume[0], chain.TotalVolume[1]);
    x.SmallerOptionOpenInterest = std::min(chain.TotalOpenInterest[0], chain.TotalOpenInterest[1]);
    x.Zorc = chain.TotalZOR[0];
    x.Zorp = chain.TotalZOR[1];
    return x;
}

ScreenOutcome ScreenOf(const Context& context) {
    const ScreenRules rules =
        ScreenRules::Of(context.settings.Filters.Values, context.settings.History,
                        context.counters.RatioFiltersActive);
    return Screen(rules, ScreenFiguresOf(context),
                  [&context] { return HistoryStandingOf(context).Standing; });
}

}  // namespace

const char* FirstFailedTest(const Context& context) {
    return ScreenOf(context).FailedTest;
}

bool PassesAndGroup(const Context& context) {
    return FirstFailedTest(context) == nullptr;
}

void EvaluateSymbol(Context& context, AlarmControl& alarm) {
    ScanCounters& counters = context.counters;
    context.pending.PendingProgress =
        FormatArgs("%d %d", counters.ProcessCount, counters.SymbolIndex);
    // Before anything is judged, so that a pass whose first symbol has no
    // quote still reads the history at its start.
    PrepareIvHistory(context);

    if (!context.quote.HaveStockData) {
        // Reported without a trend; nothing is judged, so Verdict keeps its value.
        ReportIntoPageText(context, Verdict::Saved);
        return;
    }

    ComputeZOR(context);
    Verdict& verdict = context.Verdict;
    verdict = ScreenOf(context).Verdict;

    if (verdict == Verdict::Rejected) {
        ReportIntoPageText(context, Verdict::Rejected);
        return;
    }
    ++counters.ProcessCount;
    // The resume point counts this symbol among the saved ones, so that a
    // scan resumed after it neither counts it twice nor repeats the heading.
    context.pending.PendingProgress =
        FormatArgs("%d %d", counters.ProcessCount, counters.SymbolIndex);
    ReportIntoPageText(context, verdict);
    AppendResults(context.pending.PendingResults, context.quote.PageText);
    const OptionChain& chain = context.quote.Chain;
    const std::optional<ReportHistory> history = ReportHistoryOf(context);
    WriteSummaryLine(SummaryView{.Quote = context.quote,
                                 .ProcessCount = counters.ProcessCount,
                                 .ShowIvRank = history.has_value(),
                                 .IvRank = history ? history->Rank : std::nullopt},
                     chain.TotalZOR[0], chain.TotalZOR[1], PendingSummaryTexts(context.pending));
    if (alarm.AlarmChecked()) alarm.StartAlarm();
}

}  // namespace quillon
