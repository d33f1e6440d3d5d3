// A scan of the exchange's delayed quotes from a local HTTPS server: the
// made-up market of today served in the exchange's shape in this process,
// quillon-scan run against it with 4 connections over 100 and 500 symbols.
// Prints the wall time, the scan's processor time and its peak memory: the
// targets are under 10 s and 1.5 s for 500 symbols, and a peak that does
// not grow with the number of symbols.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "sim/https_server.h"
#include "sim/market_sim.h"
#include "sim/service_replies.h"

namespace {

using namespace quillon;

struct Figures {
    double seconds = 0;
    double cpuSeconds = 0;
    long peakKiB = 0;
    int status = -1;
};

Figures RunScan(const std::string& dir, const std::vector<std::string>& args) {
    std::vector<std::string> all = {QUILLON_SCAN_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0 || std::freopen("/dev/null", "w", stdout) == nullptr)
            _exit(126);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    Figures figures;
    figures.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    figures.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    figures.peakKiB = usage.ru_maxrss;
    figures.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return figures;
}

}  // namespace

int main() {
    namespace fs = std::filesystem;
    const fs::path base = fs::temp_directory_path() / "quillon-bench-fetch-scan";
    fs::remove_all(base);
    fs::create_directories(base / "tls");
    std::string error;
    if (!sim::WriteTestCertificates(sim::MakeTestCertificates({"127.0.0.1"}),
                                    (base / "tls").string(), error)) {
        std::fprintf(stderr, "bench_fetch_scan: %s\n", error.c_str());
        return 1;
    }
    const DateTime now = SystemClock().Now();
    sim::SyntheticSource market(1);
    sim::ServiceConfig config;
    config.marketDate = now.Date();
    config.eastern = DateTime{now.Year, now.Month, now.Day, 16, 0, 0};
    sim::ServiceAnswers answers(market, config);
    sim::HttpsServer server(
        {(base / "tls/server.pem").string(), (base / "tls/server.key").string(), {}, 64},
        [&answers](const sim::HttpsRequest& r) { return answers.Answer(r); });
    if (!server.Open(error)) {
        std::fprintf(stderr, "bench_fetch_scan: %s\n", error.c_str());
        return 1;
    }
    server.Start();
    const sim::Market universe(1, now);
    std::printf("%-8s %10s %10s %10s %8s\n", "symbols", "wall s", "cpu s", "peak KiB", "status");
    for (const std::size_t count : {100u, 500u}) {
        const fs::path dir = base / std::to_string(count);
        fs::create_directories(dir);
        std::FILE* symbols = std::fopen((dir / "Symbols.sym").c_str(), "wb");
        for (std::size_t i = 0; i < count && i < universe.Universe().size(); ++i)
            std::fprintf(symbols, "%s\r\n", universe.Universe()[i].c_str());
        std::fclose(symbols);
        const Figures figures =
            RunScan(dir.string(), {"--source", "exchange", "--source-url",
                                   "https://127.0.0.1:" + std::to_string(server.Port()),
                                   "--ca-file", (base / "tls/ca.pem").string(), "--connections",
                                   "4", "--rate", "10000", "--symbol-file", "Symbols.sym"});
        std::printf("%-8zu %10.2f %10.2f %10ld %8d\n", count, figures.seconds, figures.cpuSeconds,
                    figures.peakKiB, figures.status);
    }
    server.Stop();
    fs::remove_all(base);
    return 0;
}
