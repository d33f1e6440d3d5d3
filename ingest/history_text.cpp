#include "ingest/history_text.h"

#include <algorithm>

#include "history/history_series.h"
#include "ingest/day_recorder.h"
#include "platform/number_format.h"

namespace quillon::historytool {

namespace {

// Prices with up to four decimals, trailing zeros dropped: a price held in
// 32 bits (101.3 as 101.30000305) prints as it was quoted.
std::string Price(double value) {
    std::string text = FormatArgs("%.4f", value);
    while (text.back() == '0')
        text.pop_back();
    if (text.back() == '.') text.pop_back();
    return text == "-0" ? "0" : text;
}

std::string Fixed(const std::optional<double>& value, int decimals) {
    return value ? FormatArgs("%.*f", decimals, *value) : std::string();
}

// A CSV field: quoted when it holds a comma, a quote or a line end.
std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

// A ZOR total of 0 or less is the report's "n/a": no option was solved.
std::optional<double> Zor(const std::optional<double>& total) {
    return total && *total > 0 ? total : std::nullopt;
}

std::string OrDash(const std::string& text) {
    return text.empty() ? "-" : text;
}

}  // namespace

std::vector<SeriesPoint> SeriesOf(const std::vector<HistoryRow>& rows, int window) {
    // The chart's series, which works out the same figures a day at a time.
    const ChartSeries chart = ChartSeriesOf(rows, window);
    std::vector<SeriesPoint> series;
    series.reserve(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        series.push_back(SeriesPoint{
            .row = rows[i], .standing = chart.Points[i].Standing, .hv20 = chart.Points[i].Hv20});
    }
    return series;
}

std::string ShowText(const std::string& symbol, const std::vector<SeriesPoint>& series) {
    std::string text;
    if (series.empty()) return symbol + ": no day recorded\n";
    text +=
        FormatArgs("%s: %zu days recorded, %s to %s; IV rank and IV percentile over 52 weeks\n",
                   symbol.c_str(), series.size(), HistoryDayText(series.front().row.Day).c_str(),
                   HistoryDayText(series.back().row.Day).c_str());
    text += FormatArgs("%-10s  %10s  %6s  %-14s  %-14s  %6s  %9s  %9s  %s\n", "date", "last",
                       "IV30", "IV rank 52w", "IV pct 52w", "HV20", "ZORC", "ZORP", "verdict");
    for (const SeriesPoint& p : series) {
        const HistoryRow& r = p.row;
        text += FormatArgs("%-10s  %10s  %6s  %-14s  %-14s  %6s  %9s  %9s  %s\n",
                           HistoryDayText(r.Day).c_str(), r.Last ? Price(*r.Last).c_str() : "-",
                           OrDash(Fixed(r.Iv30, 2)).c_str(),
                           StandingText(p.standing.Rank, p.standing.Days).c_str(),
                           StandingText(p.standing.Percentile, p.standing.Days).c_str(),
                           OrDash(Fixed(p.hv20, 2)).c_str(), OrDash(Fixed(Zor(r.Zorc), 0)).c_str(),
                           OrDash(Fixed(Zor(r.Zorp), 0)).c_str(),
                           (std::string(VerdictText(r.Verdict)) +
                            (r.FailedTest.empty() ? "" : " (" + r.FailedTest + ")"))
                               .c_str());
    }
    return text;
}

std::string ExportHeader() {
    return "date,symbol,last,iv30,iv30_call,iv30_put,iv_rank_52w,iv_percentile_52w,hv20,zorc,"
           "zorp,verdict,history_days,days_to_near,days_to_next,failed_test\n";
}

std::string ExportLine(const SeriesPoint& p) {
    const HistoryRow& r = p.row;
    auto whole = [](const std::optional<int>& value) {
        return value ? std::to_string(*value) : std::string();
    };
    return HistoryDayText(r.Day) + "," + CsvField(r.Symbol) + "," + (r.Last ? Price(*r.Last) : "") +
           "," + Fixed(r.Iv30, 2) + "," + Fixed(r.Iv30Call, 2) + "," + Fixed(r.Iv30Put, 2) + "," +
           Fixed(p.standing.Rank, 1) + "," + Fixed(p.standing.Percentile, 1) + "," +
           Fixed(p.hv20, 2) + "," + Fixed(Zor(r.Zorc), 0) + "," + Fixed(Zor(r.Zorp), 0) + "," +
           CsvField(std::string(VerdictText(r.Verdict))) + "," + std::to_string(p.standing.Days) +
           "," + whole(r.DaysToNear) + "," + whole(r.DaysToNext) + "," + CsvField(r.FailedTest) +
           "\n";
}

void SortByRank(std::vector<RankEntry>& entries) {
    std::stable_sort(entries.begin(), entries.end(), [](const RankEntry& a, const RankEntry& b) {
        const auto& x = a.standing.Rank;
        const auto& y = b.standing.Rank;
        if (x.has_value() != y.has_value()) return x.has_value();
        if (x && *x != *y) return *x > *y;
        return a.symbol < b.symbol;
    });
}

std::string RankText(HistoryDay day, const std::vector<RankEntry>& entries) {
    std::string text = FormatArgs("%s: %zu symbols by IV rank over 52 weeks\n",
                                  HistoryDayText(day).c_str(), entries.size());
    text += FormatArgs("%-8s  %-14s  %-14s  %6s\n", "symbol", "IV rank 52w", "IV pct 52w", "IV30");
    for (const RankEntry& e : entries) {
        text += FormatArgs("%-8s  %-14s  %-14s  %6s\n", e.symbol.c_str(),
                           StandingText(e.standing.Rank, e.standing.Days).c_str(),
                           StandingText(e.standing.Percentile, e.standing.Days).c_str(),
                           OrDash(Fixed(e.iv30, 2)).c_str());
    }
    return text;
}

}  // namespace quillon::historytool
