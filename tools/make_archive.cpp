// quillon-make-archive: writes a quote archive of the synthetic market into a
// working directory, as a server scan of it would have written it, so that a
// local scan has something to replay.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/workdir.h"
#include "tools/market_sim_archive.h"

namespace {

const char* kUsage =
    "Usage: quillon-make-archive DIRECTORY [COUNT [SEED]]\n"
    "  or:  quillon-make-archive --help | --version\n"
    "\n"
    "Writes Quote.txt, AscQuote.txt, GoodSym.txt, BadSym.txt and the symbol\n"
    "file Symbols.sym for COUNT stocks (default: the market's whole universe)\n"
    "of the synthetic market on today's date into DIRECTORY, made when\n"
    "missing, replacing those files. SEED (default 1) picks the market.\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::puts("quillon-make-archive " QUILLON_VERSION);
        return 0;
    }
    if (argc < 2 || argc > 4 || std::strcmp(argv[1], "--help") == 0) {
        std::fputs(kUsage, argc < 2 || argc > 4 ? stderr : stdout);
        return argc < 2 || argc > 4 ? 64 : 0;
    }
    const std::uint64_t seed = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1;
    quillon::sim::Market market(seed, quillon::SystemClock().Now());
    const int count = argc > 2 ? std::atoi(argv[2]) : static_cast<int>(market.Universe().size());
    const auto tickers = quillon::sim::ArchiveTickers(market, count);
    if (const std::string made = quillon::MakeWorkingDirectory(argv[1]); !made.empty()) {
        std::fprintf(stderr, "quillon-make-archive: %s\n", made.c_str());
        return 1;
    }
    if (!quillon::sim::WriteArchive(market, tickers, argv[1])) {
        std::fprintf(stderr, "quillon-make-archive: cannot write the archive in %s\n", argv[1]);
        return 1;
    }
    std::printf("%zu stocks written to %s\n", tickers.size(), argv[1]);
    return 0;
}
