#include "scan/evaluation.h"

#include <gtest/gtest.h>

#include <functional>

namespace quillon {
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
    EXPECT_EQ(context.Verdict, 0);
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
    context.Verdict = 1;
    alarm.checked = true;
    EXPECT_FALSE(Saved());
    EXPECT_EQ(context.Verdict, 1) << "left as it was";
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
        EXPECT_EQ(context.Verdict, c.saved ? 0 : -2) << c.name;
    }
}

TEST_F(EvaluationTest, OrGroupDecidesTheTrend) {
    struct Case {
        const char* name;
        float zorc, zorp;
        double callPut, putCall;
        int verdict;
        const char* up;
        const char* down;
    };
    const Case cases[] = {
        {"calls eight times the puts", 8000, 1000, 8, 8, 1, "IBM\r\n", ""},
        {"puts eight times the calls", 1000, 8000, 8, 8, -1, "", "IBM\r\n"},
        {"neither ratio reached", 5000, 2000, 8, 8, -2, "", ""},
        {"ZORP 0 cannot match", 5000, 0, 8, 8, -2, "", ""},
        {"ZORC 0 cannot match", 0, 5000, 8, 8, -2, "", ""},
        {"equal figures match both: DOWN, listed up", 3000, 3000, 1, 1, -1, "IBM\r\n", ""},
    };
    for (const Case& c : cases) {
        SetUp();
        SetTotals(c.zorc, c.zorp, 300, 400);
        UseRatioFilters(c.callPut, c.putCall);
        EvaluateSymbol(context, alarm);
        EXPECT_EQ(context.Verdict, c.verdict) << c.name;
        EXPECT_EQ(context.counters.ProcessCount, c.verdict == -2 ? 2 : 3) << c.name;
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

}  // namespace
}  // namespace quillon
