#include "results/report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analytics/calendar.h"
#include "market/quote.h"
#include "platform/clock.h"

namespace quillon {
namespace {

constexpr DateTime kEvening{2026, 12, 1, 21, 5, 3};  // a Tuesday

// The lines of a block, each checked for its CR LF and returned without it.
std::vector<std::string> Lines(const std::string& block) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < block.size()) {
        const std::size_t end = block.find("\r\n", start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "last line without CR LF";
            break;
        }
        lines.push_back(block.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += line + "\r\n";
    return text;
}

struct Option {
    const char* symbol;
    float last, bid, ask, volume, openInterest, zor;
};

class Report : public ::testing::Test {
  protected:
    Report() {
        ResetQuote(quote_);
        BuildExpirationCalendar(calendar_, kEvening);
    }

    // Renders the block with `trend` into page_.
    void RenderReport(Verdict trend) {
        page_ = quillon::RenderReport(ReportView{.Quote = quote_,
                                                 .Calendar = calendar_,
                                                 .Strikes = strikes_,
                                                 .ProcessCount = processCount_,
                                                 .SymbolIndex = symbolIndex_,
                                                 .SymbolCount = symbolCount_,
                                                 .InterestRate = interestRate_,
                                                 .DeriveZorFrom = deriveZorFrom_,
                                                 .Trend = trend,
                                                 .WrittenAt = now_});
    }

    // A stock at 47.30 with every figure and a full chain around it.
    void FullStock() {
        QuoteState& state = quote_;
        QuoteRecord& q = state.Quote;
        state.Ticker = "QLN";
        q = {.OptionRoot = "QLN",
             .CompanyName = "Quillon Test Corp",
             .LastTick = "UP",
             .Exchange = "NASDAQ",
             .LastSale = 47.3f,
             .SaleTime = "4:00PM",
             .OpenPrice = 46.5f,
             .HighPrice = 47.875f,
             .LowPrice = 46.25f,
             .Volume = 1234567,
             .Bid = 47.25f,
             .Ask = 47.375f,
             .BidAskSize = "10X12",
             .NetChange = 0.8f,
             .PercentChange = 1.72f,
             .PreviousClose = 46.5f,
             .High52Week = 60.125f,
             .Low52Week = 30.5f,
             .HistVolatility = 32.5f,
             .ExDividendDate = "NOV 14",
             .Dividend = 0.48f,
             .EarningsPerShare = 2.15f,
             .PriceEarnings = 22.13f,
             .YieldPercent = 1.01f,
             .SharesOutstanding = 250000000};
        SelectStrikes(strikes_, q.LastSale);  // 40, 45, 50 in slots 1 to 3
        // [type][strike slot 1..3][month slot 0..1]
        const Option options[2][3][2] = {
            {{{"QLNLH", 7.5f, 7.4f, 7.6f, 12, 340, 31.25f},
              {"QLNAH", 8.125f, 8, 8.25f, 5, 120, 29.5f}},
             {{"QLNLI", 3.1f, 3, 3.2f, 250, 1500, 28.75f},
              {"QLNAI", 4.2f, 4.1f, 4.3f, 40, 800, 27.5f}},
             {{"QLNLJ", 0.85f, 0.8f, 0.9f, 600, 2100, 26.4f},
              {"QLNAJ", 1.95f, 1.9f, 2.05f, 75, 950, 25.8f}}},
            {{{"QLNXH", 0.15f, 0.1f, 0.2f, 30, 410, 35.5f},
              {"QLNMH", 0.55f, 0.5f, 0.6f, 8, 200, 33.25f}},
             {{"QLNXI", 0.7f, 0.65f, 0.75f, 180, 1300, 30.1f},
              {"QLNMI", 1.6f, 1.55f, 1.7f, 22, 650, 29.9f}},
             {{"QLNXJ", 3, 2.9f, 3.1f, 90, 700, 27.6f}, {"QLNMJ", 4, 3.9f, 4.1f, 15, 300, 26.9f}}}};
        OptionChain& chain = state.Chain;
        for (int type = 0; type < 2; ++type) {
            for (int strike = 1; strike <= 3; ++strike) {
                for (int month = 0; month < 2; ++month) {
                    const Option& o = options[type][strike - 1][month];
                    chain.OptSymbol[type][strike][month] = o.symbol;
                    chain.OptLast[type][strike][month] = o.last;
                    chain.OptBid[type][strike][month] = o.bid;
                    chain.OptAsk[type][strike][month] = o.ask;
                    chain.OptVolume[type][strike][month] = o.volume;
                    chain.OptOpenInterest[type][strike][month] = o.openInterest;
                    chain.OptZOR[type][strike][month] = o.zor;
                }
            }
        }
        chain.TotalZOR = {5000, 2000};
        chain.TotalOpenInterest = {5810, 3560};
        chain.TotalVolume = {982, 345};
    }

    // Line n (1-based) of the block rendered with `trend`.
    std::string RenderedLine(int n, Verdict trend = Verdict::SavedUp) {
        RenderReport(trend);
        const std::vector<std::string> lines = Lines(page_);
        if (lines.size() < static_cast<std::size_t>(n))
            return "<no line " + std::to_string(n) + ">";
        return lines[static_cast<std::size_t>(n - 1)];
    }

    QuoteState quote_;
    ExpirationCalendar calendar_;
    StrikeTable strikes_;
    int processCount_ = 3;
    int symbolIndex_ = 17;
    int symbolCount_ = 250;
    float interestRate_ = 0.0525f;
    int deriveZorFrom_ = 1;
    DateTime now_ = kEvening;
    std::string page_;
};

const std::vector<std::string> kTableHeadAndNotes[] = {
    {"Root   | Expiration:   Days          | Expiration:   Days          |",
     "Symbol | Month  Date   To Go         | Month  Date   To Go         |",
     "-------|-----------------------------|-----------------------------|",
     "IValue | Last   Bid    Ask           | Last   Bid    Ask           |",
     "Strike |        Prc    OpnInt TValue |        Prc    OpnInt TValue |",
     "Price  | Symbol ZOR    Volume        | Symbol ZOR    Volume        |"},
    {"", "Notes:", "  IValue: Intrinsic Value     Prc: Price used to calculate ZOR",
     "  TValue: Time Value         Last: Last (or Latest) Price",
     "  OpnInt: Open Interest   Mkt Cap: Market Capitalization",
     "   Volty: Historical Volatility (provided by the quote server)"}};

std::string Block(const std::vector<std::string>& quote, const std::vector<std::string>& options) {
    return Joined(quote) + Joined(kTableHeadAndNotes[0]) + Joined(options) +
           Joined(kTableHeadAndNotes[1]);
}

TEST_F(Report, FullStockBlock) {
    FullStock();
    RenderReport(Verdict::SavedUp);
    const std::string expected =
        Block({"Saved 3               Progress  17/250      Interest Rate 5.25%",
               "Quillon Test Corp                           Mkt Cap.. $11,824,999,809",
               "Symbol... QLN         Last Tick UP          Exchange. NASDAQ",
               "Last..... $47.3       Bid...... $47.25      Ask...... $47.375     ",
               "Change... $0.8        % Change. 1.72%       Time..... 4:00PM",
               "Open..... $46.5       High..... $47.875     Low...... $46.25",
               "Previous. $46.5       Volume... 1,234,567   B A Size. 10X12",
               "52 Wk Hi. $60.125     52 Wk Lo. $30.5       Ex-Div... NOV 14",
               "Dividend. $0.48       Yield.... 1.01%       Volty.... 32.5%",
               "Earn/Shr. $2.15       P/E Ratio 22.13       Shrs Out. 250,000,000", "",
               "Ttl ZORC. 5000        Ttl ZORP. 2000        ZORC/ZORP 2.5",
               "Open Int. 5810        Open Int. 3560        Trend.... UP",
               "Volume... 982         Volume... 345         12/1/2026 9:05:03 PM", ""},
              {"*******|*********** Calls ***********|*********** Calls ***********|",
               "QLN    | L      12/19  18            | A      1/16   46            |",
               "-------|-----------------------------|-----------------------------|",
               "7.3    | 7.5    7.4    7.6           | 8.125  8      8.25          |",
               "40     |        7.6    340    0.3    |        8.25   120    0.95   |",
               "H      | QLNLH  31.25  12            | QLNAH  29.50  5             |",
               "-------|-----------------------------|-----------------------------|",
               "2.3    | 3.1    3      3.2           | 4.2    4.1    4.3           |",
               "45     |        3.2    1500   0.9    |        4.3    800    2      |",
               "I      | QLNLI  28.75  250           | QLNAI  27.50  40            |",
               "-------|-----------------------------|-----------------------------|",
               "0      | 0.85   0.8    0.9           | 1.95   1.9    2.05          |",
               "50     |        0.9    2100   0.9    |        2.05   950    2.05   |",
               "J      | QLNLJ  26.40  600           | QLNAJ  25.80  75            |",
               "*******|*********** Puts  ***********|*********** Puts  ***********|",
               "QLN    | X      12/19  18            | M      1/16   46            |",
               "-------|-----------------------------|-----------------------------|",
               "0      | 0.15   0.1    0.2           | 0.55   0.5    0.6           |",
               "40     |        0.2    410    0.2    |        0.6    200    0.6    |",
               "H      | QLNXH  35.50  30            | QLNMH  33.25  8             |",
               "-------|-----------------------------|-----------------------------|",
               "0      | 0.7    0.65   0.75          | 1.6    1.55   1.7           |",
               "45     |        0.75   1300   0.75   |        1.7    650    1.7    |",
               "I      | QLNXI  30.10  180           | QLNMI  29.90  22            |",
               "-------|-----------------------------|-----------------------------|",
               "2.7    | 3      2.9    3.1           | 4      3.9    4.1           |",
               "50     |        3.1    700    0.4    |        4.1    300    1.4    |",
               "J      | QLNXJ  27.60  90            | QLNMJ  26.90  15            |"});
    EXPECT_EQ(page_, expected);
    EXPECT_EQ(Lines(page_).size(), 55u);
}

// A symbol the quote source did not know: the reset quote, no option root, and
// the strike table the previous symbol (at 8 dollars) left behind.
TEST_F(Report, BlockWithoutStockQuote) {
    quote_.Ticker = "ZZZZ";
    interestRate_ = 0.05f;
    symbolIndex_ = 18;
    SelectStrikes(strikes_, 8);  // 7.5, 10, 12.5 in slots 1 to 3
    RenderReport(Verdict::Saved);
    const std::string expected =
        Block({"Saved 3               Progress  18/250      Interest Rate 5%",
               "                                            Mkt Cap.. $0",
               "Symbol... ZZZZ        Last Tick             Exchange. ",
               "Last..... $0          Bid...... n/a         Ask...... n/a",
               "Change... $0          % Change. 0.00%       Time..... ",
               "Open..... $0          High..... $0          Low...... $0",
               "Previous. $0          Volume... 0           B A Size. ",
               "52 Wk Hi. $0          52 Wk Lo. $0          Ex-Div... ",
               "Dividend. $0          Yield.... 0%          Volty.... n/a",
               "Earn/Shr. $0          P/E Ratio 0           Shrs Out. ", "",
               "Ttl ZORC. n/a         Ttl ZORP. n/a         ZORC/ZORP n/a       ",
               "Open Int. 0           Open Int. 0           Trend.... ?",
               "Volume... 0           Volume... 0           12/1/2026 9:05:03 PM", ""},
              {"*******|*********** Calls ***********|*********** Calls ***********|",
               "       | L      12/19  18            | A      1/16   46            |",
               "-------|-----------------------------|-----------------------------|",
               "0      | n/a    n/a    n/a           | n/a    n/a    n/a           |",
               "7.5    |        n/a    n/a    ------ |        n/a    n/a    ------ |",
               "U      | LU     n/a    n/a           | AU     n/a    n/a           |",
               "-------|-----------------------------|-----------------------------|",
               "0      | n/a    n/a    n/a           | n/a    n/a    n/a           |",
               "10     |        n/a    n/a    ------ |        n/a    n/a    ------ |",
               "B      | LB     n/a    n/a           | AB     n/a    n/a           |",
               "-------|-----------------------------|-----------------------------|",
               "0      | n/a    n/a    n/a           | n/a    n/a    n/a           |",
               "12.5   |        n/a    n/a    ------ |        n/a    n/a    ------ |",
               "V      | LV     n/a    n/a           | AV     n/a    n/a           |",
               "*******|*********** Puts  ***********|*********** Puts  ***********|",
               "       | X      12/19  18            | M      1/16   46            |",
               "-------|-----------------------------|-----------------------------|",
               "0      | n/a    n/a    n/a           | n/a    n/a    n/a           |",
               "7.5    |        n/a    n/a    ------ |        n/a    n/a    ------ |",
               "U      | XU     n/a    n/a           | MU     n/a    n/a           |",
               "-------|-----------------------------|-----------------------------|",
               "0      | n/a    n/a    n/a           | n/a    n/a    n/a           |",
               "10     |        n/a    n/a    ------ |        n/a    n/a    ------ |",
               "B      | XB     n/a    n/a           | MB     n/a    n/a           |",
               "-------|-----------------------------|-----------------------------|",
               "0      | n/a    n/a    n/a           | n/a    n/a    n/a           |",
               "12.5   |        n/a    n/a    ------ |        n/a    n/a    ------ |",
               "V      | XV     n/a    n/a           | MV     n/a    n/a           |"});
    EXPECT_EQ(page_, expected);
}

// Before any stock of the run had a price the strike table is still empty: its
// letters show as nothing, never as NUL bytes in the text.
TEST_F(Report, StrikeTableNotYetBuilt) {
    EXPECT_EQ(RenderedLine(26, Verdict::Saved),
              "0      |        n/a    n/a    ------ |        n/a    n/a    ------ |");
    EXPECT_EQ(RenderedLine(27, Verdict::Saved),
              "       | L      n/a    n/a           | A      n/a    n/a           |");
    EXPECT_EQ(page_.find('\0'), std::string::npos);
}

TEST(FitText, PadsOrCuts) {
    EXPECT_EQ(FitText("abc", 5), "abc  ");
    EXPECT_EQ(FitText("abcdef", 3), "abc");
    EXPECT_EQ(FitText("", 2), "  ");
    EXPECT_EQ(FitText("abc", 0), "");
    EXPECT_EQ(FitText("abc", -4), "");
}

// Line 4: thresholds on the stored figures, the n/a ask cell left unpadded.
TEST_F(Report, BidAndAskCells) {
    struct Case {
        float bid, ask;
        const char* line;
    };
    const Case cases[] = {
        {0.009f, 0.009f, "Last..... $47.3       Bid...... n/a         Ask...... n/a"},
        {0.01f, 0.01f, "Last..... $47.3       Bid...... $0.01       Ask...... $0.01       "},
        // Each figure shows as its shortest decimal text, not the float's error
        // (1234.5677 is held as 1234.5677490, 123456.789 as 123456.7890625).
        {1234.5677f, 123456.789f,
         "Last..... $47.3       Bid...... $1234.5677  Ask...... $123456.79  "},
        {1234567.8f, 0, "Last..... $47.3       Bid...... $1234567.8  Ask...... n/a"},
        {658.05f, 658.06f, "Last..... $47.3       Bid...... $658.05     Ask...... $658.06     "},
    };
    FullStock();
    for (const Case& c : cases) {
        quote_.Quote.Bid = c.bid;
        quote_.Quote.Ask = c.ask;
        EXPECT_EQ(RenderedLine(4), c.line) << c.bid << " / " << c.ask;
    }
}

TEST_F(Report, PriceEarningsCell) {
    struct Case {
        float ratio;
        const char* cell;
    };
    const Case cases[] = {
        {100000, "P/E Ratio n/a         "},
        {250000, "P/E Ratio n/a         "},
        {99999.99f, "P/E Ratio 99999.99    "},
        {-12.345f, "P/E Ratio -12.35      "},
    };
    FullStock();
    for (const Case& c : cases) {
        quote_.Quote.PriceEarnings = c.ratio;
        EXPECT_EQ(RenderedLine(10).substr(22, 22), c.cell) << c.ratio;
    }
}

// Lines 12 and 13: the ratio of the larger ZOR total to the smaller, and the
// trend only when both totals are there.
TEST_F(Report, RatioAndTrend) {
    struct Case {
        float calls, puts;
        Verdict trend;
        const char* ratio;
        const char* trendText;
    };
    const Case cases[] = {
        {30, 10, Verdict::SavedUp, "ZORC/ZORP 3", "UP"},
        {10, 30, Verdict::SavedDown, "ZORP/ZORC 3", "DOWN"},
        {20, 20, Verdict::SavedDown, "ZORC/ZORP 1", "DOWN"},
        {10, 3, Verdict::Saved, "ZORC/ZORP 3.333", "?"},
        {123456, 2, Verdict::Rejected, "ZORC/ZORP 6.173e+04", "?"},
        {0, 30, Verdict::SavedUp, "ZORC/ZORP n/a       ", "?"},
        {30, 0, Verdict::SavedDown, "ZORC/ZORP n/a       ", "?"},
    };
    FullStock();
    for (const Case& c : cases) {
        quote_.Chain.TotalZOR = {c.calls, c.puts};
        const std::string totals = RenderedLine(12, c.trend);
        EXPECT_EQ(totals.substr(44), c.ratio) << c.calls << " / " << c.puts;
        EXPECT_EQ(RenderedLine(13, c.trend).substr(44), std::string("Trend.... ") + c.trendText)
            << c.calls << " / " << c.puts << " trend " << static_cast<int>(c.trend);
    }
}

// Line 14 in the short date and long time forms, around noon and midnight.
TEST_F(Report, DateAndTime) {
    struct Case {
        DateTime at;
        const char* text;
    };
    const Case cases[] = {
        {{2027, 1, 9, 0, 0, 7}, "1/9/2027 12:00:07 AM"},
        {{2027, 11, 30, 12, 30, 0}, "11/30/2027 12:30:00 PM"},
        {{2027, 11, 30, 11, 59, 59}, "11/30/2027 11:59:59 AM"},
    };
    for (const Case& c : cases) {
        now_ = c.at;
        EXPECT_EQ(RenderedLine(14).substr(44), c.text);
    }
}

// The price column follows the "Derive ZOR from" setting, and the time value
// is that price less the intrinsic value. Calls at strike 40 (line 26).
TEST_F(Report, PriceColumnFollowsDeriveZorFrom) {
    FullStock();
    deriveZorFrom_ = 0;
    EXPECT_EQ(RenderedLine(26),
              "40     |        7.5    340    0.2    |        8.125  120    0.825  |");
    deriveZorFrom_ = 1;
    EXPECT_EQ(RenderedLine(26),
              "40     |        7.6    340    0.3    |        8.25   120    0.95   |");
}

// Option cells are cut after 7 characters, never rounded, and a missing price
// gives a time value of " ------". Calls at strike 40 (lines 25 to 27).
TEST_F(Report, OptionCellsAreCut) {
    FullStock();
    OptionChain& chain = quote_.Chain;
    chain.OptLast[0][1][0] = 123.4567f;
    chain.OptBid[0][1][0] = 658.05f;  // held as 658.0499878: cut, " 658.0499" showed " 658.04"
    chain.OptAsk[0][1][1] = 0;
    chain.OptZOR[0][1][0] = 1234.567f;
    chain.OptVolume[0][1][1] = 12345678;
    EXPECT_EQ(RenderedLine(25),
              "7.3    | 123.45 658.05 7.6           | 8.125  8      n/a           |");
    EXPECT_EQ(RenderedLine(26),
              "40     |        7.6    340    0.3    |        n/a    120    ------ |");
    EXPECT_EQ(RenderedLine(27),
              "H      | QLNLH  1234.57 12            | QLNAH  29.50  12345678        |");
}

// A symbol the page did not give is rebuilt from root, month and strike letter.
TEST_F(Report, RebuiltOptionSymbol) {
    FullStock();
    quote_.Chain.OptSymbol[1][3][0].clear();
    quote_.Chain.OptSymbol[1][3][1] = "QLMJ";
    EXPECT_EQ(RenderedLine(49),
              "J      | QLNXJ  27.60  90            | QLMJ   26.90  15            |");
}

}  // namespace
}  // namespace quillon

namespace quillon {
namespace {

// The history line, one decimal per figure; "n/a (k days)" for a standing
// with too little history, "n/a" for an IV30 or HV20 the day did not give.
TEST(ReportHistoryLine, ExactText) {
    struct Case {
        ReportHistory history;
        const char* line;
    };
    const Case cases[] = {
        {{31.46, 42.0, 61.54, 240, 52, 27.349},
         "IV30 31.5  IV rank 42.0  IV pctl 61.5  (240 days of 52 wk)  HV20 27.3"},
        {{18.0, std::nullopt, std::nullopt, 12, 13, std::nullopt},
         "IV30 18.0  IV rank n/a (12 days)  IV pctl n/a (12 days)  (12 days of 13 wk)  HV20 n/a"},
        {{std::nullopt, std::nullopt, std::nullopt, 0, 26, 9.96},
         "IV30 n/a  IV rank n/a (0 days)  IV pctl n/a (0 days)  (0 days of 26 wk)  HV20 10.0"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(HistoryLine(c.history), c.line);
}

}  // namespace
}  // namespace quillon
