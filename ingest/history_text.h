#pragma once
// The history as text: a symbol's series with the figures worked out of its
// past (IV rank and IV percentile over 52 weeks, HV20), as a table for the
// terminal, as CSV for other tools, and the symbols of a day by IV rank.

#include <optional>
#include <string>
#include <vector>

#include "analytics/iv_history.h"
#include "history/history_row.h"

namespace quillon::historytool {

// Recorded days in a window of 52 weeks.
inline constexpr int kYearWindow = 252;

// One recorded day of a symbol with what its past makes of it.
struct SeriesPoint {
    HistoryRow row;
    // IV30 against the days of the window that have one, this day's last;
    // with no IV30 this day, nothing, and Days the window's days before it.
    IvStanding standing;
    std::optional<double> hv20;  // from the last sales of the days recorded with one
};

// The series of one symbol's rows, oldest first.
std::vector<SeriesPoint> SeriesOf(const std::vector<HistoryRow>& rows, int window = kYearWindow);

// The series as the terminal shows it: a title, a header line, a line a day.
std::string ShowText(const std::string& symbol, const std::vector<SeriesPoint>& series);

// The CSV header row and one row of a day, each ended by a line feed:
// volatilities in volatility points, every figure empty where there is none.
std::string ExportHeader();
std::string ExportLine(const SeriesPoint& point);

// A symbol of a day with where its IV30 stands.
struct RankEntry {
    std::string symbol;
    std::optional<double> iv30;
    IvStanding standing;
};

// The entries of a day by IV rank, highest first; those without a rank
// after them, by symbol.
void SortByRank(std::vector<RankEntry>& entries);
std::string RankText(HistoryDay day, const std::vector<RankEntry>& entries);

}  // namespace quillon::historytool
