// The back-test over a large History.db: years of trading days x thousands of
// stocks, written once into a temporary directory (one transaction, the
// store's prepared upsert) and kept there for later runs; then
// quillon-backtest is run on it as a process with the default template and
// with an IV rank filter, and its wall time and peak resident memory are
// printed.
//
//   bench_backtest [--years N[,N...]] [--symbols N] [--runs N] [--dir DIR]

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "history/history_store.h"
#include "platform/files.h"
#include "results/settings.h"

namespace {

using namespace quillon;

// A small fast generator: the same history for the same seed.
struct SplitMix {
    std::uint64_t state;
    std::uint64_t Next() {
        std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    double Unit() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
    // About normal: the sum of four uniforms, centred and scaled.
    double Normal() { return (Unit() + Unit() + Unit() + Unit() - 2) * 1.7320508; }
};

// Weekdays from Monday 4 January 2021, as YYYYMMDD.
std::vector<HistoryDay> TradingDays(int count) {
    std::vector<HistoryDay> days;
    for (CivilDay day{2021, 1, 4}; static_cast<int>(days.size()) < count; day = day.Plus(1)) {
        if (day.WeekDay() != kSaturday && day.WeekDay() != kSunday) days.push_back(day.Number());
    }
    return days;
}

struct Stock {
    double last, iv;
};

// Writes the history; false with a message on failure.
bool BuildHistory(const std::string& file, int years, int symbols, long long& rows) {
    HistoryStore store;
    if (!store.Open(file)) {
        std::fprintf(stderr, "bench_backtest: %s: %s\n", file.c_str(), store.Error().c_str());
        return false;
    }
    const std::vector<HistoryDay> days = TradingDays(252 * years);
    SplitMix random{12345};
    std::vector<Stock> stocks(static_cast<std::size_t>(symbols));
    for (Stock& s : stocks) {
        s.last = 10 + 190 * random.Unit();
        s.iv = 20 + 40 * random.Unit();
    }
    if (!store.BeginBatch()) return false;
    HistoryPass pass;
    HistoryRow row;
    for (std::size_t d = 0; d < days.size(); ++d) {
        pass.AsOf = days[d];
        pass.Source = "server";
        const std::int64_t id = store.BeginPass(pass);
        for (int i = 0; i < symbols; ++i) {
            Stock& s = stocks[static_cast<std::size_t>(i)];
            const double before = s.last;
            s.last = std::max(0.5, s.last * std::exp(0.02 * random.Normal()));
            s.iv = std::clamp(s.iv * std::exp(0.05 * random.Normal()), 8.0, 150.0);
            // One stock in fifty is not recorded on a day (halted, delisted
            // for a while).
            if (random.Unit() < 0.02) continue;
            char symbol[16];  // room for any int, as GCC checks the format
            std::snprintf(symbol, sizeof symbol, "S%05d", i);
            row.Symbol = symbol;
            row.Day = days[d];
            row.PassId = id;
            row.Last = static_cast<float>(s.last);
            row.Change = static_cast<float>((s.last / before - 1) * 100);
            row.Volume = std::round(1e7 * random.Unit() * random.Unit());
            row.High52 = static_cast<float>(s.last * (1 + 0.3 * random.Unit()));
            row.Low52 = static_cast<float>(s.last * (1 - 0.3 * random.Unit()));
            row.PeRatio = static_cast<float>(5 + 40 * random.Unit());
            row.Yield = static_cast<float>(6 * random.Unit());
            row.QuoteVolatility = static_cast<float>(s.iv * (0.8 + 0.4 * random.Unit()));
            row.MarketCap = s.last * 1e8 * random.Unit() * 1e-6;
            row.CallVolume = std::round(2000 * random.Unit());
            row.PutVolume = std::round(2000 * random.Unit());
            row.CallOpenInterest = std::round(5000 * random.Unit());
            row.PutOpenInterest = std::round(5000 * random.Unit());
            // ZOR totals whose ratio reaches 8 for about three stocks in a
            // hundred each way.
            row.Zorc = static_cast<float>(1000 * std::exp(0.8 * random.Normal()));
            row.Zorp = static_cast<float>(1000 * std::exp(0.8 * random.Normal()));
            row.Iv30 = s.iv;
            row.Iv30Call = s.iv;
            row.Iv30Put = s.iv;
            row.DaysToNear = 20;
            row.DaysToNext = 48;
            row.Verdict = Verdict::Rejected;
            ++rows;
            if (!store.Record(row)) {
                std::fprintf(stderr, "bench_backtest: %s\n", store.Error().c_str());
                return false;
            }
        }
        if ((d + 1) % 252 == 0) std::fprintf(stderr, "  %zu days written\n", d + 1);
    }
    if (!store.CommitBatch() || !store.Settle()) {
        std::fprintf(stderr, "bench_backtest: %s\n", store.Error().c_str());
        return false;
    }
    return true;
}

struct Figures {
    double seconds = 0;
    long peakKiB = 0;
    int status = -1;
};

// Runs quillon-backtest with `args` in `dir`, its report to /dev/null.
Figures RunBacktest(const std::string& dir, const std::vector<std::string>& args) {
    std::vector<std::string> all = {QUILLON_BACKTEST_PATH, "--workdir", dir, "--quiet"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    Figures figures;
    std::fflush(stdout);  // the child would write out what is buffered
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        // The program's report would mix into the figures; without
        // /dev/null there is nothing to measure.
        if (std::freopen("/dev/null", "w", stdout) == nullptr) _exit(126);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    figures.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    figures.peakKiB = usage.ru_maxrss;
    figures.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return figures;
}

std::vector<int> NumbersOf(const std::string& text) {
    std::vector<int> numbers;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(',', start);
        if (end == std::string::npos) end = text.size();
        numbers.push_back(std::atoi(text.substr(start, end - start).c_str()));
        start = end + 1;
    }
    return numbers;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> yearList = {5};
    int symbols = 6000;
    int runs = 3;
    std::string base = (std::filesystem::temp_directory_path() / "quillon-bench-backtest").string();
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        const std::string value = argv[i + 1];
        if (arg == "--years") {
            yearList = NumbersOf(value);
        } else if (arg == "--symbols") {
            symbols = std::atoi(value.c_str());
        } else if (arg == "--runs") {
            runs = std::atoi(value.c_str());
        } else if (arg == "--dir") {
            base = value;
        } else {
            std::fprintf(stderr, "bench_backtest: unknown option %s\n", arg.c_str());
            return 64;
        }
    }
    std::printf("%-6s %8s %10s %-16s %10s %10s\n", "years", "symbols", "rows", "filters", "seconds",
                "peak MB");
    for (int years : yearList) {
        const std::string dir = base + "/" + std::to_string(years) + "y" + std::to_string(symbols);
        const std::string complete = dir + "/complete";
        if (!FileExists(complete)) {
            std::filesystem::remove_all(dir);
            std::filesystem::create_directories(dir);
            std::fprintf(stderr, "bench_backtest: writing %s/History.db (%d years x %d stocks)\n",
                         dir.c_str(), years, symbols);
            const auto start = std::chrono::steady_clock::now();
            long long written = 0;
            if (!BuildHistory(dir + "/History.db", years, symbols, written)) return 1;
            std::fprintf(
                stderr, "bench_backtest: written in %.1f s\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
            // The number of rows, once the history is whole.
            ReplaceFileAtomically(complete, std::to_string(written), false);
        }
        // The default template with an IV rank of at least 50 over 52 weeks.
        Settings iv;
        SetDefaultSettings(iv);
        iv.History.MinIvRank = FilterValue::Number(50);
        ReplaceFileAtomically(dir + "/iv.settings", SettingsFileText(iv), false);
        const long long rows = std::atoll(ReadWholeFile(complete).value_or("0").c_str());
        const std::pair<const char*, std::vector<std::string>> cases[] = {
            {"template 0", {"--template", "0"}},
            {"template 0 + IV", {"--settings", dir + "/iv.settings"}},
        };
        for (const auto& [name, args] : cases) {
            for (int run = 0; run < runs; ++run) {
                const Figures f = RunBacktest(dir, args);
                if (f.status != 0) {
                    std::fprintf(stderr, "bench_backtest: quillon-backtest exited with %d\n",
                                 f.status);
                    return 1;
                }
                std::printf("%-6d %8d %10lld %-16s %10.2f %10.1f\n", years, symbols, rows, name,
                            f.seconds, static_cast<double>(f.peakKiB) / 1024.0);
                std::fflush(stdout);
            }
        }
    }
    return 0;
}
