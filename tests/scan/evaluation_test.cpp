#include "scan/evaluation.h"

#include <gtest/gtest.h>

#include <chrono>

#include <cmath>
#include <cstdio>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "history/history_store.h"
#include "tests/support/temp_dir.h"

namespace quillon {

// Failure messages name the verdict by its code.
static std::ostream& operator<<(std::ostream& out, Verdict verdict) {
    return out << static_cast<int>(verdict);
}

namespace {

class FakeAlarm final : public AlarmControl {
  public:
    bool AlarmChecked() const override { return checked; }
    void StartAlarm() override { ++started; }
    bool checked = false;
    int started = 0;
};

class EvaluationTest : public ::testing::Test {
  public:
    void SetUp() override {
        ClearFilters(context.settings.Filters);
        context.pending.Clear();
        context.counters = ScanCounters{};
        ResetQuote(context.quote);
        context.ivHistory = IvHistoryCache{};
        BuildExpirationCalendar(context.calendar, clock.Now());
        context.quote.Ticker = "IBM";
        context.quote.HaveStockData = true;
        QuoteRecord& q = context.quote.Quote;
        q.LastSale = 50;
        q.Volume = 1'000'000;
        q.PriceEarnings = 20;
        q.SharesOutstanding = 1e8L;
        q.High52Week = 60;
        q.Low52Week = 40;
        SelectStrikes(context.strikes, 50);
        context.counters.SymbolIndex = 4;
        context.counters.SymbolCount = 9;
        context.counters.ProcessCount = 2;
        // The chain is empty, so ZOR adds nothing to these totals.
        SetTotals(5000, 2000, 300, 400);
    }

    void SetTotals(float zorc, float zorp, float callOpenInterest, float putOpenInterest) {
        OptionChain& c = context.quote.Chain;
        c.TotalZOR = {zorc, zorp};
        c.TotalOpenInterest = {callOpenInterest, putOpenInterest};
    }

    void Filter(FilterIndex which, double value) {
        context.settings.Filters.Values[which] = FilterValue::Number(value);
    }

    void UseRatioFilters(double callPut, double putCall) {
        Filter(TX_MinCallPutRatio, callPut);
        Filter(TX_MinPutCallRatio, putCall);
        context.counters.RatioFiltersActive = true;
    }

    // Calls and puts of the first two months at 45, 50 and 55, priced so that
    // the stock at 50 has an IV30 today.
    void QuoteOptions() {
        OptionChain& c = context.quote.Chain;
        const float calls[] = {6.0f, 2.5f, 0.8f};
        const float puts[] = {0.8f, 2.4f, 5.9f};
        for (int month = 0; month < 2; ++month) {
            for (int i = 0; i < 3; ++i) {
                const float later = static_cast<float>(month);
                c.OptBid[0][i + 1][month] = calls[i] + later;
                c.OptAsk[0][i + 1][month] = calls[i] + later + 0.2f;
                c.OptBid[1][i + 1][month] = puts[i] + later;
                c.OptAsk[1][i + 1][month] = puts[i] + later + 0.2f;
            }
        }
        context.quote.HaveOptionData = true;
    }

    // The history as read at the pass's start for 1 Dec 2026, 52 weeks.
    void CacheHistory(std::vector<double> iv30) {
        IvHistoryCache& cache = context.ivHistory;
        cache.Loaded = true;
        cache.Day = 20261201;
        cache.WindowDays = 252;
        cache.Problem.clear();
        cache.Iv30 = {{"IBM", std::move(iv30)}};
        cache.LastSales.clear();
    }

    bool Saved() {
        int before = context.counters.ProcessCount;
        EvaluateSymbol(context, alarm);
        return context.counters.ProcessCount == before + 1;
    }

    FixedClock clock{DateTime{2026, 12, 1, 9, 30, 0}};
    ScriptedMessages messages;
    CountingBeeper beeper;
    Context context{clock, messages, beeper};
    FakeAlarm alarm;
};

TEST_F(EvaluationTest, WithoutFiltersEveryStockWithDataIsSaved) {
    alarm.checked = true;
    ASSERT_TRUE(Saved());
    EXPECT_EQ(context.Verdict, Verdict::Saved);
    EXPECT_EQ(context.pending.PendingProgress, "3 4") << "the count with this symbol saved";
    EXPECT_FALSE(context.pending.PendingResults.empty());
    EXPECT_EQ(context.pending.PendingResults.substr(context.pending.PendingResults.size() - 3),
              "\f\r\n");
    EXPECT_NE(context.pending.PendingSavedSym.find("IBM"), std::string::npos);
    EXPECT_EQ(context.pending.PendingUpSym, "IBM\r\n");
    EXPECT_EQ(alarm.started, 1);
}

TEST_F(EvaluationTest, SymbolWithoutStockDataIsReportedOnly) {
    context.quote.HaveStockData = false;
    context.Verdict = Verdict::SavedUp;
    alarm.checked = true;
    EXPECT_FALSE(Saved());
    EXPECT_EQ(context.Verdict, Verdict::SavedUp) << "left as it was";
    EXPECT_EQ(context.pending.PendingProgress, "2 4");
    EXPECT_FALSE(context.quote.PageText.empty()) << "a report all the same";
    EXPECT_TRUE(context.pending.PendingResults.empty());
    EXPECT_TRUE(context.pending.PendingSavedSym.empty());
    EXPECT_EQ(context.quote.Chain.OptSymbol[0][2][0], "") << "no ZOR computed";
    EXPECT_EQ(alarm.started, 0);
}

TEST_F(EvaluationTest, AndGroupBounds) {
    struct Case {
        const char* name;
        std::function<void(EvaluationTest&)> setUp;
        bool saved;
    };
    const Case cases[] = {
        {"last equal to the maximum", [](auto& t) { t.Filter(TX_MaxLast, 50); }, true},
        {"last a cent above the maximum", [](auto& t) { t.Filter(TX_MaxLast, 49.99); }, false},
        {"last equal to the minimum", [](auto& t) { t.Filter(TX_MinLast, 50); }, true},
        {"volume 499,999 below 500 thousand",
         [](auto& t) {
             t.context.quote.Quote.Volume = 499'999;
             t.Filter(TX_MinVolume, 500);
         },
         false},
        {"volume 500,000 at 500 thousand",
         [](auto& t) {
             t.context.quote.Quote.Volume = 500'000;
             t.Filter(TX_MinVolume, 500);
         },
         true},
        {"negative volume always fails", [](auto& t) { t.context.quote.Quote.Volume = -1; }, false},
        {"P/E not available above a maximum",
         [](auto& t) {
             t.context.quote.Quote.PriceEarnings = 100000;
             t.Filter(TX_MaxPE, 7);
         },
         false},
        {"market cap 5000 million within bounds",
         [](auto& t) {
             t.Filter(TX_MinMktCap, 5000);
             t.Filter(TX_MaxMktCap, 5000);
         },
         true},
        {"range position 50% within 40..60",
         [](auto& t) {
             t.Filter(TX_MinRange, 40);
             t.Filter(TX_MaxRange, 60);
         },
         true},
        {"at the 52-week low: position 0 fails a maximum",
         [](auto& t) {
             t.context.quote.Quote.LastSale = 40;
             t.Filter(TX_MaxRange, 90);
         },
         false},
        {"52-week range 0.0014 wide, taken to four decimals, still gives a position",
         [](auto& t) {
             t.context.quote.Quote.High52Week = 50.0007f;
             t.context.quote.Quote.Low52Week = 49.9993f;
             t.Filter(TX_MinRange, 40);
             t.Filter(TX_MaxRange, 60);
         },
         true},
        {"52-week range 0.00104 wide, taken to four decimals, is too narrow",
         [](auto& t) {
             t.context.quote.Quote.High52Week = 50.00052f;
             t.context.quote.Quote.Low52Week = 49.99948f;
             t.Filter(TX_MinRange, 40);
             t.Filter(TX_MaxRange, 60);
         },
         false},
        {"flat 52-week range fails a minimum of 0",
         [](auto& t) {
             t.context.quote.Quote.High52Week = t.context.quote.Quote.Low52Week = 50;
             t.Filter(TX_MinRange, 0);
         },
         false},
        {"smaller open interest below the minimum", [](auto& t) { t.Filter(TX_MinOptInt, 301); },
         false},
        {"smaller open interest at the minimum", [](auto& t) { t.Filter(TX_MinOptInt, 300); },
         true},
        {"text filter values are numbers too",
         [](auto& t) { t.context.settings.Filters.Values[TX_MaxLast] = FilterValue::Text("49"); },
         false},
    };
    for (const Case& c : cases) {
        SetUp();
        c.setUp(*this);
        EXPECT_EQ(Saved(), c.saved) << c.name;
        EXPECT_EQ(context.Verdict, c.saved ? Verdict::Saved : Verdict::Rejected) << c.name;
    }
}

// Today's IV30 (x) against the days before it: 19 days at x - 10 and one at
// x + 10 give rank 50 and percentile 19/21 = 90.48 over 21 days. Fewer than
// 20 days, no IV30 today or a history that could not be read is n/a, which
// fails any of the four filters in use, as range position 0 does.
TEST_F(EvaluationTest, IvRankAndPercentileFilters) {
    struct Case {
        const char* name;
        int lowDays;  // days at x - 10 before the one at x + 10
        std::function<void(EvaluationTest&)> setUp;
        const char* failed;  // nullptr: saved
    };
    const auto rank = [](double min, double max) {
        return [=](EvaluationTest& t) {
            t.context.settings.History.MinIvRank = FilterValue::Number(min);
            t.context.settings.History.MaxIvRank = FilterValue::Number(max);
        };
    };
    const auto percentile = [](double min, double max) {
        return [=](EvaluationTest& t) {
            t.context.settings.History.MinIvPercentile = FilterValue::Number(min);
            t.context.settings.History.MaxIvPercentile = FilterValue::Number(max);
        };
    };
    const Case cases[] = {
        {"rank 50 within 50..50", 19, rank(50, 50), nullptr},
        {"rank 50 below 50.1", 19, rank(50.1, 100), "MinIvRank"},
        {"rank 50 above 49.9", 19, rank(0, 49.9), "MaxIvRank"},
        {"percentile 90.48 within 90..91", 19, percentile(90, 91), nullptr},
        {"percentile 90.48 below 90.5", 19, percentile(90.5, 100), "MinIvPercentile"},
        {"percentile 90.48 above 90.4", 19, percentile(0, 90.4), "MaxIvPercentile"},
        {"20 days with today's: a figure", 18, rank(0, 100), nullptr},
        {"19 days with today's: n/a fails a minimum of 0", 17,
         [](auto& t) { t.context.settings.History.MinIvRank = FilterValue::Number(0); },
         "MinIvRank"},
        {"19 days: n/a fails a maximum of 100", 17,
         [](auto& t) { t.context.settings.History.MaxIvPercentile = FilterValue::Number(100); },
         "MaxIvPercentile"},
        {"19 days, filters NA: saved", 17,
         [](auto& t) { t.context.settings.History.MinIvRank = FilterValue::Text("NA"); }, nullptr},
        {"no IV30 today: n/a", 40,
         [](auto& t) {
             t.context.quote.HaveOptionData = false;
             t.context.settings.History.MaxIvRank = FilterValue::Number(100);
         },
         "MaxIvRank"},
        {"History.db unreadable: n/a", 40,
         [](auto& t) {
             t.context.ivHistory.Problem = "History.db: file is not a database";
             t.context.settings.History.MinIvPercentile = FilterValue::Number(0);
         },
         "MinIvPercentile"},
        {"an AND filter before them fails first", 19,
         [](auto& t) {
             t.Filter(TX_MaxLast, 40);
             t.context.settings.History.MinIvRank = FilterValue::Number(90);
         },
         "MaxLast"},
    };
    for (const Case& c : cases) {
        SetUp();
        context.settings.History = HistorySettings();
        QuoteOptions();
        const std::optional<double> today = CurrentIv30(context).Both;
        ASSERT_TRUE(today.has_value()) << c.name;
        std::vector<double> past(static_cast<std::size_t>(c.lowDays), *today - 10);
        past.push_back(*today + 10);
        CacheHistory(past);
        c.setUp(*this);
        EXPECT_EQ(Saved(), c.failed == nullptr) << c.name;
        const char* failed = FirstFailedTest(context);
        EXPECT_STREQ(failed, c.failed) << c.name;
    }
}

// At a pass's first symbol the window is read from History.db in the working
// directory: the days before the as-of date only, the last 62 of them for 13
// weeks (today the 63rd), and the last 20 last sales for HV20 with today's.
TEST_F(EvaluationTest, HistoryIsReadAtThePassStart) {
    testing::TempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    context.files = WorkingFileNames::In(dir.Path());
    QuoteOptions();
    const double today = *CurrentIv30(context).Both;
    {
        HistoryStore store;
        ASSERT_TRUE(store.Open(dir.File("History.db"))) << store.Error();
        // 70 weekdays from Monday 24 Aug to Friday 27 Nov 2026, before the
        // as-of Tuesday 1 Dec; the 8 oldest far above, which the 13-week
        // window leaves out.
        for (int i = 0; i < 70; ++i) {
            HistoryRow row;
            row.Symbol = "IBM";
            const std::chrono::year_month_day d{
                std::chrono::sys_days{std::chrono::year{2026} / 8 / 24} +
                std::chrono::days{i / 5 * 7 + i % 5}};
            row.Day = static_cast<int>(d.year()) * 10000 +
                      static_cast<int>(unsigned(d.month())) * 100 +
                      static_cast<int>(unsigned(d.day()));
            row.Iv30 = i < 8 ? today + 50 : (i % 2 == 0 ? today - 4 : today + 4);
            row.Last = 40 + (i % 3);
            row.Verdict = Verdict::Saved;
            ASSERT_TRUE(store.Record(row)) << store.Error();
        }
        HistoryRow same;  // today's own day is not history yet
        same.Symbol = "IBM";
        same.Day = 20261201;
        same.Iv30 = today + 100;
        same.Verdict = Verdict::Saved;
        ASSERT_TRUE(store.Record(same));
    }
    context.settings.History.WindowWeeks = 13;
    context.settings.History.MinIvRank = FilterValue::Number(49);
    context.settings.History.MaxIvRank = FilterValue::Number(51);
    context.counters.SymbolIndex = 1;
    EXPECT_TRUE(Saved()) << FirstFailedTest(context);
    EXPECT_EQ(context.ivHistory.Problem, "");
    const HistoryStanding standing = HistoryStandingOf(context);
    EXPECT_EQ(standing.Standing.Days, 63);
    ASSERT_TRUE(standing.Standing.Rank.has_value());
    EXPECT_NEAR(*standing.Standing.Rank, 50, 1e-9);
    // 31 of the 62 days lie below today's.
    EXPECT_NEAR(*standing.Standing.Percentile, 100.0 * 31 / 63, 1e-9);

    // HV20: the last 20 recorded sales (days 50..69) and today's 50.
    std::vector<double> prices;
    for (int i = 50; i < 70; ++i)
        prices.push_back(40 + (i % 3));
    prices.push_back(50);
    double mean = 0;
    std::vector<double> returns;
    for (std::size_t i = 1; i < prices.size(); ++i) {
        returns.push_back(std::log(prices[i] / prices[i - 1]));
        mean += returns.back() / 20;
    }
    double squares = 0;
    for (double r : returns)
        squares += (r - mean) * (r - mean);
    ASSERT_TRUE(standing.Hv20.has_value());
    EXPECT_NEAR(*standing.Hv20, 100 * std::sqrt(252.0) * std::sqrt(squares / 19), 1e-9);

    // A History.db that is no database: the filters in use fail, said once.
    dir.Write("History.db", std::string(4096, 'x'));
    std::remove(dir.File("History.db-wal").c_str());
    std::remove(dir.File("History.db-shm").c_str());
    context.counters.SymbolIndex = 1;
    EXPECT_FALSE(Saved());
    EXPECT_NE(context.ivHistory.Problem.find("History.db"), std::string::npos);
    EXPECT_STREQ(FirstFailedTest(context), "MinIvRank");
}

// With the history figures on, the block gets the history line after the ZOR
// totals and the summary line the IV rank before the company name.
TEST_F(EvaluationTest, HistoryFiguresInTheReportAndSummary) {
    QuoteOptions();
    const double today = *CurrentIv30(context).Both;
    std::vector<double> past(19, today - 10);
    past.push_back(today + 10);
    CacheHistory(past);
    context.settings.History.ShowFigures = true;
    context.counters.ProcessCount = 0;
    context.quote.Quote.CompanyName = "Intl Business Machines";
    ASSERT_TRUE(Saved());
    const std::string& page = context.quote.PageText;
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = page.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(page.substr(at, end - at));
    ASSERT_EQ(lines.size(), 56u);
    char iv[16];
    std::snprintf(iv, sizeof iv, "%.1f", today);
    EXPECT_EQ(lines[14], std::string("IV30 ") + iv +
                             "  IV rank 50.0  IV pctl 90.5  (21 days of 52 wk)  HV20 n/a");
    EXPECT_EQ(lines[15], "");
    const std::string& saved = context.pending.PendingSavedSym;
    EXPECT_NE(saved.find("   Rank Company Name\r\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("   50.0 Intl Business Machines\r\n"), std::string::npos) << saved;
}

// With the IV filters unused and the history figures off, what a symbol
// leaves behind (report block, results, summary lines, lists, progress) is
// byte for byte what it is without any history, and History.db is not read.
TEST_F(EvaluationTest, HistoryUnusedChangesNoOutput) {
    struct Output {
        std::string page, results, saved, up, down, progress;
        bool operator==(const Output&) const = default;
    };
    const auto run = [this](const std::string& directory, bool filtersNA) {
        SetUp();
        context.files = WorkingFileNames::In(directory);
        context.counters.SymbolIndex = 1;
        context.counters.ProcessCount = 0;
        QuoteOptions();
        if (filtersNA) {
            context.settings.History.MinIvRank = FilterValue::Text("NA");
            context.settings.History.MaxIvPercentile = FilterValue();
            context.settings.History.WindowWeeks = 13;
        }
        EvaluateSymbol(context, alarm);
        EXPECT_FALSE(context.ivHistory.Loaded) << "History.db read for nothing";
        const PendingOutput& p = context.pending;
        return Output{context.quote.PageText, p.PendingResults, p.PendingSavedSym,
                      p.PendingUpSym,         p.PendingDownSym, p.PendingProgress};
    };
    testing::TempDir without;
    testing::TempDir with;
    ASSERT_FALSE(with.Path().empty());
    {
        HistoryStore store;
        ASSERT_TRUE(store.Open(with.File("History.db")));
        for (int day = 1; day <= 28; ++day) {
            HistoryRow row;
            row.Symbol = "IBM";
            row.Day = 20261100 + day;
            row.Iv30 = 20 + day;
            row.Last = 45 + day % 5;
            row.Verdict = Verdict::Saved;
            ASSERT_TRUE(store.Record(row));
        }
    }
    const Output plain = run(without.Path(), false);
    EXPECT_EQ(run(with.Path(), false), plain);
    EXPECT_EQ(run(with.Path(), true), plain) << "NA filters and a window are not in use";
    EXPECT_EQ(plain.page.find("IV30"), std::string::npos);
    EXPECT_EQ(plain.saved.find("Rank"), std::string::npos);
}

TEST_F(EvaluationTest, OrGroupDecidesTheTrend) {
    struct Case {
        const char* name;
        float zorc, zorp;
        double callPut, putCall;
        Verdict verdict;
        const char* up;
        const char* down;
    };
    const Case cases[] = {
        {"calls eight times the puts", 8000, 1000, 8, 8, Verdict::SavedUp, "IBM\r\n", ""},
        {"puts eight times the calls", 1000, 8000, 8, 8, Verdict::SavedDown, "", "IBM\r\n"},
        {"neither ratio reached", 5000, 2000, 8, 8, Verdict::Rejected, "", ""},
        {"ZORP 0 cannot match", 5000, 0, 8, 8, Verdict::Rejected, "", ""},
        {"ZORC 0 cannot match", 0, 5000, 8, 8, Verdict::Rejected, "", ""},
        {"equal figures match both: DOWN, listed up", 3000, 3000, 1, 1, Verdict::SavedDown,
         "IBM\r\n", ""},
    };
    for (const Case& c : cases) {
        SetUp();
        SetTotals(c.zorc, c.zorp, 300, 400);
        UseRatioFilters(c.callPut, c.putCall);
        EvaluateSymbol(context, alarm);
        EXPECT_EQ(context.Verdict, c.verdict) << c.name;
        EXPECT_EQ(context.counters.ProcessCount, c.verdict == Verdict::Rejected ? 2 : 3) << c.name;
        EXPECT_EQ(context.pending.PendingUpSym, c.up) << c.name;
        EXPECT_EQ(context.pending.PendingDownSym, c.down) << c.name;
    }
}

TEST_F(EvaluationTest, DefaultFiltersNeedOpenInterestAndARatio) {
    SetDefaultFilters(context.settings.Filters);
    context.counters.RatioFiltersActive = true;
    SetTotals(9000, 1000, 250, 260);
    EXPECT_TRUE(Saved());
    SetUp();
    SetDefaultFilters(context.settings.Filters);
    context.counters.RatioFiltersActive = true;
    SetTotals(9000, 1000, 249, 260);
    EXPECT_FALSE(Saved());
}

// The report block shows the scan as the context holds it: the saved count
// (this symbol included once saved), the progress, the interest rate, the
// verdict as the trend, the clock's time and the price DeriveZorFrom picks.
TEST_F(EvaluationTest, ReportShowsTheScanState) {
    struct Case {
        const char* name;
        std::function<void(EvaluationTest&)> setUp;
        const char* progress;
        const char* trend;
        const char* price;
    };
    const Case cases[] = {
        {"saved without ratio filters", [](auto&) {},
         "Saved 3               Progress  4/9         Interest Rate 5%", "?",
         "45     |        7.6   "},
        {"saved as UP",
         [](auto& t) {
             t.context.settings.InterestRate = 0.0525f;
             t.SetTotals(8000, 1000, 300, 400);
             t.UseRatioFilters(8, 8);
         },
         "Saved 3               Progress  4/9         Interest Rate 5.25%", "UP",
         "45     |        7.6   "},
        {"saved as DOWN, last prices",
         [](auto& t) {
             t.context.settings.Filters.DeriveZorFrom = 0;
             t.SetTotals(1000, 8000, 300, 400);
             t.UseRatioFilters(8, 8);
         },
         "Saved 3               Progress  4/9         Interest Rate 5%", "DOWN",
         "45     |        7.5   "},
        {"rejected", [](auto& t) { t.Filter(TX_MaxLast, 40); },
         "Saved 2               Progress  4/9         Interest Rate 5%", "?",
         "45     |        7.6   "},
        {"without stock data", [](auto& t) { t.context.quote.HaveStockData = false; },
         "Saved 2               Progress  4/9         Interest Rate 5%", "?",
         "45     |        7.6   "},
    };
    for (const Case& c : cases) {
        SetUp();
        context.settings.InterestRate = 0.05f;
        context.settings.Filters.DeriveZorFrom = 1;
        OptionChain& chain = context.quote.Chain;
        chain.OptLast[0][1][0] = 7.5f;  // the call at 45 expiring first
        chain.OptAsk[0][1][0] = 7.6f;
        c.setUp(*this);
        EvaluateSymbol(context, alarm);

        std::vector<std::string> lines;
        const std::string& page = context.quote.PageText;
        for (std::size_t at = 0, end; (end = page.find("\r\n", at)) != std::string::npos;
             at = end + 2)
            lines.push_back(page.substr(at, end - at));
        ASSERT_EQ(lines.size(), 55u) << c.name;
        EXPECT_EQ(lines[0], c.progress) << c.name;
        EXPECT_EQ(lines[12].substr(44), std::string("Trend.... ") + c.trend) << c.name;
        EXPECT_EQ(lines[13].substr(44), "12/1/2026 9:30:00 AM") << c.name;
        EXPECT_EQ(lines[25].substr(0, 22), c.price) << c.name;
    }
}

}  // namespace
}  // namespace quillon
