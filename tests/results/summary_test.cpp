#include "results/summary.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/clock.h"
#include "platform/services.h"
#include "scan/context.h"

namespace quillon {
namespace {

const std::string kHeading =
    "\r\n"
    " Stock        ZORC:   Stock  % Price\r\n"
    " Symbol Root  ZORP    Price   Change Company Name\r\n"
    "------- ---- ------- ------- ------- ------------------------------------\r\n";

class Summary : public ::testing::Test {
  protected:
    Summary() : context_(clock_, messages_, beeper_) {
        context_.quote.Ticker = "QLN";
        context_.quote.Quote.OptionRoot = "QLN";
        context_.quote.Quote.CompanyName = "Quillon Test Corp   ";
        context_.quote.Quote.LastSale = 47.3f;
        context_.quote.Quote.PercentChange = -1.725f;
        context_.counters.ProcessCount = 2;
    }

    FixedClock clock_;
    ScriptedMessages messages_;
    CountingBeeper beeper_;
    Context context_;
};

// The ratio field and the up or down list follow the two ZOR figures alone.
TEST_F(Summary, RatioFieldAndLists) {
    struct Case {
        float zorc, zorp;
        const char* ratio;
        const char* up;
        const char* down;
    };
    const Case cases[] = {
        {5000, 2000, "   2.50 ", "QLN\r\n", ""},
        {2000, 5000, "d  2.50 ", "", "QLN\r\n"},
        {20, 20, "   1.00 ", "QLN\r\n", ""},
        {5000, 0, "  n/a   ", "", ""},
        {0, 2000, "  n/a   ", "", ""},
        {-1, -1, "  n/a   ", "", ""},
        {123456, 1, " 123456.00 ", "QLN\r\n", ""},
    };
    for (const Case& c : cases) {
        context_.pending.Clear();
        WriteSummaryLine(context_, c.zorc, c.zorp);
        const std::string line =
            std::string("QLN     QLN  ") + c.ratio + " $47.30   -1.73 Quillon Test Corp\r\n";
        EXPECT_EQ(context_.pending.PendingSavedSym, line) << c.zorc << " / " << c.zorp;
        EXPECT_EQ(context_.pending.PendingUpSym, c.up) << c.zorc << " / " << c.zorp;
        EXPECT_EQ(context_.pending.PendingDownSym, c.down) << c.zorc << " / " << c.zorp;
    }
}

// The heading comes with the first saved symbol of a pass only; a pass resumed
// with symbols already saved adds none.
TEST_F(Summary, HeadingOncePerPass) {
    const std::string line = "QLN     QLN     2.50  $47.30   -1.73 Quillon Test Corp\r\n";
    for (int count = 1; count <= 3; ++count) {
        context_.counters.ProcessCount = count;
        WriteSummaryLine(context_, 5000, 2000);
    }
    EXPECT_EQ(context_.pending.PendingSavedSym, kHeading + line + line + line);

    context_.pending.Clear();
    context_.counters.ProcessCount = 7;
    WriteSummaryLine(context_, 5000, 2000);
    EXPECT_EQ(context_.pending.PendingSavedSym, line);
}

// Long tickers and roots widen the line; blanks inside the name stay, only the
// trailing ones go.
TEST_F(Summary, ColumnsAndCompanyName) {
    struct Case {
        const char* ticker;
        const char* root;
        const char* company;
        float last;
        const char* line;
    };
    const Case cases[] = {
        {"AB", "AB ", "  Two  Blanks ", 8.5f,
         "AB      AB      2.50   $8.50   -1.73   Two  Blanks\r\n"},
        {"LONGTICK", "LNGRT", "", 1234.5f, "LONGTICKLNGRT   2.50 $1,234.50   -1.73 \r\n"},
        {"X", "X", "   ", 0, "X       X       2.50   $0.00   -1.73 \r\n"},
    };
    for (const Case& c : cases) {
        context_.pending.Clear();
        context_.quote.Ticker = c.ticker;
        context_.quote.Quote.OptionRoot = c.root;
        context_.quote.Quote.CompanyName = c.company;
        context_.quote.Quote.LastSale = c.last;
        WriteSummaryLine(context_, 5000, 2000);
        EXPECT_EQ(context_.pending.PendingSavedSym, c.line) << c.ticker;
    }
}

TEST_F(Summary, ResultsGetTheBlockAndAFormFeedLine) {
    context_.quote.PageText = "first\r\n";
    AppendResults(context_);
    context_.quote.PageText = "second\r\n";
    AppendResults(context_);
    EXPECT_EQ(context_.pending.PendingResults, "first\r\n\f\r\nsecond\r\n\f\r\n");
}

}  // namespace
}  // namespace quillon
