// What the scan's recorder writes of a symbol: its figures, its verdict and
// the first test it failed, under the scan's as-of date.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "history/history_store.h"
#include "scan/context.h"
#include "scan/evaluation.h"
#include "scan/pass_recorder.h"
#include "tests/support/no_alarm.h"
#include "tests/support/temp_dir.h"

namespace quillon {
namespace {

using testing::NoAlarm;

using testing::TempDir;

class HistoryRecorderTest : public ::testing::Test {
  public:
    void SetUp() override {
        context.files = WorkingFileNames::In(dir.Path());
        ClearFilters(context.settings.Filters);
        BuildExpirationCalendar(context.calendar, clock.Now());
    }

    // A stock with a quote of its own: last 50, in the middle of its range.
    void Quote(const std::string& ticker) {
        ResetQuote(context.quote);
        context.quote.Ticker = ticker;
        context.quote.HaveStockData = true;
        QuoteRecord& q = context.quote.Quote;
        q.LastSale = 50;
        q.Volume = 1'000'000;
        q.PriceEarnings = 20;
        q.SharesOutstanding = 1e8L;
        q.High52Week = 60;
        q.Low52Week = 40;
        SelectStrikes(context.strikes, 50);
    }

    void Filter(FilterIndex which, double value) {
        context.settings.Filters.Values[which] = FilterValue::Number(value);
    }

    // Judges the current stock as the scan does, then records it.
    void Finish() {
        if (context.quote.HaveStockData) EvaluateSymbol(context, alarm);
        recorder->SymbolFinished(context);
    }

    std::vector<HistoryRow> Recorded(HistoryDay day) {
        HistoryStore store;
        EXPECT_TRUE(store.Open(dir.File("History.db"))) << store.Error();
        return store.RowsOfDay(day);
    }

    TempDir dir;
    FixedClock clock{DateTime{2026, 12, 1, 9, 30, 0}};
    ScriptedMessages messages;
    CountingBeeper beeper;
    Context context{clock, messages, beeper};
    NoAlarm alarm;
    std::unique_ptr<PassRecorder> recorder = MakeHistoryRecorder();
};

// Each stock fails one test of the AND group, or none; the row names the
// first it failed, in the order the AND group takes them.
TEST_F(HistoryRecorderTest, ARejectedStockNamesTheFirstTestItFailed) {
    struct Case {
        const char* Ticker;
        std::vector<std::pair<FilterIndex, double>> Filters;
        const char* Verdict;
        const char* Failed;
    };
    const Case cases[] = {
        {"AAA", {}, "SAVED", ""},
        {"BBB", {{TX_MinLast, 60}}, "REJECTED", "MinLast"},
        {"CCC", {{TX_MaxLast, 40}}, "REJECTED", "MaxLast"},
        {"DDD", {{TX_MinVolume, 2000}, {TX_MinLast, 60}}, "REJECTED", "MinVolume"},
        {"EEE", {{TX_MaxPE, 10}, {TX_MinLast, 60}}, "REJECTED", "MaxPE"},
        {"FFF", {{TX_MinRange, 80}}, "REJECTED", "MinRange"},
        {"GGG", {{TX_MinOptInt, 1}}, "REJECTED", "MinOptInt"},
        {"HHH", {{TX_MinCallPutRatio, 2}}, "REJECTED", "MinCallPutRatio"},
    };
    recorder->PassStarted(context);
    for (const Case& c : cases) {
        ClearFilters(context.settings.Filters);
        context.counters.RatioFiltersActive = false;
        for (const auto& [index, value] : c.Filters)
            Filter(index, value);
        for (const auto& [index, value] : c.Filters) {
            if (index == TX_MinCallPutRatio) context.counters.RatioFiltersActive = true;
        }
        Quote(c.Ticker);
        Finish();
    }
    recorder->Commit(context);
    ASSERT_EQ(recorder->Problem(), "");
    const std::vector<HistoryRow> rows = Recorded(20261201);
    ASSERT_EQ(rows.size(), std::size(cases));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(cases[i].Ticker);
        EXPECT_EQ(rows[i].Symbol, cases[i].Ticker);
        EXPECT_EQ(VerdictText(rows[i].Verdict), cases[i].Verdict);
        EXPECT_EQ(rows[i].FailedTest, cases[i].Failed);
        EXPECT_EQ(rows[i].Last, 50);
        EXPECT_EQ(rows[i].MarketCap, 5000);  // 1e8 shares at $50, in millions
        EXPECT_EQ(rows[i].PeRatio, 20);
    }
}

TEST_F(HistoryRecorderTest, RowsGoUnderTheAsOfDateAndTheirCountsWithThePass) {
    context.asOfDate = DateTime{2025, 10, 17, 0, 0, 0};
    recorder->PassStarted(context);
    Quote("ACME");
    // Calls and puts with activity of their own, so that a row with the two
    // sides swapped shows.
    OptionChain& chain = context.quote.Chain;
    context.quote.HaveOptionData = true;
    for (int month = 0; month < 2; ++month) {
        for (int type = 0; type < 2; ++type) {
            chain.OptBid[type][2][month] = type == 0 ? 2.5f : 1.5f;
            chain.OptAsk[type][2][month] = type == 0 ? 2.7f : 1.7f;
            chain.OptVolume[type][2][month] = type == 0 ? 300.0f : 70.0f;
            chain.OptOpenInterest[type][2][month] = type == 0 ? 1200.0f : 450.0f;
        }
    }
    Finish();
    const std::array<float, 2> volumes = {chain.TotalVolume[0], chain.TotalVolume[1]};
    const std::array<float, 2> interests = {chain.TotalOpenInterest[0], chain.TotalOpenInterest[1]};
    const std::array<float, 2> zor = {chain.TotalZOR[0], chain.TotalZOR[1]};
    ASSERT_NE(volumes[0], volumes[1]);
    ASSERT_NE(interests[0], interests[1]);
    ASSERT_NE(zor[0], zor[1]);
    Quote("NOPE");
    context.quote.HaveStockData = false;  // no quote: nothing but the verdict
    Finish();
    context.counters.ProcessCount = 1;
    recorder->PassEnded(context);
    ASSERT_EQ(recorder->Problem(), "");

    EXPECT_TRUE(Recorded(20261201).empty()) << "never under the clock's date";
    const std::vector<HistoryRow> rows = Recorded(20251017);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].Verdict, Verdict::Saved);
    EXPECT_EQ(rows[0].CallVolume, volumes[0]);
    EXPECT_EQ(rows[0].PutVolume, volumes[1]);
    EXPECT_EQ(rows[0].CallOpenInterest, interests[0]);
    EXPECT_EQ(rows[0].PutOpenInterest, interests[1]);
    EXPECT_EQ(rows[0].Zorc, zor[0]);
    EXPECT_EQ(rows[0].Zorp, zor[1]);
    EXPECT_EQ(rows[1].Symbol, "NOPE");
    EXPECT_EQ(rows[1].Verdict, Verdict::NoQuote);
    EXPECT_FALSE(rows[1].Last.has_value());

    HistoryStore store;
    ASSERT_TRUE(store.Open(dir.File("History.db")));
    const std::vector<HistoryPass> passes = store.Passes();
    ASSERT_EQ(passes.size(), 1u);
    EXPECT_EQ(passes[0].AsOf, 20251017);
    EXPECT_EQ(passes[0].Started, "2026-12-01T09:30:00");
    EXPECT_EQ(passes[0].Symbols, 2);
    EXPECT_EQ(passes[0].Saved, 1);
    EXPECT_TRUE(passes[0].Finished);
    EXPECT_EQ(rows[0].PassId, passes[0].Id);
}

// Until a commit the rows of a pass are nobody's: a recorder that goes
// without one (a killed program) leaves none of them.
TEST_F(HistoryRecorderTest, RowsReachTheDatabaseAtTheCommit) {
    recorder->PassStarted(context);
    Quote("ACME");
    Finish();
    EXPECT_TRUE(Recorded(20261201).empty());
    recorder->Commit(context);
    EXPECT_EQ(Recorded(20261201).size(), 1u);
}

// One run of a pass with a recorder of its own, going on at symbol `from`:
// each ticker judged (saved: no filter is set) and committed; the pass ended
// when asked. What the pass end returned.
std::optional<OutputFailure> RunOfPass(HistoryRecorderTest& test, int from,
                                       const std::vector<std::string>& tickers, bool end) {
    test.recorder = MakeHistoryRecorder();
    test.context.counters.SymbolIndex = from;
    test.context.counters.ProcessCount = 1;
    if (!tickers.empty()) test.recorder->PassStarted(test.context);
    for (const std::string& ticker : tickers) {
        test.Quote(ticker);
        test.Finish();
    }
    EXPECT_FALSE(test.recorder->Commit(test.context));
    return end ? test.recorder->PassEnded(test.context) : std::nullopt;
}

// A pass that went on past symbols its history lacks (the history stopped
// in an earlier run) is partial: a stock saved before and not recorded now is
// "not recorded", never "not scanned", and its block says why.
TEST_F(HistoryRecorderTest, APassThatWentOnWithoutItsHistoryIsPartial) {
    EXPECT_FALSE(RunOfPass(*this, 0, {"AAA", "BBB", "CCC"}, true));
    RunOfPass(*this, 0, {"AAA"}, false);
    EXPECT_FALSE(RunOfPass(*this, 2, {"CCC"}, true));  // BBB scanned unrecorded
    ASSERT_TRUE(recorder->Changes());
    const PassChanges& changes = *recorder->Changes();
    EXPECT_TRUE(changes.Partial);
    ASSERT_EQ(changes.Lines.size(), 1u);
    EXPECT_EQ(changes.Lines[0].Mark, '?');
    EXPECT_EQ(changes.Lines[0].Why, "not recorded");
    EXPECT_NE(dir.Read("Changes.txt")
                  .find("? BBB  not recorded\r\npartial: some symbols were scanned while the "
                        "history could not be written\r\n\r\n"),
              std::string::npos)
        << dir.Read("Changes.txt");
}

// A run that finds every symbol of the pass written, and not its end, ends
// the history's pass with its change list; a Changes.txt that cannot take
// the block stops the pass end, and the next run writes the block once.
TEST_F(HistoryRecorderTest, ALaterRunEndsThePassAndWritesItsBlockOnce) {
    EXPECT_FALSE(RunOfPass(*this, 0, {"AAA"}, true));
    RunOfPass(*this, 0, {"AAA", "BBB"}, false);
    const std::string firstBlock = dir.Read("Changes.txt");
    std::filesystem::rename(dir.File("Changes.txt"), dir.File("Changes.kept"));
    std::filesystem::create_directory(dir.File("Changes.txt"));
    const std::optional<OutputFailure> failure = RunOfPass(*this, 2, {}, true);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->File, dir.File("Changes.txt"));
    EXPECT_EQ(failure->What, OutputFailure::Step::PassEnd);
    std::filesystem::remove(dir.File("Changes.txt"));
    std::filesystem::rename(dir.File("Changes.kept"), dir.File("Changes.txt"));

    EXPECT_FALSE(RunOfPass(*this, 2, {}, true));
    ASSERT_TRUE(recorder->Changes());
    EXPECT_EQ(recorder->Changes()->Count('+'), 1);  // BBB
    EXPECT_EQ(dir.Read("Changes.txt"), firstBlock + ChangesBlock(*recorder->Changes()));
    HistoryStore store;
    ASSERT_TRUE(store.Open(dir.File("History.db")));
    const std::vector<HistoryPass> passes = store.Passes();
    ASSERT_EQ(passes.size(), 2u);
    EXPECT_TRUE(passes[1].Finished);
    EXPECT_EQ(passes[1].Symbols, 2);
}

TEST_F(HistoryRecorderTest, AnUnusableHistoryIsToldOnceAndRecordsNothingMore) {
    dir.Write("History.db", std::string(4096, 'x'));
    recorder->PassStarted(context);
    EXPECT_EQ(recorder->Problem(), "History not recorded: History.db: file is not a database");
    Quote("ACME");
    Finish();
    recorder->PassEnded(context);
    EXPECT_EQ(dir.Read("History.db"), std::string(4096, 'x'));
}

}  // namespace
}  // namespace quillon
