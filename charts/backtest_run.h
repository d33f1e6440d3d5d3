#pragma once
// The back-test of a working directory's pass history as quillon-backtest
// runs it: the filters taken from a settings file, a template or --filter,
// the report on standard output, and the CSV, the signals and the chart
// written beside it when asked for. Failures are said on standard error.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "analytics/filters.h"
#include "history/history_row.h"
#include "results/settings.h"

namespace quillon {

struct BacktestCommand {
    std::string dir = ".";
    std::optional<FilterTemplate> filterTemplate;
    std::string settingsFile;
    std::vector<std::pair<std::string, std::string>> filters;  // --filter NAME=VALUE, in order
    HistoryDay from = 0;
    HistoryDay to = 99991231;
    std::vector<int> horizons = {1, 5, 10, 20};
    std::string csv, signals, chart;
    bool quiet = false;  // no progress line
};

// The exit statuses besides 0 (the report is written), 1 (History.db cannot
// be read, or a file asked for cannot be written) and 64 (the filters cannot
// be read).
inline constexpr int kBacktestNoHistory = 2;
inline constexpr int kBacktestEmptyRange = 3;

// The filters `command` asks for in `settings`: a settings file's (--settings,
// or the working directory's), a template's, or the defaults, changed by
// --filter. Their name for the report, or nothing with `problem` set.
std::optional<std::string> LoadBacktestFilters(const BacktestCommand& command, Settings& settings,
                                               std::string& problem);

// Runs the back-test of `command` with the filters of `settings`; its exit
// status.
int RunBacktestCommand(const BacktestCommand& command, const Settings& settings,
                       const std::string& filtersName);

}  // namespace quillon
