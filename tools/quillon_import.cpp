// quillon-import: turns stock quotes and option chains exported as CSV into
// the quote archive Quote.txt of a working directory, for a local scan.

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "tools/import/importer.h"

namespace {

const char* kUsage =
    "Usage: quillon-import [OPTION]... STOCKS.csv CHAIN.csv...\n"
    "\n"
    "Reads one stock-quote file and one or more option-chain files (CSV with a\n"
    "header row) and writes DIR/Quote.txt, the quote archive a local scan\n"
    "replays: one record per stock, in the order the scan asks for them. Of\n"
    "the options it keeps those the scan uses: the standard monthly\n"
    "expiration (third Friday, or the Saturday after it) of each of the three\n"
    "nearest expiration months of the import date, at the five strikes of the\n"
    "stock's strike table. The files are replaced only when the import\n"
    "succeeds.\n"
    "\n"
    "  --out DIR       the working directory to write to (default: the current one)\n"
    "  --symbols       also write DIR/Symbols.sym with the imported stocks\n"
    "  --date DATE     the date the scan will run on (default: today)\n"
    "  --verbose       tell each skipped or left-out row with its file and line\n"
    "  --help          show this text\n"
    "  --version       show the program's name and version\n"
    "\n"
    "Exit status: 0 written, 1 nothing written (a file refused or unreadable,\n"
    "no stock read, a write failed), 64 wrong usage.\n";

constexpr int kUsageError = 64;

int Usage(const char* problem) {
    std::fprintf(stderr, "quillon-import: %s\n\n%s", problem, kUsage);
    return kUsageError;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace quillon::import;
    ImportOptions options;
    const quillon::DateTime now = quillon::SystemClock().Now();
    options.date = {now.Year, now.Month, now.Day};
    bool verbose = false;
    std::vector<std::string> files;
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
        } else if (arg == "--out" || arg == "--date") {
            if (i + 1 >= argc) return Usage((arg + " needs a value").c_str());
            const std::string value = argv[++i];
            if (arg == "--out") {
                options.outDir = value;
            } else {
                const std::optional<CivilDate> date = ParseDate(value);
                if (!date || value.find('-') == std::string::npos) {
                    return Usage(("--date takes YYYY-MM-DD, not '" + value + "'").c_str());
                }
                options.date = *date;
            }
        } else if (arg.starts_with("--")) {
            return Usage(("unknown option " + arg).c_str());
        } else {
            files.push_back(arg);
        }
    }
    if (files.size() < 2) return Usage("a stock-quote file and at least one option-chain file");
    options.stocksFile = files.front();
    options.chainFiles.assign(files.begin() + 1, files.end());
    if (verbose) options.verbose = stderr;

    ImportSummary summary;
    std::string error;
    if (!RunImport(options, summary, error)) {
        std::fprintf(stderr, "quillon-import: %s\n", error.c_str());
        return 1;
    }
    std::fputs(SummaryText(summary, options.outDir + "/Quote.txt").c_str(), stdout);
    return 0;
}
