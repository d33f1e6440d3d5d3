// quillon-import: turns stock quotes and option chains exported as CSV into
// the quote archive Quote.txt of a working directory, for a local scan.

#include <cstdio>
#include <optional>
#include <string>

#include "apps/command_line.h"
#include "ingest/importer.h"
#include "platform/clock.h"

namespace {

// Up to the --help and --version lines.
const char* kUsageStart =
    "Usage: quillon-import [OPTION]... FILE...\n"
    "\n"
    "Reads stock-quote files and option-chain files, CSV as downloaded, in any\n"
    "number and order, and writes DIR/Quote.txt, the quote archive a local scan\n"
    "replays, with DIR/QuoteDate.txt, the date its quotes are of. Each file is\n"
    "told by its header, found among its first lines after any preamble: a\n"
    "symbol and a last price make stock quotes; a strike or a contract symbol\n"
    "an option chain (contract symbols, separate columns, calls and puts side\n"
    "by side, or one block per expiration). A stock without a stock-quote row\n"
    "takes its last price from the chain (an underlying-price column, the\n"
    "lines above the header) or from --price.\n"
    "\n"
    "Of a file holding several quote dates only the rows of the import date\n"
    "are read. Of the options it keeps those the scan uses: the standard\n"
    "monthly expiration (third Friday, or the Saturday after it) of each of\n"
    "the three nearest expiration months of the import date, at the five\n"
    "strikes of the stock's strike table, of the standard root (the\n"
    "underlying's symbol). The files are replaced only when the import\n"
    "succeeds. A directory without a settings file is left ready for\n"
    "quillon-scan --local: a settings file with the local source, and a symbol\n"
    "file of the imported stocks when it has none.\n"
    "\n"
    "  --out DIR, --workdir DIR\n"
    "                  the working directory to write to, made when missing\n"
    "                  (default: the current one)\n"
    "  --user-workdir  write to the desktop program's per-user directory,\n"
    "                  $XDG_DATA_HOME/quillon (~/.local/share/quillon by\n"
    "                  default), the one it works in when started from the\n"
    "                  menu\n"
    "  --date DATE     the day to import, YYYY-MM-DD; default: the one quote\n"
    "                  date the files hold, or today when they hold none\n"
    "  --price SYM=PRICE\n"
    "                  the last price of SYM, over any other\n"
    "  --symbol SYM    the stock of the files named after it that do not name\n"
    "                  their underlying\n"
    "  --symbols       also write DIR/Symbols.sym with the imported stocks\n"
    "  --verbose       tell each skipped or left-out row with its file and line\n";
// After the --help and --version lines.
const char* kUsageEnd =
    "\n"
    "Exit status:\n"
    "  0   written: the archive holds what the summary says\n"
    "  1   nothing written: a file refused or unreadable, quotes of several\n"
    "      days without --date, no stock read, or a write failed\n"
    "  2   nothing written: option chains were given but no option was kept\n"
    "      (the message says the main reason)\n"
    "  64  wrong usage\n";

std::string UsageText() {
    return kUsageStart + quillon::HelpAndVersionLines(18) + kUsageEnd;
}

constexpr int kNothingWritten = 1;
constexpr int kNoOptionKept = 2;

// Reads the value of the current option into `options`: the exit status of
// a bad one (said), or nothing.
std::optional<int> TakeValue(quillon::CommandLine& line, quillon::import::ImportOptions& options,
                             std::string& symbol, bool& outGiven) {
    using namespace quillon::import;
    using quillon::CivilDay;
    const std::optional<std::string> given = line.Value();
    if (!given) return line.MissingValue();
    const std::string& value = *given;
    if (line.Is("--out")) {
        // Empty would put the files at the root, "/Quote.txt".
        if (value.empty()) return line.Usage("--out needs a directory");
        options.outDir = value;
        outGiven = true;
    } else if (line.Is("--date")) {
        const std::optional<CivilDay> date = quillon::DateArgument(value);
        if (!date) return line.Usage("--date takes YYYY-MM-DD, not '" + value + "'");
        options.date = *date;
    } else if (line.Is("--symbol")) {
        symbol = SymbolOf(value);
        if (!IsCommandLineSymbol(symbol))
            return line.Usage("--symbol takes 1 to 6 letters and digits, not '" + value + "'");
    } else {
        const std::size_t equals = value.find('=');
        const std::string name = SymbolOf(value.substr(0, equals));
        const Cell price = ReadCell(equals == std::string::npos ? "" : value.substr(equals + 1));
        if (equals == std::string::npos || !IsCommandLineSymbol(name) ||
            price.kind != Cell::Number || !(price.value > 0)) {
            return line.Usage("--price takes SYMBOL=PRICE with a price above 0, not '" + value +
                              "'");
        }
        options.prices.emplace_back(name, price.value);
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace quillon::import;
    ImportOptions options;
    const quillon::DateTime now = quillon::SystemClock().Now();
    options.today = {now.Year, now.Month, now.Day};
    quillon::CommandLine line("quillon-import", argc, argv, UsageText());
    // --workdir and --user-workdir name the output directory as they name
    // the working directory of the other programs; the files to read stay
    // relative to the current directory.
    line.TakeWorkdir();
    bool outGiven = false;
    bool verbose = false;
    std::string symbol;
    while (line.Next()) {
        if (line.Is("--symbols")) {
            options.writeSymbols = true;
        } else if (line.Is("--verbose")) {
            verbose = true;
        } else if (line.Is("--out") || line.Is("--date") || line.Is("--price") ||
                   line.Is("--symbol")) {
            if (const std::optional<int> status = TakeValue(line, options, symbol, outGiven))
                return *status;
        } else if (line.Arg().starts_with("--")) {
            return line.Usage("unknown option " + std::string(line.Arg()));
        } else {
            options.files.push_back({std::string(line.Arg()), symbol});
        }
    }
    if (const std::optional<int> status = line.End()) return *status;
    if (!line.Workdir().empty()) {
        if (outGiven)
            return line.Usage(
                "--out and --workdir or --user-workdir name the same directory: give one");
        options.outDir = line.Workdir();
    }
    if (options.files.empty()) return line.Usage("no file to import");
    if (verbose) options.verbose = stderr;

    ImportSummary summary;
    std::string error;
    const ImportFailure failure = RunImport(options, summary, error);
    if (failure != ImportFailure::None) {
        for (const FileRead& file : summary.files)
            std::fprintf(stderr, "%s: read as %s\n", file.path.c_str(), file.layout.c_str());
        for (const std::string& message : summary.unpriced)
            std::fprintf(stderr, "%s\n", message.c_str());
        return line.Fail(error,
                         failure == ImportFailure::NoOption ? kNoOptionKept : kNothingWritten);
    }
    std::fputs(SummaryText(summary, options.outDir + "/Quote.txt").c_str(), stdout);
    return quillon::kExitDone;
}
