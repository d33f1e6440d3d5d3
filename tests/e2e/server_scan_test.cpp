// Server scans over real TCP on loopback against the demo quote service:
// the scan window's state machine stepped from the test (faults), and
// quillon-scan as a process followed by a local replay of its archive.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "platform/number_format.h"
#include "platform/poll_loop.h"
#include "scan/scan_driver.h"
#include "scan/sockets.h"
#include "sim/market_sim.h"
#include "tests/support/quoted_process.h"
#include "tests/support/scan_process.h"
#include "tests/support/temp_dir.h"

namespace quillon {
namespace {

using testing::Quoted;
using testing::RunScan;
using testing::ScanRun;
using testing::TempDir;
using testing::WithoutTimes;
using namespace std::chrono_literals;

// The first `count` tickers of the demo market.
std::vector<std::string> MarketTickers(std::size_t count) {
    sim::Market market(1, SystemClock().Now());
    std::vector<std::string> tickers = market.Universe();
    tickers.resize(std::min(count, tickers.size()));
    return tickers;
}

void WriteWorkingDirectory(const TempDir& dir, int port, const std::vector<std::string>& tickers) {
    std::string symbols;
    for (const std::string& t : tickers)
        symbols += t + "\r\n";
    dir.Write("Symbols.sym", symbols);
    dir.Write("QuoteHosts.txt", FormatArgs("127.0.0.1:%d\r\n127.0.0.1:%d\r\n", port, port));
    Settings settings;
    SetDefaultSettings(settings);
    settings.SymbolFileName = dir.File("Symbols.sym");
    ASSERT_TRUE(SaveSettings(settings, WorkingFileNames::In(dir.Path())));
}

// A scan window without a screen, its socket on a poll loop, stepped from
// the test.
class ServerScan {
  public:
    ServerScan(const TempDir& dir) {
        InitWorkingFilesIn(dir.Path(), context.settings, context.runtime, context.files);
        BindSocketEvents(sockets, driver);
    }

    void Open() {
        driver.FormShow();
        driver.FormActivate();
        driver.PB_GoClick();
    }

    // One timer tick, with the socket events that arrived before it.
    void Tick() {
        network.RunOnce(0ms);
        driver.ScanStep();
    }

    // Ticks, letting the network answer between them, until `done` holds or
    // ten seconds pass.
    bool TickUntil(const std::function<bool()>& done) {
        const auto end = std::chrono::steady_clock::now() + 10s;
        while (!done() && std::chrono::steady_clock::now() < end) {
            network.RunOnce(driver.AwaitingNetwork() ? 5ms : 0ms);
            if (done()) break;
            driver.ScanStep();
        }
        return done();
    }

    FixedClock clock{SystemClock().Now()};
    ScriptedMessages messages;
    CountingBeeper beeper;
    Context context{clock, messages, beeper};
    RecordingScanView view;
    PollLoop network;
    TSockets sockets{network, messages};
    ScanDriver driver{context, view, sockets};
};

TEST(ServerScanFaults, RefusedBeforeAnyConnectionWaitsWithoutRetrying) {
    Quoted quoted({"--fault", "refuse"});
    ASSERT_GT(quoted.Port(), 0);
    TempDir dir;
    WriteWorkingDirectory(dir, quoted.Port(), MarketTickers(2));
    ServerScan scan(dir);
    scan.Open();
    const std::string refused = FormatArgs("Connection refused (127.0.0.1:%d)", quoted.Port());
    ASSERT_TRUE(scan.TickUntil([&] { return scan.view.Panels[1] == refused; }));
    EXPECT_EQ(scan.view.Panels[0], FormatArgs("Connecting to 127.0.0.1:%d", quoted.Port()));
    for (int i = 0; i < 3 * kTimeoutTicks; ++i)
        scan.Tick();
    EXPECT_EQ(scan.driver.ScanState(), Connecting);
    EXPECT_FALSE(scan.driver.EverConnected());
    EXPECT_EQ(scan.view.Panels[1], refused);
}

TEST(ServerScanFaults, StallAfterAConnectionRetriesTheSamePage) {
    Quoted quoted({"--fault", "stall", "--fault-after", "1"});
    TempDir dir;
    WriteWorkingDirectory(dir, quoted.Port(), MarketTickers(2));
    ServerScan scan(dir);
    scan.Open();
    // The stock page is answered; the option page request stalls.
    ASSERT_TRUE(scan.TickUntil(
        [&] { return scan.driver.RequestPhase() == 1 && scan.driver.ScanState() == AwaitReply; }));
    const std::string ticker = scan.context.quote.Ticker;
    for (int i = 0; i < kTimeoutTicks - 1; ++i)
        scan.Tick();
    EXPECT_EQ(scan.driver.ScanState(), AwaitReply);
    scan.Tick();
    EXPECT_EQ(scan.view.Panels[1], "Timeout Retry");
    EXPECT_EQ(scan.driver.ScanState(), NextSymbol);
    scan.Tick();
    EXPECT_EQ(scan.driver.ScanState(), Connecting);
    EXPECT_EQ(scan.driver.RequestPhase(), 1);
    EXPECT_EQ(scan.context.quote.Ticker, ticker);
}

TEST(ServerScanFaults, ResetMidPageClosesTheFilesAndAResumeLosesNothing) {
    const std::vector<std::string> tickers = MarketTickers(3);
    Quoted faulty({"--fault", "reset", "--fault-after", "2"});
    TempDir dir;
    WriteWorkingDirectory(dir, faulty.Port(), tickers);
    {
        ServerScan scan(dir);
        scan.Open();
        ASSERT_TRUE(scan.TickUntil([&] { return scan.context.counters.SymbolIndex == 1; }));
        ASSERT_TRUE(scan.context.outputs.IsOpen());
        ASSERT_TRUE(scan.TickUntil([&] { return !scan.context.outputs.IsOpen(); }));
        EXPECT_EQ(scan.view.Panels[1],
                  FormatArgs("Connection reset by peer (127.0.0.1:%d)", faulty.Port()));
        EXPECT_EQ(scan.driver.ScanState(), AwaitReply);
        scan.driver.FormClose();
    }
    // The scan window opened again against a sound server resumes at the
    // second symbol and appends to the pass's files.
    Quoted sound({});
    WriteWorkingDirectory(dir, sound.Port(), tickers);
    ServerScan scan(dir);
    scan.Open();
    ASSERT_TRUE(scan.TickUntil([&] { return scan.view.Panels[0] == kDone; }));
    const std::string good = dir.Read("GoodSym.txt");
    const std::string quotes = dir.Read("Quote.txt");
    for (const std::string& t : tickers) {
        EXPECT_EQ(good.find(FormatArgs("%-8s", t.c_str())),
                  good.rfind(FormatArgs("%-8s", t.c_str())))
            << t << " listed once";
        EXPECT_NE(quotes.find("<STOCK>" + t + "\r\n"), std::string::npos) << t;
    }
    EXPECT_EQ(std::count(good.begin(), good.end(), '\n'), 3);
}

// A page of several megabytes is stripped over several steps (a share of
// kStripBytesPerStep each), then parsed: the options are all there.
TEST(ServerScanFaults, MultiMegabyteOptionPageIsParsedOverSeveralSteps) {
    Quoted quoted({"--fault", "huge"});
    TempDir dir;
    WriteWorkingDirectory(dir, quoted.Port(), MarketTickers(1));
    ServerScan scan(dir);
    scan.Open();
    ASSERT_TRUE(scan.TickUntil([&] {
        return scan.driver.RequestPhase() == 1 && scan.driver.ScanState() == ProcessReply;
    }));
    const std::size_t pageBytes = scan.context.quote.PageText.size();
    EXPECT_GT(pageBytes, 4u << 20);
    std::size_t steps = 0;
    while (scan.driver.ScanState() == ProcessReply && steps < 1000) {
        scan.driver.ScanStep();
        ++steps;
    }
    EXPECT_GE(steps, pageBytes / kStripBytesPerStep);
    EXPECT_TRUE(scan.context.quote.HaveOptionData);
    EXPECT_EQ(scan.driver.ScanState(), NextSymbol);
}

// A wrong password: the run stops at once with its own status and says why;
// nothing is rotated, archived or listed.
TEST(ServerScanFaults, RunnerStopsOnARefusedLogin) {
    Quoted quoted({"--user", "someone", "--password", "else"});
    TempDir dir;
    WriteWorkingDirectory(dir, quoted.Port(), MarketTickers(3));
    dir.Write("Results.txt", "previous pass\r\n");
    const ScanRun run = RunScan(dir);
    EXPECT_EQ(run.exitCode, 4);
    // The advice speaks of the runner's options, not of the desktop's dialog.
    EXPECT_NE(run.err.find("The quote server refused the user name or password. Give them with "
                           "--user NAME and --password-file FILE (or QUILLON_PASSWORD), then run "
                           "quillon-scan again."),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.out.find("Login refused: see --user and --password-file\n"), std::string::npos)
        << run.out;
    EXPECT_EQ(run.out.find("Setup"), std::string::npos) << run.out;
    EXPECT_EQ(run.err.find("Setup"), std::string::npos) << run.err;
    EXPECT_EQ(dir.Read("Results.txt"), "previous pass\r\n");
    for (const char* name : {"Results.bak", "Quote.txt", "AscQuote.txt", "GoodSym.txt",
                             "BadSym.txt", "Progress.---"}) {
        EXPECT_FALSE(dir.Exists(name)) << name;
    }
}

// An outage after the first symbols: the run gives up after the time it was
// given, with its own status, and keeps the resume point for the next run.
TEST(ServerScanFaults, RunnerGivesUpWhenNothingIsFinished) {
    Quoted quoted({"--fault", "refuse", "--fault-after", "4"});
    TempDir dir;
    WriteWorkingDirectory(dir, quoted.Port(), MarketTickers(5));
    const ScanRun run = RunScan(dir, "--give-up-after 0.03");
    EXPECT_EQ(run.exitCode, 5) << run.out << run.err;
    EXPECT_NE(run.err.find("no symbol finished for 0.03 minutes; giving up"), std::string::npos)
        << run.err;
    EXPECT_EQ(dir.Read("Progress.---").substr(dir.Read("Progress.---").find(' ')), " 2");

    EXPECT_EQ(RunScan(dir, "--give-up-after 1x").exitCode, 64);
    EXPECT_EQ(RunScan(dir, "--give-up-after").exitCode, 64);
}

// The quote hosts and the account set up from the command line alone, in a
// new directory: --hosts names the service on its free port, and the
// password comes from a file, standard input or the environment, never
// from the command line, and is never shown. What is saved serves the next
// run without the options.
TEST(ServerScanEndToEnd, HostsAndAccountFromTheCommandLine) {
    const char* kSecret = "Zq7-sesame-91";
    Quoted quoted({"--user", "someone", "--password", kSecret});
    const std::string hosts = FormatArgs("--hosts 127.0.0.1:%d ", quoted.Port());
    struct Case {
        const char* name;
        std::string args;
        const char* environment;  // QUILLON_PASSWORD, or null
        int exitCode;
    };
    const Case cases[] = {
        {"file", "--user someone --password-file pw.txt", nullptr, 0},
        {"standard input", "--user someone --password-file - <pw.txt", nullptr, 0},
        {"environment", "--user someone", kSecret, 0},
        {"the file before the environment", "--user someone --password-file pw.txt", "wrong", 0},
        {"a wrong password", "--user someone", "wrong", 4},
        {"no password: the default one", "--user someone", nullptr, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        dir.Write("Symbols.sym", MarketTickers(1)[0] + "\r\n");
        dir.Write("pw.txt", std::string(kSecret) + "\r\nthe second line\r\n");
        if (c.environment != nullptr) setenv("QUILLON_PASSWORD", c.environment, 1);
        const ScanRun run = RunScan(dir, hosts + c.args);
        unsetenv("QUILLON_PASSWORD");
        EXPECT_EQ(run.exitCode, c.exitCode) << run.out << run.err;
        EXPECT_EQ(run.out.find(kSecret), std::string::npos) << run.out;
        EXPECT_EQ(run.err.find(kSecret), std::string::npos) << run.err;
        EXPECT_EQ(dir.Read("QuoteHosts.txt"),
                  FormatArgs("127.0.0.1:%d\r\n127.0.0.1:%d\r\n", quoted.Port(), quoted.Port()));
        Settings settings;
        ASSERT_TRUE(LoadSettings(settings, WorkingFileNames::In(dir.Path())));
        EXPECT_EQ(settings.UserName, "someone");
        if (c.exitCode != 0) continue;
        EXPECT_EQ(settings.Password, kSecret);
        EXPECT_NE(run.out.find(FormatArgs("Connecting to 127.0.0.1:%d\n", quoted.Port())),
                  std::string::npos)
            << run.out;
        EXPECT_NE(run.out.find("1 symbol scanned in this run; the pass is done"), std::string::npos)
            << run.out;
        EXPECT_TRUE(dir.Exists("Quote.txt"));
        const ScanRun again = RunScan(dir);
        EXPECT_EQ(again.exitCode, 0) << again.err;
    }
}

TEST(ServerScanEndToEnd, ServerScanThenLocalReplayGiveTheSameResults) {
    Quoted quoted({});
    TempDir dir;
    std::vector<std::string> tickers = MarketTickers(220);
    tickers.push_back("ZZZZZ");  // not in the market: "Please try again"
    WriteWorkingDirectory(dir, quoted.Port(), tickers);

    const ScanRun first = RunScan(dir);
    ASSERT_EQ(first.exitCode, 0) << first.out << first.err;
    const std::string quotes = dir.Read("Quote.txt");
    const std::string ascQuotes = dir.Read("AscQuote.txt");
    const std::string good = dir.Read("GoodSym.txt");
    const std::string bad = dir.Read("BadSym.txt");
    auto lines = [](const std::string& text) { return std::count(text.begin(), text.end(), '\n'); };
    auto records = [&](const std::string& text, const std::string& tag) {
        std::ptrdiff_t n = 0;
        for (auto at = text.find(tag); at != std::string::npos; at = text.find(tag, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(records(quotes, "<STOCK>"), 220);
    EXPECT_GT(records(quotes, "<OPTIONS>"), 200);
    EXPECT_EQ(lines(ascQuotes), 221);  // the header and one line per stock
    EXPECT_EQ(ascQuotes.substr(0, ascQuotes.find('\n') + 1),
              "<ticker>,<per>,<date>,<time>,<open>,<high>,<low>,<close>,<vol>,<o/i>\r\n");
    EXPECT_EQ(lines(good) + lines(bad), 220);
    EXPECT_EQ(quotes.find("<STOCK>ZZZZZ"), std::string::npos);
    // The ticker the service does not know is named, and nothing else.
    EXPECT_NE(first.out.find("No quote for ZZZZZ\n"), std::string::npos);
    EXPECT_NE(first.out.find("\n1 symbol got no quote: ZZZZZ\n221 symbols scanned in this run; "
                             "the pass is done: "),
              std::string::npos)
        << first.out.substr(first.out.size() - 300);

    const char* outputs[] = {"Results.txt", "SavedSym.txt", "UpSym.txt", "DownSym.txt"};
    std::map<std::string, std::string> server;
    for (const char* name : outputs)
        server[name] = dir.Read(name);
    EXPECT_GT(lines(server["SavedSym.txt"]), 4);

    // The same archive replayed on the same day.
    std::string settings = dir.Read("Quillon.---");
    settings.replace(settings.size() - 3, 1, "1");
    dir.Write("Quillon.---", settings);
    const ScanRun replay = RunScan(dir);
    ASSERT_EQ(replay.exitCode, 0) << replay.out << replay.err;
    for (const char* name : outputs) {
        EXPECT_EQ(WithoutTimes(dir.Read(name)), WithoutTimes(server[name])) << name;
    }
    EXPECT_EQ(dir.Read("Quote.txt"), quotes) << "a local scan leaves the archive alone";
    EXPECT_EQ(dir.Read("GoodSym.txt"), good);
}

}  // namespace
}  // namespace quillon
