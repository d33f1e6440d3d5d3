// quillon-make-archive: writes a quote archive of the synthetic market into a
// working directory, as a server scan of it would have written it, so that a
// local scan has something to replay.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "apps/usage_error.h"
#include "platform/clock.h"
#include "platform/number_format.h"
#include "platform/workdir.h"
#include "sim/market_sim_archive.h"

namespace {

const char* kUsage =
    "Usage: quillon-make-archive DIRECTORY [COUNT [SEED]]\n"
    "  or:  quillon-make-archive --help | --version\n"
    "\n"
    "Writes Quote.txt, AscQuote.txt, GoodSym.txt, BadSym.txt and the symbol\n"
    "file Symbols.sym for COUNT stocks (default: the market's whole universe)\n"
    "of the synthetic market on today's date into DIRECTORY, made when\n"
    "missing, replacing those files. SEED (default 1) picks the market.\n";

// Stocks beyond the universe get made-up tickers of five digits.
constexpr unsigned long long kMostStocks = 100000;

// A whole number from `least` to `most`, digits alone; nothing otherwise.
std::optional<unsigned long long> WholeNumber(const char* text, unsigned long long least,
                                              unsigned long long most) {
    const std::string_view digits(text);
    if (digits.empty() || digits.size() > 19 ||
        digits.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    const unsigned long long value = std::strtoull(text, nullptr, 10);
    if (value < least || value > most) return std::nullopt;
    return value;
}

int Usage(const std::string& problem) {
    quillon::PrintUsageError("quillon-make-archive", problem, kUsage);
    return 64;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::puts("quillon-make-archive " QUILLON_VERSION);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc < 2) return Usage("no DIRECTORY given");
    if (argc > 4) return Usage("too many arguments: DIRECTORY [COUNT [SEED]]");
    // A count or a seed that is no number was taken as 0 before: an empty
    // archive, or with a sign a count that ran off the universe.
    const std::optional<unsigned long long> wanted =
        argc > 2 ? WholeNumber(argv[2], 1, kMostStocks) : std::nullopt;
    if (argc > 2 && !wanted)
        return Usage(std::string("COUNT takes a whole number from 1 to ") +
                     std::to_string(kMostStocks) + ", not '" + argv[2] + "'");
    const std::optional<unsigned long long> seedGiven =
        argc > 3 ? WholeNumber(argv[3], 0, ~0ull) : std::nullopt;
    if (argc > 3 && !seedGiven)
        return Usage(std::string("SEED takes a whole number, not '") + argv[3] + "'");
    const std::uint64_t seed = seedGiven.value_or(1);
    quillon::sim::Market market(seed, quillon::SystemClock().Now());
    const int count =
        wanted ? static_cast<int>(*wanted) : static_cast<int>(market.Universe().size());
    const auto tickers = quillon::sim::ArchiveTickers(market, count);
    if (const std::string made = quillon::MakeWorkingDirectory(argv[1]); !made.empty()) {
        std::fprintf(stderr, "quillon-make-archive: %s\n", made.c_str());
        return 1;
    }
    if (!quillon::sim::WriteArchive(market, tickers, argv[1])) {
        std::fprintf(stderr, "quillon-make-archive: cannot write the archive in %s\n", argv[1]);
        return 1;
    }
    std::printf(
        "%s written to %s\n",
        quillon::CountedText(static_cast<long long>(tickers.size()), "stock", "stocks").c_str(),
        argv[1]);
    return 0;
}
