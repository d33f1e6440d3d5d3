#pragma once
// The back-test's report: fixed-width text with CR LF line ends like the
// program's other reports, the same figures as CSV, and the CSV of every
// signal.

#include <string>
#include <vector>

#include "history/backtest.h"

namespace quillon {

// The filters in use, as "MinOptInt 250, MinCallPutRatio 8", the IV filters
// with their window; "none" when no filter is in use.
std::string FiltersInUseText(const FilterValues& filters, const HistorySettings& history);

// The report's notes: how each figure is worked out, and what the history
// read may hold that the filters could not have known on the day.
std::vector<std::string> BacktestNotes(const BacktestReport& report,
                                       const BacktestOptions& options);

// The report's note of its partial days (BacktestReport::PartialDays);
// empty when it has none.
std::string BacktestPartialNote(const BacktestReport& report);

// The whole text report. `filtersName` says where the filters came from
// ("Default Setting (template 0)", "settings file Quillon.---").
std::string BacktestReportText(const BacktestReport& report, const BacktestOptions& options,
                               const std::string& filtersName);

// The report's lines as CSV with a header row: one row per horizon,
// subsample, group and line (the picks, then the universe of the same days).
std::string BacktestReportCsv(const BacktestReport& report);

// The CSV of every signal: date, symbol, verdict, rule, entry, the return of
// each horizon in percent as the price moved (return_5d_pct), then each as
// the report counts it, a DOWN pick's with its sign turned
// (return_5d_pct_down_turned); empty when missing.
std::string BacktestSignalsHeader(const std::vector<int>& horizons);
std::string BacktestSignalLine(const BacktestSignal& signal);

}  // namespace quillon
