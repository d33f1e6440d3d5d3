// The scan driver with a market-data service's chain source: each symbol's
// outcome taken when it comes, and what the scan makes of each kind.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "results/archive_date.h"
#include "scan/scan_driver.h"
#include "tests/support/temp_dir.h"

namespace quillon {
namespace {

using testing::TempDir;
using Kind = ChainOutcome::Kind;

const DateTime kDataTime{2026, 12, 10, 15, 44, 30};

// Answers each symbol as scripted, after one step of waiting.
class ScriptedChains final : public ChainSource {
  public:
    std::string ServiceText() const override { return "the test service at https://t"; }
    void Expect(const std::vector<std::string>& symbols, std::size_t next) override {
        expected.push_back(symbols.at(next));
    }
    std::optional<ChainOutcome> Take(const std::string& symbol, QuoteState& quote,
                                     const std::optional<DateTime>&, float) override {
        if (waited[symbol]++ == 0) return std::nullopt;
        const ChainOutcome outcome = outcomes.count(symbol) != 0
                                         ? outcomes[symbol]
                                         : ChainOutcome{Kind::Quoted, "", kDataTime, {}};
        if (outcome.kind == Kind::Quoted) {
            ResetQuote(quote);
            quote.Ticker = symbol;
            quote.HaveStockData = true;
            quote.Quote.LastSale = 50;
            quote.Quote.Volume = 100000;
        }
        return outcome;
    }
    void Wait(std::chrono::milliseconds) override {}

    std::map<std::string, ChainOutcome> outcomes;
    std::map<std::string, int> waited;
    std::vector<std::string> expected;
};

// What the history saw when a pass row was opened.
class WatchingRecorder final : public PassRecorder {
  public:
    explicit WatchingRecorder(std::vector<std::string>& seen) : seen_(seen) {}
    void PassStarted(const Context& context) override {
        seen_.push_back(std::string(QuoteSourceName(context.settings.Source())) + " " +
                        (context.dataTime ? std::to_string(context.dataTime->Hour) : "-") + " " +
                        (context.asOfDate ? std::to_string(context.asOfDate->Day) : "-"));
    }
    void SymbolFinished(const Context&) override {}
    std::optional<OutputFailure> Commit(const Context&) override { return std::nullopt; }
    std::optional<OutputFailure> PassEnded(const Context&) override { return std::nullopt; }
    const std::string& Problem() const override { return problem_; }

  private:
    std::vector<std::string>& seen_;
    std::string problem_;
};

class FetchedScanTest : public ::testing::Test {
  protected:
    void SetUp() override {
        context.files = WorkingFileNames::In(dir.Path());
        context.settings.SymbolFileName = dir.File("Symbols.sym");
        context.settings.SetSource(QuoteSource::Exchange);
        context.outputs.CommitInterval = {};
        context.chains = &chains;
        parts.MakeRecorder = [this] { return std::make_unique<WatchingRecorder>(passes); };
        dir.Write("Symbols.sym", "AAA\r\nBBB\r\nCCC\r\n");
    }

    void OpenAndGo() {
        driver = std::make_unique<ScanDriver>(context, view, socket, parts);
        driver->FormShow();
        driver->FormActivate();
        driver->PB_GoClick();
    }

    // Steps until the pass is done or the scan pauses.
    void Run() {
        for (int i = 0; i < 1000 && (driver->Running() || i == 0); ++i)
            driver->ScanStep();
    }

    TempDir dir;
    FixedClock clock{DateTime{2026, 12, 12, 9, 0, 0}};
    ScriptedMessages messages;
    CountingBeeper beeper;
    Context context{clock, messages, beeper};
    RecordingScanView view;
    NullQuoteSocket socket;
    ScriptedChains chains;
    std::vector<std::string> passes;
    ScanParts parts = ScanParts::Defaults();
    std::unique_ptr<ScanDriver> driver;
};

// A pass of quoted symbols runs as of the data's day, records its time and
// source in the history, archives every symbol with the day beside
// Quote.txt, and asks the source for each symbol in the list's order.
TEST_F(FetchedScanTest, APassRunsAsOfTheDataAndArchivesEverySymbol) {
    OpenAndGo();
    Run();
    EXPECT_EQ(view.Panels[0], kDone);
    EXPECT_EQ(chains.expected, (std::vector<std::string>{"AAA", "BBB", "CCC"}));
    EXPECT_EQ(passes, (std::vector<std::string>{"exchange 15 10"}));
    const std::string archive = dir.Read("Quote.txt");
    for (const char* symbol : {"AAA", "BBB", "CCC"})
        EXPECT_NE(archive.find(symbol), std::string::npos) << symbol;
    EXPECT_EQ(dir.Read(kArchiveDateFile), ArchiveDateText(2026, 12, 10));
    EXPECT_EQ(driver->ScanDateNote(), "Quotes of 12/10/2026 from the exchange's delayed quotes");
}

// Each kind of failure: what is listed, whether the scan pauses and why.
TEST_F(FetchedScanTest, FailuresListTheSymbolOrPauseAsTheirKindSays) {
    const struct Case {
        const char* what;
        std::map<std::string, ChainOutcome> outcomes;
        ScanStop stop;
        std::string badSym;
        const char* message;  // the start of the message shown, or none
    } cases[] = {
        {"unknown symbol",
         {{"BBB", {Kind::UnknownSymbol, "BBB: no such symbol", {}, {}}}},
         ScanStop::None,
         "BBB\r\n",
         nullptr},
        {"a reply that cannot be read",
         {{"AAA", {Kind::Failed, "AAA: cut short", {}, {}}}},
         ScanStop::None,
         "AAA\r\n",
         nullptr},
        {"no answer after an answered symbol",
         {{"BBB", {Kind::Unreachable, "No answer from the test service", {}, {}}}},
         ScanStop::None,
         "BBB\r\n",
         nullptr},
        {"no answer before any",
         {{"AAA", {Kind::Unreachable, "No answer from the test service", {}, {}}}},
         ScanStop::Unreachable,
         "",
         "No answer from the test service. Check the network connection"},
        {"a refused token",
         {{"BBB", {Kind::Refused, "Tradier refused the access token (401).", {}, {}}}},
         ScanStop::LoginRefused,
         "",
         "Tradier refused the access token (401). Give a valid token"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(dir.File("BadSym.txt"));
        std::filesystem::remove(dir.File("Progress.---"));
        messages.Shown.clear();
        chains = ScriptedChains();
        chains.outcomes = c.outcomes;
        context.runtime.SymbolsLoaded = false;
        OpenAndGo();
        Run();
        EXPECT_EQ(driver->LastStop(), c.stop);
        EXPECT_EQ(dir.Exists("BadSym.txt") ? dir.Read("BadSym.txt") : "", c.badSym);
        if (c.message == nullptr) {
            EXPECT_EQ(view.Panels[0], kDone);
            EXPECT_TRUE(messages.Shown.empty());
        } else {
            ASSERT_EQ(messages.Shown.size(), 1u);
            EXPECT_EQ(messages.Shown[0].rfind(c.message, 0), 0u) << messages.Shown[0];
            EXPECT_FALSE(driver->Running());
        }
        driver.reset();
    }
}

TEST_F(FetchedScanTest, AFetchedSourceWithoutAChainSourceSaysSoAndCloses) {
    context.chains = nullptr;
    OpenAndGo();
    Run();
    ASSERT_EQ(messages.Shown.size(), 1u);
    EXPECT_EQ(messages.Shown[0],
              "The quotes are set to come from the exchange's delayed quotes, which this scan "
              "cannot reach.");
    EXPECT_TRUE(view.Closed);
}

}  // namespace
}  // namespace quillon
