// A local scan of a large archive: generates an archive of N stocks of the
// synthetic market for today's date, runs quillon-scan over it as a user
// would, and prints symbols per second and the runner's peak memory.
//
// Usage: bench_replay [--symbols=N]   (N = 5000 by default)

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/clock.h"
#include "platform/files.h"
#include "results/settings.h"
#include "tools/market_sim_archive.h"

namespace {

using namespace quillon;
namespace fs = std::filesystem;
using Stopwatch = std::chrono::steady_clock;

double Seconds(Stopwatch::duration d) {
    return std::chrono::duration<double>(d).count();
}

struct RunFigures {
    int exitCode = -1;
    double seconds = 0;
    long peakKiB = 0;
};

// Runs quillon-scan in `directory` with its output to a log file.
RunFigures RunScan(const std::string& directory) {
    RunFigures figures;
    const auto start = Stopwatch::now();
    pid_t child = fork();
    if (child == 0) {
        if (chdir(directory.c_str()) != 0) _exit(127);
        std::freopen("scan.log", "w", stdout);
        execl(QUILLON_SCAN_PATH, "quillon-scan", static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    figures.seconds = Seconds(Stopwatch::now() - start);
    figures.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    figures.peakKiB = usage.ru_maxrss;
    return figures;
}

}  // namespace

int main(int argc, char** argv) {
    int count = 5000;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--symbols=", 10) == 0) count = std::atoi(argv[i] + 10);
    }

    std::string pattern = (fs::temp_directory_path() / "quillon-replay-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return 1;
    const std::string directory = pattern;

    const DateTime today = SystemClock().Now();
    const auto generateStart = Stopwatch::now();
    sim::Market market(1, today);
    const std::vector<std::string> tickers = sim::ArchiveTickers(market, count);
    if (!sim::WriteArchive(market, tickers, directory)) return 1;
    Settings settings;
    SetDefaultSettings(settings);
    settings.QuotesFromLocalFile = 1;
    settings.SymbolFileName = directory + "/Symbols.sym";
    SaveSettings(settings, WorkingFileNames::In(directory));
    const double generateSeconds = Seconds(Stopwatch::now() - generateStart);

    const RunFigures run = RunScan(directory);
    const std::string summary = ReadWholeFile(directory + "/scan.log").value_or("");
    const std::int64_t archiveBytes = QueryFileSize(directory + "/Quote.txt");
    const std::int64_t resultsBytes = QueryFileSize(directory + "/Results.txt");

    std::printf("archive: %d stocks, %.1f MB Quote.txt, generated in %.2f s\n",
                static_cast<int>(tickers.size()), static_cast<double>(archiveBytes) / 1e6,
                generateSeconds);
    std::printf("local pass: %.3f s, %.0f symbols/s, peak memory %.1f MB, Results.txt %.1f MB\n",
                run.seconds, static_cast<double>(tickers.size()) / run.seconds,
                static_cast<double>(run.peakKiB) / 1024.0, static_cast<double>(resultsBytes) / 1e6);
    std::printf("quillon-scan: %s",
                summary.substr(summary.rfind('\n', summary.size() - 2) + 1).c_str());

    std::error_code ignored;
    fs::remove_all(directory, ignored);
    return run.exitCode == 0 ? 0 : 1;
}
