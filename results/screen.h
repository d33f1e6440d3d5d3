#pragma once
// The judgement of one stock on one day by the filters: the AND group of
// stock and option limits in a fixed order, the range position rule, the IV
// rank and IV percentile limits, then the OR group of the two ZOR ratios.
// The scan judges the stock it has just read with it; the back-test judges
// a recorded day's figures with it, so both give the same verdict.

#include <array>
#include <functional>
#include <optional>

#include "analytics/filters.h"
#include "analytics/iv_history.h"
#include "results/settings.h"
#include "results/verdict.h"

namespace quillon {

// The filters as bounds: a filter in use is its number, one not in use is
// nothing. Made once per pass (a back-test's whole run): telling whether a
// value is in use reads its text.
struct ScreenRules {
    std::array<std::optional<double>, kFilterCount> Bounds;
    std::array<std::optional<double>, kHistoryFilterCount> HistoryBounds;  // kHistoryFilters' order
    bool IvFiltersInUse = false;
    // A stock that passes the AND group but reaches neither ratio is
    // rejected when this is set; saved ("SAVED") otherwise.
    bool RatioFiltersActive = false;

    // `ratioFiltersActive` as the scan counts it at a pass's start.
    static ScreenRules Of(const FilterValues& filters, const HistorySettings& history,
                          bool ratioFiltersActive);
    // The same with the ratio switch worked out from the filters.
    static ScreenRules Of(const FilterValues& filters, const HistorySettings& history);
};

// What the filters read of a stock, in the scan's own arithmetic: the scan's
// figures are 32-bit floats (volume and shares outstanding long double), and
// each converts exactly to the double it is compared as here.
struct ScreenFigures {
    bool HaveVolume = true;      // a quote with a volume of 0 or more
    double VolumeThousands = 0;  // volume / 1000, worked out in long double
    double PriceEarnings = 0;    // 100000 when the quote has none
    double MarketCap = 0;        // shares * last sale / 1,000,000, long double
    double Last = 0;
    double QuoteVolatility = 0;  // the quote's own historical volatility
    double PercentChange = 0;
    double Yield = 0;
    double High52 = 0;
    double Low52 = 0;
    double SmallerOptionVolume = 0;        // the smaller of the call and put totals
    double SmallerOptionOpenInterest = 0;  // likewise
    double Zorc = 0;
    double Zorp = 0;
};

struct ScreenOutcome {
    quillon::Verdict Verdict = quillon::Verdict::Rejected;
    // The first test of the AND group (IV limits included) the stock fails,
    // named by its filter without the dialog's prefix ("MinVolume", "MaxPE",
    // "MinIvRank"; "Volume" for a quote without a volume); nullptr when it
    // passes them all.
    const char* FailedTest = nullptr;
    // What decided: the failed test; for a stock that passed the AND group
    // but reached no ratio, the ratio filters in use ("MinCallPutRatio or
    // MinPutCallRatio"); "MinCallPutRatio" for UP, "MinPutCallRatio" for
    // DOWN, "AND group" for SAVED.
    const char* Rule = "";
};

// Where the last sale lies in the 52-week range, in percent; 0 when the
// range is too narrow to tell.
double RangePosition(double last, double high52, double low52);

// Judges `figures` by `rules`. `standing` gives the IV rank and IV
// percentile of the day; it is asked only when an IV filter is in use and
// the stock has passed every test before them.
ScreenOutcome Screen(const ScreenRules& rules, const ScreenFigures& figures,
                     const std::function<IvStanding()>& standing);

}  // namespace quillon
