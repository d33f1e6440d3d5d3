// Importing a chain file of 1,000,000 option rows: quillon-import run as a
// user runs it, timed, with the peak memory the process used.
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

constexpr int kStocks = 500;
constexpr int kRowsPerStock = 2000;  // 5 expirations, 2 types, 200 strikes
constexpr const char* kExpirations[] = {"261218", "261224", "270115", "270219", "270319"};

std::string Ticker(int i) {
    std::string t = "S";
    for (int k = 0; k < 4; ++k, i /= 26)
        t += static_cast<char>('A' + i % 26);
    return t;
}

bool Generate(const std::string& dir) {
    std::FILE* stocks = std::fopen((dir + "/stocks.csv").c_str(), "wb");
    std::FILE* chain = std::fopen((dir + "/chain.csv").c_str(), "wb");
    if (stocks == nullptr || chain == nullptr) return false;
    std::fputs("symbol,shortName,lastPrice,volume,eps\r\n", stocks);
    std::fputs(
        "contractSymbol,lastTradeDate,strike,lastPrice,bid,ask,change,volume,openInterest\r\n",
        chain);
    for (int s = 0; s < kStocks; ++s) {
        const std::string ticker = Ticker(s);
        const int price = 20 + s % 400;
        std::fprintf(stocks, "%s,\"Stock %d, Inc.\",%d.37,%d,1.25\r\n", ticker.c_str(), s, price,
                     100000 + s);
        for (const char* expiration : kExpirations) {
            for (char type : {'C', 'P'}) {
                for (int k = 0; k < kRowsPerStock / 10; ++k) {
                    const int strike = 2500 * (k + 1);  // thousandths: 2.5 to 500
                    std::fprintf(
                        chain, "%s%s%c%08d,2026-12-07 15:59:00,%.1f,%.2f,%.2f,%.2f,0.05,%d,%d\r\n",
                        ticker.c_str(), expiration, type, strike, strike / 1000.0, 1.25 + k * 0.01,
                        1.2 + k * 0.01, 1.3 + k * 0.01, k * 3, k * 17);
                }
            }
        }
    }
    return std::fclose(stocks) == 0 && std::fclose(chain) == 0;
}

}  // namespace

int main() {
    const std::string dir =
        (std::filesystem::temp_directory_path() / "quillon-import-bench").string();
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    if (!Generate(dir)) {
        std::fprintf(stderr, "import_bench: cannot write the input files in %s\n", dir.c_str());
        return 1;
    }
    const auto size = std::filesystem::file_size(dir + "/chain.csv");
    const std::string command = "'" QUILLON_IMPORT_PATH "' --date 2026-12-08 --out '" + dir +
                                "' '" + dir + "/stocks.csv' '" + dir + "/chain.csv' >'" + dir +
                                "/out.log'";
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "import_bench: quillon-import failed\n");
        return 1;
    }
    std::printf("import of %d stocks and %d option rows (%.1f MB): %.2f s, peak %.1f MB\n", kStocks,
                kStocks * kRowsPerStock, static_cast<double>(size) / 1e6, seconds,
                static_cast<double>(usage.ru_maxrss) / 1024.0);
    std::FILE* log = std::fopen((dir + "/out.log").c_str(), "rb");
    if (log != nullptr) {
        char line[256];
        if (std::fgets(line, sizeof line, log) != nullptr) std::printf("  %s", line);
        std::fclose(log);
    }
    std::filesystem::remove_all(dir);
    return 0;
}
