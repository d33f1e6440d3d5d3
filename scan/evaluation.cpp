#include "scan/evaluation.h"

#include <algorithm>
#include <cmath>

#include "analytics/zor.h"
#include "platform/number_format.h"
#include "results/report.h"
#include "results/summary.h"

namespace quillon {

namespace {

constexpr int kRejected = -2;
constexpr int kUp = 1;
constexpr int kDown = -1;

// A figure fails a minimum below it and a maximum above it; a figure equal
// to a bound passes. Filters not in use are skipped.
bool WithinBounds(double figure, const FilterValue& minimum, const FilterValue& maximum) {
    if (minimum.InUse() && figure < minimum.AsNumber()) return false;
    if (maximum.InUse() && figure > maximum.AsNumber()) return false;
    return true;
}

// Where the last sale lies in the 52-week range, in percent; 0 when the
// range is too narrow to tell.
double RangePosition(const QuoteRecord& q) {
    const double width = static_cast<double>(q.High52Week) - q.Low52Week;
    const double rounded = std::round(width * 10000) / 10000;  // ties away from zero
    if (!(rounded > 0.001)) return 0;
    return (static_cast<double>(q.LastSale) - q.Low52Week) * 100 / width;
}

bool WithinRange(double position, const FilterValue& minimum, const FilterValue& maximum) {
    if (minimum.InUse() && (position == 0 || position < minimum.AsNumber())) return false;
    if (maximum.InUse() && (position == 0 || position > maximum.AsNumber())) return false;
    return true;
}

}  // namespace

bool PassesAndGroup(const Context& context) {
    const QuoteRecord& q = context.quote.Quote;
    const OptionChain& chain = context.quote.Chain;
    const FilterValues& f = context.settings.Filters.Values;

    if (q.Volume < 0) return false;
    const double thousands = static_cast<double>(q.Volume / 1000);
    const double marketCap = static_cast<double>(q.SharesOutstanding * q.LastSale * 0.000001L);
    const double smallerVolume = std::min(chain.TotalVolume[0], chain.TotalVolume[1]);
    const double smallerOpenInterest =
        std::min(chain.TotalOpenInterest[0], chain.TotalOpenInterest[1]);
    static const FilterValue kNone;

    return WithinBounds(thousands, f[TX_MinVolume], f[TX_MaxVolume]) &&
           WithinBounds(q.PriceEarnings, f[TX_MinPE], f[TX_MaxPE]) &&
           WithinBounds(marketCap, f[TX_MinMktCap], f[TX_MaxMktCap]) &&
           WithinBounds(q.LastSale, f[TX_MinLast], f[TX_MaxLast]) &&
           WithinBounds(q.HistVolatility, f[TX_MinBeta], f[TX_MaxBeta]) &&
           WithinBounds(q.PercentChange, f[TX_MinPctChange], f[TX_MaxPctChange]) &&
           WithinBounds(q.YieldPercent, f[TX_MinYield], f[TX_MaxYield]) &&
           WithinRange(RangePosition(q), f[TX_MinRange], f[TX_MaxRange]) &&
           WithinBounds(smallerVolume, f[TX_MinOptVol], kNone) &&
           WithinBounds(smallerOpenInterest, f[TX_MinOptInt], kNone);
}

void EvaluateSymbol(Context& context, AlarmControl& alarm) {
    ScanCounters& counters = context.counters;
    context.pending.PendingProgress =
        FormatArgs("%d %d", counters.ProcessCount, counters.SymbolIndex);

    if (!context.quote.HaveStockData) {
        RenderReport(context, 0);
        return;
    }

    ComputeZOR(context);
    int& verdict = context.Verdict;
    verdict = kRejected;
    if (PassesAndGroup(context)) {
        verdict = counters.RatioFiltersActive ? kRejected : 0;
        const float zorc = context.quote.Chain.TotalZOR[0];
        const float zorp = context.quote.Chain.TotalZOR[1];
        if (zorc > 0 && zorp > 0) {
            const FilterValues& f = context.settings.Filters.Values;
            const double callPut = static_cast<double>(zorc) / zorp;
            const double putCall = static_cast<double>(zorp) / zorc;
            if (f[TX_MinCallPutRatio].InUse() && callPut >= f[TX_MinCallPutRatio].AsNumber()) {
                verdict = kUp;
            }
            if (f[TX_MinPutCallRatio].InUse() && putCall >= f[TX_MinPutCallRatio].AsNumber()) {
                verdict = kDown;
            }
        }
    }

    if (verdict == kRejected) {
        RenderReport(context, kRejected);
        return;
    }
    ++counters.ProcessCount;
    // The resume point counts this symbol among the saved ones, so that a
    // scan resumed after it neither counts it twice nor repeats the heading.
    context.pending.PendingProgress =
        FormatArgs("%d %d", counters.ProcessCount, counters.SymbolIndex);
    RenderReport(context, verdict);
    AppendResults(context);
    WriteSummaryLine(context, context.quote.Chain.TotalZOR[0], context.quote.Chain.TotalZOR[1]);
    if (alarm.AlarmChecked()) alarm.StartAlarm();
}

}  // namespace quillon
