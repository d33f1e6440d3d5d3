// The CSV import end to end: quillon-import turns the example files of the
// README into a quote archive, and quillon-scan replays it in local mode.
// What the scan saves and reports is checked against figures worked out here
// from the rows of the example files; quillon-quoted serving the same files
// gives a server scan the same saved results.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "analytics/calendar.h"
#include "platform/number_format.h"
#include "results/settings.h"
#include "sim/https_server.h"
#include "tests/support/crlf_lines.h"
#include "tests/support/quoted_process.h"
#include "tests/support/scan_process.h"
#include "tests/support/temp_dir.h"

namespace quillon {
namespace {

using testing::CountOf;

using testing::Quoted;
using testing::RunScan;
using testing::ScanRun;
using testing::TempDir;
using testing::WithoutTimes;
namespace fs = std::filesystem;

const std::string kExamples = std::string(QUILLON_SOURCE_DIR) + "/docs/examples/";

std::string ReadFile(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    std::string text;
    if (file == nullptr) return text;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        text.append(buffer, n);
    std::fclose(file);
    return text;
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

long DayNumber(int y, int m, int d) {
    return CivilDay{y, m, d}.Serial();
}

// The example files were made on Tuesday 8 December 2026, with the monthly
// expirations of December, January, February and March and a weekly one. The
// scan runs on today's date, so each example date moves to the expiration
// that has the same place in today's calendar: the Friday before expiration
// Saturday k, and the weekly to the Thursday after the first.
std::map<long, long> ExampleDateMoves(const DateTime& today) {
    ExpirationCalendar calendar;
    BuildExpirationCalendar(calendar, today);
    const int weekDay = today.Date().WeekDay();
    const long reference = today.Date().Serial() + (weekDay == kSaturday ? 2
                                                    : weekDay == kSunday ? 1
                                                                         : 0);
    auto friday = [&](int k) { return reference + calendar.DaysToExpiration[k] - 1; };
    return {{DayNumber(2026, 12, 18), friday(0)},
            {DayNumber(2027, 1, 15), friday(1)},
            {DayNumber(2027, 2, 19), friday(2)},
            {DayNumber(2027, 3, 19), friday(3)},
            {DayNumber(2026, 12, 24), friday(0) + 6}};
}

std::string MovedDates(std::string text, const std::map<long, long>& moves) {
    // Through placeholders, so that a date moved onto another example date
    // is not moved twice.
    int n = 0;
    for (const auto& [from, to] : moves) {
        const CivilDay f = CivilDay::FromSerial(static_cast<int>(from));
        const std::string tag = "@" + std::to_string(n++) + "@";
        text = ReplaceAll(text, f.IsoText(), tag + "L");
        text = ReplaceAll(text, FormatArgs("%d/%d/%04d", f.Month, f.Day, f.Year), tag + "U");
        text =
            ReplaceAll(text, FormatArgs("%02d%02d%02d", f.Year % 100, f.Month, f.Day), tag + "S");
    }
    n = 0;
    for (const auto& [from, to] : moves) {
        const CivilDay t = CivilDay::FromSerial(static_cast<int>(to));
        const std::string tag = "@" + std::to_string(n++) + "@";
        text = ReplaceAll(text, tag + "L", t.IsoText());
        text = ReplaceAll(text, tag + "U", FormatArgs("%d/%d/%04d", t.Month, t.Day, t.Year));
        text =
            ReplaceAll(text, tag + "S", FormatArgs("%02d%02d%02d", t.Year % 100, t.Month, t.Day));
    }
    return text;
}

// A CSV line split at commas outside quotes.
std::vector<std::string> SplitCsv(const std::string& line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (char c : line) {
        if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            fields.emplace_back();
        } else if (c != '\r') {
            fields.back() += c;
        }
    }
    return fields;
}

std::vector<std::vector<std::string>> CsvLines(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        rows.push_back(SplitCsv(text.substr(start, end - start)));
    }
    return rows;
}

class ImportScanTest : public ::testing::Test {
  protected:
    void SetUp() override {
        today = SystemClock().Now();
        const auto moves = ExampleDateMoves(today);
        for (const char* name : {"stocks.csv", "chain_contracts.csv", "chain_columns.csv"}) {
            input.Write(name, MovedDates(ReadFile(kExamples + name), moves));
        }
        WriteSettings(dir, true);
    }

    // The settings of a working directory: quotes from the local archive or
    // the quote server, and one filter, the minimum last price.
    static void WriteSettings(const TempDir& working, bool local) {
        Settings settings;
        SetDefaultSettings(settings);
        settings.QuotesFromLocalFile = local ? 1 : 0;
        settings.SymbolFileName = working.File("Symbols.sym");
        for (FilterValue& value : settings.Filters.Values)
            value = FilterValue::Text("NA");
        settings.Filters.Values[TX_MinLast] = FilterValue::Number(kMinLast);
        ASSERT_TRUE(SaveSettings(settings, WorkingFileNames::In(working.Path())));
    }

    int Import(const std::string& args) {
        const std::string command =
            "'" QUILLON_IMPORT_PATH "' " + args + " >'" + input.File("import.log") + "' 2>&1";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // The three example files into the working directory, with its symbol file.
    int ImportExamples() {
        return Import("--symbols --out '" + dir.Path() + "' '" + input.File("stocks.csv") + "' '" +
                      input.File("chain_contracts.csv") + "' '" + input.File("chain_columns.csv") +
                      "'");
    }

    static constexpr double kMinLast = 20;
    TempDir dir, input;
    DateTime today;
};

// The three strikes around each example stock's last price (strike slots 1
// to 3), worked out by hand from the prices in stocks.csv.
const std::map<std::string, std::vector<double>> kNearStrikes = {
    {"ACME", {40, 45, 50}},     // 47.30
    {"BRIX", {150, 155, 160}},  // 152.60
    {"CQ", {20, 22.5, 25}},     // 22.40
    {"DUNE", {7.5, 10, 12.5}},  // 8.00: the fixed strikes 5 to 15
    {"ELMX", {95, 100, 105}},   // 98.00
};

struct Totals {
    long volume[2] = {0, 0};
    long openInterest[2] = {0, 0};
};

TEST_F(ImportScanTest, ALocalScanOfTheImportedExamplesSavesAndReportsTheirFigures) {
    ASSERT_EQ(ImportExamples(), 0) << input.Read("import.log");
    EXPECT_TRUE(input.Read("import.log").starts_with("5 stocks and 60 options written to"))
        << input.Read("import.log");
    const ScanRun run = RunScan(dir);
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;

    // From the rows: the stocks that pass the minimum last price, in the
    // scan's order, and the totals of the twelve options near the money in
    // the two nearest months.
    std::vector<std::string> expectedSaved;
    for (const auto& row : CsvLines(input.Read("stocks.csv"))) {
        if (kNearStrikes.count(row[0]) == 0) continue;
        if (std::stod(row[2]) >= kMinLast) expectedSaved.push_back(row[0]);
    }
    const auto moves = ExampleDateMoves(today);
    const CivilDay first =
        CivilDay::FromSerial(static_cast<int>(moves.at(DayNumber(2026, 12, 18))));
    const CivilDay second =
        CivilDay::FromSerial(static_cast<int>(moves.at(DayNumber(2027, 1, 15))));
    auto nearMonth = [&](int y, int m, int d) {
        return CivilDay{y, m, d} == first || CivilDay{y, m, d} == second;
    };
    std::map<std::string, Totals> totals;
    auto add = [&](const std::string& stock, int type, double strike, const std::string& volume,
                   const std::string& openInterest) {
        const auto near = kNearStrikes.find(stock);
        if (near == kNearStrikes.end()) return;
        if (std::find(near->second.begin(), near->second.end(), strike) == near->second.end()) {
            return;
        }
        totals[stock].volume[type] += volume.empty() ? 0 : std::stol(volume);
        totals[stock].openInterest[type] += openInterest.empty() ? 0 : std::stol(openInterest);
    };
    const auto contracts = CsvLines(input.Read("chain_contracts.csv"));
    for (std::size_t i = 1; i < contracts.size(); ++i) {
        const std::string& symbol = contracts[i][0];  // ROOT YYMMDD C|P strike*1000
        const std::size_t n = symbol.size();
        if (n < 16 || (symbol[n - 9] != 'C' && symbol[n - 9] != 'P') ||
            symbol.find_first_not_of("0123456789", n - 8) != std::string::npos) {
            continue;  // the malformed row of the example
        }
        const int y = 2000 + std::stoi(symbol.substr(n - 15, 2));
        if (!nearMonth(y, std::stoi(symbol.substr(n - 13, 2)),
                       std::stoi(symbol.substr(n - 11, 2)))) {
            continue;
        }
        std::string root = symbol.substr(0, n - 15);
        root.erase(root.find_last_not_of(' ') + 1);
        add(root, symbol[n - 9] == 'C' ? 0 : 1, std::stod(symbol.substr(n - 8)) / 1000,
            contracts[i][8], contracts[i][9]);
    }
    const auto columns = CsvLines(input.Read("chain_columns.csv"));
    for (std::size_t i = 1; i < columns.size(); ++i) {
        const std::vector<std::string>& row = columns[i];  // stock, M/D/YYYY, type, strike, ...
        int m = 0, d = 0, y = 0;
        if (std::sscanf(row[1].c_str(), "%d/%d/%d", &m, &d, &y) != 3 || !nearMonth(y, m, d)) {
            continue;
        }
        if (row[2] != "call" && row[2] != "put") continue;
        if (row[4].find_first_not_of("0123456789.") != std::string::npos) continue;  // malformed
        add(row[0], row[2] == "call" ? 0 : 1, std::stod(row[3]), row[8], row[9]);
    }

    const std::string results = dir.Read("Results.txt");
    const std::string saved = dir.Read("SavedSym.txt");
    ASSERT_EQ(CountOf(results, "Saved "), static_cast<int>(expectedSaved.size())) << results;
    std::size_t at = 0;
    for (const std::string& stock : expectedSaved) {
        SCOPED_TRACE(stock);
        at = results.find("Symbol... " + stock + " ", at);
        ASSERT_NE(at, std::string::npos) << "saved in this order";
        const std::size_t end = results.find("\f", at);
        const std::string block = results.substr(at, end - at);
        const Totals& t = totals[stock];
        EXPECT_NE(block.find(FormatArgs("Open Int. %-12ldOpen Int. %ld", t.openInterest[0],
                                        t.openInterest[1])),
                  std::string::npos)
            << block;
        EXPECT_NE(block.find(FormatArgs("Volume... %-12ldVolume... %ld", t.volume[0], t.volume[1])),
                  std::string::npos)
            << block;
        // Each option symbol the scan looks for: root cut or padded to three,
        // then the letters; twelve of them in the block.
        const std::string root = (stock + "  ").substr(0, 3);
        EXPECT_EQ(CountOf(block, "| " + root), 12) << block;
        EXPECT_NE(saved.find(stock), std::string::npos);
    }
    EXPECT_EQ(saved.find("DUNE"), std::string::npos);
    EXPECT_NE(
        run.out.find(FormatArgs("5 symbols scanned in this run; the pass is done: %zu of its 5 "
                                "symbols saved",
                                expectedSaved.size())),
        std::string::npos)
        << run.out;
}

// The same files served by quillon-quoted --data and scanned from the server
// save and report what the local scan of their import does: the service
// places the options as the importer does, and its pages carry the figures
// of the rows.
TEST_F(ImportScanTest, AServerScanOfTheFilesServedByTheQuoteServiceMatchesTheLocalScan) {
    ASSERT_EQ(ImportExamples(), 0) << input.Read("import.log");
    const ScanRun local = RunScan(dir);
    ASSERT_EQ(local.exitCode, 0) << local.out << local.err;

    Quoted quoted({"--data", input.Path()});
    ASSERT_GT(quoted.Port(), 0);
    TempDir server;
    server.Write("Symbols.sym", dir.Read("Symbols.sym"));
    server.Write("QuoteHosts.txt",
                 FormatArgs("127.0.0.1:%d\r\n127.0.0.1:%d\r\n", quoted.Port(), quoted.Port()));
    WriteSettings(server, false);
    const ScanRun run = RunScan(server);
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;

    // The scan upper-cases every page it receives, so a server scan names
    // the companies in capitals, while the imported archive keeps the case
    // of the file; apart from that the files are the same to the byte.
    auto capitalNames = [&](std::string text) {
        const auto rows = CsvLines(input.Read("stocks.csv"));
        for (std::size_t i = 1; i < rows.size(); ++i) {
            std::string upper = rows[i][1];
            for (char& c : upper)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            if (!upper.empty()) text = ReplaceAll(text, rows[i][1], upper);
        }
        return text;
    };
    ASSERT_NE(CountOf(dir.Read("Results.txt"), "Saved "), 0);
    for (const char* name : {"Results.txt", "SavedSym.txt", "UpSym.txt", "DownSym.txt"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(WithoutTimes(server.Read(name)), capitalNames(WithoutTimes(dir.Read(name))));
    }
    // Every stock of the files was served: all five are good symbols.
    EXPECT_EQ(CountOf(server.Read("GoodSym.txt"), "\r\n"), 5) << server.Read("GoodSym.txt");
    EXPECT_EQ(quoted.Stop(), 0);
}

// A failed import leaves what was there: no stock read, no file replaced.
TEST_F(ImportScanTest, AnImportWithoutAStockReplacesNothing) {
    dir.Write("Quote.txt", "old archive\r\n");
    dir.Write("Symbols.sym", "OLD\r\n");
    input.Write("none.csv", "symbol,last\r\nBAD.SYM,1\r\nZERO,0\r\n");
    EXPECT_EQ(Import("--symbols --out '" + dir.Path() + "' '" + input.File("none.csv") + "' '" +
                     input.File("chain_columns.csv") + "'"),
              1);
    EXPECT_NE(input.Read("import.log").find("no stock"), std::string::npos);
    input.Write("noheader.csv", "ACME,47.3\n");
    EXPECT_EQ(Import("--out '" + dir.Path() + "' '" + input.File("noheader.csv") + "' '" +
                     input.File("chain_columns.csv") + "'"),
              1);
    EXPECT_NE(input.Read("import.log").find("noheader.csv: no header row among the first 40 lines"),
              std::string::npos)
        << input.Read("import.log");
    // A missing output directory is made, and left ready for a local scan.
    EXPECT_EQ(Import("--out '" + dir.Path() + "/missing' --date 2026-12-08 '" +
                     input.File("stocks.csv") + "' '" + input.File("chain_columns.csv") + "'"),
              0);
    EXPECT_TRUE(fs::exists(dir.Path() + "/missing/Quote.txt"));
    EXPECT_EQ(ReadFile(dir.Path() + "/missing/QuoteDate.txt"), "2026-12-08\r\n");
    Settings settings;
    ASSERT_TRUE(LoadSettings(settings, WorkingFileNames::In(dir.Path() + "/missing")));
    EXPECT_TRUE(settings.QuotesFromLocalFile);
    EXPECT_EQ(dir.Read("Quote.txt"), "old archive\r\n");
    EXPECT_EQ(dir.Read("Symbols.sym"), "OLD\r\n");
    for (const auto& entry : fs::recursive_directory_iterator(dir.Path())) {
        EXPECT_EQ(entry.path().filename().string().find(".import-"), std::string::npos)
            << "no temporary file is left";
    }
}

// A market-data service served over HTTPS by quillon-quoted --tls, with a
// certificate authority made for the test.
class FetchScanTest : public ImportScanTest {
  protected:
    void SetUp() override {
        ImportScanTest::SetUp();
        // The stock quotes with the figures the exchange's reply gives, and
        // none of the others: no name, range, dividend, earnings or shares.
        std::string stocks;
        for (const auto& row : CsvLines(input.Read("stocks.csv"))) {
            for (const std::size_t column : {0, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11})
                stocks += (column == 0 ? "" : ",") + row.at(column);
            stocks += "\r\n";
        }
        input.Write("stocks.csv", stocks);
        std::string error;
        ASSERT_TRUE(
            sim::WriteTestCertificates(sim::MakeTestCertificates({"127.0.0.1"}), tls.Path(), error))
            << error;
    }

    std::vector<std::string> ServeArgs() const {
        return {"--data", input.Path(), "--tls", tls.File("server.pem"), tls.File("server.key")};
    }

    static std::string Fetch(const std::string& source, int port, const std::string& ca) {
        return "--source " + source + FormatArgs(" --source-url https://127.0.0.1:%d", port) +
               " --ca-file '" + ca + "' --rate 1000";
    }

    TempDir tls;
};

// The same chains imported and scanned from the archive, or fetched whole
// from the exchange's service: the same options are chosen, so the pass
// saves and reports the same, and the fetched pass's archive is the
// import's.
TEST_F(FetchScanTest, AnExchangeScanSavesAndReportsWhatALocalScanOfTheImportDoes) {
    ASSERT_EQ(ImportExamples(), 0) << input.Read("import.log");
    const ScanRun local = RunScan(dir);
    ASSERT_EQ(local.exitCode, 0) << local.out << local.err;

    Quoted quoted(ServeArgs());
    ASSERT_GT(quoted.Port(), 0);
    TempDir fetched;
    fetched.Write("Symbols.sym", dir.Read("Symbols.sym"));
    WriteSettings(fetched, false);
    const ScanRun run = RunScan(fetched, Fetch("exchange", quoted.Port(), tls.File("ca.pem")));
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    ASSERT_NE(CountOf(dir.Read("Results.txt"), "Saved "), 0);
    for (const char* name : {"Results.txt", "SavedSym.txt", "UpSym.txt", "DownSym.txt", "Quote.txt",
                             "QuoteDate.txt"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(WithoutTimes(fetched.Read(name)), WithoutTimes(dir.Read(name)));
    }
    // As a server pass, the fetched one lists the stocks it quoted.
    EXPECT_EQ(CountOf(fetched.Read("GoodSym.txt"), "\r\n"), 5) << fetched.Read("GoodSym.txt");
    Settings settings;
    ASSERT_TRUE(LoadSettings(settings, WorkingFileNames::In(fetched.Path())));
    EXPECT_EQ(settings.Source(), QuoteSource::Exchange);
}

// Tradier's token: kept in its owner-only store and nowhere else (no other
// file, no output, no message); a token the service refuses stops the run
// as a refused login, without writing anything of the symbol.
TEST_F(FetchScanTest, TheTokenIsKeptInItsStoreAloneAndARefusedOneStopsTheRun) {
    const std::string token = "Tk-4f9b2e7c1d";
    input.Write("token.txt", token + "\n");
    Quoted quoted({"--data", input.Path(), "--tls", tls.File("server.pem"), tls.File("server.key"),
                   "--token-file", input.File("token.txt")});
    ASSERT_GT(quoted.Port(), 0);
    dir.Write("Symbols.sym", "ACME\r\nCQ\r\n");
    WriteSettings(dir, false);
    const std::string fetch = Fetch("tradier", quoted.Port(), tls.File("ca.pem"));

    setenv("QUILLON_TRADIER_TOKEN", "wrong-token", 1);
    const ScanRun refused = RunScan(dir, fetch);
    unsetenv("QUILLON_TRADIER_TOKEN");
    EXPECT_EQ(refused.exitCode, 4) << refused.err;
    EXPECT_NE(refused.err.find("Tradier refused the access token (401)."), std::string::npos)
        << refused.err;
    EXPECT_EQ(refused.err.find("wrong-token"), std::string::npos);
    EXPECT_FALSE(dir.Exists("Results.txt"));

    const ScanRun run = RunScan(dir, "--token-file '" + input.File("token.txt") + "' " + fetch);
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(CountOf(dir.Read("GoodSym.txt"), "\r\n"), 2) << dir.Read("GoodSym.txt");
    struct stat status {};
    ASSERT_EQ(::stat(dir.File("Tradier.---").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    EXPECT_EQ(run.out.find(token) + run.err.find(token), 2 * std::string::npos);
    for (const auto& entry : fs::recursive_directory_iterator(dir.Path())) {
        if (entry.path().filename() == "Tradier.---") continue;
        EXPECT_EQ(ReadFile(entry.path().string()).find(token), std::string::npos) << entry.path();
    }
    // A run without the token goes on with the stored one.
    EXPECT_EQ(RunScan(dir, fetch).exitCode, 0);
}

// Certificates are always checked: a server whose certificate names
// another host is refused before any symbol, and the run says why.
TEST_F(FetchScanTest, ACertificateForAnotherNameIsRefusedAndSaid) {
    TempDir other;
    std::string error;
    ASSERT_TRUE(sim::WriteTestCertificates(sim::MakeTestCertificates({"quotes.example"}),
                                           other.Path(), error));
    Quoted quoted(
        {"--data", input.Path(), "--tls", other.File("server.pem"), other.File("server.key")});
    ASSERT_GT(quoted.Port(), 0);
    dir.Write("Symbols.sym", "ACME\r\n");
    WriteSettings(dir, false);
    const ScanRun run = RunScan(dir, Fetch("exchange", quoted.Port(), other.File("ca.pem")));
    EXPECT_EQ(run.exitCode, 3) << run.err;
    EXPECT_NE(run.err.find("certificate"), std::string::npos) << run.err;
    EXPECT_FALSE(dir.Exists("Results.txt"));
    EXPECT_FALSE(dir.Exists("Quote.txt"));
}

}  // namespace
}  // namespace quillon
