// The change list of a pass: its saved set against that of the last finished
// pass with the same filter values, the Changes.txt block and the one
// notification of a pass.
#include "history/changes.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "history/history_store.h"
#include "platform/files.h"
#include "tests/support/temp_dir.h"

namespace quillon {
namespace {

using testing::TempDir;

// A row as a pass records it: verdict, ZORC/ZORP and first failed test.
HistoryRow Judged(const std::string& symbol, const std::string& verdict, double zorc = 0,
                  double zorp = 0, const std::string& failed = "") {
    HistoryRow row;
    row.Symbol = symbol;
    row.Day = 20261209;
    row.Verdict = VerdictNamed(verdict);
    if (zorc > 0) row.Zorc = zorc;
    if (zorp > 0) row.Zorp = zorp;
    row.FailedTest = failed;
    return row;
}

HistoryPass Previous(HistoryDay day, const std::string& ended) {
    HistoryPass pass;
    pass.Id = 1;
    pass.AsOf = day;
    pass.Ended = ended;
    pass.Finished = true;
    return pass;
}

std::vector<std::string> LinesOf(const PassChanges& changes) {
    std::vector<std::string> lines;
    for (const ChangeLine& line : changes.Lines)
        lines.push_back(std::string(1, line.Mark) + " " + line.Symbol + "  " + line.Why);
    return lines;
}

TEST(ChangesTest, TheSavedSetIsComparedWithThePreviousOne) {
    struct Case {
        const char* Name;
        std::vector<HistoryRow> Now;
        std::vector<HistoryRow> Before;  // the previous pass's saved set
        std::vector<std::string> Lines;
        int Saved;
    };
    const Case cases[] = {
        {"up with the calls' ratio on top",
         {Judged("ACME", "UP", 3.046, 2)},
         {},
         {"+ ACME  UP ZORC/ZORP 1.523"},
         1},
        {"down with the puts' ratio on top",
         {Judged("BOLT", "DOWN", 2, 5)},
         {},
         {"+ BOLT  DOWN ZORP/ZORC 2.5"},
         1},
        {"a ratio without both totals",
         {Judged("BOLT", "UP", 2, 0)},
         {},
         {"+ BOLT  UP ZORC/ZORP n/a"},
         1},
        {"the plain save", {Judged("CRUX", "SAVED")}, {}, {"+ CRUX  SAVED"}, 1},
        {"saved the same way before and now: no line",
         {Judged("ACME", "UP", 3, 2)},
         {Judged("ACME", "UP", 2, 1)},
         {},
         1},
        {"a turned signal, with the rule that saves it now",
         {Judged("ACME", "DOWN", 1, 2), Judged("BOLT", "UP", 3, 1)},
         {Judged("ACME", "UP", 2, 1), Judged("BOLT", "DOWN", 1, 3)},
         {"~ ACME  DOWN ZORP/ZORC 2 (was UP)", "~ BOLT  UP ZORC/ZORP 3 (was DOWN)"},
         2},
        {"rejected now with the first test it fails",
         {Judged("ACME", "REJECTED", 0, 0, "Min Volume")},
         {Judged("ACME", "UP", 2, 1)},
         {"- ACME  Min Volume"},
         0},
        {"no quote now",
         {Judged("ACME", "NOQUOTE")},
         {Judged("ACME", "SAVED")},
         {"? ACME  no quote"},
         0},
        {"left out of the symbols",
         {Judged("BOLT", "REJECTED", 0, 0, "Min Last")},
         {Judged("ACME", "SAVED")},
         {"- ACME  not scanned"},
         0},
        {"no quote or rejected without having been saved: no line",
         {Judged("ACME", "NOQUOTE"), Judged("BOLT", "REJECTED", 0, 0, "Min Last")},
         {},
         {},
         0},
        {"added, then turned, then removed, then unknown, each by symbol",
         {Judged("ZETA", "SAVED"), Judged("ALFA", "UP", 4, 2), Judged("MIKE", "NOQUOTE"),
          Judged("KILO", "REJECTED", 0, 0, "Max P/E"),
          Judged("BETA", "REJECTED", 0, 0, "Min Yield"), Judged("XRAY", "DOWN", 1, 2)},
         {Judged("MIKE", "SAVED"), Judged("KILO", "UP"), Judged("BETA", "SAVED"),
          Judged("XRAY", "UP", 2, 1)},
         {"+ ALFA  UP ZORC/ZORP 2", "+ ZETA  SAVED", "~ XRAY  DOWN ZORP/ZORC 2 (was UP)",
          "- BETA  Min Yield", "- KILO  Max P/E", "? MIKE  no quote"},
         3},
    };
    for (const Case& c : cases) {
        const PassChanges changes =
            CompareSavedSets(20261209, c.Now, Previous(20261208, ""), c.Before);
        EXPECT_EQ(LinesOf(changes), c.Lines) << c.Name;
        EXPECT_EQ(changes.Saved, c.Saved) << c.Name;

        // The same through a store, as a pass ends: the set kept before,
        // then this pass's rows.
        TempDir dir;
        HistoryStore store;
        ASSERT_TRUE(store.Open(dir.File("History.db"))) << store.Error();
        HistoryPass pass;
        pass.Filters = "F";
        pass.AsOf = 20261208;
        const std::int64_t before = store.BeginPass(pass);
        ASSERT_TRUE(store.KeepSavedSet(before, c.Before)) << store.Error();
        ASSERT_TRUE(store.EndPass(before, 0, 0, true, "")) << store.Error();
        pass.AsOf = 20261209;
        const std::int64_t now = store.BeginPass(pass);
        for (HistoryRow row : c.Now) {
            row.PassId = now;
            ASSERT_TRUE(store.Record(row)) << store.Error();
        }
        ASSERT_TRUE(store.EndPass(now, 0, 0, true, "")) << store.Error();
        const std::optional<PassChanges> kept = ChangesAtPassEnd(store, now);
        ASSERT_TRUE(kept.has_value()) << store.Error();
        EXPECT_EQ(LinesOf(*kept), c.Lines) << c.Name << " (kept in a store)";
        EXPECT_EQ(kept->Saved, c.Saved) << c.Name << " (kept in a store)";
    }
}

TEST(ChangesTest, TheFirstPassListsNothing) {
    const PassChanges changes = CompareSavedSets(
        20261209, {Judged("ACME", "UP", 2, 1), Judged("BOLT", "SAVED")}, std::nullopt, {});
    EXPECT_TRUE(changes.Lines.empty());
    EXPECT_EQ(changes.Saved, 2);
}

TEST(ChangesTest, TheBlockAndTheNotification) {
    struct Case {
        const char* Name;
        PassChanges Changes;
        const char* Block;
        const char* Notice;
    };
    PassChanges first;
    first.AsOf = 20261209;
    first.Saved = 5;
    PassChanges some;
    some.AsOf = 20261209;
    some.Saved = 4;
    some.Previous = Previous(20261208, "2026-12-08T16:05:42");
    some.Lines = {{'+', "ACME", "UP ZORC/ZORP 1.523"},
                  {'+', "BOLT", "SAVED"},
                  {'+', "CRUX", "SAVED"},
                  {'~', "FOXY", "DOWN ZORP/ZORC 1.8 (was UP)"},
                  {'-', "DUNE", "Min Volume"},
                  {'?', "ECHO", "no quote"}};
    PassChanges none;
    none.AsOf = 20260301;
    none.Saved = 2;
    none.Previous = Previous(20260228, "");
    const Case cases[] = {
        {"first", first,
         "Changes of Wed 9 Dec 2026: first pass with these filters, 5 saved; changes are "
         "listed from the next one\r\n\r\n",
         "Quillon: 5 saved"},
        {"some", some,
         "Changes of Wed 9 Dec 2026 since Tue 8 Dec 2026 (pass ended 16:05)\r\n"
         "+ ACME  UP ZORC/ZORP 1.523\r\n"
         "+ BOLT  SAVED\r\n"
         "+ CRUX  SAVED\r\n"
         "~ FOXY  DOWN ZORP/ZORC 1.8 (was UP)\r\n"
         "- DUNE  Min Volume\r\n"
         "? ECHO  no quote\r\n"
         "\r\n",
         "Quillon: +3 -1 ~1 ?1 since Tue 8 Dec"},
        {"none, across the end of February", none,
         "Changes of Sun 1 Mar 2026 since Sat 28 Feb 2026\r\nno change, 2 saved\r\n\r\n",
         "Quillon: +0 -0 since Sat 28 Feb"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ChangesBlock(c.Changes), c.Block) << c.Name;
        EXPECT_EQ(ChangesNotice(c.Changes), c.Notice) << c.Name;
    }
}

TEST(ChangesTest, DaysAreNamedByTheirWeekday) {
    const std::pair<HistoryDay, const char*> cases[] = {
        {20261208, "Tue 8 Dec 2026"},  {20240229, "Thu 29 Feb 2024"}, {20000101, "Sat 1 Jan 2000"},
        {19991231, "Fri 31 Dec 1999"}, {21000301, "Mon 1 Mar 2100"},  {20261300, "20261300"},
    };
    for (const auto& [day, text] : cases)
        EXPECT_EQ(NamedDayText(day), text) << day;
}

// Passes recorded in a store: each finished pass keeps its saved set and is
// compared with the last finished one of the same filters.
class ChangesStoreTest : public ::testing::Test {
  public:
    void SetUp() override { ASSERT_TRUE(store.Open(dir.File("History.db"))) << store.Error(); }

    std::int64_t Begin(HistoryDay day, const std::string& filters) {
        HistoryPass pass;
        pass.AsOf = day;
        pass.Source = "local";
        pass.Filters = filters;
        return store.BeginPass(pass);
    }

    void Record(std::int64_t pass, HistoryDay day, HistoryRow row) {
        row.Day = day;
        row.PassId = pass;
        ASSERT_TRUE(store.Record(row)) << store.Error();
    }

    std::vector<std::string> End(std::int64_t pass, const std::string& ended = "") {
        EXPECT_TRUE(store.EndPass(pass, 0, 0, true, ended)) << store.Error();
        const std::optional<PassChanges> changes = ChangesAtPassEnd(store, pass);
        EXPECT_TRUE(changes.has_value()) << store.Error();
        if (!changes) return {"failed"};
        if (!changes->Previous) return {"first"};
        std::vector<std::string> lines = LinesOf(*changes);
        lines.insert(lines.begin(), "since " + std::to_string(changes->Previous->AsOf));
        return lines;
    }

    TempDir dir;
    HistoryStore store;
};

TEST_F(ChangesStoreTest, OnlyAPassOfTheSameFiltersIsComparedWith) {
    const std::int64_t a = Begin(20261207, "A");
    Record(a, 20261207, Judged("ACME", "SAVED"));
    EXPECT_EQ(End(a), std::vector<std::string>{"first"});

    const std::int64_t b = Begin(20261208, "B");
    Record(b, 20261208, Judged("BOLT", "SAVED"));
    EXPECT_EQ(End(b), std::vector<std::string>{"first"});

    const std::int64_t a2 = Begin(20261209, "A");
    Record(a2, 20261209, Judged("BOLT", "SAVED"));
    Record(a2, 20261209, Judged("ACME", "REJECTED", 0, 0, "Min Last"));
    EXPECT_EQ(End(a2),
              (std::vector<std::string>{"since 20261207", "+ BOLT  SAVED", "- ACME  Min Last"}));
}

TEST_F(ChangesStoreTest, ALaterPassOfTheSameDayLeavesTheSavedSetOfTheFirstWhole) {
    const std::int64_t first = Begin(20261209, "A");
    Record(first, 20261209, Judged("ACME", "UP", 2, 1));
    Record(first, 20261209, Judged("BOLT", "SAVED"));
    EXPECT_EQ(End(first), std::vector<std::string>{"first"});

    // The second pass replaces the day's rows; the third compares with the
    // second, the second with the first's set as it was.
    const std::int64_t second = Begin(20261209, "A");
    Record(second, 20261209, Judged("ACME", "REJECTED", 0, 0, "Min Volume"));
    Record(second, 20261209, Judged("BOLT", "SAVED"));
    EXPECT_EQ(End(second), (std::vector<std::string>{"since 20261209", "- ACME  Min Volume"}));
    EXPECT_EQ(store.SavedSet(first).size(), 2u);

    const std::int64_t third = Begin(20261209, "A");
    Record(third, 20261209, Judged("ACME", "UP", 2, 1));
    Record(third, 20261209, Judged("BOLT", "SAVED"));
    EXPECT_EQ(End(third), (std::vector<std::string>{"since 20261209", "+ ACME  UP ZORC/ZORP 2"}));
}

TEST_F(ChangesStoreTest, APassOpenedAgainCountsTheRowsOfItsFirstPart) {
    const std::int64_t before = Begin(20261208, "A");
    Record(before, 20261208, Judged("ACME", "SAVED"));
    End(before);

    // The scan was closed after ACME and opened again: a new pass row.
    const std::int64_t part1 = Begin(20261209, "A");
    Record(part1, 20261209, Judged("ACME", "SAVED"));
    ASSERT_TRUE(store.EndPass(part1, 1, 1, false, ""));
    const std::int64_t other = Begin(20261209, "B");  // another filter set between
    Record(other, 20261209, Judged("ZULU", "SAVED"));
    const std::int64_t part2 = Begin(20261209, "A");
    // Past midnight: the rest of the pass is recorded under the next day.
    Record(part2, 20261210, Judged("BOLT", "SAVED"));
    EXPECT_EQ(End(part2), (std::vector<std::string>{"since 20261208", "+ BOLT  SAVED"}));
    ASSERT_EQ(store.SavedSet(part2).size(), 2u);
    EXPECT_EQ(store.SavedSet(part2)[0].Symbol, "ACME");
}

// A pass that goes on past midnight and judges a stock again: its last row
// counts, once.
TEST_F(ChangesStoreTest, AStockJudgedAgainAfterMidnightCountsByItsLastRow) {
    const std::int64_t before = Begin(20261208, "A");
    Record(before, 20261208, Judged("ACME", "SAVED"));
    Record(before, 20261208, Judged("BOLT", "SAVED"));
    End(before);

    const std::int64_t part1 = Begin(20261209, "A");
    Record(part1, 20261209, Judged("ACME", "SAVED"));
    Record(part1, 20261209, Judged("BOLT", "REJECTED", 0, 0, "Min Last"));
    ASSERT_TRUE(store.EndPass(part1, 2, 1, false, ""));
    const std::int64_t part2 = Begin(20261210, "A");
    Record(part2, 20261210, Judged("ACME", "REJECTED", 0, 0, "Max P/E"));
    Record(part2, 20261210, Judged("BOLT", "UP", 2, 1));
    EXPECT_EQ(End(part2), (std::vector<std::string>{"since 20261208", "- ACME  Max P/E"}));
    ASSERT_EQ(store.SavedSet(part2).size(), 1u);
    EXPECT_EQ(store.SavedSet(part2)[0].Symbol, "BOLT");
}

TEST_F(ChangesStoreTest, BlocksAreAppendedToChangesTxt) {
    EXPECT_TRUE(AppendToChangesFile(dir.Path(), "one\r\n\r\n"));
    EXPECT_TRUE(AppendToChangesFile(dir.Path(), "two\r\n\r\n"));
    EXPECT_EQ(ReadWholeFile(dir.File("Changes.txt")).value_or(""), "one\r\n\r\ntwo\r\n\r\n");
    EXPECT_FALSE(AppendToChangesFile(dir.File("missing/dir"), "three\r\n"));
    // Written again after a stop: a block cut short is completed, a whole
    // one left, and one that only ends like the file's tail appended whole.
    struct Case {
        const char* Before;
        const char* Block;
        const char* After;
    };
    for (const Case& c :
         {Case{"one\r\n\r\ntw", "two\r\n\r\n", "one\r\n\r\ntwo\r\n\r\n"},
          Case{"one\r\n\r\n", "one\r\n\r\n", "one\r\n\r\n"},
          Case{"xone\r\n", "one\r\n", "xone\r\none\r\n"}, Case{"", "one\r\n", "one\r\n"}}) {
        dir.Write("Changes.txt", c.Before);
        EXPECT_TRUE(AppendToChangesFile(dir.Path(), c.Block, true));
        EXPECT_EQ(dir.Read("Changes.txt"), c.After) << c.Before;
    }
}

// A symbolic link in the place of Changes.txt is refused, not appended through.
TEST_F(ChangesStoreTest, ASymbolicLinkInThePlaceOfChangesTxtIsRefused) {
    dir.Write("victim", "keep me");
    std::filesystem::create_symlink(dir.File("victim"), dir.File("Changes.txt"));
    EXPECT_FALSE(AppendToChangesFile(dir.Path(), "one\r\n\r\n"));
    EXPECT_EQ(ReadWholeFile(dir.File("victim")), "keep me");
}

}  // namespace
}  // namespace quillon
