// The pass history a scan records in History.db, and a scan whose History.db
// cannot be used: it says so once and writes every file as it would have.
#include <sqlite3.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <regex>
#include <string>

#include "history/history_store.h"
#include "platform/clock.h"
#include "results/archive_date.h"
#include "results/settings.h"
#include "tests/support/scan_process.h"
#include "tests/support/temp_dir.h"
#include "tools/market_sim.h"
#include "tools/market_sim_archive.h"

namespace quillon {
namespace {

using testing::RunScan;
using testing::ScanRun;
using testing::TempDir;

const char* const kScanFiles[] = {"Results.txt",  "SavedSym.txt", "UpSym.txt",    "DownSym.txt",
                                  "GoodSym.txt",  "BadSym.txt",   "Progress.---", "Quote.txt",
                                  "AscQuote.txt", "Results.bak",  "SavedSym.bak"};

// An archive of `stocks` stocks of 17 October 2025 with its recorded date, and
// the settings of a local scan with the default filters.
void PrepareOldArchive(const TempDir& dir, int stocks) {
    const DateTime day{2025, 10, 17, 16, 0, 0};
    sim::Market market(11, day);
    ASSERT_TRUE(sim::WriteArchive(market, sim::ArchiveTickers(market, stocks), dir.Path()));
    dir.Write("QuoteDate.txt", ArchiveDateText(2025, 10, 17));
    Settings settings;
    SetDefaultSettings(settings);
    settings.QuotesFromLocalFile = 1;
    settings.SymbolFileName = dir.File("Symbols.sym");
    ASSERT_TRUE(SaveSettings(settings, WorkingFileNames::In(dir.Path())));
    dir.Write("Results.txt", "previous pass\r\n");
}

std::map<std::string, std::string> ScanFiles(const TempDir& dir) {
    std::map<std::string, std::string> files;
    for (const char* name : kScanFiles)
        files[name] = dir.Exists(name) ? dir.Read(name) : "<missing>";
    return files;
}

// A file with the time of writing blanked out, in the report and in the
// archive's list lines.
std::string WithoutTimes(const std::string& text) {
    static const std::regex ascTime(R"(,i,\d+/\d+/\d+,\d+:\d\d,)");
    return std::regex_replace(testing::WithoutTimes(text), ascTime, ",i,<time>,");
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

TEST(HistoryScan, APassRecordsOneRowPerSymbolUnderTheArchiveDate) {
    TempDir dir;
    PrepareOldArchive(dir, 40);
    const ScanRun first = RunScan(dir);
    ASSERT_EQ(first.exitCode, 0) << first.err;
    EXPECT_EQ(first.err.find("History"), std::string::npos) << first.err;
    // A second pass of the same day replaces the day's rows.
    ASSERT_EQ(RunScan(dir).exitCode, 0);

    HistoryStore store;
    ASSERT_TRUE(store.Open(dir.File("History.db"))) << store.Error();
    EXPECT_TRUE(store.IntegrityOk()) << store.Error();
    EXPECT_EQ(store.Days(), (std::vector<HistoryDay>{20251017}));
    const std::vector<HistoryRow> rows = store.RowsOfDay(20251017);
    EXPECT_EQ(rows.size(), 40u);
    const std::vector<HistoryPass> passes = store.Passes();
    ASSERT_EQ(passes.size(), 2u);
    for (const HistoryPass& pass : passes) {
        EXPECT_TRUE(pass.Finished);
        EXPECT_EQ(pass.AsOf, 20251017);
        EXPECT_EQ(pass.Source, "local");
        EXPECT_EQ(pass.Symbols, 40);
        EXPECT_FALSE(pass.Ended.empty());
    }
    // The saved ones are those SavedSym.txt lists; each rejected one names
    // the test it failed.
    const std::string saved = dir.Read("SavedSym.txt");
    int savedRows = 0;
    for (const HistoryRow& row : rows) {
        EXPECT_EQ(row.PassId, passes[1].Id) << row.Symbol;
        ASSERT_TRUE(row.Last.has_value()) << row.Symbol;
        if (row.Verdict == "REJECTED") {
            EXPECT_FALSE(row.FailedTest.empty()) << row.Symbol;
        } else {
            ++savedRows;
            EXPECT_NE(saved.find(row.Symbol), std::string::npos) << row.Symbol;
        }
    }
    EXPECT_EQ(savedRows, passes[1].Saved);
}

// Each unusable History.db is said once, with its reason, and the scan's
// files are byte for byte those of a scan that recorded its history.
TEST(HistoryScan, AHistoryThatCannotBeWrittenLeavesTheScanAsItWas) {
    TempDir recorded;
    PrepareOldArchive(recorded, 30);
    const ScanRun plain = RunScan(recorded);
    ASSERT_EQ(plain.exitCode, 0) << plain.err;

    struct Case {
        const char* Name;
        std::function<void(const TempDir&)> Spoil;
        const char* Reason;
        bool NeedsPermissions = false;
    };
    sqlite3* holder = nullptr;
    const Case cases[] = {
        {"locked by another program",
         [&](const TempDir& d) {
             {
                 HistoryStore made;
                 ASSERT_TRUE(made.Open(d.File("History.db")));
             }
             ASSERT_EQ(sqlite3_open(d.File("History.db").c_str(), &holder), SQLITE_OK);
             ASSERT_EQ(sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr),
                       SQLITE_OK);
         },
         "History not recorded: History.db: database is locked"},
        {"corrupt bytes",
         [](const TempDir& d) { d.Write("History.db", std::string(4096, '\x7f')); },
         "History not recorded: History.db: file is not a database"},
        {"a directory in its place",
         [](const TempDir& d) { ::mkdir(d.File("History.db").c_str(), 0755); },
         "History not recorded: History.db: unable to open database file"},
        {"a read-only file",
         [](const TempDir& d) {
             {
                 HistoryStore made;
                 ASSERT_TRUE(made.Open(d.File("History.db")));
             }
             ::chmod(d.File("History.db").c_str(), 0444);
         },
         "History not recorded: History.db: attempt to write a readonly database", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        if (c.NeedsPermissions && ::geteuid() == 0) continue;
        TempDir spoilt;
        PrepareOldArchive(spoilt, 30);
        c.Spoil(spoilt);
        const ScanRun run = RunScan(spoilt);
        if (holder != nullptr) {
            sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
            sqlite3_close(holder);
            holder = nullptr;
        }
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(Count(run.err, "History not recorded"), 1u) << run.err;
        EXPECT_NE(run.err.find(c.Reason), std::string::npos) << run.err;
        const auto expected = ScanFiles(recorded);
        const auto got = ScanFiles(spoilt);
        for (const char* name : kScanFiles) {
            // The time of writing is the only thing that may differ.
            EXPECT_EQ(WithoutTimes(got.at(name)), WithoutTimes(expected.at(name))) << name;
        }
    }
}

}  // namespace
}  // namespace quillon
