// quillon-backtest: judges every recorded day of a working directory's
// History.db by a set of filters, as the scan would have judged it, and
// reports what the stocks it would have saved did next.

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analytics/filters.h"
#include "apps/command_line.h"
#include "charts/backtest_run.h"
#include "history/backtest_report.h"
#include "platform/number_read.h"
#include "platform/text.h"
#include "results/archive_date.h"
#include "results/settings.h"
#include "results/shell_rules.h"

namespace {

using namespace quillon;

// Up to the --help and --version lines.
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
    "  --user-workdir     the desktop program's per-user directory,\n"
    "                     $XDG_DATA_HOME/quillon (~/.local/share/quillon by\n"
    "                     default)\n"
    "  --csv FILE         also write the report's figures as CSV to FILE\n"
    "  --signals FILE     write every signal as CSV to FILE: date, symbol,\n"
    "                     verdict, rule, entry, the return of each horizon and\n"
    "                     that return as the report counts it (DOWN turned)\n"
    "  --chart FILE       draw per horizon N the cumulative excess over the\n"
    "                     universe of an entry every N trading days as a PNG\n"
    "                     chart in FILE\n"
    "  --quiet            no progress on standard error\n";
// After the --help and --version lines.
const char* kUsageMiddle =
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
    return kUsageStart + HelpAndVersionLines(21) + kUsageMiddle + FilterTemplateList() + kUsageEnd;
}

constexpr int kMaxHorizon = 1000;

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

// Takes the value of the current option into `command`: the exit status of
// a bad one (said), or nothing.
std::optional<int> TakeValue(CommandLine& line, BacktestCommand& command) {
    const std::optional<std::string> given = line.Value();
    if (!given) return line.MissingValue();
    const std::string& value = *given;
    if (line.Is("--template")) {
        command.filterTemplate = FindFilterTemplate(value);
        if (!command.filterTemplate) return line.Usage(NoSuchTemplateText(value));
    } else if (line.Is("--filter")) {
        const std::size_t equals = value.find('=');
        Settings probe;
        if (equals == std::string::npos ||
            FilterNamed(probe, std::string_view(value).substr(0, equals)) == nullptr) {
            return line.Usage(
                "--filter takes NAME=VALUE, NAME a filter as the report names it (MinLast, "
                "MaxPE, MinIvRank, ...), not '" +
                value + "'");
        }
        // A value is a number or NA (the filter off); anything else, an
        // empty value too, is refused rather than read as NA.
        const std::string filterValue = value.substr(equals + 1);
        if (!ParseDecimalNumber(filterValue) && !SameLetters(filterValue, "NA")) {
            return line.Usage("--filter " + value.substr(0, equals) +
                              " takes a number, or NA for no filter, not '" + filterValue + "'");
        }
        command.filters.emplace_back(value.substr(0, equals), filterValue);
    } else if (line.Is("--from") || line.Is("--to")) {
        const std::optional<CivilDay> day = DateArgument(value);
        if (!day) {
            return line.Usage(std::string(line.Arg()) + " takes a real date as YYYY-MM-DD, not '" +
                              value + "'");
        }
        (line.Is("--from") ? command.from : command.to) = day->Number();
    } else if (line.Is("--horizons")) {
        const std::optional<std::vector<int>> horizons = HorizonsOf(value);
        if (!horizons) {
            return line.Usage(
                "--horizons takes whole numbers from 1 to 1000, each once, separated by "
                "commas (1,5,10,20), not '" +
                value + "'");
        }
        command.horizons = *horizons;
    } else {
        (line.Is("--settings")  ? command.settingsFile
         : line.Is("--csv")     ? command.csv
         : line.Is("--signals") ? command.signals
                                : command.chart) = value;
    }
    return std::nullopt;
}

bool TakesValue(const CommandLine& line) {
    for (const char* option : {"--template", "--settings", "--filter", "--from", "--to",
                               "--horizons", "--csv", "--signals", "--chart"}) {
        if (line.Is(option)) return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    CommandLine line("quillon-backtest", argc, argv, UsageText());
    line.TakeWorkdir();
    BacktestCommand command;
    while (line.Next()) {
        if (line.Is("--quiet")) {
            command.quiet = true;
        } else if (TakesValue(line)) {
            if (const std::optional<int> status = TakeValue(line, command)) return *status;
        } else {
            return line.Usage("unknown option '" + std::string(line.Arg()) + "'");
        }
    }
    if (const std::optional<int> status = line.End()) return *status;
    if (!line.Workdir().empty()) command.dir = line.Workdir();
    if (command.from > command.to) {
        return line.Usage("--from " + HistoryDayText(command.from) + " lies after --to " +
                          HistoryDayText(command.to));
    }
    Settings settings;
    std::string problem;
    const std::optional<std::string> filtersName = LoadBacktestFilters(command, settings, problem);
    if (!filtersName) return line.Usage(problem);
    return RunBacktestCommand(command, settings, *filtersName);
}
