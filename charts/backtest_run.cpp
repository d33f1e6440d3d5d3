#include "charts/backtest_run.h"

#include <cstdio>
#include <cstring>

#include "charts/backtest_chart.h"
#include "history/backtest.h"
#include "history/backtest_report.h"
#include "history/history_store.h"
#include "platform/exit_status.h"
#include "platform/files.h"
#include "platform/number_format.h"
#include "platform/progress_line.h"
#include "results/settings.h"
#include "results/shell_rules.h"

namespace quillon {
namespace {

int Fail(int status, const std::string& problem) {
    std::fprintf(stderr, "quillon-backtest: %s\n", problem.c_str());
    return status;
}

}  // namespace

std::optional<std::string> LoadBacktestFilters(const BacktestCommand& command, Settings& settings,
                                               std::string& problem) {
    SetDefaultSettings(settings);
    std::string name = "the default filters";
    if (!command.settingsFile.empty()) {
        const std::optional<std::string> text = ReadWholeFile(command.settingsFile);
        if (!text || !LoadSettingsText(settings, *text)) {
            problem = "--settings: " + command.settingsFile + " cannot be read as a settings file";
            return std::nullopt;
        }
        name = "settings file " + command.settingsFile;
    } else if (!command.filterTemplate) {
        const WorkingFileNames files = WorkingFileNames::In(command.dir);
        if (FileExists(files.SettingsFile)) {
            const std::optional<std::string> text = ReadWholeFile(files.SettingsFile);
            if (!text || !LoadSettingsText(settings, *text)) {
                problem = files.SettingsFile + " cannot be read as a settings file";
                return std::nullopt;
            }
            name = "settings file " + files.SettingsFile;
        }
    }
    if (command.filterTemplate) {
        const auto which = static_cast<std::size_t>(*command.filterTemplate);
        ApplyFilterTemplate(settings.Filters, *command.filterTemplate);
        ClearHistoryFilters(settings.History);
        name =
            std::string(kFilterTemplateNames[which]) + " (template " + std::to_string(which) + ")";
    }
    for (const auto& [filter, value] : command.filters)
        *FilterNamed(settings, filter) = ParseFilterValue(value);  // names checked when read
    if (!command.filters.empty()) name += " changed by --filter";
    return name;
}

int RunBacktestCommand(const BacktestCommand& command, const Settings& settings,
                       const std::string& filtersName) {
    const std::string database = command.dir + "/History.db";
    if (!FileExists(database)) {
        return Fail(kBacktestNoHistory, "no history in " + command.dir + ": " + database +
                                            " does not exist (a scan records it)");
    }
    HistoryStore store;
    if (!store.OpenForReading(database)) return Fail(kExitFailed, database + ": " + store.Error());

    BacktestOptions options;
    options.Filters = settings.Filters.Values;
    options.History = settings.History;
    options.From = command.from;
    options.To = command.to;
    options.Horizons = command.horizons;
    ProgressLine progress("quillon-backtest", command.quiet);
    if (progress.On()) {
        options.Progress = [&progress](int done, int total) {
            if (done % 20 == 0 || done == total)
                progress.Show(FormatArgs("%d of %d days read", done, total));
        };
    }
    // Every signal streamed to a file that replaces --signals once whole.
    std::optional<FileReplacement> signals;
    if (!command.signals.empty()) {
        signals.emplace(command.signals);
        if (!signals->Write(BacktestSignalsHeader(command.horizons))) {
            return Fail(kExitFailed,
                        "cannot write " + command.signals + ": " + std::strerror(signals->Error()));
        }
        options.Signal = [&signals](const BacktestSignal& s) {
            signals->Write(BacktestSignalLine(s));
        };
    }

    BacktestReport report;
    std::string error;
    const bool ran = RunBacktest(store, options, report, error);
    progress.End();
    if (!ran) return Fail(kExitFailed, error);
    if (report.Days.empty()) {
        const std::string range = (command.from > 0 ? HistoryDayText(command.from) : "the start") +
                                  " to " +
                                  (command.to < 99991231 ? HistoryDayText(command.to) : "the end");
        return Fail(kBacktestEmptyRange, "no recorded date from " + range + " in " + database);
    }
    if (signals && !signals->Commit()) {
        return Fail(kExitFailed,
                    "cannot write " + command.signals + ": " + std::strerror(signals->Error()));
    }
    const std::string text = BacktestReportText(report, options, filtersName);
    if (!command.csv.empty() &&
        !ReplaceFileAtomically(command.csv, BacktestReportCsv(report), false)) {
        return Fail(kExitFailed, "cannot write " + command.csv);
    }
    if (!command.chart.empty() && !WriteBacktestChart(command.chart, report, error)) {
        return Fail(kExitFailed, error);
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    if (!report.PartialDays.empty())
        std::fprintf(stderr, "quillon-backtest: %s\n", BacktestPartialNote(report).c_str());
    return std::fflush(stdout) == 0 ? kExitDone : kExitFailed;
}

}  // namespace quillon
