#include "results/screen.h"

#include <cmath>
#include <utility>

namespace quillon {

namespace {

using Bound = std::optional<double>;

// A figure fails a minimum below it and a maximum above it; a figure equal
// to a bound passes. Filters not in use are skipped.
bool WithinBounds(double figure, const Bound& minimum, const Bound& maximum) {
    if (minimum && figure < *minimum) return false;
    if (maximum && figure > *maximum) return false;
    return true;
}

// A range position of 0 (a range too narrow to tell) fails a range filter in use.
bool WithinRange(double position, const Bound& minimum, const Bound& maximum) {
    if (minimum && (position == 0 || position < *minimum)) return false;
    if (maximum && (position == 0 || position > *maximum)) return false;
    return true;
}

// An n/a standing fails a filter in use, as range position 0 does.
bool WithinStanding(const std::optional<double>& value, const Bound& minimum,
                    const Bound& maximum) {
    if (!value) return !minimum && !maximum;
    return WithinBounds(*value, minimum, maximum);
}

// A filter's name without the dialog's prefix: "MinVolume" for TX_MinVolume.
const char* TestName(FilterIndex index) {
    return kFilterNames[index] + 3;
}

std::optional<double> BoundOf(const FilterValue& value) {
    if (!value.InUse()) return std::nullopt;
    return value.AsNumber();
}

// The ratio filters in use, for a stock that passed the AND group but
// reached neither ratio.
const char* RatioRule(const ScreenRules& rules) {
    const bool callPut = rules.Bounds[TX_MinCallPutRatio].has_value();
    const bool putCall = rules.Bounds[TX_MinPutCallRatio].has_value();
    if (callPut && putCall) return "MinCallPutRatio or MinPutCallRatio";
    if (callPut) return "MinCallPutRatio";
    if (putCall) return "MinPutCallRatio";
    return "";
}

const char* FirstFailed(const ScreenRules& rules, const ScreenFigures& x,
                        const std::function<IvStanding()>& standing) {
    if (!x.HaveVolume) return "Volume";
    const auto& b = rules.Bounds;
    static const Bound kNone;

    // The tests in the order the AND group takes them, each named by the
    // minimum or maximum that failed.
    const auto bounds = [&](double figure, FilterIndex minimum,
                            FilterIndex maximum) -> const char* {
        if (WithinBounds(figure, b[minimum], kNone)) {
            return WithinBounds(figure, kNone, b[maximum]) ? nullptr : TestName(maximum);
        }
        return TestName(minimum);
    };
    const std::pair<double, std::pair<FilterIndex, FilterIndex>> tests[] = {
        {x.VolumeThousands, {TX_MinVolume, TX_MaxVolume}},
        {x.PriceEarnings, {TX_MinPE, TX_MaxPE}},
        {x.MarketCap, {TX_MinMktCap, TX_MaxMktCap}},
        {x.Last, {TX_MinLast, TX_MaxLast}},
        {x.QuoteVolatility, {TX_MinBeta, TX_MaxBeta}},
        {x.PercentChange, {TX_MinPctChange, TX_MaxPctChange}},
        {x.Yield, {TX_MinYield, TX_MaxYield}}};
    for (const auto& [figure, limits] : tests) {
        if (const char* failed = bounds(figure, limits.first, limits.second)) return failed;
    }
    if (b[TX_MinRange] || b[TX_MaxRange]) {
        const double position = RangePosition(x.Last, x.High52, x.Low52);
        if (!WithinRange(position, b[TX_MinRange], kNone)) return TestName(TX_MinRange);
        if (!WithinRange(position, kNone, b[TX_MaxRange])) return TestName(TX_MaxRange);
    }
    if (!WithinBounds(x.SmallerOptionVolume, b[TX_MinOptVol], kNone)) return TestName(TX_MinOptVol);
    if (!WithinBounds(x.SmallerOptionOpenInterest, b[TX_MinOptInt], kNone)) {
        return TestName(TX_MinOptInt);
    }

    if (!rules.IvFiltersInUse) return nullptr;
    const IvStanding s = standing();
    for (std::size_t i = 0; i < kHistoryFilterCount; ++i) {
        const HistoryFilter& filter = kHistoryFilters[i];
        const std::optional<double>& bound = rules.HistoryBounds[i];
        const bool within = filter.Maximum ? WithinStanding(s.*filter.Figure, kNone, bound)
                                           : WithinStanding(s.*filter.Figure, bound, kNone);
        if (!within) return filter.Name;
    }
    return nullptr;
}

}  // namespace

ScreenRules ScreenRules::Of(const FilterValues& filters, const HistorySettings& history,
                            bool ratioFiltersActive) {
    ScreenRules rules;
    for (std::size_t i = 0; i < kFilterCount; ++i)
        rules.Bounds[i] = BoundOf(filters[i]);
    rules.IvFiltersInUse = history.FiltersInUse();
    for (std::size_t i = 0; i < kHistoryFilterCount; ++i)
        rules.HistoryBounds[i] = BoundOf(history.*kHistoryFilters[i].Value);
    rules.RatioFiltersActive = ratioFiltersActive;
    return rules;
}

ScreenRules ScreenRules::Of(const FilterValues& filters, const HistorySettings& history) {
    return Of(filters, history,
              filters[TX_MinCallPutRatio].InUse() || filters[TX_MinPutCallRatio].InUse());
}

double RangePosition(double last, double high52, double low52) {
    const double width = high52 - low52;
    const double rounded = std::round(width * 10000) / 10000;  // ties away from zero
    if (!(rounded > 0.001)) return 0;
    return (last - low52) * 100 / width;
}

ScreenOutcome Screen(const ScreenRules& rules, const ScreenFigures& figures,
                     const std::function<IvStanding()>& standing) {
    ScreenOutcome outcome;
    outcome.FailedTest = FirstFailed(rules, figures, standing);
    if (outcome.FailedTest != nullptr) {
        outcome.Rule = outcome.FailedTest;
        return outcome;
    }
    outcome.Verdict = rules.RatioFiltersActive ? Verdict::Rejected : Verdict::Saved;
    outcome.Rule = rules.RatioFiltersActive ? RatioRule(rules) : "AND group";
    if (figures.Zorc > 0 && figures.Zorp > 0) {
        const double callPut = figures.Zorc / figures.Zorp;
        const double putCall = figures.Zorp / figures.Zorc;
        const Bound& minCallPut = rules.Bounds[TX_MinCallPutRatio];
        const Bound& minPutCall = rules.Bounds[TX_MinPutCallRatio];
        if (minCallPut && callPut >= *minCallPut) {
            outcome.Verdict = Verdict::SavedUp;
            outcome.Rule = "MinCallPutRatio";
        }
        if (minPutCall && putCall >= *minPutCall) {
            outcome.Verdict = Verdict::SavedDown;
            outcome.Rule = "MinPutCallRatio";
        }
    }
    return outcome;
}

}  // namespace quillon
