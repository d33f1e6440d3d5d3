#include "history/backtest_report.h"

#include <cmath>
#include <cstdio>

namespace quillon {

namespace {

constexpr const char* kLineEnd = "\r\n";
constexpr std::size_t kNoteWidth = 78;

std::string Printf(const char* pattern, double value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

// 1,234,567.
std::string Grouped(long long value) {
    std::string digits = std::to_string(value < 0 ? -value : value);
    std::string text;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) text += ',';
        text += digits[i];
    }
    return value < 0 ? "-" + text : text;
}

std::string Right(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string Left(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

// A percentage with two decimals, "~" before a binned quantile.
std::string Percent(double value, bool approximate = false) {
    return (approximate ? "~" : "") + Printf("%.2f", value);
}

std::string FilterNumber(double value) {
    return Printf("%.15g", value);
}

const char* PlainName(FilterIndex index) {
    return kFilterNames[index] + 3;
}

// One line of a table: the label, then signals, days, missing, hit rate,
// mean, median, the four quantiles and the excess.
std::string TableLine(const std::string& label, const std::string& signals, const std::string& days,
                      const std::string& missing, const ReturnStats& stats,
                      const std::string& excess) {
    std::string line = Left(label, 12) + Right(signals, 11) + Right(days, 8) + Right(missing, 9);
    if (stats.Count == 0) {
        line += Right("n/a", 8);
        for (int i = 0; i < 6; ++i)
            line += Right("n/a", 9);
    } else {
        const bool a = stats.Approximate;
        line += Right(Percent(stats.HitRate), 8) + Right(Percent(stats.Mean), 9) +
                Right(Percent(stats.Median, a), 9) + Right(Percent(stats.Q10, a), 9) +
                Right(Percent(stats.Q25, a), 9) + Right(Percent(stats.Q75, a), 9) +
                Right(Percent(stats.Q90, a), 9);
    }
    line += Right(excess, 9);
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    return line + kLineEnd;
}

std::string GroupLines(const char* name, const GroupResult& g) {
    const std::string excess = g.ExcessDays > 0 ? Percent(g.MeanExcess) : "n/a";
    std::string text =
        TableLine(name, Grouped(g.Signals), Grouped(g.Days), Grouped(g.Missing), g.Picks, excess);
    if (g.Signals > 0) {
        // Its figures weigh the days by the picks with a return: none
        // without one.
        ReturnStats universe = g.Universe;
        if (g.Picks.Count == 0) universe.Count = 0;
        text += TableLine("  universe", Grouped(g.UniverseSignals), Grouped(g.Days),
                          Grouped(g.UniverseMissing), universe, "");
    }
    return text;
}

std::string TableHeading() {
    return Left("Picks", 12) + Right("Signals", 11) + Right("Days", 8) + Right("Missing", 9) +
           Right("Hit %", 8) + Right("Mean", 9) + Right("Median", 9) + Right("10 %", 9) +
           Right("25 %", 9) + Right("75 %", 9) + Right("90 %", 9) + Right("Excess", 9) + kLineEnd;
}

// `text` cut into lines of at most kNoteWidth columns at spaces, the first
// after "- ", the others indented to match.
std::string Wrapped(const std::string& text) {
    std::string out;
    std::string line = "- ";
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(' ', start);
        if (end == std::string::npos) end = text.size();
        const std::string word = text.substr(start, end - start);
        if (line.size() > 2 && line.size() + 1 + word.size() > kNoteWidth) {
            out += line + kLineEnd;
            line = "  ";
        }
        if (line.size() > 2) line += ' ';
        line += word;
        start = end + 1;
    }
    return out + line + kLineEnd;
}

bool AnyApproximate(const BacktestReport& report) {
    for (const HorizonResult& h : report.Horizons) {
        for (const auto* groups : {&h.Every, &h.NonOverlapping}) {
            for (const GroupResult& g : *groups) {
                if (g.Picks.Approximate || g.Universe.Approximate) return true;
            }
        }
    }
    return false;
}

std::string CsvNumber(double value) {
    return Printf("%.10g", value);
}

std::string CsvStats(const ReturnStats& s) {
    if (s.Count == 0) return ",,,,,,";  // the seven figures, empty
    return CsvNumber(s.HitRate) + "," + CsvNumber(s.Mean) + "," + CsvNumber(s.Median) + "," +
           CsvNumber(s.Q10) + "," + CsvNumber(s.Q25) + "," + CsvNumber(s.Q75) + "," +
           CsvNumber(s.Q90);
}

}  // namespace

std::string FiltersInUseText(const FilterValues& filters, const HistorySettings& history) {
    std::string text;
    const auto add = [&](const char* name, const FilterValue& value) {
        if (!value.InUse()) return;
        if (!text.empty()) text += ", ";
        text += std::string(name) + " " + FilterNumber(value.AsNumber());
    };
    for (std::size_t i = 0; i < kFilterCount; ++i)
        add(PlainName(static_cast<FilterIndex>(i)), filters[i]);
    for (const HistoryFilter& filter : kHistoryFilters)
        add(filter.Name, history.*filter.Value);
    if (history.FiltersInUse()) {
        text += " (IV window " + std::to_string(history.WindowWeeks) + " weeks)";
    }
    return text.empty() ? "none" : text;
}

std::vector<std::string> BacktestNotes(const BacktestReport& report,
                                       const BacktestOptions& options) {
    std::vector<std::string> notes;
    notes.push_back(
        "Returns, in percent: from the last sale recorded on the signal's day to the last "
        "sale recorded N trading days later, a trading day being a date History.db holds "
        "rows of. DOWN picks count with their sign turned, as a put buyer sees them, in "
        "\"all\" too.");
    notes.push_back(
        "Universe: every symbol recorded with a last sale on the same days as the picks "
        "(that day's symbols, not today's list), signed as each pick: as it is beside an UP "
        "pick, turned beside a DOWN one, so that beside \"all\" a day with UP and DOWN "
        "picks counts its universe both ways. Its figures weigh each day by its picks with "
        "a return, each pick the same: its mean is the mean over the picks of their day's "
        "universe mean.");
    notes.push_back(
        "Excess: the picks' mean less the universe's mean on the line below, the mean "
        "over the picks of each return less its day's universe mean.");
    notes.push_back(
        "Hit %: the share of picks with a forward price whose return is above 0; on a "
        "universe line, the share of its weight.");
    notes.push_back(
        "Quantiles: linear interpolation between order statistics: with n returns sorted "
        "x(0) to x(n-1) and h = p(n-1), k the whole part of h and f the rest, the p "
        "quantile is x(k) + f(x(k+1) - x(k)); the median is p = 0.5. On a universe line "
        "each return stands at the middle of its weight laid end to end, the first at p = 0 "
        "and the last at p = 1, read by linear interpolation.");
    if (AnyApproximate(report)) {
        notes.push_back("~: more than " + Grouped(static_cast<long long>(options.ExactLimit)) +
                        " returns; the quantile is read from bins of 0.01 percentage points "
                        "and lies within 0.01 of the exact one.");
    }
    notes.push_back(
        "Missing: picks without a forward price: the symbol is not recorded N trading days "
        "later, is recorded then without a last sale, or the day lies past the last recorded "
        "date. They are counted, never dropped. Signals counts them, on every line: on a "
        "universe line, Signals is the members of the days and Missing those without a "
        "forward price.");
    notes.push_back(
        "Non-overlapping: a signal is kept for horizon N only when its symbol has no kept "
        "signal in the N recorded trading days before it, so that no two kept returns of a "
        "symbol overlap.");
    notes.push_back(
        "No look-ahead: a day's verdicts read that day's row alone; IV rank and IV "
        "percentile the IV30 of the symbol's earlier recorded days and the day's own.");
    if (report.ImportedDays > 0) {
        std::string note = "Days judged with rows from imported files (pass source \"import\"): " +
                           Grouped(report.ImportedDays) + " of " +
                           Grouped(static_cast<long long>(report.Days.size())) +
                           ". An export may have taken the 52-week high and low and the "
                           "historical volatility from a later day than the row's";
        const FilterValues& f = options.Filters;
        std::string filters;
        for (FilterIndex i : {TX_MinRange, TX_MaxRange, TX_MinBeta, TX_MaxBeta}) {
            if (!f[i].InUse()) continue;
            if (!filters.empty()) filters += ", ";
            filters += PlainName(i);
        }
        note += filters.empty() ? "; no filter in use reads them." : "; " + filters + " read them.";
        notes.push_back(note);
    }
    if (!report.PartialDays.empty()) notes.push_back(BacktestPartialNote(report));
    return notes;
}

std::string BacktestPartialNote(const BacktestReport& report) {
    if (report.PartialDays.empty()) return {};
    constexpr std::size_t kNamed = 5;
    std::string days;
    for (std::size_t i = 0; i < report.PartialDays.size() && i < kNamed; ++i)
        days += (i == 0 ? "" : ", ") + HistoryDayText(report.PartialDays[i]);
    if (report.PartialDays.size() > kNamed)
        days +=
            " and " + Grouped(static_cast<long long>(report.PartialDays.size() - kNamed)) + " more";
    return "Partial days: " + days + (report.PartialDays.size() == 1 ? " has" : " have") +
           " no pass that ended whole (a scan may still be writing them); their figures may be "
           "incomplete.";
}

std::string BacktestReportText(const BacktestReport& report, const BacktestOptions& options,
                               const std::string& filtersName) {
    std::string text = "Back-test of History.db";
    text += kLineEnd;
    text += "Filters: " + filtersName + ": " + FiltersInUseText(options.Filters, options.History) +
            kLineEnd;
    if (report.Days.empty()) {
        text += "Days judged: none";
        text += kLineEnd;
    } else {
        text += "Days judged: " + Grouped(static_cast<long long>(report.Days.size())) + ", " +
                HistoryDayText(report.Days.front()) + " to " + HistoryDayText(report.Days.back()) +
                "; " + Grouped(report.Rows) + " rows of " + Grouped(report.Symbols) +
                " symbols; forward prices read to " + HistoryDayText(report.LastRecorded) +
                kLineEnd;
    }
    std::string horizons;
    for (int h : options.Horizons)
        horizons += (horizons.empty() ? "" : ", ") + std::to_string(h);
    text += "Horizons, in recorded trading days: " + horizons + kLineEnd;

    for (const HorizonResult& h : report.Horizons) {
        text += kLineEnd;
        text += "Horizon " + std::to_string(h.Horizon) +
                (h.Horizon == 1 ? " trading day" : " trading days") + ", returns in %" + kLineEnd;
        text += TableHeading();
        for (std::size_t g = 0; g < kBacktestGroups; ++g)
            text += GroupLines(kBacktestGroupNames[g], h.Every[g]);
        text += "Non-overlapping signals";
        text += kLineEnd;
        for (std::size_t g = 0; g < kBacktestGroups; ++g)
            text += GroupLines(kBacktestGroupNames[g], h.NonOverlapping[g]);
    }
    text += kLineEnd;
    text += "Notes:";
    text += kLineEnd;
    for (const std::string& note : BacktestNotes(report, options))
        text += Wrapped(note);
    return text;
}

std::string BacktestReportCsv(const BacktestReport& report) {
    std::string csv =
        "horizon,subsample,group,line,signals,days,returns,missing,hit_pct,mean_pct,"
        "median_pct,q10_pct,q25_pct,q75_pct,q90_pct,mean_excess_pct,excess_days,approximate\n";
    for (const HorizonResult& h : report.Horizons) {
        for (int sample = 0; sample < 2; ++sample) {
            const auto& groups = sample == 0 ? h.Every : h.NonOverlapping;
            const char* name = sample == 0 ? "every" : "non-overlapping";
            for (std::size_t g = 0; g < kBacktestGroups; ++g) {
                const GroupResult& r = groups[g];
                ReturnStats universe = r.Universe;  // no figures without a pick's return
                if (r.Picks.Count == 0) universe.Count = 0;
                const std::string head =
                    std::to_string(h.Horizon) + "," + name + "," + kBacktestGroupNames[g] + ",";
                csv += head + "picks," + std::to_string(r.Signals) + "," + std::to_string(r.Days) +
                       "," + std::to_string(r.Picks.Count) + "," + std::to_string(r.Missing) + "," +
                       CsvStats(r.Picks) + "," + (r.ExcessDays > 0 ? CsvNumber(r.MeanExcess) : "") +
                       "," + std::to_string(r.ExcessDays) + "," +
                       (r.Picks.Approximate ? "1" : "0") + "\n";
                csv += head + "universe," + std::to_string(r.UniverseSignals) + "," +
                       std::to_string(r.Days) + "," + std::to_string(r.Universe.Count) + "," +
                       std::to_string(r.UniverseMissing) + "," + CsvStats(universe) + ",,," +
                       (r.Universe.Approximate ? "1" : "0") + "\n";
            }
        }
    }
    return csv;
}

std::string BacktestSignalsHeader(const std::vector<int>& horizons) {
    std::string header = "date,symbol,verdict,rule,entry";
    for (int h : horizons)
        header += ",return_" + std::to_string(h) + "d_pct";
    for (int h : horizons)
        header += ",return_" + std::to_string(h) + "d_pct_down_turned";
    return header + "\n";
}

std::string BacktestSignalLine(const BacktestSignal& signal) {
    std::string line = HistoryDayText(signal.Day) + "," + signal.Symbol + "," +
                       VerdictName(signal.Verdict) + "," + signal.Rule + "," +
                       CsvNumber(signal.Entry);
    for (const std::optional<double>& r : signal.Returns)
        line += "," + (r ? CsvNumber(*r) : std::string());
    // As the report counts them: a DOWN pick's with its sign turned.
    const double sign = signal.Verdict == Verdict::SavedDown ? -1 : 1;
    for (const std::optional<double>& r : signal.Returns)
        line += "," + (r ? CsvNumber(*r * sign + 0.0) : std::string());
    return line + "\n";
}

}  // namespace quillon
