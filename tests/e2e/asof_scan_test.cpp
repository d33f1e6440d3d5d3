// Scans as of a past date end to end: quillon-import writes the archive of a
// day in June 2025, and quillon-scan replays it as of that day, told by
// --date or by the date recorded in QuoteDate.txt, with the options found
// and the days to expiration counted from that day. A server pass run as of
// the date records it for the local scan that follows.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/date_format.h"
#include "platform/number_format.h"
#include "results/archive_date.h"
#include "results/settings.h"
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

// One stock with the three monthly expirations of June, July and August 2025
// (Fridays 20 June, 18 July and 15 August) at the strikes around its price.
// From Tuesday 17 June 2025 the expiration Saturdays are 4, 32 and 60 days
// away; on any later day the June and July options are not the nearest.
const char* kStocks =
    "symbol,shortName,last,change,percentChange,bid,ask,open,high,low,previousClose,volume,"
    "fiftyTwoWeekHigh,fiftyTwoWeekLow,dividendRate,eps,dividendYield,sharesOutstanding,exchange,"
    "exDividendDate,historicalVolatility\n"
    "ACME,Acme Robotics Corp,47.3,0.85,1.83,47.28,47.33,46.6,47.55,46.41,46.45,3820400,58.12,"
    "31.07,0.48,2.15,1.01,412500000,NYSE,2025-05-14,31.4\n";

std::string Chain() {
    std::string text =
        "Underlying,Expiration,Type,Strike,Last,Bid,Ask,Change,Volume,Open_Interest\n";
    // Prices above the intrinsic value, so that every option has a ZOR.
    const struct {
        const char* type;
        int strike;
        double price;
    } options[] = {{"call", 40, 7.9}, {"call", 45, 3.1}, {"call", 50, 0.9},
                   {"put", 40, 0.5},  {"put", 45, 1.6},  {"put", 50, 3.9}};
    for (const char* expiration : {"6/20/2025", "7/18/2025", "8/15/2025"}) {
        for (const auto& o : options) {
            text += FormatArgs("ACME,%s,%s,%d,%.2f,%.2f,%.2f,0.1,300,1200\n", expiration, o.type,
                               o.strike, o.price, o.price - 0.05, o.price + 0.05);
        }
    }
    return text;
}

// Settings with every filter off, so that the stock is saved and reported
// whatever its options; quotes from the quote server until --local says
// otherwise.
void WriteSettings(const TempDir& working) {
    Settings settings;
    SetDefaultSettings(settings);
    settings.SymbolFileName = working.File("Symbols.sym");
    for (FilterValue& value : settings.Filters.Values)
        value = FilterValue::Text("NA");
    ASSERT_TRUE(SaveSettings(settings, WorkingFileNames::In(working.Path())));
}

int Import(const TempDir& input, const TempDir& out, const std::string& date) {
    const std::string command = "'" QUILLON_IMPORT_PATH "' --symbols --date " + date + " --out '" +
                                out.Path() + "' '" + input.File("stocks.csv") + "' '" +
                                input.File("chain.csv") + "' >'" + input.File("import.log") +
                                "' 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The settings file's last line: the data source.
std::string DataSourceLine(const TempDir& working) {
    const std::string text = working.Read("Quillon.---");
    const std::size_t end = text.rfind("\r\n");
    const std::size_t start = text.rfind("\r\n", end - 1);
    return text.substr(start + 2, end - start - 2);
}

// What the report of an archive of 17 June 2025 shows when the scan runs as
// of that day: the near options of June and July with their days to go, the
// totals of the six options per type, every ZOR worked out, and the date.
void ExpectReportOfJune17(const std::string& results) {
    EXPECT_EQ(CountOf(results, "Symbol... ACME "), 1) << results;
    EXPECT_NE(results.find("| F      6/21   4             | G      7/19   32 "), std::string::npos)
        << results;
    EXPECT_NE(results.find("| R      6/21   4             | S      7/19   32 "), std::string::npos)
        << results;
    EXPECT_NE(results.find("Open Int. 7200        Open Int. 7200 "), std::string::npos) << results;
    EXPECT_NE(results.find("Volume... 1800        Volume... 1800        6/17/2025 "),
              std::string::npos)
        << results;
    EXPECT_NE(results.find("ACMFH"), std::string::npos);
    EXPECT_NE(results.find("ACMSJ"), std::string::npos);
    EXPECT_EQ(results.find("n/a"), std::string::npos) << results;
}

class AsOfScanTest : public ::testing::Test {
  protected:
    void SetUp() override {
        input.Write("stocks.csv", kStocks);
        input.Write("chain.csv", Chain());
        WriteSettings(dir);
        ASSERT_EQ(Import(input, dir, "2025-06-17"), 0) << input.Read("import.log");
    }

    TempDir dir, input;
};

TEST_F(AsOfScanTest, ALocalScanRunsAsOfTheGivenOrRecordedDate) {
    const std::string today = ShortDateText(SystemClock().Now());
    const std::string june17 = ArchiveDateText(2025, 6, 17);
    struct Case {
        const char* name;
        std::string args;
        std::optional<std::string> dateFile;  // QuoteDate.txt; nothing: none
        bool asOfJune17;
        std::string out, err;  // a line the scan prints on stdout, on stderr
    } cases[] = {
        {"--date", "--local --date 2025-06-17", std::nullopt, true, "Scanning as of 6/17/2025", ""},
        {"recorded date", "--local", june17, true, "Quotes of 6/17/2025 from Quote.txt", ""},
        {"recorded with LF", "--local", "2025-06-17\n", true, "Quotes of 6/17/2025", ""},
        {"--date wins", "--local --date 2025-06-17", ArchiveDateText(2025, 7, 1), true,
         "Scanning as of 6/17/2025", ""},
        {"unreadable date", "--local", "17 June 2025\r\n", false, "",
         "QuoteDate.txt holds no date of the form YYYY-MM-DD; quotes taken as of today"},
        {"empty date file", "--local", "", false, "", ""},
        {"no date", "--local", std::nullopt, false, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(dir.File("Results.txt").c_str());
        std::remove(dir.File(kArchiveDateFile).c_str());
        if (c.dateFile) dir.Write(kArchiveDateFile, *c.dateFile);
        const ScanRun run = RunScan(dir, c.args);
        ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
        EXPECT_NE(
            run.out.find("1 symbol scanned in this run; the pass is done: 1 of its 1 symbol saved"),
            std::string::npos)
            << run.out;
        const std::string results = dir.Read("Results.txt");
        if (c.asOfJune17) {
            ExpectReportOfJune17(results);
        } else {
            // As of today the June 2025 options are none of the nearest.
            EXPECT_NE(results.find("n/a"), std::string::npos) << results;
            EXPECT_NE(results.find(today + " "), std::string::npos) << results;
            EXPECT_EQ(results.find("6/17/2025"), std::string::npos) << results;
        }
        if (!c.out.empty()) {
            EXPECT_NE(run.out.find(c.out), std::string::npos) << run.out;
        }
        if (c.err.empty()) {
            EXPECT_EQ(run.err, "");
        } else {
            EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
        }
        // A local scan never writes the recorded date.
        EXPECT_EQ(dir.Exists(kArchiveDateFile), c.dateFile.has_value());
    }
}

// A server pass run as of 17 June 2025 against a quote service of that day
// records the date beside its Quote.txt, and a local scan of that archive
// then needs no --date; the next server pass without --date moves the date
// aside with Quote.txt.
TEST_F(AsOfScanTest, AServerPassAsOfADateRecordsItForTheLocalScan) {
    Quoted quoted({"--data", input.Path(), "--date", "2025-06-17"});
    ASSERT_GT(quoted.Port(), 0);
    TempDir server;
    server.Write("Symbols.sym", "ACME\r\n");
    server.Write("QuoteHosts.txt",
                 FormatArgs("127.0.0.1:%d\r\n127.0.0.1:%d\r\n", quoted.Port(), quoted.Port()));
    WriteSettings(server);

    ScanRun run = RunScan(server, "--server --date 2025-06-17");
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(DataSourceLine(server), "0");
    EXPECT_EQ(server.Read(kArchiveDateFile), ArchiveDateText(2025, 6, 17));
    ExpectReportOfJune17(server.Read("Results.txt"));

    run = RunScan(server, "--local");
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(DataSourceLine(server), "1");
    EXPECT_NE(run.out.find("Quotes of 6/17/2025 from Quote.txt"), std::string::npos) << run.out;
    ExpectReportOfJune17(server.Read("Results.txt"));

    run = RunScan(server, "--server");
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(DataSourceLine(server), "0");
    EXPECT_FALSE(server.Exists(kArchiveDateFile));
    EXPECT_EQ(server.Read("QuoteDate.bak"), ArchiveDateText(2025, 6, 17));
    EXPECT_NE(server.Read("Quote.bak").find("<STOCK>ACME"), std::string::npos);
    EXPECT_EQ(quoted.Stop(), 0);
}

// --local chooses the data source as the Setup menu does and saves it in the
// settings file (--server is seen in the server pass above); a bad argument
// changes nothing.
TEST_F(AsOfScanTest, LocalSavesTheChoiceAndBadArgumentsChangeNothing) {
    const std::string settings = dir.Read("Quillon.---");
    ASSERT_EQ(DataSourceLine(dir), "0");
    for (const char* args :
         {"--local --server", "--server --local", "--date 2025-02-30", "--date 6/17/2025",
          "--date 2025-6-17", "--date 2025-06-17x", "--local --date"}) {
        SCOPED_TRACE(args);
        const ScanRun run = RunScan(dir, args);
        EXPECT_EQ(run.exitCode, 64);
        EXPECT_NE(run.err.find("quillon-scan: "), std::string::npos);
        EXPECT_EQ(dir.Read("Quillon.---"), settings);
        EXPECT_FALSE(dir.Exists("Results.txt"));
    }

    ScanRun run = RunScan(dir, "--local --date 2025-06-17");
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(DataSourceLine(dir), "1");
    EXPECT_NE(run.out.find("Processing ACME"), std::string::npos) << run.out;
    // Without the options the settings file decides: local now.
    const std::string local = dir.Read("Quillon.---");
    run = RunScan(dir, "--date 2025-06-17");
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(dir.Read("Quillon.---"), local);
    ExpectReportOfJune17(dir.Read("Results.txt"));
}

}  // namespace
}  // namespace quillon
