// quillon-make-archive: writes a quote archive of the synthetic market into a
// working directory, as a server scan of it would have written it, so that a
// local scan has something to replay.

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "apps/command_line.h"
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

}  // namespace

int main(int argc, char** argv) {
    quillon::CommandLine line("quillon-make-archive", argc, argv, kUsage);
    std::vector<const char*> given;  // DIRECTORY [COUNT [SEED]]
    while (line.Next()) {
        if (line.Arg().starts_with("--"))
            return line.Usage("unknown option '" + std::string(line.Arg()) + "'");
        given.push_back(line.Arg().data());
    }
    if (const std::optional<int> status = line.End()) return *status;
    if (given.empty()) return line.Usage("no DIRECTORY given");
    if (given.size() > 3) return line.Usage("too many arguments: DIRECTORY [COUNT [SEED]]");
    // A count or a seed that is no number was taken as 0 before: an empty
    // archive, or with a sign a count that ran off the universe.
    const std::optional<unsigned long long> wanted =
        given.size() > 1 ? WholeNumber(given[1], 1, kMostStocks) : std::nullopt;
    if (given.size() > 1 && !wanted)
        return line.Usage(std::string("COUNT takes a whole number from 1 to ") +
                          std::to_string(kMostStocks) + ", not '" + given[1] + "'");
    const std::optional<unsigned long long> seedGiven =
        given.size() > 2 ? WholeNumber(given[2], 0, ~0ull) : std::nullopt;
    if (given.size() > 2 && !seedGiven)
        return line.Usage(std::string("SEED takes a whole number, not '") + given[2] + "'");
    const std::uint64_t seed = seedGiven.value_or(1);
    const char* directory = given[0];
    quillon::sim::Market market(seed, quillon::SystemClock().Now());
    const int count =
        wanted ? static_cast<int>(*wanted) : static_cast<int>(market.Universe().size());
    const auto tickers = quillon::sim::ArchiveTickers(market, count);
    if (const std::string made = quillon::MakeWorkingDirectory(directory); !made.empty())
        return line.Fail(made);
    if (!quillon::sim::WriteArchive(market, tickers, directory))
        return line.Fail(std::string("cannot write the archive in ") + directory);
    std::printf(
        "%s written to %s\n",
        quillon::CountedText(static_cast<long long>(tickers.size()), "stock", "stocks").c_str(),
        directory);
    return quillon::kExitDone;
}
