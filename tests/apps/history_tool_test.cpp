// quillon-history: days of the past recorded from CSV files of many quote
// dates and from quote archives under their recorded date, and the history
// printed back (show, export, rank), run as the program is run.
#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "history/history_store.h"
#include "ingest/import_book.h"
#include "platform/number_format.h"
#include "tests/support/temp_dir.h"

namespace quillon {
namespace {

using quillon::testing::TempDir;

int RunProgram(const std::string& program, const std::string& args, std::string& output) {
    TempDir log;
    const std::string command =
        "'" + program + "' " + args + " >'" + log.File("out") + "' 2>'" + log.File("err") + "'";
    const int status = std::system(command.c_str());
    output = log.Read("out") + log.Read("err");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int History(const std::string& args, std::string& output) {
    return RunProgram(QUILLON_HISTORY_PATH, args, output);
}

// Runs the shell commands of `script`: their status, and what they printed.
int RunScript(const std::string& script, std::string& output) {
    TempDir dir;
    dir.Write("run.sh", script);
    return RunProgram("/bin/sh", "'" + dir.File("run.sh") + "'", output);
}

double NormalCdf(double x) {
    return 0.5 * std::erfc(-x / std::sqrt(2.0));
}

// A European option's price, no interest, no dividend.
double Price(bool put, double stock, double strike, double days, double volatility) {
    const double t = days / 365;
    const double d1 =
        (std::log(stock / strike) + volatility * volatility / 2 * t) / (volatility * std::sqrt(t));
    const double d2 = d1 - volatility * std::sqrt(t);
    return put ? strike * NormalCdf(-d2) - stock * NormalCdf(-d1)
               : stock * NormalCdf(d1) - strike * NormalCdf(d2);
}

// Three days of quotes, in no order: ACME on 10 October (no chain), 13 and
// 14 October (chains priced at 30 % and 40 % volatility), DUNE on the 13th
// and 14th without options.
void WriteThreeDays(const TempDir& in) {
    in.Write("stocks.csv",
             "date,symbol,last,volume\n"
             "2025-10-14,ACME,50.5,1000000\n"
             "2025-10-10,ACME,49,900000\n"
             "2025-10-13,ACME,50,800000\n"
             "2025-10-13,DUNE,8,5000000\n"
             "2025-10-14,DUNE,8.2,5100000\n");
    std::string chain =
        "underlying,underlying_last,type,expiration,quotedate,strike,last,bid,ask,volume,"
        "openinterest\n";
    const struct {
        const char* quoteDate;
        double stock;
        double volatility;
        int daysToOctober;
    } days[] = {{"10/14/2025", 50.5, 0.40, 3}, {"10/13/2025", 50, 0.30, 4}};
    for (const auto& day : days) {
        for (const auto& [expiration, extraDays] :
             {std::pair<const char*, int>{"10/17/2025", 0}, {"11/21/2025", 35}}) {
            for (double strike : {40.0, 45.0, 50.0, 55.0, 60.0}) {
                for (bool put : {false, true}) {
                    const double price = Price(put, day.stock, strike,
                                               day.daysToOctober + extraDays, day.volatility);
                    char line[200];
                    std::snprintf(line, sizeof line, "ACME,%g,%s,%s,%s,%g,%.4f,%.4f,%.4f,10,100\n",
                                  day.stock, put ? "put" : "call", expiration, day.quoteDate,
                                  strike, price, price, price);
                    chain += line;
                }
            }
        }
    }
    in.Write("chain.csv", chain);
}

const HistoryRow* Find(const std::vector<HistoryRow>& rows, const std::string& symbol) {
    for (const HistoryRow& row : rows) {
        if (row.Symbol == symbol) return &row;
    }
    return nullptr;
}

TEST(HistoryAdd, AFileOfManyDatesRecordsOnePassPerDateWithThatDatesRows) {
    TempDir in, work;
    WriteThreeDays(in);
    std::string output;
    const std::string args = "--workdir '" + work.Path() + "' add '" + in.File("stocks.csv") +
                             "' '" + in.File("chain.csv") + "'";
    ASSERT_EQ(History(args, output), 0) << output;
    EXPECT_NE(output.find("3 days recorded"), std::string::npos) << output;
    EXPECT_FALSE(work.Exists("Quote.txt"));

    HistoryStore store;
    ASSERT_TRUE(store.Open(work.File("History.db"))) << store.Error();
    const std::vector<HistoryPass> passes = store.Passes();
    ASSERT_EQ(passes.size(), 3u);
    const struct {
        HistoryDay day;
        int symbols;
        double acmeLast;
        double iv30;  // 0: none
    } expected[] = {{20251010, 1, 49, 0}, {20251013, 2, 50, 30}, {20251014, 2, 50.5, 40}};
    for (std::size_t i = 0; i < 3; ++i) {
        const auto& e = expected[i];
        SCOPED_TRACE(e.day);
        EXPECT_EQ(passes[i].AsOf, e.day);
        EXPECT_EQ(passes[i].Source, "import");
        EXPECT_TRUE(passes[i].Finished);
        EXPECT_EQ(passes[i].Symbols, e.symbols);
        const std::vector<HistoryRow> rows = store.RowsOfDay(e.day);
        ASSERT_EQ(rows.size(), static_cast<std::size_t>(e.symbols));
        const HistoryRow* acme = Find(rows, "ACME");
        ASSERT_NE(acme, nullptr);
        EXPECT_EQ(acme->PassId, passes[i].Id);
        EXPECT_DOUBLE_EQ(acme->Last.value_or(0), e.acmeLast);
        // Judged by the default filters, as a scan of that day would be:
        // ACME without options fails the option activity minimum first.
        EXPECT_EQ(acme->Verdict, Verdict::Rejected);
        if (e.iv30 == 0) {
            EXPECT_EQ(acme->FailedTest, "MinOptInt");
        }
        EXPECT_FALSE(acme->FailedTest.empty());
        if (e.iv30 == 0) {
            EXPECT_FALSE(acme->Iv30.has_value());
            EXPECT_FALSE(acme->Zorc.has_value());
        } else {
            ASSERT_TRUE(acme->Iv30.has_value());
            // The chain's volatility, give or take the interest the
            // solver assumes.
            EXPECT_NEAR(*acme->Iv30, e.iv30, 2);
            EXPECT_TRUE(acme->Zorc.has_value());
            EXPECT_TRUE(acme->CallVolume.has_value());
        }
        if (e.symbols == 2) {
            const HistoryRow* dune = Find(rows, "DUNE");
            ASSERT_NE(dune, nullptr);
            EXPECT_FALSE(dune->Iv30.has_value());
        }
    }

    // The same files again: a pass per date more, still a row per symbol and day.
    ASSERT_EQ(History(args, output), 0) << output;
    EXPECT_EQ(store.Passes().size(), 6u);
    EXPECT_EQ(store.RowsOfDay(20251013).size(), 2u);
    EXPECT_EQ(store.Rows("ACME").size(), 3u);
}

TEST(HistoryAdd, RowsWithoutADateTakeDateOrAreRefusedBesideManyDates) {
    TempDir in;
    WriteThreeDays(in);
    in.Write("undated.csv", "symbol,last\nZED,5\n");
    in.Write("one_day.csv", "date,symbol,last\n2025-10-10,ONE,3\n");
    in.Write("dotted.csv", "quotedate,symbol,last\n2016.12.07,ACME,5\n2016.12.08,ACME,6\n");
    const struct {
        std::string args;
        int status;
        const char* message;
        HistoryDay day;  // where ZED lands, 0: nothing recorded
    } cases[] = {
        {"add stocks.csv undated.csv", 1, "undated.csv gives no quote date", 0},
        {"add --date 2025-10-13 undated.csv", 0, "1 day recorded in", 20251013},
        // The one date the other files hold is the undated rows' date.
        {"add one_day.csv undated.csv", 0, "taken as of the files' quote date", 20251010},
        {"add --date 2025-10-14 stocks.csv undated.csv", 0, "rows of other days", 20251014},
        {"add missing.csv", 1, "missing.csv: cannot open", 0},
        {"add dotted.csv", 1, "no date could be read: '2016.12.07' in column 'quotedate'", 0},
        {"add --date 2025-13-01 undated.csv", 64, "--date takes YYYY-MM-DD", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        TempDir work;
        const std::string command = "cd '" + in.Path() +
                                    "' && '" QUILLON_HISTORY_PATH "' --workdir '" + work.Path() +
                                    "' " + c.args;
        TempDir log;
        const int status = std::system((command + " >'" + log.File("out") + "' 2>&1").c_str());
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), c.status);
        EXPECT_NE(log.Read("out").find(c.message), std::string::npos) << log.Read("out");
        if (c.day == 0) {
            EXPECT_FALSE(work.Exists("History.db"));
            continue;
        }
        HistoryStore store;
        ASSERT_TRUE(store.Open(work.File("History.db")));
        const std::vector<HistoryRow> rows = store.Rows("ZED");
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0].Day, c.day);
    }
}

TEST(HistoryAdd, AnArchiveIsRecordedUnderItsQuoteDateAsItsFilesWouldBe) {
    TempDir in, archive, fromArchive, fromFiles;
    WriteThreeDays(in);
    std::string output;
    const std::string files = " '" + in.File("stocks.csv") + "' '" + in.File("chain.csv") + "'";
    ASSERT_EQ(RunProgram(QUILLON_IMPORT_PATH,
                         "--out '" + archive.Path() + "' --date 2025-10-13" + files, output),
              0)
        << output;
    ASSERT_EQ(archive.Read("QuoteDate.txt"), "2025-10-13\r\n");
    ASSERT_EQ(
        History("--workdir '" + fromArchive.Path() + "' add --archive '" + archive.Path() + "'",
                output),
        0)
        << output;
    ASSERT_EQ(History("--workdir '" + fromFiles.Path() + "' add" + files, output), 0) << output;

    HistoryStore replayed, imported;
    ASSERT_TRUE(replayed.Open(fromArchive.File("History.db")));
    ASSERT_TRUE(imported.Open(fromFiles.File("History.db")));
    ASSERT_EQ(replayed.Days(), std::vector<HistoryDay>{20251013});
    ASSERT_EQ(replayed.Passes().size(), 1u);
    EXPECT_EQ(replayed.Passes()[0].AsOf, 20251013);
    const std::vector<HistoryRow> a = replayed.RowsOfDay(20251013);
    const std::vector<HistoryRow> b = imported.RowsOfDay(20251013);
    ASSERT_EQ(a.size(), 2u);
    ASSERT_EQ(b.size(), 2u);
    for (std::size_t i = 0; i < a.size(); ++i) {
        SCOPED_TRACE(a[i].Symbol);
        EXPECT_EQ(a[i].Symbol, b[i].Symbol);
        EXPECT_EQ(a[i].Last, b[i].Last);
        EXPECT_EQ(a[i].Zorc, b[i].Zorc);
        EXPECT_EQ(a[i].Zorp, b[i].Zorp);
        EXPECT_EQ(a[i].Verdict, b[i].Verdict);
        EXPECT_EQ(a[i].FailedTest, b[i].FailedTest);
        ASSERT_EQ(a[i].Iv30.has_value(), b[i].Iv30.has_value());
        if (a[i].Iv30) {
            // ChainIv30.txt keeps six decimals.
            EXPECT_NEAR(*a[i].Iv30, *b[i].Iv30, 1e-5);
        }
    }

    // Without its recorded date the archive's day is not known: nothing is
    // recorded unless --date gives it.
    std::remove(archive.File("QuoteDate.txt").c_str());
    TempDir undated;
    const std::string add =
        "--workdir '" + undated.Path() + "' add --archive '" + archive.Path() + "'";
    EXPECT_EQ(History(add, output), 1);
    EXPECT_NE(output.find("QuoteDate.txt: no recorded date"), std::string::npos) << output;
    EXPECT_FALSE(undated.Exists("History.db"));
    EXPECT_EQ(History("--date 2025-10-13 " + add, output), 0) << output;
    TempDir empty;
    EXPECT_EQ(
        History("--workdir '" + undated.Path() + "' add --archive '" + empty.Path() + "'", output),
        1);
    EXPECT_FALSE(empty.Exists("Quote.txt"));  // the replay's reader would have made one
}

// Thirty trading days of made-up files, a stock file and a chain file a day:
// ACME near $20 with $1 strikes (no two strikes of its strike table are
// listed on both sides of the price) and BOLT near $150 with $5 strikes, both
// priced from a volatility smile that moves from day to day, quoted to the
// cent. The four monthly expirations are the third Fridays.
void WriteThirtyDays(const TempDir& in, std::vector<std::string>& days) {
    const int expirations[][3] = {{2026, 1, 16}, {2026, 2, 20}, {2026, 3, 20}, {2026, 4, 17}};
    const auto dayNumber = [](int y, int m, int d) {
        return std::chrono::sys_days{std::chrono::year{y} / m / d}.time_since_epoch().count();
    };
    for (int n = 0; n < 30; ++n) {
        const std::chrono::year_month_day date{
            std::chrono::sys_days{std::chrono::year{2026} / 1 / 5} +
            std::chrono::days{n / 5 * 7 + n % 5}};
        char text[16];
        std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(date.year()),
                      unsigned(date.month()), unsigned(date.day()));
        days.push_back(text);
        const long today = std::chrono::sys_days{date}.time_since_epoch().count();
        std::string stocks = "date,symbol,last,volume\n";
        std::string chain =
            "underlying,underlying_last,type,expiration,quotedate,strike,last,bid,ask,volume,"
            "openinterest\n";
        const struct {
            const char* symbol;
            double price, step, level;
        } names[] = {{"ACME", 20 + 0.37 * std::sin(n * 0.9), 1, 0.42},
                     {"BOLT", 150 + 6 * std::cos(n * 0.7), 5, 0.24}};
        for (const auto& stock : names) {
            stocks += FormatArgs("%s,%s,%.2f,1000000\n", text, stock.symbol, stock.price);
            const double price = std::round(stock.price * 100) / 100;
            for (const auto& e : expirations) {
                const long toGo = dayNumber(e[0], e[1], e[2]) - today;
                if (toGo <= 0) continue;
                for (double strike = price * 0.6; strike < price * 1.4; strike += stock.step) {
                    const double k = std::round(strike / stock.step) * stock.step;
                    const double m = std::log(k / price);
                    const double vol = stock.level + 0.02 * std::sin(n * 0.5) + 0.6 * m * m -
                                       0.1 * m + 0.0005 * static_cast<double>(toGo);
                    for (bool put : {false, true}) {
                        const double value = Price(put, price, k, static_cast<double>(toGo), vol);
                        const double bid = std::max(0.01, std::round(value * 100 - 2) / 100);
                        const double ask = std::round(value * 100 + 2) / 100;
                        chain +=
                            FormatArgs("%s,%.2f,%s,%02d/%02d/%04d,%s,%g,%.2f,%.2f,%.2f,10,100\n",
                                       stock.symbol, price, put ? "put" : "call", e[1], e[2], e[0],
                                       text, k, (bid + ask) / 2, bid, ask);
                    }
                }
            }
        }
        in.Write(std::string("stocks_") + text + ".csv", stocks);
        in.Write(std::string("chain_") + text + ".csv", chain);
    }
}

// A history backfilled by quillon-history add and one continued day by day
// by quillon-import and quillon-scan of the same files hold the same IV30,
// taken from the whole chain.
TEST(HistoryAdd, BackfilledAndScannedDaysHoldOneIv30) {
    TempDir in, added, scanned;
    std::vector<std::string> days;
    WriteThirtyDays(in, days);
    std::string output;
    std::string files;
    for (const std::string& day : days)
        files += " '" + in.File("stocks_" + day + ".csv") + "' '" +
                 in.File("chain_" + day + ".csv") + "'";
    ASSERT_EQ(History("--workdir '" + added.Path() + "' add" + files, output), 0) << output;
    for (const std::string& day : days) {
        SCOPED_TRACE(day);
        ASSERT_EQ(
            RunProgram(QUILLON_IMPORT_PATH,
                       "--out '" + scanned.Path() + "' '" + in.File("stocks_" + day + ".csv") +
                           "' '" + in.File("chain_" + day + ".csv") + "'",
                       output),
            0)
            << output;
        ASSERT_EQ(RunProgram(QUILLON_SCAN_PATH, "--workdir '" + scanned.Path() + "'", output), 0)
            << output;
    }
    HistoryStore a, b;
    ASSERT_TRUE(a.Open(added.File("History.db")));
    ASSERT_TRUE(b.Open(scanned.File("History.db")));
    ASSERT_EQ(a.Days().size(), 30u);
    ASSERT_EQ(a.Days(), b.Days());
    for (const std::string symbol : {"ACME", "BOLT"}) {
        const std::vector<HistoryRow> x = a.Rows(symbol);
        const std::vector<HistoryRow> y = b.Rows(symbol);
        ASSERT_EQ(x.size(), 30u);
        ASSERT_EQ(y.size(), 30u);
        for (std::size_t i = 0; i < x.size(); ++i) {
            SCOPED_TRACE(symbol + std::string(" ") + std::to_string(x[i].Day));
            ASSERT_TRUE(x[i].Iv30.has_value());
            ASSERT_TRUE(y[i].Iv30.has_value());
            EXPECT_NEAR(*x[i].Iv30, *y[i].Iv30, 0.01);
            EXPECT_EQ(x[i].DaysToNear, y[i].DaysToNear);
            // Near the smile's level at the money, some 30 days out.
            EXPECT_NEAR(*x[i].Iv30, symbol == std::string("ACME") ? 43.5 : 25.5, 3.5);
        }
    }
}

// A made-up history. ACME: 25 days, 1 to 25 October 2025, IV30 20 to 43 then
// 30, last sales 100 and 101 by turns. BETA rising, GAMA falling, DELT five
// days, BARE without a quote on the last day, OLDS not on the last day,
// LONG 260 days whose first 8 (IV30 90) fall out of its 252-day window.
void WriteMadeUpHistory(const std::string& file) {
    HistoryStore store;
    ASSERT_TRUE(store.Open(file)) << store.Error();
    auto day = [](const CivilDay& date) {
        return static_cast<HistoryDay>(date.Year * 10000 + date.Month * 100 + date.Day);
    };
    const CivilDay last{2025, 10, 25};
    auto record = [&](const std::string& symbol, int daysBack, std::optional<double> iv30) {
        HistoryRow row;
        row.Symbol = symbol;
        row.Day = day(last.Plus(-daysBack));
        row.Iv30 = iv30;
        row.Last = daysBack % 2 == 0 ? 100 : 101;
        row.Verdict = Verdict::Saved;
        return row;
    };
    ASSERT_TRUE(store.BeginBatch());
    for (int k = 0; k < 25; ++k) {
        HistoryRow row = record("ACME", 24 - k, k < 24 ? 20.0 + k : 30.0);
        if (k == 0) row.Zorc = 0;  // no option solved: n/a
        if (k == 24) {
            row.Iv30Call = 29.5;
            row.Iv30Put = 30.5;
            row.Zorc = 1234.4;
            row.Zorp = 567.6;
            row.DaysToNear = 17;
            row.DaysToNext = 45;
            row.Verdict = Verdict::SavedUp;
        }
        ASSERT_TRUE(store.Record(row));
        ASSERT_TRUE(store.Record(record("BETA", 24 - k, 10.0 + k)));
        ASSERT_TRUE(store.Record(record("GAMA", 24 - k, 50.0 - k)));
        if (k >= 20) {
            ASSERT_TRUE(store.Record(record("DELT", 24 - k, 40.0 + k)));
        }
        if (k < 24) {
            ASSERT_TRUE(store.Record(record("OLDS", 24 - k, 60.0 - k)));
        }
        if (k < 24) {
            ASSERT_TRUE(store.Record(record("BARE", 24 - k, std::nullopt)));
        }
    }
    HistoryRow bare;
    bare.Symbol = "BARE";
    bare.Day = day(last);
    bare.Verdict = Verdict::NoQuote;
    ASSERT_TRUE(store.Record(bare));
    for (int k = 0; k < 260; ++k)
        ASSERT_TRUE(store.Record(record("LONG", 259 - k,
                                        k < 8     ? 90.0
                                        : k < 259 ? 20 + k % 10
                                                  : 25)));
    ASSERT_TRUE(store.CommitBatch());
    // Each day whole, as an import leaves it.
    for (const HistoryDay recorded : store.Days()) {
        HistoryPass pass;
        pass.AsOf = recorded;
        pass.Source = "import";
        pass.Finished = true;
        ASSERT_NE(store.BeginPass(pass), 0) << store.Error();
    }
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

TEST(HistoryPrint, ExportWritesTheHeaderAndEachDayInVolatilityPointsEmptyWhereNone) {
    TempDir work;
    WriteMadeUpHistory(work.File("History.db"));
    std::string output;
    ASSERT_EQ(History("--workdir '" + work.Path() + "' export --out '" + work.File("acme.csv") +
                          "' ACME bare",
                      output),
              0)
        << output;
    const std::vector<std::string> lines = Lines(work.Read("acme.csv"));
    ASSERT_EQ(lines.size(), 1u + 25 + 25);
    EXPECT_EQ(lines[0],
              "date,symbol,last,iv30,iv30_call,iv30_put,iv_rank_52w,iv_percentile_52w,hv20,zorc,"
              "zorp,verdict,history_days,days_to_near,days_to_next,failed_test");
    EXPECT_EQ(lines[1], "2025-10-01,ACME,100,20.00,,,,,,,,SAVED,1,,,");
    // Rank 100*(30-20)/(43-20), percentile 10 of 25 days below 30; HV20 of
    // 20 returns of +-ln(1.01).
    EXPECT_EQ(lines[25],
              "2025-10-25,ACME,100,30.00,29.50,30.50,43.5,40.0,16.21,1234,568,UP,25,17,45,");
    EXPECT_EQ(lines[50], "2025-10-25,BARE,,,,,,,,,,NOQUOTE,0,,,");

    // To standard output, every symbol when none is named, by symbol.
    ASSERT_EQ(History("--workdir '" + work.Path() + "' export", output), 0);
    const std::vector<std::string> all = Lines(output);
    ASSERT_EQ(all.size(), 1u + 4 * 25 + 5 + 260 + 24);
    EXPECT_EQ(all[0], lines[0]);
    EXPECT_EQ(all[25], lines[25]);
    // LONG's window holds its last 252 days: the 8 days of IV30 90 before
    // them are out of it.
    const std::string longLast = "2025-10-25,LONG,100,25.00,,,55.6,49.6,16.21,,,SAVED,252,,,";
    EXPECT_NE(std::find(all.begin(), all.end(), longLast), all.end());
}

TEST(HistoryPrint, ShowAndRankTellWhereEachIv30StandsInItsYear) {
    TempDir work;
    WriteMadeUpHistory(work.File("History.db"));
    std::string output;
    ASSERT_EQ(History("--workdir '" + work.Path() + "' show acme", output), 0) << output;
    std::vector<std::string> lines = Lines(output);
    ASSERT_EQ(lines.size(), 2u + 25);
    EXPECT_EQ(lines[0],
              "ACME: 25 days recorded, 2025-10-01 to 2025-10-25; IV rank and IV percentile over 52 "
              "weeks");
    EXPECT_EQ(lines[2 + 18].substr(0, 61),
              "2025-10-19         100   38.00  n/a (19 days)   n/a (19 days)");
    EXPECT_EQ(lines[2 + 24],
              "2025-10-25         100   30.00  43.5            40.0             16.21       1234  "
              "      568  UP");

    ASSERT_EQ(History("--workdir '" + work.Path() + "' rank", output), 0) << output;
    lines = Lines(output);
    ASSERT_EQ(lines.size(), 2u + 6) << output;
    EXPECT_EQ(lines[0], "2025-10-25: 6 symbols by IV rank over 52 weeks");
    // LONG over its last 252 days: 20 to 29, 25 today, 125 days below it.
    const char* expected[] = {
        "BETA      100.0           96.0             34.00",
        "LONG      55.6            49.6             25.00",
        "ACME      43.5            40.0             30.00",
        "GAMA      0.0             0.0              26.00",
        "BARE      n/a (0 days)    n/a (0 days)         -",
        "DELT      n/a (5 days)    n/a (5 days)     64.00",
    };
    for (std::size_t i = 0; i < 6; ++i)
        EXPECT_EQ(lines[2 + i], expected[i]);
}

TEST(HistoryUsage, EachMisuseAndEachMissingHistoryHasItsStatus) {
    TempDir work, fresh;
    WriteMadeUpHistory(work.File("History.db"));
    const std::string in = "--workdir '" + work.Path() + "' ";
    const std::string none = "--workdir '" + fresh.Path() + "' ";
    const struct {
        std::string args;
        int status;
        const char* message;
    } cases[] = {
        {"--help", 0, "Exit status:"},
        {"", 64, "no command"},
        {"remove ACME", 64, "unknown command 'remove'"},
        {in + "show", 64, "show takes one symbol"},
        {in + "show ACME BETA", 64, "show takes one symbol"},
        {in + "show 'AC ME'", 64, "not a symbol"},
        {in + "rank ACME", 64, "rank takes no symbol"},
        {in + "add", 64, "no file to add"},
        {in + "add --archive", 64, "no archive directory to add"},
        {in + "show --out x ACME", 64, "--out goes with export"},
        {in + "export --archive", 64, "go with add"},
        {in + "--bogus rank", 64, "unknown option --bogus"},
        {in + "show ZZZZ", 1, "no day of ZZZZ recorded"},
        // export refuses a symbol never recorded as show does, writing nothing.
        {in + "export ACME ZZZZ", 1, "no day of ZZZZ recorded in"},
        {in + "export --out '" + work.File("x.csv") + "' ZZZZ YYYY", 1,
         "no day of ZZZZ, YYYY recorded in"},
        {none + "show ACME", 1, "History.db does not exist"},
        {none + "rank", 1, "History.db does not exist"},
        {none + "export", 1, "History.db does not exist"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        std::string output;
        EXPECT_EQ(History(c.args, output), c.status);
        EXPECT_NE(output.find(c.message), std::string::npos) << output;
        // A usage error gives the usage lines and one hint, not the whole help.
        if (c.status == 64) {
            EXPECT_EQ(output.find("Exit status:"), std::string::npos) << output;
            EXPECT_TRUE(output.ends_with("Try 'quillon-history --help' for more.\n")) << output;
        }
        if (c.status == 1) {
            EXPECT_EQ(output.find("date,symbol"), std::string::npos) << output;
        }
    }
    EXPECT_FALSE(work.Exists("x.csv"));
    // Reading never makes a history where there was none.
    EXPECT_FALSE(fresh.Exists("History.db"));
}

// The bytes and the change time of a file, to tell that a reader left it.
std::string Fingerprint(const TempDir& dir, const std::string& name) {
    struct stat st {};
    if (::stat(dir.File(name).c_str(), &st) != 0) return "missing";
    return dir.Read(name) + "@" + std::to_string(st.st_mtim.tv_sec) + "." +
           std::to_string(st.st_mtim.tv_nsec);
}

// The leaf pages of table `name`, in key order (page 1 first in the file).
std::vector<int> LeafPages(const std::string& file, const std::string& name) {
    std::vector<int> pages;
    sqlite3* db = nullptr;
    sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* s = nullptr;
    const std::string sql =
        "SELECT pageno FROM dbstat WHERE name = ? AND pagetype = 'leaf' ORDER BY path";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) == SQLITE_OK) {
        sqlite3_bind_text(s, 1, name.c_str(), -1, SQLITE_TRANSIENT);
        while (sqlite3_step(s) == SQLITE_ROW)
            pages.push_back(sqlite3_column_int(s, 0));
    }
    sqlite3_finalize(s);
    sqlite3_close(db);
    return pages;
}

// Leaf pages in the middle of LONG's settled days overwritten: pages only
// the read of LONG's rows meets. Every reader of them fails with the cause,
// instead of printing the rows before them.
TEST(HistoryPrint, ADamagedHistoryFailsEachReaderWithTheCause) {
    TempDir work;
    const std::string file = work.File("History.db");
    WriteMadeUpHistory(file);
    {
        HistoryStore store;
        ASSERT_TRUE(store.Open(file));
        ASSERT_TRUE(store.Settle()) << store.Error();
    }  // closed: the log is in the file
    ASSERT_FALSE(work.Exists("History.db-wal"));
    std::string bytes = work.Read("History.db");
    constexpr std::size_t kPage = 4096;
    std::vector<int> longPages;  // the leaves holding LONG's rows
    for (const int page : LeafPages(file, "days")) {
        const std::size_t at = static_cast<std::size_t>(page - 1) * kPage;
        if (bytes.substr(at, kPage).find("LONG") != std::string::npos) longPages.push_back(page);
    }
    if (longPages.size() < 3) GTEST_SKIP() << "SQLite without dbstat, or fewer pages of LONG";
    for (std::size_t p = 1; p + 1 < longPages.size(); ++p) {
        const std::size_t at = static_cast<std::size_t>(longPages[p] - 1) * kPage;
        for (std::size_t i = 0; i < kPage; ++i)
            bytes[at + i] = static_cast<char>(i * 7 + 13);
    }
    work.Write("History.db", bytes);
    const std::string in = "--workdir '" + work.Path() + "' ";
    for (const std::string& args :
         {in + "export", in + "export --out '" + work.File("all.csv") + "'", in + "show LONG"}) {
        SCOPED_TRACE(args);
        std::string output;
        EXPECT_EQ(History(args, output), 1) << output;
        EXPECT_NE(output.find("History.db: database disk image is malformed"), std::string::npos)
            << output;
    }
    EXPECT_FALSE(work.Exists("all.csv"));
}

// Whether a program can run here as another user than root, for whom file
// modes bind (root reads and writes whatever the modes say).
std::string AsAnotherUser() {
    if (::geteuid() != 0) return "";
    static const bool can = std::system(
                                "setpriv --reuid 65534 --regid 65534 --clear-groups "
                                "true >/dev/null 2>&1") == 0;
    return can ? "setpriv --reuid 65534 --regid 65534 --clear-groups " : "-";
}

// A read-only History.db is read, in a directory the reader may write and in
// one it may not, and the readers leave it as they found it: its bytes, its
// change time and no log or shared-memory file beside it. Run as root, the
// modes bind nobody and the test proves the leaving alone alone; the
// directory cases run as another user where that can be done.
TEST(HistoryPrint, AReadOnlyHistoryIsReadAndLeftAsItWas) {
    const struct {
        const char* name;
        mode_t dirMode;
        bool asOther;  // run as another user, for whom the modes bind
    } cases[] = {
        {"a read-only file", 0755, false},
        {"a read-only file in a directory others may write", 0777, true},
        {"a read-only file in a read-only directory", 0555, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string user = c.asOther ? AsAnotherUser() : "";
        if (user == "-") continue;  // root, and no way to run as another user
        TempDir work;
        WriteMadeUpHistory(work.File("History.db"));
        ASSERT_EQ(::chmod(work.File("History.db").c_str(), 0444), 0);
        ASSERT_EQ(::chmod(work.Path().c_str(), c.dirMode), 0);
        const std::string before = Fingerprint(work, "History.db");
        const std::string program =
            user + "'" + QUILLON_HISTORY_PATH + "' --workdir '" + work.Path() + "' ";
        for (const char* command : {"show ACME", "export ACME", "rank"}) {
            std::string output;
            EXPECT_EQ(RunScript(program + command, output), 0) << command << ": " << output;
            EXPECT_NE(output.find("2025-10-25"), std::string::npos) << command << ": " << output;
        }
        EXPECT_EQ(Fingerprint(work, "History.db"), before);
        // A reader that may not write the file opens it read-only, and such
        // a connection leaves the log files it made in a directory it may
        // write.
        const bool mayWriteFile = ::geteuid() == 0 && !c.asOther;
        if (mayWriteFile || c.dirMode == 0555) {
            EXPECT_FALSE(work.Exists("History.db-wal"));
            EXPECT_FALSE(work.Exists("History.db-shm"));
        }
        ::chmod(work.Path().c_str(), 0755);
    }
}

// Passes of the days 2025-10-20 (finished), 2025-10-21 (ended early, known
// to lack rows) and 2025-10-22 (still going): the last two are partial.
void WriteDaysOfThreePasses(const std::string& file) {
    HistoryStore store;
    ASSERT_TRUE(store.Open(file)) << store.Error();
    const struct {
        HistoryDay day;
        bool finished, partial;
    } passes[] = {{20251020, true, false}, {20251021, true, true}, {20251022, false, false}};
    for (const auto& p : passes) {
        HistoryPass pass;
        pass.AsOf = p.day;
        pass.Source = "server";
        const std::int64_t id = store.BeginPass(pass);
        ASSERT_NE(id, 0) << store.Error();
        for (const char* symbol : {"ACME", "BETA"}) {
            HistoryRow row;
            row.Symbol = symbol;
            row.Day = p.day;
            row.PassId = id;
            row.Last = 10;
            row.Iv30 = 20;
            ASSERT_TRUE(store.Record(row)) << store.Error();
        }
        if (p.finished) {
            ASSERT_TRUE(store.EndPass(id, 2, 0, true, "2025-10-22T20:00:00"));
        }
    }
    store.Close();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, "UPDATE passes SET partial = 1 WHERE as_of = 20251021", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
}

TEST(HistoryPrint, EachReaderNamesTheDaysNoPassHasEndedWhole) {
    TempDir work;
    WriteDaysOfThreePasses(work.File("History.db"));
    const struct {
        const char* command;
        std::vector<const char*> named;
    } cases[] = {
        {"export", {"2025-10-21", "2025-10-22"}},
        {"show ACME", {"2025-10-21", "2025-10-22"}},
        {"rank", {"2025-10-22"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        std::string output;
        ASSERT_EQ(History("--workdir '" + work.Path() + "' " + c.command, output), 0) << output;
        std::vector<std::string> notes;
        for (const std::string& line : Lines(output))
            if (line.find("is partial") != std::string::npos) notes.push_back(line.substr(17, 10));
        EXPECT_EQ(notes, std::vector<std::string>(c.named.begin(), c.named.end())) << output;
    }
}

// An export beside a scan that commits a day of all its symbols at a time
// holds each day whole or not at all.
TEST(HistoryPrint, AnExportBesideAWriterHoldsWholeDaysOnly) {
    TempDir work;
    const std::string file = work.File("History.db");
    constexpr int kSymbols = 40;
    constexpr int kDays = 150;
    std::atomic<bool> done{false};
    std::string writeError;
    std::thread writer([&] {
        HistoryStore store;
        if (!store.Open(file)) writeError = store.Error();
        for (int d = 0; d < kDays && writeError.empty(); ++d) {
            const HistoryDay day = 20250000 + (d / 28 + 1) * 100 + d % 28 + 1;
            HistoryPass pass;
            pass.AsOf = day;
            pass.Finished = true;
            bool ok = store.BeginBatch() && store.BeginPass(pass) != 0;
            for (int s = 0; ok && s < kSymbols; ++s) {
                HistoryRow row;
                row.Symbol = "S" + std::to_string(100 + s);
                row.Day = day;
                row.Last = 10 + d;
                ok = store.Record(row);
            }
            if (!ok || !store.CommitBatch()) writeError = store.Error();
        }
        done = true;
    });
    int exports = 0;
    while (!done || exports == 0) {
        std::string output;
        if (!std::filesystem::exists(file)) continue;
        ASSERT_EQ(History("--workdir '" + work.Path() + "' export", output), 0) << output;
        ++exports;
        std::map<std::string, int> symbolsOfDay;
        for (const std::string& line : Lines(output))
            if (line.size() > 11 && line[4] == '-') ++symbolsOfDay[line.substr(0, 10)];
        for (const auto& [day, symbols] : symbolsOfDay)
            ASSERT_EQ(symbols, kSymbols) << day << " after " << exports << " exports";
    }
    writer.join();
    EXPECT_EQ(writeError, "");
}

// Two adds into one directory at once both record all their days, while
// another program holds History.db's write lock longer than the scan's
// short wait: the second add waits for the first, and each for the lock.
TEST(HistoryAdd, TwoAddsAtOnceBothRecordTheirDays) {
    TempDir in, work;
    std::vector<std::string> days;
    WriteThirtyDays(in, days);
    std::string first, second;
    for (std::size_t i = 0; i < days.size(); ++i) {
        std::string& files = i % 2 == 0 ? first : second;
        files += " '" + in.File("stocks_" + days[i] + ".csv") + "' '" +
                 in.File("chain_" + days[i] + ".csv") + "'";
    }
    {
        HistoryStore made;
        ASSERT_TRUE(made.Open(work.File("History.db"))) << made.Error();
    }
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(work.File("History.db").c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    const std::string add =
        "'" + std::string(QUILLON_HISTORY_PATH) + "' --workdir '" + work.Path() + "' add";
    std::string output;
    int status = -1;
    std::thread adds([&] {
        status = RunScript(
            add + first + " & one=$!\n" + add + second + " & two=$!\nwait $one && wait $two\n",
            output);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    adds.join();
    ASSERT_EQ(status, 0) << output;
    HistoryStore store;
    ASSERT_TRUE(store.OpenForReading(work.File("History.db"))) << store.Error();
    EXPECT_EQ(store.Days().size(), days.size());
    EXPECT_EQ(store.Passes().size(), days.size());
}

}  // namespace
}  // namespace quillon
