#include "scan/evaluation.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

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
