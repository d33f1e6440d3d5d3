// A local scan end to end: quillon-scan replays an archive of the synthetic
// market and leaves every output a scan leaves; an in-process scan of the
// same archive with the same date must leave the same files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "platform/number_format.h"
#include "scan/scan_driver.h"
#include "sim/market_sim_archive.h"
#include "tests/support/crlf_lines.h"
#include "tests/support/scan_process.h"
#include "tests/support/temp_dir.h"

namespace quillon {
namespace {

using testing::CountOf;

using testing::RunScan;
using testing::ScanRun;
using testing::TempDir;
using testing::WithoutTimes;
namespace fs = std::filesystem;

class LocalScanTest : public ::testing::Test {
  protected:
    void SetUp() override {
        today = SystemClock().Now();
        market = std::make_unique<sim::Market>(7, today);
        tickers = sim::ArchiveTickers(*market, 400);
        ASSERT_TRUE(sim::WriteArchive(*market, tickers, dir.Path()));
        // Default settings, quotes from the local file.
        Settings settings;
        SetDefaultSettings(settings);
        settings.QuotesFromLocalFile = 1;
        settings.SymbolFileName = dir.File("Symbols.sym");
        ASSERT_TRUE(SaveSettings(settings, WorkingFileNames::In(dir.Path())));
    }

    // The same scan in this process, in a copy of the working directory.
    // With `closeAfterSaves`, the scan window is closed once that many
    // symbols were saved, and opened again to finish the pass.
    void ScanInProcess(const TempDir& copy, int closeAfterSaves = 0) {
        for (const char* name : {"Quote.txt", "AscQuote.txt", "GoodSym.txt", "BadSym.txt"}) {
            fs::copy_file(dir.File(name), copy.File(name));
        }
        FixedClock clock(today);
        ScriptedMessages messages;
        SilentBeeper beeper;
        Context context(clock, messages, beeper);
        InitWorkingFilesIn(copy.Path(), context.settings, context.runtime, context.files);
        context.settings = LoadedSettings();
        RecordingScanView view;
        NullQuoteSocket socket;
        ScanDriver driver(context, view, socket);
        driver.FormActivate();
        driver.PB_GoClick();
        for (int i = 0; i < 100000 && !(view.Panels[0] == kDone && !driver.Running()); ++i) {
            driver.ScanStep();
            if (context.counters.ProcessCount == closeAfterSaves && closeAfterSaves > 0 &&
                driver.ScanState() == NextSymbol) {
                // Closed right after the saved symbol, then opened again.
                driver.FormClose();
                driver.FormActivate();
                driver.PB_GoClick();
                closeAfterSaves = 0;
            }
        }
        driver.FormClose();
    }

    Settings LoadedSettings() {
        Settings settings;
        LoadSettings(settings, WorkingFileNames::In(dir.Path()));
        return settings;
    }

    TempDir dir;
    DateTime today;
    std::unique_ptr<sim::Market> market;
    std::vector<std::string> tickers;
};

TEST_F(LocalScanTest, ReplaysTheArchiveAndLeavesEveryOutput) {
    const std::string good = dir.Read("GoodSym.txt");
    const std::string bad = dir.Read("BadSym.txt");
    const ScanRun run = RunScan(dir);
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;

    const std::string saved = dir.Read("SavedSym.txt");
    const std::string results = dir.Read("Results.txt");
    const int blocks = CountOf(results, "\r\n\f\r\n");
    EXPECT_GT(blocks, 5) << "the market has stocks that pass the defaults";
    EXPECT_LT(blocks, 100);
    EXPECT_EQ(CountOf(results, "\r\n"), blocks * 56);  // 55 lines and the form feed
    EXPECT_EQ(CountOf(saved, " Symbol Root  ZORP    Price   Change Company Name\r\n"), 1);
    EXPECT_EQ(CountOf(saved, "\r\n"), 4 + blocks);
    EXPECT_EQ(CountOf(dir.Read("UpSym.txt"), "\r\n") + CountOf(dir.Read("DownSym.txt"), "\r\n"),
              blocks);
    EXPECT_NE(run.out.find(FormatArgs(
                  "%zu symbols scanned in this run; the pass is done: %d of its %zu "
                  "symbols saved, results in %s",
                  tickers.size(), blocks, tickers.size(), dir.File("Results.txt").c_str())),
              std::string::npos);
    // The finished pass leaves its count and a position that starts the next.
    EXPECT_EQ(dir.Read("Progress.---"), FormatArgs("%d 0", blocks));
    // Local scans leave the good and bad lists as they were.
    EXPECT_EQ(dir.Read("GoodSym.txt"), good);
    EXPECT_EQ(dir.Read("BadSym.txt"), bad);

    // The same scan in this process leaves the same files.
    TempDir copy;
    ScanInProcess(copy);
    for (const char* name : {"SavedSym.txt", "UpSym.txt", "DownSym.txt", "Progress.---",
                             "GoodSym.txt", "BadSym.txt"}) {
        EXPECT_EQ(copy.Read(name), dir.Read(name)) << name;
    }
    EXPECT_EQ(WithoutTimes(copy.Read("Results.txt")), WithoutTimes(results));

    // A second run is a new pass: the first pass's files become .bak.
    ASSERT_EQ(RunScan(dir).exitCode, 0);
    EXPECT_EQ(dir.Read("Results.bak"), results);
    EXPECT_EQ(dir.Read("SavedSym.bak"), saved);
    EXPECT_EQ(dir.Read("SavedSym.txt"), saved);
    EXPECT_EQ(dir.Read("GoodSym.txt"), good);
}

// With Alarm checked a pass that saves three stocks or fewer posts one
// desktop notification per stock naming it, its summary line as the body, and
// one that saves more posts one for the pass; with Alarm unchecked none is
// posted.
TEST_F(LocalScanTest, TheAlarmPostsOneNotificationPerSavedStockOrOneForManyOfThem) {
    for (const bool alarm : {true, false}) {
        TempDir copy;
        for (const char* name : {"Quote.txt", "AscQuote.txt", "GoodSym.txt", "BadSym.txt"}) {
            fs::copy_file(dir.File(name), copy.File(name));
        }
        FixedClock clock(today);
        ScriptedMessages messages;
        CountingBeeper beeper;
        RecordingNotifications notifications;
        Context context(clock, messages, beeper, notifications);
        InitWorkingFilesIn(copy.Path(), context.settings, context.runtime, context.files);
        context.settings = LoadedSettings();
        RecordingScanView view;
        view.Alarm = alarm;
        NullQuoteSocket socket;
        ScanDriver driver(context, view, socket);
        driver.FormActivate();
        driver.PB_GoClick();
        for (int i = 0; i < 1000000 && !(view.Panels[0] == kDone && !driver.Running()); ++i) {
            driver.ScanStep();
        }
        driver.FormClose();
        ASSERT_EQ(view.Panels[0], kDone);

        // The summary lines of SavedSym.txt, after its four heading lines.
        std::vector<std::string> lines;
        const std::string saved = copy.Read("SavedSym.txt");
        for (std::size_t at = 0, end; (end = saved.find("\r\n", at)) != std::string::npos;
             at = end + 2) {
            lines.push_back(saved.substr(at, end - at));
        }
        ASSERT_GT(lines.size(), 5U);
        lines.erase(lines.begin(), lines.begin() + 4);

        if (!alarm) {
            EXPECT_TRUE(notifications.Posted.empty());
            EXPECT_EQ(beeper.Count, 0);
            continue;
        }
        // The first three saved at once, one each; many saved: one more for
        // the pass, the first of its filters here, so with the count alone.
        const std::size_t each = std::min<std::size_t>(lines.size(), 3);
        ASSERT_EQ(notifications.Posted.size(), each + (lines.size() > 3 ? 1 : 0));
        if (lines.size() > 3) {
            EXPECT_EQ(notifications.Posted.back().Summary,
                      "Quillon: " + std::to_string(lines.size()) + " saved");
            EXPECT_EQ(notifications.Posted.back().Body, "");
        }
        for (std::size_t i = 0; i < each; ++i) {
            const std::string& line = lines[i];
            const std::size_t first = line.find_first_not_of(' ');
            const std::string ticker = line.substr(first, line.find(' ', first) - first);
            EXPECT_EQ(notifications.Posted[i].Summary, "Quillon: " + ticker + " saved");
            EXPECT_EQ(notifications.Posted[i].Body,
                      line.substr(first, line.find_last_not_of(' ') - first + 1));
        }
        EXPECT_GT(beeper.Count, 0);
    }
}

// Closed right after a saved symbol and opened again, the pass goes on with
// the count of the symbols saved: each counted once, one heading.
TEST_F(LocalScanTest, AScanClosedAfterASavedSymbolCountsItOnce) {
    TempDir whole, resumed;
    ScanInProcess(whole);
    ScanInProcess(resumed, 2);
    for (const char* name : {"SavedSym.txt", "UpSym.txt", "DownSym.txt", "Progress.---"})
        EXPECT_EQ(resumed.Read(name), whole.Read(name)) << name;
    EXPECT_EQ(WithoutTimes(resumed.Read("Results.txt")), WithoutTimes(whole.Read("Results.txt")));
    EXPECT_EQ(CountOf(resumed.Read("Results.txt"), "Saved 2 "), 1);
}

}  // namespace
}  // namespace quillon
