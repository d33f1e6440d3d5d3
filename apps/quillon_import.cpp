// quillon-import: turns stock quotes and option chains exported as CSV into
// the quote archive Quote.txt of a working directory, for a local scan.

#include <cstdio>
#include <cstring>
#include <string>

#include "apps/usage_error.h"
#include "ingest/importer.h"
#include "platform/clock.h"
#include "platform/workdir.h"

namespace {

const char* kUsage =
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
    "  --verbose       tell each skipped or left-out row with its file and line\n"
    "  --help          show this text\n"
    "  --version       show the program's name and version\n"
    "\n"
    "Exit status:\n"
    "  0   written: the archive holds what the summary says\n"
    "  1   nothing written: a file refused or unreadable, quotes of several\n"
    "      days without --date, no stock read, or a write failed\n"
    "  2   nothing written: option chains were given but no option was kept\n"
    "      (the message says the main reason)\n"
    "  64  wrong usage\n";

constexpr int kNothingWritten = 1;
constexpr int kNoOptionKept = 2;
constexpr int kUsageError = 64;

int Usage(const std::string& problem) {
    quillon::PrintUsageError("quillon-import", problem, kUsage);
    return kUsageError;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace quillon::import;
    ImportOptions options;
    const quillon::DateTime now = quillon::SystemClock().Now();
    options.today = {now.Year, now.Month, now.Day};
    // --workdir and --user-workdir name the output directory as they name
    // the working directory of the other programs; the files to read stay
    // relative to the current directory.
    const quillon::WorkdirChoice workdir = quillon::TakeWorkdirOptions(argc, argv);
    bool outGiven = false;
    bool verbose = false;
    std::string symbol;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--version") {
            std::puts("quillon-import " QUILLON_VERSION);
            return 0;
        }
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--symbols") {
            options.writeSymbols = true;
        } else if (arg == "--verbose") {
            verbose = true;
        } else if (arg == "--out" || arg == "--date" || arg == "--price" || arg == "--symbol") {
            if (i + 1 >= argc) return Usage(arg + " needs a value");
            const std::string value = argv[++i];
            if (arg == "--out") {
                // Empty would put the files at the root, "/Quote.txt".
                if (value.empty()) return Usage("--out needs a directory");
                options.outDir = value;
                outGiven = true;
            } else if (arg == "--date") {
                const std::optional<CivilDate> date = ParseDate(value);
                if (!date || value.size() != 10 || value[4] != '-') {
                    return Usage("--date takes YYYY-MM-DD, not '" + value + "'");
                }
                options.date = *date;
            } else if (arg == "--symbol") {
                symbol = SymbolOf(value);
                if (symbol.empty() || symbol.size() > 6 ||
                    symbol.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789") !=
                        std::string::npos) {
                    return Usage("--symbol takes 1 to 6 letters and digits, not '" + value + "'");
                }
            } else {
                const std::size_t equals = value.find('=');
                const std::string name = SymbolOf(value.substr(0, equals));
                const Cell price =
                    ReadCell(equals == std::string::npos ? "" : value.substr(equals + 1));
                if (equals == std::string::npos || name.empty() || name.size() > 6 ||
                    name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789") !=
                        std::string::npos ||
                    price.kind != Cell::Number || !(price.value > 0)) {
                    return Usage("--price takes SYMBOL=PRICE with a price above 0, not '" + value +
                                 "'");
                }
                options.prices.emplace_back(name, price.value);
            }
        } else if (arg.starts_with("--")) {
            return Usage("unknown option " + arg);
        } else {
            options.files.push_back({arg, symbol});
        }
    }
    if (!workdir.Error.empty()) return Usage(workdir.Error);
    if (!workdir.Directory.empty()) {
        if (outGiven)
            return Usage("--out and --workdir or --user-workdir name the same directory: give one");
        options.outDir = workdir.Directory;
    }
    if (options.files.empty()) return Usage("no file to import");
    if (verbose) options.verbose = stderr;

    ImportSummary summary;
    std::string error;
    const ImportFailure failure = RunImport(options, summary, error);
    if (failure != ImportFailure::None) {
        for (const FileRead& file : summary.files)
            std::fprintf(stderr, "%s: read as %s\n", file.path.c_str(), file.layout.c_str());
        for (const std::string& message : summary.unpriced)
            std::fprintf(stderr, "%s\n", message.c_str());
        std::fprintf(stderr, "quillon-import: %s\n", error.c_str());
        return failure == ImportFailure::NoOption ? kNoOptionKept : kNothingWritten;
    }
    std::fputs(SummaryText(summary, options.outDir + "/Quote.txt").c_str(), stdout);
    return 0;
}
