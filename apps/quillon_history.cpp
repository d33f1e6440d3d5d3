// quillon-history: builds the pass history of a working directory from the
// past (CSV exports of many days, quote archives with their recorded date)
// and prints it: a symbol's series, CSV for other tools, the symbols of the
// last day by IV rank.

#include <optional>
#include <string>

#include "apps/command_line.h"
#include "ingest/history_commands.h"
#include "ingest/import_rows.h"

namespace {

using namespace quillon;
using namespace quillon::historytool;

// Up to the --help and --version lines.
const char* kUsageStart =
    "Usage: quillon-history [OPTION]... add FILE...\n"
    "  or:  quillon-history [OPTION]... add --archive DIR...\n"
    "  or:  quillon-history [OPTION]... show SYMBOL\n"
    "  or:  quillon-history [OPTION]... export [--out FILE] [SYMBOL]...\n"
    "  or:  quillon-history [OPTION]... rank\n"
    "\n"
    "Keeps the pass history of a working directory, History.db, where every\n"
    "scan pass records each stock's quote figures, option totals, ZORC, ZORP,\n"
    "IV30 and verdict under the date its quotes are of.\n"
    "\n"
    "add FILE... records days of the past: the stock-quote and option-chain\n"
    "CSV files quillon-import reads, each holding one quote date or many, in\n"
    "any order. Every date becomes a pass of that date (source \"import\"),\n"
    "its stocks judged by the working directory's filters as a scan would\n"
    "judge them; a day recorded again replaces its rows. Rows without a quote\n"
    "date are of --date, of the one date the other files hold, or of today.\n"
    "No quote archive is written.\n"
    "\n"
    "add --archive DIR... records quote archives (DIR/Quote.txt) under the\n"
    "date recorded beside them in DIR/QuoteDate.txt.\n"
    "\n"
    "show SYMBOL prints the symbol's series: date, last sale, IV30, IV rank\n"
    "and IV percentile over 52 weeks, HV20, ZORC, ZORP and the verdict.\n"
    "export writes the series of the symbols named (all when none) as CSV\n"
    "with a header row. rank lists the symbols of the last recorded date by\n"
    "IV rank over 52 weeks, highest first. Each reads the history as of one\n"
    "moment, and names on standard error the days it printed that no pass has\n"
    "ended whole (a scan may still be writing them). History.db is only read:\n"
    "a read-only file or directory will do.\n"
    "\n"
    "IV30 is the 30-day at-the-money implied volatility; IV rank is\n"
    "100*(IV30-min)/(max-min) and IV percentile the share of days with a\n"
    "lower IV30, over the last 252 recorded days with an IV30 (today's\n"
    "included); both are n/a with fewer than 20 such days. HV20 is the\n"
    "annualized volatility of the last 20 daily returns of the last sale.\n"
    "Volatilities are in points: 31.5 is 31.5 %.\n"
    "\n"
    "  --workdir DIR   the working directory whose History.db is used, made\n"
    "                  when missing by add (default: the current one)\n"
    "  --user-workdir  the desktop program's per-user directory,\n"
    "                  $XDG_DATA_HOME/quillon (~/.local/share/quillon by\n"
    "                  default)\n"
    "  --date DATE     add: the day of rows without a quote date, YYYY-MM-DD;\n"
    "                  rows of other days are left out\n"
    "  --symbol SYM    add: the stock of the files named after it that do not\n"
    "                  name their underlying\n"
    "  --verbose       add: tell each skipped or left-out row\n"
    "  --out FILE      export: write to FILE instead of standard output\n";
// After the --help and --version lines.
const char* kUsageEnd =
    "\n"
    "Exit status:\n"
    "  0   done\n"
    "  1   nothing read or recorded (a file refused or unreadable, no stock,\n"
    "      an archive without its date), no history of the symbol, or\n"
    "      History.db cannot be opened, read or written\n"
    "  64  wrong usage\n";

std::string UsageText() {
    return kUsageStart + HelpAndVersionLines(18) + kUsageEnd;
}

// Takes the value of --out, --date or --symbol: the exit status of a bad
// one (said), or nothing.
std::optional<int> TakeValue(CommandLine& line, Command& command, std::string& symbol) {
    const std::optional<std::string> given = line.Value();
    if (!given) return line.MissingValue();
    const std::string& value = *given;
    if (line.Is("--out")) {
        if (value.empty()) return line.Usage("--out needs a file name");
        command.out = value;
    } else if (line.Is("--date")) {
        const std::optional<CivilDay> date = DateArgument(value);
        if (!date) return line.Usage("--date takes YYYY-MM-DD, not '" + value + "'");
        command.date = date;
    } else {
        symbol = import::SymbolOf(value);
        if (!import::IsCommandLineSymbol(symbol))
            return line.Usage("--symbol takes 1 to 6 letters and digits, not '" + value + "'");
    }
    return std::nullopt;
}

// The options that go with one command alone, and the arguments each takes:
// the problem, or empty.
std::string Mismatch(const Command& command, const std::string& symbol) {
    const bool add = command.name == "add";
    if (command.name.empty()) return "no command: add, show, export or rank";
    if (!add && (command.archive || command.verbose || command.date || !symbol.empty()))
        return "--archive, --date, --symbol and --verbose go with add";
    if (command.name != "export" && !command.out.empty()) return "--out goes with export";
    if (add && command.files.empty())
        return command.archive ? "no archive directory to add" : "no file to add";
    if (command.name == "show" && command.symbols.size() != 1) return "show takes one symbol";
    if (command.name == "rank" && !command.symbols.empty()) return "rank takes no symbol";
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    CommandLine line("quillon-history", argc, argv, UsageText());
    line.TakeWorkdir();
    Command command;
    std::string symbol;
    while (line.Next()) {
        const std::string arg(line.Arg());
        if (line.Is("--archive")) {
            command.archive = true;
        } else if (line.Is("--verbose")) {
            command.verbose = true;
        } else if (line.Is("--out") || line.Is("--date") || line.Is("--symbol")) {
            if (const std::optional<int> status = TakeValue(line, command, symbol)) return *status;
        } else if (arg.starts_with("--")) {
            return line.Usage("unknown option " + arg);
        } else if (command.name.empty()) {
            if (arg != "add" && arg != "show" && arg != "export" && arg != "rank")
                return line.Usage("unknown command '" + arg + "': add, show, export or rank");
            command.name = arg;
        } else if (command.name == "add") {
            command.files.push_back({arg, symbol});
        } else {
            const std::string name = import::SymbolOf(arg);
            if (!import::IsCommandLineSymbol(name))
                return line.Usage("not a symbol: '" + arg + "'");
            command.symbols.push_back(name);
        }
    }
    if (const std::optional<int> status = line.End()) return *status;
    if (!line.Workdir().empty()) command.dir = line.Workdir();
    if (const std::string problem = Mismatch(command, symbol); !problem.empty())
        return line.Usage(problem);
    return RunCommand(command);
}
