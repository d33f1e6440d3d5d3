// The pass history a scan records in History.db, and a scan whose History.db
// cannot be used: it says so once and writes every file as it would have.
#include <sqlite3.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "history/history_store.h"
#include "platform/clock.h"
#include "results/archive_date.h"
#include "results/settings.h"
#include "sim/market_sim.h"
#include "sim/market_sim_archive.h"
#include "tests/support/scan_process.h"
#include "tests/support/temp_dir.h"

namespace quillon {
namespace {

using testing::RunScan;
using testing::ScanRun;
using testing::TempDir;

const char* const kScanFiles[] = {"Results.txt",  "SavedSym.txt", "UpSym.txt",    "DownSym.txt",
                                  "GoodSym.txt",  "BadSym.txt",   "Progress.---", "Quote.txt",
                                  "AscQuote.txt", "Results.bak",  "SavedSym.bak"};

// An archive of `stocks` stocks of 17 October 2025 (or of another day and
// market) with its recorded date, and the settings of a local scan with the
// default filters.
void PrepareOldArchive(const TempDir& dir, int stocks, int seed = 11, int dayOfOctober = 17) {
    const DateTime day{2025, 10, dayOfOctober, 16, 0, 0};
    sim::Market market(static_cast<std::uint64_t>(seed), day);
    ASSERT_TRUE(sim::WriteArchive(market, sim::ArchiveTickers(market, stocks), dir.Path()));
    dir.Write("QuoteDate.txt", ArchiveDateText(2025, 10, dayOfOctober));
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
std::string WithoutWriteTimes(const std::string& text) {
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
        if (row.Verdict == Verdict::Rejected) {
            EXPECT_FALSE(row.FailedTest.empty()) << row.Symbol;
        } else {
            ++savedRows;
            EXPECT_NE(saved.find(row.Symbol), std::string::npos) << row.Symbol;
        }
    }
    EXPECT_EQ(savedRows, passes[1].Saved);
}

// Twenty recorded days before the pass's own settle into the table by
// symbol at its start; the pass's own rows stay recent, so that the next
// pass of the day replaces them there.
TEST(HistoryScan, TheFirstPassOfADaySettlesAMonthOfRecentDays) {
    TempDir dir;
    PrepareOldArchive(dir, 10);
    {
        HistoryStore store;
        ASSERT_TRUE(store.Open(dir.File("History.db"))) << store.Error();
        HistoryRow row;
        row.Symbol = "OLD";
        row.Last = 5;
        for (const int day : {20250919, 20250922, 20250923, 20250924, 20250925, 20250926, 20250929,
                              20250930, 20251001, 20251002, 20251003, 20251006, 20251007, 20251008,
                              20251009, 20251010, 20251013, 20251014, 20251015, 20251016}) {
            row.Day = day;
            ASSERT_TRUE(store.Record(row)) << store.Error();
        }
        EXPECT_TRUE(store.SettleDue(20251017));
    }
    const std::string file = dir.File("History.db");
    const auto count = [&](const char* sql) {
        sqlite3* db = nullptr;
        sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_stmt* s = nullptr;
        int n = -1;
        if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) == SQLITE_OK &&
            sqlite3_step(s) == SQLITE_ROW) {
            n = sqlite3_column_int(s, 0);
        }
        sqlite3_finalize(s);
        sqlite3_close(db);
        return n;
    };
    EXPECT_EQ(count("SELECT count(*) FROM recent"), 20);
    for (int pass = 0; pass < 2; ++pass) {
        const ScanRun run = RunScan(dir);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.err.find("History"), std::string::npos) << run.err;
        EXPECT_EQ(count("SELECT count(*) FROM days"), 20) << "pass " << pass;
        EXPECT_EQ(count("SELECT count(*) FROM recent WHERE day = 20251017"), 10) << "pass " << pass;
        EXPECT_EQ(count("SELECT count(*) FROM recent"), 10) << "pass " << pass;
    }
    HistoryStore store;
    ASSERT_TRUE(store.Open(file)) << store.Error();
    EXPECT_EQ(store.Days().size(), 21u);
    EXPECT_EQ(store.Windows(20251018, 252, 20).LastSales.at("OLD").size(), 20u);
    EXPECT_TRUE(store.IntegrityOk()) << store.Error();
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
    const Case cases[] = {
        {"corrupt bytes",
         [](const TempDir& d) { d.Write("History.db", std::string(4096, '\x7f')); },
         "History not recorded: History.db: file is not a database"},
        {"a symbolic link in its place",
         [](const TempDir& d) {
             d.Write("victim", "keep me");
             std::filesystem::create_symlink(d.File("victim"), d.File("History.db"));
         },
         "History not recorded: History.db: it is a symbolic link; refused: remove it and try "
         "again"},
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
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(Count(run.err, "History not recorded"), 1u) << run.err;
        EXPECT_NE(run.err.find(c.Reason), std::string::npos) << run.err;
        // Nothing to compare with: no change list, in the file or printed.
        EXPECT_FALSE(spoilt.Exists("Changes.txt"));
        EXPECT_EQ(run.out.find("Changes of"), std::string::npos) << run.out;
        const auto expected = ScanFiles(recorded);
        const auto got = ScanFiles(spoilt);
        for (const char* name : kScanFiles) {
            // The time of writing is the only thing that may differ.
            EXPECT_EQ(WithoutWriteTimes(got.at(name)), WithoutWriteTimes(expected.at(name)))
                << name;
        }
    }
}

// A History.db another program holds locked is waited for, not gone
// without: the scan stops where its history stops, and the next run records
// the whole day and ends with the files and the change list of a scan that
// was never held.
TEST(HistoryScan, ALockedHistoryHoldsTheScanUntilItCanBeWritten) {
    TempDir recorded, held;
    PrepareOldArchive(recorded, 30);
    PrepareOldArchive(held, 30);
    ASSERT_EQ(RunScan(recorded).exitCode, 0);
    {
        HistoryStore made;
        ASSERT_TRUE(made.Open(held.File("History.db")));
    }
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(held.File("History.db").c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    const ScanRun stopped = RunScan(held);
    sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(holder);
    EXPECT_EQ(stopped.exitCode, 6);
    EXPECT_NE(stopped.err.find("Cannot write " + held.File("History.db") + ": database is locked"),
              std::string::npos)
        << stopped.err;
    EXPECT_NE(stopped.err.find("When the file can be written again, run quillon-scan again."),
              std::string::npos)
        << stopped.err;

    const ScanRun rest = RunScan(held);
    ASSERT_EQ(rest.exitCode, 0) << rest.err;
    const auto expected = ScanFiles(recorded);
    const auto got = ScanFiles(held);
    for (const char* name : kScanFiles)
        EXPECT_EQ(WithoutWriteTimes(got.at(name)), WithoutWriteTimes(expected.at(name))) << name;
    EXPECT_EQ(held.Read("Changes.txt"), recorded.Read("Changes.txt"));
    HistoryStore store;
    ASSERT_TRUE(store.Open(held.File("History.db"))) << store.Error();
    EXPECT_EQ(store.RowsOfDay(20251017).size(), 30u);
}

// The change list of each pass: a first pass of its filters lists nothing;
// a later pass with the same filters lists what joined and left the saved
// set since, as the history's rows of both days say. quillon-scan prints the
// block Changes.txt gets.
TEST(HistoryScan, EachPassPrintsAndKeepsItsChangeList) {
    TempDir dir;
    PrepareOldArchive(dir, 40);
    const ScanRun first = RunScan(dir);
    ASSERT_EQ(first.exitCode, 0) << first.err;
    const std::string firstSaved = dir.Read("SavedSym.txt");
    const ScanRun other = RunScan(dir, "--template 3");
    ASSERT_EQ(other.exitCode, 0) << other.err;
    PrepareOldArchive(dir, 40, 12, 20);
    const ScanRun again = RunScan(dir);
    ASSERT_EQ(again.exitCode, 0) << again.err;

    HistoryStore store;
    ASSERT_TRUE(store.Open(dir.File("History.db"))) << store.Error();
    std::map<std::string, HistoryRow> now;
    for (const HistoryRow& row : store.RowsOfDay(20251020))
        now[row.Symbol] = row;
    auto saved = [](const HistoryRow& row) {
        return row.Verdict == Verdict::SavedUp || row.Verdict == Verdict::SavedDown ||
               row.Verdict == Verdict::Saved;
    };
    int savedNow = 0;
    for (const auto& [symbol, row] : now)
        savedNow += saved(row) ? 1 : 0;
    // The second pass (other filters) replaced the 17th's rows: the first
    // pass's set is the one its SavedSym.txt listed.
    const std::vector<HistoryPass> passes = store.Passes();
    ASSERT_EQ(passes.size(), 3u);
    const int savedBefore = passes[0].Saved;

    const std::string firstBlock = "Changes of Fri 17 Oct 2025: first pass with these filters, " +
                                   std::to_string(savedBefore) +
                                   " saved; changes are listed from the next one";
    EXPECT_NE(first.out.find(firstBlock + "\n"), std::string::npos) << first.out;
    EXPECT_NE(other.out.find("Changes of Fri 17 Oct 2025: first pass with these filters, "),
              std::string::npos)
        << other.out;

    std::string changes = dir.Read("Changes.txt");
    ASSERT_EQ(changes.find(firstBlock + "\r\n\r\n"), 0u) << changes;
    const std::size_t third = changes.find("Changes of Mon 20 Oct 2025 since Fri 17 Oct 2025");
    ASSERT_NE(third, std::string::npos) << changes;
    const std::string block = changes.substr(third);
    // Every line ends in CR LF; the block ends with a blank line.
    for (std::size_t at = block.find('\n'); at != std::string::npos; at = block.find('\n', at + 1))
        EXPECT_EQ(block[at - 1], '\r') << block;
    ASSERT_GE(block.size(), 4u);
    EXPECT_EQ(block.substr(block.size() - 4), "\r\n\r\n");

    // The lines: those saved on the 20th and not by the first pass, those
    // the first pass saved (its SavedSym.txt) and the 20th did not.
    std::set<std::string> firstSet;
    {
        std::istringstream lines(firstSaved);
        std::string line;
        bool listed = false;
        while (std::getline(lines, line)) {
            if (listed && !line.empty() && line[0] != ' ' && line[0] != '\r') {
                firstSet.insert(line.substr(0, line.find(' ')));
            }
            if (line.rfind("-------", 0) == 0) listed = true;
        }
    }
    ASSERT_EQ(static_cast<int>(firstSet.size()), savedBefore) << firstSaved;
    // The first pass's verdicts, as its saved set was kept: a stock saved
    // UP then and DOWN now, or the other way round, is a turned signal.
    std::map<std::string, std::string> firstVerdicts;
    for (const HistoryRow& row : store.SavedSet(passes[0].Id))
        firstVerdicts[row.Symbol] = VerdictText(row.Verdict);
    std::string expected, turned;
    for (const auto& [symbol, row] : now) {
        if (!saved(row)) continue;
        const auto was = firstVerdicts.find(symbol);
        const bool isTurned = firstSet.count(symbol) != 0 && was != firstVerdicts.end() &&
                              was->second != VerdictText(row.Verdict) && was->second != "SAVED" &&
                              row.Verdict != Verdict::Saved;
        if (firstSet.count(symbol) != 0 && !isTurned) continue;
        std::string why(VerdictText(row.Verdict));
        if (row.Verdict != Verdict::Saved) {
            char ratio[64];
            const double c = row.Zorc.value_or(0), p = row.Zorp.value_or(0);
            if (c <= 0 || p <= 0) {
                std::snprintf(ratio, sizeof ratio, " ZORC/ZORP n/a");
            } else if (c >= p) {
                std::snprintf(ratio, sizeof ratio, " ZORC/ZORP %.4g", c / p);
            } else {
                std::snprintf(ratio, sizeof ratio, " ZORP/ZORC %.4g", p / c);
            }
            why += ratio;
        }
        if (isTurned) {
            turned += "~ " + symbol + "  " + why + " (was " + was->second + ")\r\n";
        } else {
            expected += "+ " + symbol + "  " + why + "\r\n";
        }
    }
    expected += turned;
    std::string unknown;
    for (const std::string& symbol : firstSet) {
        const auto found = now.find(symbol);
        if (found == now.end()) {
            expected += "- " + symbol + "  not scanned\r\n";
        } else if (found->second.Verdict == Verdict::NoQuote) {
            unknown += "? " + symbol + "  no quote\r\n";
        } else if (!saved(found->second)) {
            expected += "- " + symbol + "  " + found->second.FailedTest + "\r\n";
        }
    }
    expected += unknown;
    if (expected.empty()) expected = "no change, " + std::to_string(savedNow) + " saved\r\n";
    EXPECT_EQ(block.substr(block.find('\n') + 1), expected + "\r\n");
    EXPECT_NE(expected.find("+ "), std::string::npos) << "the data should change the set";

    // Printed as written, without the CRs.
    std::string printed = block;
    printed.erase(std::remove(printed.begin(), printed.end(), '\r'), printed.end());
    while (!printed.empty() && printed.back() == '\n')
        printed.pop_back();
    EXPECT_NE(again.out.find(printed), std::string::npos) << again.out << "\n---\n" << printed;
}

// A History.db holding 30 earlier days of every stock of the archive: the IV
// filters and the history figures have what they need.
void RecordEarlierDays(const TempDir& dir, int stocks) {
    sim::Market market(11, DateTime{2025, 10, 17, 16, 0, 0});
    HistoryStore store;
    ASSERT_TRUE(store.Open(dir.File("History.db"))) << store.Error();
    for (const std::string& ticker : sim::ArchiveTickers(market, stocks)) {
        for (int day = 1; day <= 30; ++day) {
            HistoryRow row;
            row.Symbol = ticker;
            row.Day = (day <= 16 ? 20251000 : 20250900) + day;
            row.Iv30 = 20 + day % 7;
            row.Last = 40 + day % 4;
            row.Verdict = Verdict::Saved;
            ASSERT_TRUE(store.Record(row)) << store.Error();
        }
    }
}

// With the IV filters unused and the history figures off, a scan with a rich
// history writes every file byte for byte as a scan with none; with the
// figures on, each saved block gets the history line (30 days and today)
// and SavedSym.txt the rank column.
TEST(HistoryScan, HistoryFiguresOnlyWhenAskedFor) {
    TempDir none;
    PrepareOldArchive(none, 30);
    ::mkdir(none.File("History.db").c_str(), 0755);  // no history at all
    ASSERT_EQ(RunScan(none).exitCode, 0);

    TempDir rich;
    PrepareOldArchive(rich, 30);
    RecordEarlierDays(rich, 30);
    const ScanRun run = RunScan(rich);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err.find("History"), std::string::npos) << run.err;
    const auto expected = ScanFiles(none);
    const auto got = ScanFiles(rich);
    for (const char* name : kScanFiles)
        EXPECT_EQ(WithoutWriteTimes(got.at(name)), WithoutWriteTimes(expected.at(name))) << name;

    TempDir shown;
    PrepareOldArchive(shown, 30);
    RecordEarlierDays(shown, 30);
    Settings settings;
    const WorkingFileNames files = WorkingFileNames::In(shown.Path());
    ASSERT_TRUE(LoadSettings(settings, files));
    settings.History.ShowFigures = true;
    ASSERT_TRUE(SaveSettings(settings, files));
    ASSERT_EQ(RunScan(shown).exitCode, 0);
    const std::string results = shown.Read("Results.txt");
    const std::size_t saved = Count(results, "\f\r\n");
    ASSERT_GT(saved, 0u);
    EXPECT_EQ(Count(results, "  (31 days of 52 wk)  HV20 "), saved) << results;
    EXPECT_NE(shown.Read("SavedSym.txt").find("   Rank Company Name"), std::string::npos);
}

}  // namespace
}  // namespace quillon
