// quillon-backtest: judges every recorded day of a working directory's
// History.db by a set of filters, as the scan would have judged it, and
// reports what the stocks it would have saved did next.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "analytics/filters.h"
#include "apps/usage_error.h"
#include "charts/backtest_chart.h"
#include "history/backtest.h"
#include "history/backtest_report.h"
#include "history/history_store.h"
#include "platform/files.h"
#include "platform/number_read.h"
#include "results/archive_date.h"
#include "results/settings.h"
#include "results/shell_rules.h"

namespace {

using namespace quillon;

// Up to the list of the templates.
const char* kUsageStart =
    "Usage: quillon-backtest [OPTION]...\n"
    "\n"
    "Back-tests a set of filters over the pass history History.db of a working\n"
    "directory: every recorded date is judged as a scan judges a stock, by the\n"
    "AND group, the IV rank and IV percentile limits and the OR group of the\n"
    "ZOR ratios, on that date's row alone (IV rank and IV percentile from the\n"
    "IV30 of earlier recorded dates and the date's own), and each stock saved\n"
    "(a pick) is followed by its recorded last sale over each horizon, counted\n"
    "in recorded trading days. The universe of a date is every symbol recorded\n"
    "that date. A pick without a forward price is counted missing.\n"
    "\n"
    "The report goes to standard output: per horizon, the picks' signals,\n"
    "distinct days, hit rate, mean, median and 10/25/75/90 % quantiles of their\n"
    "returns beside those of the universe of the same days, the mean excess\n"
    "over the universe (the picks' mean less the universe's), UP and DOWN picks\n"
    "apart (DOWN with its sign turned) and the missing forward prices; then the\n"
    "same for the non-overlapping signals, and notes on how each figure is\n"
    "worked out.\n"
    "\n"
    "The filters are those of the working directory's settings file Quillon.---\n"
    "(the default filters without one), of --settings FILE, or of a template.\n"
    "\n"
    "  --template N|NAME  the filters of a template, by its number or its name\n"
    "                     in any case (see below); after --settings, the\n"
    "                     template's filters replace the file's\n"
    "  --settings FILE    the filters of the settings file FILE\n"
    "  --filter NAME=VALUE\n"
    "                     set one filter after those, by its name as the report\n"
    "                     gives it (MinLast, MaxPE, MinOptInt, MinCallPutRatio,\n"
    "                     MinIvRank, ...) to a number, or to NA to switch it\n"
    "                     off; repeatable\n"
    "  --from DATE        the first date judged, YYYY-MM-DD (default: the first\n"
    "                     recorded)\n"
    "  --to DATE          the last date judged, YYYY-MM-DD (default: the last\n"
    "                     recorded); forward prices are read after it\n"
    "  --horizons LIST    the horizons in recorded trading days, from 1 to 1000,\n"
    "                     comma-separated (default 1,5,10,20)\n"
    "  --workdir DIR      the working directory whose History.db is read\n"
    "                     (default: the current one)\n"
    "  --csv FILE         also write the report's figures as CSV to FILE\n"
    "  --signals FILE     write every signal as CSV to FILE: date, symbol,\n"
    "                     verdict, rule, entry, the return of each horizon and\n"
    "                     that return as the report counts it (DOWN turned)\n"
    "  --chart FILE       draw per horizon N the cumulative excess over the\n"
    "                     universe of an entry every N trading days as a PNG\n"
    "                     chart in FILE\n"
    "  --quiet            no progress on standard error\n"
    "  --help             show this text\n"
    "  --version          show the program's name and version\n"
    "\n"
    "Filter templates:\n";
// After the list of the templates.
const char* kUsageEnd =
    "\n"
    "Exit status:\n"
    "  0   the report is written\n"
    "  1   History.db cannot be read, or a file asked for cannot be written\n"
    "  2   the working directory has no History.db\n"
    "  3   no recorded date lies in the range asked for\n"
    "  64  wrong usage: an unknown option, template or filter, a filter value\n"
    "      that is not a number or NA, a date that is not a real YYYY-MM-DD,\n"
    "      --from after --to, horizons that are not\n"
    "      whole numbers from 1 to 1000, or a settings file that cannot be read\n";

// The --help text.
std::string UsageText() {
    return kUsageStart + FilterTemplateList() + kUsageEnd;
}

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kNoHistory = 2;
constexpr int kEmptyRange = 3;
constexpr int kUsageError = 64;
constexpr int kMaxHorizon = 1000;

int Usage(const std::string& problem) {
    PrintUsageError("quillon-backtest", problem, kUsageStart);
    return kUsageError;
}

int Fail(int status, const std::string& problem) {
    std::fprintf(stderr, "quillon-backtest: %s\n", problem.c_str());
    return status;
}

std::optional<HistoryDay> DayOfText(const std::string& text) {
    if (text.size() != 10) return std::nullopt;
    const std::optional<DateTime> date = ParseArchiveDate(text);
    if (!date) return std::nullopt;
    return date->Year * 10000 + date->Month * 100 + date->Day;
}

// "1,5,10,20": ascending whole numbers from 1 to kMaxHorizon, each once.
std::optional<std::vector<int>> HorizonsOf(const std::string& text) {
    std::vector<int> horizons;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(',', start);
        if (end == std::string::npos) end = text.size();
        const std::string item = text.substr(start, end - start);
        if (item.empty() || item.size() > 4 ||
            item.find_first_not_of("0123456789") != std::string::npos) {
            return std::nullopt;
        }
        const int h = std::stoi(item);
        if (h < 1 || h > kMaxHorizon) return std::nullopt;
        horizons.push_back(h);
        start = end + 1;
    }
    std::sort(horizons.begin(), horizons.end());
    if (std::adjacent_find(horizons.begin(), horizons.end()) != horizons.end()) return std::nullopt;
    return horizons;
}

struct Command {
    std::string dir = ".";
    std::optional<FilterTemplate> filterTemplate;
    std::string settingsFile;
    std::vector<std::pair<std::string, std::string>> filters;  // --filter NAME=VALUE, in order
    HistoryDay from = 0;
    HistoryDay to = 99991231;
    std::vector<int> horizons = {1, 5, 10, 20};
    std::string csv, signals, chart;
    bool quiet = false;
};

// Whether the two texts are the same but for the case of their letters.
bool SameLetters(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// The filter named as the report names it ("MinLast", "MaxPE", "MinIvRank"),
// in any case; nullptr for an unknown name.
FilterValue* FilterNamed(Settings& settings, std::string_view name) {
    const auto same = [name](std::string_view other) { return SameLetters(other, name); };
    for (std::size_t i = 0; i < kFilterCount; ++i) {
        if (same(std::string_view(kFilterNames[i]).substr(3))) return &settings.Filters.Values[i];
    }
    HistorySettings& h = settings.History;
    const std::pair<const char*, FilterValue*> history[] = {
        {"MinIvRank", &h.MinIvRank},
        {"MaxIvRank", &h.MaxIvRank},
        {"MinIvPercentile", &h.MinIvPercentile},
        {"MaxIvPercentile", &h.MaxIvPercentile}};
    for (const auto& [known, value] : history) {
        if (same(known)) return value;
    }
    return nullptr;
}

// The filters and where they came from, or the usage error.
std::optional<std::string> LoadFilters(const Command& command, Settings& settings,
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

int Run(const Command& command) {
    Settings settings;
    std::string problem;
    const std::optional<std::string> filtersName = LoadFilters(command, settings, problem);
    if (!filtersName) return Usage(problem);

    const std::string database = command.dir + "/History.db";
    if (!FileExists(database)) {
        return Fail(kNoHistory, "no history in " + command.dir + ": " + database +
                                    " does not exist (a scan records it)");
    }
    HistoryStore store;
    if (!store.OpenForReading(database)) return Fail(kFailed, database + ": " + store.Error());

    BacktestOptions options;
    options.Filters = settings.Filters.Values;
    options.History = settings.History;
    options.From = command.from;
    options.To = command.to;
    options.Horizons = command.horizons;
    const bool progress = !command.quiet && isatty(STDERR_FILENO) == 1;
    if (progress) {
        options.Progress = [](int done, int total) {
            if (done % 20 == 0 || done == total) {
                std::fprintf(stderr, "\rquillon-backtest: %d of %d days read", done, total);
            }
        };
    }
    // Every signal streamed to a file that replaces --signals once whole.
    std::optional<FileReplacement> signals;
    if (!command.signals.empty()) {
        signals.emplace(command.signals);
        if (!signals->Write(BacktestSignalsHeader(command.horizons))) {
            return Fail(kFailed,
                        "cannot write " + command.signals + ": " + std::strerror(signals->Error()));
        }
        options.Signal = [&signals](const BacktestSignal& s) {
            signals->Write(BacktestSignalLine(s));
        };
    }

    BacktestReport report;
    std::string error;
    const bool ran = RunBacktest(store, options, report, error);
    if (progress) std::fprintf(stderr, "\n");
    if (!ran) return Fail(kFailed, error);
    if (report.Days.empty()) {
        const std::string range = (command.from > 0 ? BacktestDayText(command.from) : "the start") +
                                  " to " +
                                  (command.to < 99991231 ? BacktestDayText(command.to) : "the end");
        return Fail(kEmptyRange, "no recorded date from " + range + " in " + database);
    }
    if (signals && !signals->Commit()) {
        return Fail(kFailed,
                    "cannot write " + command.signals + ": " + std::strerror(signals->Error()));
    }
    const std::string text = BacktestReportText(report, options, *filtersName);
    if (!command.csv.empty() &&
        !ReplaceFileAtomically(command.csv, BacktestReportCsv(report), false)) {
        return Fail(kFailed, "cannot write " + command.csv);
    }
    if (!command.chart.empty() && !WriteBacktestChart(command.chart, report, error)) {
        return Fail(kFailed, error);
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    if (!report.PartialDays.empty())
        std::fprintf(stderr, "quillon-backtest: %s\n", BacktestPartialNote(report).c_str());
    return std::fflush(stdout) == 0 ? kDone : kFailed;
}

}  // namespace

int main(int argc, char** argv) {
    Command command;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--help") {
            std::fputs(UsageText().c_str(), stdout);
            return kDone;
        }
        if (arg == "--version") {
            std::printf("quillon-backtest %s\n", QUILLON_VERSION);
            return kDone;
        }
        if (arg == "--quiet") {
            command.quiet = true;
            continue;
        }
        if (!hasValue) return Usage("unknown option or missing value: '" + arg + "'");
        const std::string value = argv[++i];
        if (arg == "--template") {
            command.filterTemplate = FindFilterTemplate(value);
            if (!command.filterTemplate) {
                return Usage(
                    "--template takes a number from 0 to 4 or the name of a template "
                    "(see --help), not '" +
                    value + "'");
            }
        } else if (arg == "--settings") {
            command.settingsFile = value;
        } else if (arg == "--filter") {
            const std::size_t equals = value.find('=');
            Settings probe;
            if (equals == std::string::npos ||
                FilterNamed(probe, std::string_view(value).substr(0, equals)) == nullptr) {
                return Usage(
                    "--filter takes NAME=VALUE, NAME a filter as the report names it (MinLast, "
                    "MaxPE, MinIvRank, ...), not '" +
                    value + "'");
            }
            // A value is a number or NA (the filter off); anything else,
            // an empty value too, is refused rather than read as NA.
            const std::string filterValue = value.substr(equals + 1);
            if (!ParseDecimalNumber(filterValue) && !SameLetters(filterValue, "NA")) {
                return Usage("--filter " + value.substr(0, equals) +
                             " takes a number, or NA for no filter, not '" + filterValue + "'");
            }
            command.filters.emplace_back(value.substr(0, equals), filterValue);
        } else if (arg == "--from" || arg == "--to") {
            const std::optional<HistoryDay> day = DayOfText(value);
            if (!day) return Usage(arg + " takes a real date as YYYY-MM-DD, not '" + value + "'");
            (arg == "--from" ? command.from : command.to) = *day;
        } else if (arg == "--horizons") {
            const std::optional<std::vector<int>> horizons = HorizonsOf(value);
            if (!horizons) {
                return Usage(
                    "--horizons takes whole numbers from 1 to 1000, each once, separated "
                    "by commas (1,5,10,20), not '" +
                    value + "'");
            }
            command.horizons = *horizons;
        } else if (arg == "--workdir") {
            command.dir = value;
        } else if (arg == "--csv") {
            command.csv = value;
        } else if (arg == "--signals") {
            command.signals = value;
        } else if (arg == "--chart") {
            command.chart = value;
        } else {
            return Usage("unknown option '" + arg + "'");
        }
    }
    if (command.from > command.to) {
        return Usage("--from " + BacktestDayText(command.from) + " lies after --to " +
                     BacktestDayText(command.to));
    }
    return Run(command);
}
