// Scans that are killed, again and again, at random moments and between the
// writes of one symbol's output, then started again: in the end the working
// files are those of one scan that was never interrupted.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "history/history_store.h"
#include "platform/number_format.h"
#include "results/archive_date.h"
#include "results/settings.h"
#include "sim/https_server.h"
#include "sim/market_sim.h"
#include "sim/market_sim_archive.h"
#include "tests/support/crlf_lines.h"
#include "tests/support/quoted_process.h"
#include "tests/support/scan_process.h"
#include "tests/support/temp_dir.h"

namespace quillon {
namespace {

using testing::BackgroundScan;
using testing::Quoted;
using testing::RunScan;
using testing::ScanRun;
using testing::TempDir;
using testing::WaitUntil;
using testing::WithoutTimes;

const char* const kOutputs[] = {"Results.txt",  "SavedSym.txt", "UpSym.txt",
                                "DownSym.txt",  "GoodSym.txt",  "BadSym.txt",
                                "Progress.---", "Quote.txt",    "AscQuote.txt"};

// quillon-scan in `dir` with `environment` added, killed after `killAfter`
// unless it ends first. The exit status, or -1 when it was killed.
int RunScanKilledAfter(const TempDir& dir, const std::vector<std::string>& environment,
                       std::chrono::microseconds killAfter,
                       const std::vector<std::string>& args = {}) {
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.Path().c_str()) != 0) _exit(126);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        for (const std::string& setting : environment)
            putenv(const_cast<char*>(setting.c_str()));
        // Every symbol committed: kills land between commits and between
        // the writes of one.
        setenv("QUILLON_TEST_COMMIT_EACH", "1", 1);
        std::vector<char*> argv{const_cast<char*>(QUILLON_SCAN_FAULTS_PATH)};
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(QUILLON_SCAN_FAULTS_PATH, argv.data());
        _exit(127);
    }
    int status = 0;
    const auto end = std::chrono::steady_clock::now() + killAfter;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= end) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The output files, with the time of writing blanked out.
std::map<std::string, std::string> Outputs(const TempDir& dir) {
    static const std::regex ascTime(R"(,i,\d+/\d+/\d+,\d+:\d\d,)");
    std::map<std::string, std::string> files;
    for (const char* name : kOutputs) {
        files[name] = dir.Exists(name)
                          ? std::regex_replace(WithoutTimes(dir.Read(name)), ascTime, ",i,<time>,")
                          : "<missing>";
    }
    return files;
}

// Every output file of `dir` as `reference` has it, times aside.
void ExpectSameOutputs(const TempDir& dir, const TempDir& reference) {
    const auto expected = Outputs(reference);
    const auto got = Outputs(dir);
    for (const char* name : kOutputs)
        EXPECT_EQ(got.at(name), expected.at(name)) << name;
}

// The resume point may be missing (before the first symbol) but never empty,
// cut short or mixed.
void ExpectWholeResumePoint(const TempDir& dir) {
    if (!dir.Exists("Progress.---")) return;
    const std::string point = dir.Read("Progress.---");
    EXPECT_TRUE(std::regex_match(point, std::regex(R"(\d+ \d+)"))) << "'" << point << "'";
}

// Kills and restarts until the pass is over; returns the number of kills.
// First `writeKills` runs are killed between two writes (of a symbol's
// output, or of the rotation), at most `maxWrite` writes in; then
// `timeKills` runs at a random moment within `maxDelay` of their start; then
// one run finishes the pass. A kill can come after the pass has ended
// (`finalPoint` is in Progress.---) and before the process does: the pass is
// over all the same.
int KillUntilDone(const TempDir& dir, const std::string& finalPoint, int writeKills, int timeKills,
                  int maxWrite, std::chrono::microseconds maxDelay, unsigned seed,
                  const std::vector<std::string>& args = {}) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> write(1, maxWrite);
    std::uniform_int_distribution<long> delay(0, maxDelay.count());
    int kills = 0;
    for (int run = 0; run < writeKills + timeKills + 1; ++run) {
        int status = 0;
        if (run < writeKills) {
            status = RunScanKilledAfter(
                dir, {"QUILLON_TEST_KILL_AT_WRITE=" + std::to_string(write(random))},
                std::chrono::minutes(2), args);
        } else if (run < writeKills + timeKills) {
            status = RunScanKilledAfter(dir, {}, std::chrono::microseconds(delay(random)), args);
        } else {
            status = RunScanKilledAfter(dir, {}, std::chrono::minutes(2), args);
            EXPECT_EQ(status, 0) << "the last run finishes the pass";
        }
        ExpectWholeResumePoint(dir);
        if (status == 0) return kills;
        EXPECT_EQ(status, -1) << "only a kill may end a run early";
        ++kills;
        if (dir.Read("Progress.---") == finalPoint) return kills;
    }
    return kills;
}

// The wall time of an uninterrupted run, which sets how soon a run is killed.
std::chrono::microseconds TimedRun(const TempDir& dir, const std::vector<std::string>& args = {}) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RunScanKilledAfter(dir, {}, std::chrono::minutes(2), args), 0);
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                                 start);
}

void SaveScanSettings(const TempDir& dir, bool localMode) {
    Settings settings;
    SetDefaultSettings(settings);
    settings.QuotesFromLocalFile = localMode ? 1 : 0;
    settings.SymbolFileName = dir.File("Symbols.sym");
    ASSERT_TRUE(SaveSettings(settings, WorkingFileNames::In(dir.Path())));
}

// Changes.txt with the times its passes ended blanked out.
std::string ChangesWithoutTimes(const TempDir& dir) {
    static const std::regex ended(R"(\(pass ended \d\d:\d\d\))");
    return std::regex_replace(dir.Read("Changes.txt"), ended, "(pass ended <time>)");
}

// The history of `dir` as that of `reference`, which passed as often without
// a stop: the file whole, a row per symbol of the day, each pass finished
// once and whole, and Changes.txt with a block per pass, the same blocks.
void ExpectSameHistory(const TempDir& dir, const TempDir& reference) {
    HistoryStore got, expected;
    ASSERT_TRUE(got.Open(dir.File("History.db"))) << got.Error();
    ASSERT_TRUE(expected.Open(reference.File("History.db"))) << expected.Error();
    EXPECT_TRUE(got.IntegrityOk()) << got.Error();
    ASSERT_EQ(got.Days(), expected.Days());
    for (const HistoryDay day : got.Days())
        EXPECT_EQ(got.RowsOfDay(day).size(), expected.RowsOfDay(day).size()) << day;
    auto finished = [](const HistoryStore& store) {
        int count = 0;
        for (const HistoryPass& pass : store.Passes()) {
            EXPECT_FALSE(pass.Partial) << pass.Id;
            count += pass.Finished ? 1 : 0;
        }
        return count;
    };
    EXPECT_EQ(finished(got), finished(expected));
    EXPECT_EQ(ChangesWithoutTimes(dir), ChangesWithoutTimes(reference));
}

// A directory as `from` left it, to be scanned again.
void CopyInto(const TempDir& from, const TempDir& to) {
    std::filesystem::copy(from.Path(), to.Path(),
                          std::filesystem::copy_options::recursive |
                              std::filesystem::copy_options::overwrite_existing);
}

// A local pass over an archive of 520 stocks with the default filters.
class LocalPassKills : public ::testing::Test {
  protected:
    // An archive of one fixed day, recorded as its date, so that the same
    // stocks pass the filters whatever day the test runs on: a day whose
    // twelve first stocks saved none would leave no Results.txt to move
    // aside, and the tests that watch for the move would wait in vain.
    void Prepare(const TempDir& dir, int stocks = 520) {
        const DateTime day{2026, 12, 10, 10, 0, 0};
        sim::Market market(11, day);
        ASSERT_TRUE(sim::WriteArchive(market, sim::ArchiveTickers(market, stocks), dir.Path()));
        dir.Write(kArchiveDateFile, ArchiveDateText(day.Year, day.Month, day.Day));
        SaveScanSettings(dir, true);
    }
};

TEST_F(LocalPassKills, AKilledAndRestartedPassEndsAsAnUninterruptedOne) {
    TempDir reference, killed;
    Prepare(reference);
    Prepare(killed);
    // A previous pass's files, which the new pass must move aside once.
    for (const TempDir* dir : {&reference, &killed}) {
        dir->Write("Results.txt", "previous pass\r\n");
        dir->Write("SavedSym.txt", "previous saved\r\n");
    }
    const auto whole = TimedRun(reference);

    // 16 kills between writes advance the pass by at most 16 x 30 writes
    // (about a third of it); each kill at a moment comes within a sixteenth
    // of a whole run's time, so the pass is not over before the last.
    const int kills =
        KillUntilDone(killed, reference.Read("Progress.---"), 16, 8, 30, whole / 16, 20261208);
    EXPECT_GE(kills, 20);
    ExpectSameOutputs(killed, reference);
    EXPECT_EQ(killed.Read("Results.bak"), "previous pass\r\n");
    EXPECT_EQ(killed.Read("SavedSym.bak"), "previous saved\r\n");
    // The heading once, and a count that went up by one per saved symbol.
    const std::string saved = killed.Read("SavedSym.txt");
    std::size_t headings = 0;
    for (auto at = saved.find(" Symbol Root"); at != std::string::npos;
         at = saved.find(" Symbol Root", at + 1))
        ++headings;
    EXPECT_EQ(headings, 1u);

    // The history: whole, one row per symbol of the day, each as the
    // uninterrupted pass recorded it, however often its symbol was redone.
    HistoryStore recordedOnce, recordedKilled;
    ASSERT_TRUE(recordedOnce.Open(reference.File("History.db"))) << recordedOnce.Error();
    ASSERT_TRUE(recordedKilled.Open(killed.File("History.db"))) << recordedKilled.Error();
    EXPECT_TRUE(recordedKilled.IntegrityOk()) << recordedKilled.Error();
    ASSERT_EQ(recordedKilled.Days(), recordedOnce.Days());
    ASSERT_EQ(recordedKilled.Days().size(), 1u);
    const HistoryDay day = recordedKilled.Days()[0];
    const std::vector<HistoryRow> once = recordedOnce.RowsOfDay(day);
    const std::vector<HistoryRow> rows = recordedKilled.RowsOfDay(day);
    EXPECT_EQ(once.size(), 520u);
    ASSERT_EQ(rows.size(), once.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].Symbol, once[i].Symbol);
        EXPECT_EQ(rows[i].Last, once[i].Last) << rows[i].Symbol;
        EXPECT_EQ(rows[i].Zorc, once[i].Zorc) << rows[i].Symbol;
        EXPECT_EQ(rows[i].Verdict, once[i].Verdict) << rows[i].Symbol;
        EXPECT_EQ(rows[i].FailedTest, once[i].FailedTest) << rows[i].Symbol;
    }
    const std::vector<HistoryPass> passes = recordedKilled.Passes();
    ASSERT_GE(passes.size(), 2u) << "a pass row for each run that got to a symbol";
    EXPECT_TRUE(passes.back().Finished);
    ExpectSameHistory(killed, reference);
}

// A disk that fills up: the run stops with its own status and the reason,
// the symbol is left out whole, and the next run completes the pass.
TEST_F(LocalPassKills, AFullDiskStopsTheRunAndTheNextRunCompletesThePass) {
    TempDir reference, full;
    Prepare(reference);
    Prepare(full);
    ASSERT_EQ(RunScan(reference).exitCode, 0);

    // A first pass, whole; the failing run is the second, which rotates.
    ASSERT_EQ(RunScan(full).exitCode, 0);
    const std::string command = "QUILLON_TEST_FAIL_AT_WRITE=50";
    putenv(const_cast<char*>(command.c_str()));
    // The installed program has no fault points: it is not stopped.
    TempDir plain;
    Prepare(plain);
    const ScanRun unharmed = RunScan(plain);
    const ScanRun failed = RunScan(full, "", QUILLON_SCAN_FAULTS_PATH);
    unsetenv("QUILLON_TEST_FAIL_AT_WRITE");
    EXPECT_EQ(unharmed.exitCode, 0) << unharmed.err;
    ExpectSameOutputs(plain, reference);
    EXPECT_EQ(failed.exitCode, 6);
    EXPECT_NE(failed.err.find("Cannot write " + full.Path() + "/"), std::string::npos)
        << failed.err;
    EXPECT_NE(failed.err.find(": No space left on device"), std::string::npos) << failed.err;
    ExpectWholeResumePoint(full);
    const ScanRun rest = RunScan(full);
    ASSERT_EQ(rest.exitCode, 0) << rest.err;
    ExpectSameOutputs(full, reference);
}

// A power cut: a run killed half-way, and then the tails of its files lost
// as an operating system that never wrote them out leaves them, shorter than
// the journal's newest record. The next run steps back to the record the
// files hold and ends as an uninterrupted pass.
TEST_F(LocalPassKills, FilesThatLostTheirTailEndAsAnUninterruptedPass) {
    TempDir reference, cut;
    Prepare(reference);
    Prepare(cut);
    ASSERT_EQ(RunScan(reference).exitCode, 0);
    ASSERT_EQ(RunScanKilledAfter(cut, {"QUILLON_TEST_KILL_AT_WRITE=900"}, std::chrono::minutes(2)),
              -1);
    const std::string point = cut.Read("Progress.---");
    ASSERT_NE(point, "0 0");
    for (const char* name : {"Results.txt", "SavedSym.txt"}) {
        const auto size = std::filesystem::file_size(cut.File(name));
        ASSERT_GT(size, 40u) << name;
        std::filesystem::resize_file(cut.File(name), size - 40);
    }
    const ScanRun rest = RunScan(cut);
    EXPECT_EQ(rest.exitCode, 0) << rest.err;
    ExpectSameOutputs(cut, reference);
}

// The second pass of a directory, killed at each sync in turn (of the pass
// output, the journal and the resume point, and of History.db: its commits,
// the pass end, the change block's mark), then run again: each time the
// files and the history end as a pass never killed.
TEST_F(LocalPassKills, AHistoryKilledAtAnySyncEndsAsAnUninterruptedOne) {
    TempDir reference, once;
    Prepare(reference, 12);
    Prepare(once, 12);
    ASSERT_EQ(RunScan(reference).exitCode, 0);
    ASSERT_EQ(RunScan(reference).exitCode, 0);
    ASSERT_EQ(RunScan(once).exitCode, 0);
    // Whether a run killed at sync `sync` still ends as the reference; false
    // when the pass had fewer syncs and the run ended on its own.
    auto killedAt = [&](int sync) {
        SCOPED_TRACE("killed at sync " + std::to_string(sync));
        TempDir killed;
        CopyInto(once, killed);
        const int status = RunScanKilledAfter(
            killed, {"QUILLON_TEST_KILL_AT_SYNC=" + std::to_string(sync)}, std::chrono::minutes(2));
        if (status == 0) return false;
        EXPECT_EQ(status, -1);
        // A kill as the history closes comes after the pass has ended: its
        // files moved aside, its journal gone, its end point written.
        const bool ended = killed.Exists("Results.bak") && !killed.Exists("Progress.jnl") &&
                           killed.Read("Progress.---") == reference.Read("Progress.---");
        if (!ended) {
            EXPECT_EQ(RunScan(killed).exitCode, 0);
        }
        ExpectSameOutputs(killed, reference);
        ExpectSameHistory(killed, reference);
        return !HasFailure();
    };
    // Every sync of the first symbols and of the pass end; in between, where
    // each symbol's syncs repeat those before, every third.
    int sync = 1;
    while (killedAt(sync))
        sync += sync < 16 ? 1 : 3;
    for (int last = std::max(17, sync - 12); last < sync && !HasFailure(); ++last) {
        if ((last - 16) % 3 != 0) killedAt(last);
    }
    EXPECT_GT(sync, 4 * 12) << "the syncs of each symbol's commit";
}

// A disk that fills up under History.db at a write of the pass: the scan
// stops there, saying so, and once there is room the next run records the
// whole day, with the change list of an uninterrupted pass (also when the
// directory had no pass before).
TEST_F(LocalPassKills, AFullHistoryStopsTheScanAndTheNextRunRecordsTheWholeDay) {
    TempDir firstPass, secondPass, once;
    for (const TempDir* dir : {&firstPass, &secondPass, &once})
        Prepare(*dir, 12);
    ASSERT_EQ(RunScan(firstPass).exitCode, 0);
    ASSERT_EQ(RunScan(secondPass).exitCode, 0);
    ASSERT_EQ(RunScan(secondPass).exitCode, 0);
    ASSERT_EQ(RunScan(once).exitCode, 0);
    struct Case {
        int FullAt;
        bool Fresh;  // no pass before: the first pass fills the disk
    };
    for (const Case c : {Case{1, true}, Case{9, true}, Case{1, false}, Case{5, false},
                         Case{20, false}, Case{40, false}}) {
        SCOPED_TRACE("full at write " + std::to_string(c.FullAt) + (c.Fresh ? ", fresh" : ""));
        TempDir full;
        if (c.Fresh) {
            Prepare(full, 12);
        } else {
            CopyInto(once, full);
        }
        const std::string fault = "QUILLON_TEST_HISTORY_FULL_AT_WRITE=" + std::to_string(c.FullAt);
        putenv(const_cast<char*>(fault.c_str()));
        setenv("QUILLON_TEST_COMMIT_EACH", "1", 1);
        const ScanRun failed = RunScan(full, "", QUILLON_SCAN_FAULTS_PATH);
        unsetenv("QUILLON_TEST_HISTORY_FULL_AT_WRITE");
        unsetenv("QUILLON_TEST_COMMIT_EACH");
        EXPECT_EQ(failed.exitCode, 6) << failed.err;
        EXPECT_NE(failed.err.find("Cannot write " + full.File("History.db") +
                                  ": database or disk is full"),
                  std::string::npos)
            << failed.err;
        EXPECT_NE(failed.err.find("Make room, then run quillon-scan again"), std::string::npos)
            << failed.err;
        const ScanRun rest = RunScan(full);
        ASSERT_EQ(rest.exitCode, 0) << rest.err;
        EXPECT_EQ(rest.out.find("not scanned"), std::string::npos) << rest.out;
        const TempDir& reference = c.Fresh ? firstPass : secondPass;
        ExpectSameOutputs(full, reference);
        ExpectSameHistory(full, reference);
    }
}

// One scan per working directory: a second run is refused at once, naming
// the holder, and touches nothing; the holder's files are those of a lone
// run. A killed holder frees the directory at once, and a run that waits for
// it finishes the pass as one that was never interrupted.
TEST_F(LocalPassKills, OneScanWorksInADirectoryAtATime) {
    TempDir reference, shared;
    Prepare(reference, 12);
    Prepare(shared, 12);
    ASSERT_EQ(RunScan(reference).exitCode, 0);
    auto holds = [&](const BackgroundScan& scan) {
        return WaitUntil([&] {
            return shared.Read("Scan.lock") == "quillon-scan " + std::to_string(scan.Pid()) + "\n";
        });
    };
    const std::string refusal = "quillon-scan: The working directory " + shared.Path() +
                                " is in use by quillon-scan (process ";
    {
        // Stepped on the scan clock, the holder takes seconds for 12 stocks.
        BackgroundScan holder(shared, {"--realtime"});
        ASSERT_TRUE(holds(holder));
        const std::string settings = shared.Read("Quillon.---");
        const ScanRun second = RunScan(shared, "--server");
        EXPECT_EQ(second.exitCode, 7);
        EXPECT_EQ(second.err, refusal + std::to_string(holder.Pid()) +
                                  "): one scan at a time works in a directory. Try again when "
                                  "it ends, or use --wait.\n");
        EXPECT_EQ(holder.Wait().exitCode, 0);
        ExpectSameOutputs(shared, reference);
        EXPECT_EQ(shared.Read("Quillon.---"), settings) << "--server was not saved";
    }
    {
        // A new pass, killed half-way; the waiting run finishes it.
        BackgroundScan holder(shared, {"--realtime"});
        ASSERT_TRUE(holds(holder));
        BackgroundScan waiter(shared, {"--wait"});
        ASSERT_TRUE(WaitUntil([&] { return !waiter.Err().empty(); }));
        EXPECT_EQ(waiter.Err(), "quillon-scan: waiting for quillon-scan (process " +
                                    std::to_string(holder.Pid()) +
                                    ") to finish with the directory\n");
        ASSERT_TRUE(WaitUntil([&] { return shared.Exists("Results.bak"); }));
        holder.Kill();
        const ScanRun rest = waiter.Wait();
        EXPECT_EQ(rest.exitCode, 0) << rest.err;
        ExpectSameOutputs(shared, reference);
    }
}

// The same against the demo quote service: the archive too ends as one
// uninterrupted server pass writes it.
TEST(ServerPassKills, AKilledAndRestartedServerPassEndsAsAnUninterruptedOne) {
    Quoted quoted({});
    sim::Market market(1, SystemClock().Now());
    std::vector<std::string> tickers = market.Universe();
    tickers.resize(std::min<std::size_t>(120, tickers.size()));
    std::string symbols;
    for (const std::string& t : tickers)
        symbols += t + "\r\n";

    TempDir reference, killed;
    for (const TempDir* dir : {&reference, &killed}) {
        dir->Write("Symbols.sym", symbols);
        dir->Write("QuoteHosts.txt",
                   FormatArgs("127.0.0.1:%d\r\n127.0.0.1:%d\r\n", quoted.Port(), quoted.Port()));
        SaveScanSettings(*dir, false);
    }
    const auto whole = TimedRun(reference);

    const int kills =
        KillUntilDone(killed, reference.Read("Progress.---"), 5, 3, 40, whole / 8, 1208);
    EXPECT_GE(kills, 8);
    ExpectSameOutputs(killed, reference);
    ExpectSameHistory(killed, reference);
}

// The same for a pass fetched from a market-data service over HTTPS: each
// symbol's chain comes whole, and a killed pass still ends as an
// uninterrupted one, its archive and history included.
TEST(FetchedPassKills, AKilledAndRestartedFetchedPassEndsAsAnUninterruptedOne) {
    TempDir tls;
    std::string error;
    ASSERT_TRUE(
        sim::WriteTestCertificates(sim::MakeTestCertificates({"127.0.0.1"}), tls.Path(), error))
        << error;
    Quoted quoted({"--tls", tls.File("server.pem"), tls.File("server.key")});
    ASSERT_GT(quoted.Port(), 0);
    sim::Market market(1, SystemClock().Now());
    std::vector<std::string> tickers = market.Universe();
    tickers.resize(std::min<std::size_t>(60, tickers.size()));
    std::string symbols;
    for (const std::string& t : tickers)
        symbols += t + "\r\n";
    const std::vector<std::string> args = {
        "--source",     "exchange",
        "--source-url", FormatArgs("https://127.0.0.1:%d", quoted.Port()),
        "--ca-file",    tls.File("ca.pem"),
        "--rate",       "1000"};

    TempDir reference, killed;
    for (const TempDir* dir : {&reference, &killed}) {
        dir->Write("Symbols.sym", symbols);
        SaveScanSettings(*dir, false);
    }
    const auto whole = TimedRun(reference, args);
    ASSERT_EQ(testing::CountOf(reference.Read("Quote.txt"), "<STOCK>"), 60);

    const int kills =
        KillUntilDone(killed, reference.Read("Progress.---"), 5, 3, 40, whole / 8, 1211, args);
    EXPECT_GE(kills, 8);
    ExpectSameOutputs(killed, reference);
    ExpectSameHistory(killed, reference);
}

}  // namespace
}  // namespace quillon
