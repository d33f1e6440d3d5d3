// quillon-backtest run as the program is run: its exit statuses and messages,
// the report on standard output and the files it is asked for.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include "history/history_store.h"
#include "results/settings.h"
#include "tests/support/temp_dir.h"

namespace quillon {
namespace {

using quillon::testing::TempDir;

int Backtest(const std::string& args, std::string& out, std::string& err) {
    TempDir log;
    const std::string command = "'" + std::string(QUILLON_BACKTEST_PATH) + "' " + args + " >'" +
                                log.File("out") + "' 2>'" + log.File("err") + "'";
    const int status = std::system(command.c_str());
    out = log.Read("out");
    err = log.Read("err");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Three days of AAA and BBB at 40, 44 and 48, AAA UP (ZORC nine times ZORP,
// open interest 300) on the first day; and four stocks below 40, UP on the
// first day too, whose returns with AAA's (10 %) are -20, -10, 10, 30 and 60
// %: every figure of the picks' line differs from the others.
void WriteHistory(const TempDir& dir) {
    HistoryStore store;
    ASSERT_TRUE(store.Open(dir.File("History.db"))) << store.Error();
    const HistoryDay days[] = {20260105, 20260106, 20260107};
    struct Stock {
        const char* symbol;
        double last[3];
        bool up;
    };
    const Stock stocks[] = {
        {"AAA", {40, 44, 48}, true}, {"BBB", {40, 44, 48}, false}, {"CCC", {20, 16, 16}, true},
        {"DDD", {30, 27, 27}, true}, {"EEE", {10, 13, 13}, true},  {"FFF", {5, 8, 8}, true},
    };
    for (int d = 0; d < 3; ++d) {
        for (const Stock& stock : stocks) {
            HistoryRow row;
            row.Symbol = stock.symbol;
            row.Day = days[d];
            row.PassId = 1;
            row.Last = stock.last[d];
            row.Volume = 1'000'000;
            row.CallOpenInterest = row.PutOpenInterest = 300;
            row.Zorc = d == 0 && stock.up ? 9000 : 1000;
            row.Zorp = 1000;
            ASSERT_TRUE(store.Record(row)) << store.Error();
        }
    }
}

TEST(BacktestToolTest, ExitStatusesAndMessages) {
    TempDir dir, empty;
    WriteHistory(dir);
    dir.Write("bad.settings", "");
    dir.Write("victim", "keep me");
    std::filesystem::create_symlink(dir.File("victim"), dir.File("linked.csv"));
    dir.Write("old.csv", "an earlier run's signals");
    const std::string in = "--workdir '" + dir.Path() + "' ";
    struct Case {
        std::string args;
        int status;
        const char* message;  // in standard error
    };
    const Case cases[] = {
        {"--workdir '" + empty.Path() + "'", 2, "History.db does not exist"},
        {in + "--from 2026-02-01", 3, "no recorded date from 2026-02-01 to the end"},
        {in + "--from 2026-01-07 --to 2026-01-06", 64, "lies after --to"},
        {in + "--from 2026-02-30", 64, "--from takes a real date as YYYY-MM-DD"},
        {in + "--to 20260106", 64, "--to takes a real date"},
        {in + "--horizons 1,0", 64, "--horizons takes whole numbers from 1 to 1000"},
        {in + "--horizons 5,5", 64, "--horizons"},
        {in + "--horizons 1001", 64, "--horizons"},
        {in + "--horizons 1,,5", 64, "--horizons"},
        {in + "--template 5", 64, "--template takes a number from 0 to 4"},
        {in + "--settings '" + dir.File("bad.settings") + "'", 64, "cannot be read"},
        {in + "--settings '" + dir.File("none") + "'", 64, "cannot be read"},
        {in + "--bogus 1", 64, "unknown option '--bogus'"},
        {in + "--filter MinPrice=5", 64, "--filter takes NAME=VALUE"},
        {in + "--filter MinLast", 64, "--filter takes NAME=VALUE"},
        // A value that is no number is refused, not taken as NA.
        {in + "--filter MinLast=abc", 64,
         "--filter MinLast takes a number, or NA for no "
         "filter, not 'abc'"},
        {in + "--filter maxpe=1OO", 64,
         "--filter maxpe takes a number, or NA for no filter, "
         "not '1OO'"},
        {in + "--filter MinIvRank=", 64,
         "--filter MinIvRank takes a number, or NA for no "
         "filter, not ''"},
        {in + "--template 0 --csv '" + dir.File("no/such/dir.csv") + "'", 1, "cannot write"},
        {in + "--template 0 --signals '" + dir.File("no/such/s.csv") + "'", 1, "cannot write"},
        // An earlier file is replaced; a link named is replaced itself, never
        // written through.
        {in + "--template 0 --signals '" + dir.File("old.csv") + "'", 0, ""},
        {in + "--template 0 --signals '" + dir.File("linked.csv") + "'", 0, ""},
        {in + "--template 0 --horizons 1", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        std::string out, err;
        EXPECT_EQ(Backtest(c.args, out, err), c.status);
        EXPECT_NE(err.find(c.message), std::string::npos) << err;
        if (c.status != 0) {
            EXPECT_EQ(out, "") << "no report after a failure";
        }
    }
    EXPECT_FALSE(dir.Exists("no")) << "nothing left of a failed write";
    EXPECT_EQ(dir.Read("victim"), "keep me");
    EXPECT_EQ(dir.Read("old.csv").find("date,symbol,"), 0u);
    EXPECT_EQ(dir.Read("linked.csv").find("date,symbol,"), 0u);
}

TEST(BacktestToolTest, WritesTheReportAndTheFilesAskedFor) {
    TempDir dir;
    WriteHistory(dir);
    std::string out, err;
    ASSERT_EQ(Backtest("--workdir '" + dir.Path() +
                           "' --template 'for buying stocks' --horizons 2,1 "
                           "--csv '" +
                           dir.File("r.csv") + "' --signals '" + dir.File("s.csv") + "' --chart '" +
                           dir.File("c.png") + "'",
                       out, err),
              0)
        << err;
    EXPECT_EQ(out.find("Back-test of History.db\r\nFilters: For Buying Stocks (template 1): "
                       "MinOptInt 250, MinCallPutRatio 8\r\n"),
              0u)
        << out;
    EXPECT_NE(out.find("Horizons, in recorded trading days: 1, 2\r\n"), std::string::npos);
    EXPECT_EQ(out.find('\n'), out.find("\r\n") + 1) << "CR LF line ends";
    // AAA from 40 to 44 a day later and to 48 two days later.
    EXPECT_EQ(dir.Read("s.csv"),
              "date,symbol,verdict,rule,entry,return_1d_pct,return_2d_pct,"
              "return_1d_pct_down_turned,return_2d_pct_down_turned\n"
              "2026-01-05,AAA,UP,MinCallPutRatio,40,10,20,10,20\n"
              "2026-01-05,CCC,UP,MinCallPutRatio,20,-20,-20,-20,-20\n"
              "2026-01-05,DDD,UP,MinCallPutRatio,30,-10,-10,-10,-10\n"
              "2026-01-05,EEE,UP,MinCallPutRatio,10,30,30,30,30\n"
              "2026-01-05,FFF,UP,MinCallPutRatio,5,60,60,60,60\n");
    const std::string csv = dir.Read("r.csv");
    EXPECT_EQ(csv.find("horizon,subsample,group,line,signals,days,returns,missing,hit_pct,"), 0u);
    // The picks: hit %, mean, median, 10, 25, 75 and 90 % each in its column;
    // the excess their mean (14) less the universe's (BBB's 10 % with them:
    // 80 / 6), and the universe counted as the picks are.
    EXPECT_NE(
        csv.find("\n1,every,all,picks,5,1,5,0,60,14,10,-16,-10,30,48,0.6666666667,1,0\n"
                 "1,every,all,universe,6,1,6,0,66.66666667,13.33333333,10,-15,-5,25,45,,,0\n"),
        std::string::npos)
        << csv;
    // Every row has the header's 18 fields, a group without picks (DOWN) too.
    std::istringstream rows(csv);
    for (std::string row; std::getline(rows, row);) {
        EXPECT_EQ(std::count(row.begin(), row.end(), ','), 17) << row;
    }
    EXPECT_EQ(dir.Read("c.png").substr(1, 3), "PNG");

    // Without --template or --settings: the working directory's settings file.
    Settings settings;
    SetDefaultSettings(settings);
    ClearFilters(settings.Filters);
    settings.Filters.Values[TX_MinLast] = FilterValue::Number(45);
    dir.Write("Quillon.---", SettingsFileText(settings));
    ASSERT_EQ(Backtest("--workdir '" + dir.Path() + "' --horizons 1", out, err), 0) << err;
    EXPECT_NE(out.find("Filters: settings file " + dir.File("Quillon.---") + ": MinLast 45\r\n"),
              std::string::npos)
        << out;
    // --filter after the file's filters: MinLast off, MaxLast 41 in any case.
    ASSERT_EQ(Backtest("--workdir '" + dir.Path() + "' --horizons 1 --filter minlast=NA " +
                           "--filter MAXLAST=41",
                       out, err),
              0)
        << err;
    EXPECT_NE(out.find("Filters: settings file " + dir.File("Quillon.---") +
                       " changed by --filter: MaxLast 41\r\n"),
              std::string::npos)
        << out;
    ASSERT_EQ(Backtest("--workdir '" + dir.Path() + "' --horizons 1", out, err), 0) << err;
    // Only the third day reaches 48: its picks have no day after them.
    EXPECT_NE(out.find("all                   2       1        2     n/a"), std::string::npos)
        << out;
}

}  // namespace
}  // namespace quillon
