#include "market/archive.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <string>
#include <vector>

#include "scan/scan_parts.h"
#include "tests/support/crlf_lines.h"
#include "tests/support/temp_dir.h"

namespace quillon {
namespace {

using testing::Lines;

using testing::TempDir;

// Tuesday 1 December 2026: call months L (Dec), A (Jan); put months X, M.
constexpr DateTime kRecorded{2026, 12, 1, 9, 5};

// A last sale of 47.3 gives the strikes 40, 45, 50 in slots 1 to 3: H, I, J.
const std::vector<std::string> kIbmSymbols = {"IBMLH", "IBMAH", "IBMLI", "IBMAI", "IBMLJ", "IBMAJ",
                                              "IBMXH", "IBMMH", "IBMXI", "IBMMI", "IBMXJ", "IBMMJ"};

std::string LineFeedsOnly(std::string text) {
    std::erase(text, '\r');
    return text;
}

// A stock record as the writer lays it out: header, seven texts, eighteen
// numbers (last sale first, earnings per share the fourteenth).
std::string StockRecord(const std::string& ticker, const std::string& last = "47.3",
                        const std::string& eps = "2") {
    std::vector<std::string> lines = {"<STOCK>" + ticker, ticker + " Corp", "", "", "", "", "", ""};
    for (int i = 0; i < 18; ++i)
        lines.push_back(i == 0 ? last : i == 13 ? eps : "1");
    return Lines(lines);
}

// An options section whose every archived entry is filled for a 47.3 stock
// replayed on kRecorded; entry i has last price i + 1.
std::string IbmOptions(const std::string& root = "IBM") {
    std::vector<std::string> lines = {"<OPTIONS>" + root};
    for (std::size_t i = 0; i < kIbmSymbols.size(); ++i) {
        const std::string symbol =
            root.size() < 3 ? root + " " + kIbmSymbols[i].substr(3) : kIbmSymbols[i];
        lines.push_back(symbol + "," + std::to_string(i + 1) + ",0.5,1.25,1.5,30,400");
    }
    return Lines(lines);
}

class ArchiveTest : public ::testing::Test {
  protected:
    ArchiveTest() : context(clock, messages, beeper) {}

    // A fresh quote for `ticker`, as a parse would start it.
    void Begin(const std::string& ticker) {
        context.quote.Ticker = ticker;
        ResetQuote(context.quote);
        BuildExpirationCalendar(context.calendar, clock.Now());
    }

    void OpenArchive(const std::string& text) {
        dir.Write("Quote.txt", text);
        context.replay.LocalQuoteFile.Open(dir.File("Quote.txt"));
        context.replay.ReplayLine.clear();
    }

    // Replays `ticker`; true when it got stock data.
    bool Replay(const std::string& ticker) {
        context.quote.Ticker = ticker;
        ReplayQuote(context);
        return context.quote.HaveStockData;
    }

    QuoteRecord& Q() { return context.quote.Quote; }
    OptionChain& C() { return context.quote.Chain; }

    TempDir dir;
    FixedClock clock{kRecorded};
    ScriptedMessages messages;
    SilentBeeper beeper;
    Context context;
};

// ------------------------------------------------------------------ writing

TEST_F(ArchiveTest, WritesRecordsListsAndAscQuoteLinesByteForByte) {
    clock.Set({2026, 3, 7, 9, 5});
    Begin("AA");
    QuoteRecord& q = Q();
    q.CompanyName = "Alcoa Inc   ";
    q.LastTick = "UP";
    q.Exchange = "NYSE";
    q.SaleTime = "16:01";
    q.BidAskSize = "5x10";
    q.ExDividendDate = "Feb 1";
    q.LastSale = 124.625f, q.NetChange = -2.0625f, q.PercentChange = -1.627f;
    q.Bid = 124.5f, q.Ask = 124.75f, q.OpenPrice = 126, q.HighPrice = 126.5f, q.LowPrice = 124;
    q.PreviousClose = 126.6875f, q.High52Week = 140.25f, q.Low52Week = 90.125f;
    q.HistVolatility = 23.5f, q.Dividend = 0.6f, q.EarningsPerShare = 5.25f;
    q.PriceEarnings = 23.7381f, q.YieldPercent = 0.48f;
    q.Volume = 1234567.5L, q.SharesOutstanding = 172e6L;
    context.quote.HaveStockData = true;
    context.quote.HaveOptionData = false;
    SaveQuote(context);

    Begin("IBM");
    Q().CompanyName = "International Business Machines";
    Q().LastSale = 47.3f;
    Q().OptionRoot = "IBM";
    C().OptSymbol[0][1][0] = "IBMLH";
    C().OptLast[0][1][0] = 2.5f, C().OptColumn2[0][1][0] = 0.1f, C().OptBid[0][1][0] = 2.375f;
    C().OptAsk[0][1][0] = 2.625f, C().OptVolume[0][1][0] = 120, C().OptOpenInterest[0][1][0] = 4500;
    C().OptSymbol[1][3][1] = "IBMMJ";
    C().OptLast[1][3][1] = 4, C().OptBid[1][3][1] = 3.875f, C().OptAsk[1][3][1] = 4.125f;
    C().OptVolume[1][3][1] = 7, C().OptOpenInterest[1][3][1] = 0;
    context.quote.HaveOptionData = true;
    SaveQuote(context);

    const std::string missing = ",-1,-1,-1,-1,-1,-1";
    const std::string expected =
        Lines({"<STOCK>AA", "Alcoa Inc", "UP",       "NYSE",    "16:01",    "5x10",   "Feb 1",
               "",          "124.625",   "-2.0625",  "-1.627",  "124.5",    "124.75", "126",
               "126.5",     "124",       "126.6875", "140.25",  "90.125",   "23.5",   "0.6",
               "5.25",      "23.7381",   "0.48",     "1234568", "172000000"}) +
        Lines({"<STOCK>IBM", "International Business Machines", "", "", "", "", "", "", "47.3"}) +
        Lines(std::vector<std::string>(17, "0")) +
        Lines({"<OPTIONS>IBM", "IBMLH,2.5,0.1,2.375,2.625,120,4500", missing, missing, missing,
               missing, missing, missing, missing, missing, missing, missing,
               "IBMMJ,4,-1,3.875,4.125,7,0"});
    EXPECT_EQ(context.pending.PendingQuote, expected);
    EXPECT_EQ(context.pending.PendingAscQuote,
              "AA,i,3/7/26,9:05,126,126.5,124,124.625,1234568,\r\n"
              "IBM,i,3/7/26,9:05,0,0,0,47.3,0,\r\n");
    EXPECT_EQ(context.pending.PendingGoodSym,
              "AA             Alcoa Inc\r\n"
              "IBM      IBM   International Business Machines\r\n");
    EXPECT_EQ(context.pending.PendingBadSym, "");
    EXPECT_EQ(Q().CompanyName, "International Business Machines");
}

TEST_F(ArchiveTest, ChoosesGoodOrBadListAndStillArchivesEveryAcceptedStock) {
    struct Case {
        const char* name;
        bool haveStock;
        bool optionFilters;
        const char* ticker;
        const char* root;
        const char* good;
        const char* bad;
        bool archived;
    };
    const Case cases[] = {
        {"no stock data", false, false, "XYZ", "XYZ", "", "XYZ\r\n", false},
        {"option filters, no root", true, true, "XYZ", "", "", "XYZ\r\n", true},
        {"option filters, root", true, true, "XYZ", "XYZ", "XYZ      XYZ   Xyz Co\r\n", "", true},
        {"no filters, no root", true, false, "XYZ", "", "XYZ            Xyz Co\r\n", "", true},
        {"long values not cut", true, false, "ABCDEFGHIJ", "ABCDEF", "ABCDEFGHIJ ABCDEF Xyz Co\r\n",
         "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        context.pending.Clear();
        Begin(c.ticker);
        Q().CompanyName = "Xyz Co";
        Q().OptionRoot = c.root;
        context.quote.HaveStockData = c.haveStock;
        context.quote.HaveOptionData = false;
        context.counters.OptionFiltersActive = c.optionFilters;
        SaveQuote(context);
        EXPECT_EQ(context.pending.PendingGoodSym, c.good);
        EXPECT_EQ(context.pending.PendingBadSym, c.bad);
        EXPECT_EQ(context.pending.PendingQuote.starts_with("<STOCK>" + std::string(c.ticker)),
                  c.archived);
        EXPECT_EQ(!context.pending.PendingAscQuote.empty(), c.archived);
    }
}

TEST_F(ArchiveTest, LineEndsInsideTextFieldsDoNotSplitTheRecord) {
    Begin("AA");
    Q().CompanyName = "Two\r\nLines";
    Q().Exchange = "NY\nSE";
    context.quote.HaveStockData = true;
    SaveQuote(context);
    EXPECT_TRUE(
        context.pending.PendingQuote.starts_with("<STOCK>AA\r\nTwo  Lines\r\n\r\nNY SE\r\n"));
    EXPECT_EQ(context.pending.PendingGoodSym, "AA             Two  Lines\r\n");
}

// ------------------------------------------------------------------ replay

TEST_F(ArchiveTest, FindsRecordsOnlyForwardAndKeepsALaterHeaderForTheNextSymbol) {
    struct Case {
        const char* name;
        std::string archive;
        std::vector<std::string> asked;
        std::vector<bool> found;
    };
    const Case cases[] = {
        {"A and C, asked A B C", StockRecord("A") + StockRecord("C"), {"A", "B", "C"}, {1, 0, 1}},
        {"before the first header", StockRecord("B"), {"AAA", "B"}, {0, 1}},
        {"records not asked for are skipped",
         StockRecord("A") + StockRecord("B") + StockRecord("C"),
         {"C"},
         {1}},
        {"record with options, then the next",
         StockRecord("IBM") + IbmOptions() + StockRecord("K"),
         {"IBM", "K"},
         {1, 1}},
        {"asked out of order", StockRecord("A") + StockRecord("C"), {"C", "A"}, {1, 0}},
        {"symbol compared whole", StockRecord("AB") + StockRecord("ABC"), {"ABC"}, {1}},
        {"line feeds only", LineFeedsOnly(StockRecord("A") + StockRecord("B")), {"A", "B"}, {1, 1}},
        {"empty file", "", {"A"}, {0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OpenArchive(c.archive);
        for (std::size_t i = 0; i < c.asked.size(); ++i)
            EXPECT_EQ(Replay(c.asked[i]), c.found[i]) << c.asked[i];
    }

    OpenArchive(StockRecord("A") + StockRecord("C"));
    ASSERT_TRUE(Replay("A"));
    EXPECT_EQ(context.replay.ReplayLine, "<STOCK>C");
    EXPECT_FALSE(Replay("B"));
    EXPECT_EQ(context.replay.ReplayLine, "<STOCK>C");
}

TEST_F(ArchiveTest, WrittenStockReplaysEveryField) {
    Begin("IBM");
    QuoteRecord& q = Q();
    q.CompanyName = "International Business Machines";
    q.LastTick = "DOWN", q.Exchange = "NYSE", q.SaleTime = "15:59", q.BidAskSize = "10x20";
    q.ExDividendDate = "Nov 8", q.SpareText = "spare";
    q.LastSale = 47.3f, q.NetChange = -0.75f, q.PercentChange = -1.56f, q.Bid = 47.25f;
    q.Ask = 47.375f, q.OpenPrice = 48, q.HighPrice = 48.5f, q.LowPrice = 47.125f;
    q.PreviousClose = 48.05f, q.High52Week = 60.25f, q.Low52Week = 30.5f;
    q.HistVolatility = 28.5f, q.Dividend = 1.12f, q.EarningsPerShare = 2.15f;
    q.PriceEarnings = static_cast<float>(double{q.LastSale} / q.EarningsPerShare);
    q.YieldPercent = 2.33f, q.Volume = 9876543, q.SharesOutstanding = 1.8e9L;
    q.OptionRoot = "IBM";
    int n = 0;
    for (int type = 0; type < 2; ++type) {
        for (int strike = 1; strike <= 3; ++strike) {
            for (int month = 0; month <= 1; ++month, ++n) {
                C().OptSymbol[type][strike][month] = kIbmSymbols[static_cast<std::size_t>(n)];
                C().OptLast[type][strike][month] = 1.25f + static_cast<float>(n);
                C().OptColumn2[type][strike][month] = 0.125f * static_cast<float>(n);
                C().OptBid[type][strike][month] = 1.5f + static_cast<float>(n);
                C().OptAsk[type][strike][month] = 1.75f + static_cast<float>(n);
                C().OptVolume[type][strike][month] = 10.0f * static_cast<float>(n);
                C().OptOpenInterest[type][strike][month] = 1000.0f + static_cast<float>(n);
            }
        }
    }
    context.quote.HaveStockData = context.quote.HaveOptionData = true;
    const OptionChain chain = C();
    SaveQuote(context);
    const std::string written = context.pending.PendingQuote;

    OpenArchive(written);
    Begin("");  // forget everything before the replay
    ASSERT_TRUE(Replay("IBM"));
    EXPECT_TRUE(context.quote.HaveOptionData);
    EXPECT_EQ(C().OptColumn2, chain.OptColumn2);
    // Every field came back: written again, the stock gives the same record.
    context.pending.Clear();
    SaveQuote(context);
    EXPECT_EQ(context.pending.PendingQuote, written);
}

// A 32-bit price is written as its shortest decimal text, within the five
// decimals, and replays to the same float; the float's error above 256 no
// longer shows ("658.04999" for 658.05).
TEST_F(ArchiveTest, PricesAreWrittenAsTheirShortestTextAndReplayToTheSameFloat) {
    const struct {
        float price;
        const char* text;
        bool readsBack;  // false: the text needs more than five decimals
    } cases[] = {
        {658.05f, "658.05", true},       {100000.01f, "100000.01", true},
        {1234.5677f, "1234.5677", true}, {256.3f, "256.3", true},
        {0.00001f, "0.00001", true},     {-4321.09f, "-4321.09", true},
        {16777215.f, "16777215", true},  {0.123456f, "0.12346", false},
    };
    for (const auto& c : cases) {
        Begin("IBM");
        Q().LastSale = c.price;
        Q().OptionRoot = "IBM";
        C().OptSymbol[0][1][0] = "IBMLH";
        C().OptLast[0][1][0] = c.price;
        context.quote.HaveStockData = context.quote.HaveOptionData = true;
        context.pending.Clear();
        SaveQuote(context);
        const std::string written = context.pending.PendingQuote;
        const std::string text = c.text;
        EXPECT_NE(written.find("\r\n\r\n" + text + "\r\n"), std::string::npos) << text;
        EXPECT_NE(written.find("IBMLH," + text + ",-1"), std::string::npos) << text;
        EXPECT_NE(context.pending.PendingAscQuote.find("," + text + ",0,"), std::string::npos)
            << text;

        OpenArchive(written);
        Begin("");
        ASSERT_TRUE(Replay("IBM")) << text;
        EXPECT_EQ(Q().LastSale == c.price, c.readsBack) << text;
    }
}

TEST_F(ArchiveTest, TwoLetterRootIsWrittenAsItIsAndPaddedOnReplay) {
    Begin("GE");
    Q().LastSale = 47.3f;
    Q().OptionRoot = "GE";
    C().OptSymbol[1][2][0] = "GE XI";
    C().OptLast[1][2][0] = 3.5f;
    context.quote.HaveStockData = context.quote.HaveOptionData = true;
    SaveQuote(context);
    EXPECT_NE(context.pending.PendingQuote.find("\r\n<OPTIONS>GE\r\n"), std::string::npos);
    EXPECT_NE(context.pending.PendingGoodSym.find("GE       GE    "), std::string::npos);

    OpenArchive(context.pending.PendingQuote);
    ASSERT_TRUE(Replay("GE"));
    EXPECT_EQ(Q().OptionRoot, "GE ");
    EXPECT_TRUE(context.quote.HaveOptionData);
    EXPECT_EQ(C().OptSymbol[1][2][0], "GE XI");
    EXPECT_EQ(C().OptLast[1][2][0], 3.5f);
}

TEST_F(ArchiveTest, ExpiredMonthsOfAnOlderArchiveStayEmpty) {
    OpenArchive(StockRecord("IBM") + IbmOptions());
    clock.Set({2026, 12, 21});  // past the December expiration: months A (Jan), B (Feb)
    ASSERT_TRUE(Replay("IBM"));
    EXPECT_TRUE(context.quote.HaveOptionData);
    for (int type = 0; type < 2; ++type) {
        for (int strike = 1; strike <= 3; ++strike) {
            SCOPED_TRACE(::testing::Message() << type << strike);
            // January's entries (archived in month slot 1) are now month slot 0.
            const int january = type * 6 + (strike - 1) * 2 + 1;
            EXPECT_EQ(C().OptLast[type][strike][0], static_cast<float>(january + 1));
            EXPECT_EQ(C().OptSymbol[type][strike][1], "");
            EXPECT_EQ(C().OptLast[type][strike][1], -1.0f);
        }
    }
}

TEST_F(ArchiveTest, PriceEarningsFollowsFromAnyNonZeroEarnings) {
    struct Case {
        const char* eps;
        float pe;
    };
    const Case cases[] = {
        {"0.0005", 20000.0f}, {"0", 100000.0f}, {"-2", -5.0f}, {"1e-40", FLT_MAX}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.eps);
        OpenArchive(StockRecord("A", "10", c.eps));
        ASSERT_TRUE(Replay("A"));
        EXPECT_FLOAT_EQ(Q().PriceEarnings, c.pe);
    }
}

TEST_F(ArchiveTest, DamagedRecordsEndTheSymbolWithWhatWasRead) {
    const std::string head = Lines({"<STOCK>A", "Name", "", "", "", "", "", ""});
    struct Case {
        const char* name;
        std::string archive;
        bool stock;
        bool options;
        float lastSale;
    };
    const Case cases[] = {
        {"letters for a number", head + Lines({"12.5", "x1"}), false, false, 12.5f},
        {"control character before the token",
         head + Lines({std::string("\0"
                                   "5",
                                   2)}),
         false, false, 0},
        {"token ends at a blank, rest ignored", head + Lines({"  7.5 dollars", "1e1"}), true, false,
         7.5f},
        {"empty number lines take the next token", head + Lines({"", "  ", "9"}), true, false, 9},
        {"end of file reads as 0", head + Lines({"6"}), true, false, 6},
        {"beyond a float", head + Lines({"1e39"}), false, false, 0},
        {"truncated after the header", head.substr(0, 10), false, false, 0},
        {"option field not a number",  // last: the chain is checked below
         StockRecord("A") + Lines({"<OPTIONS>A", "A  LH,1,x,3"}), true, false, 47.3f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OpenArchive(c.archive);
        EXPECT_EQ(Replay("A"), c.stock);
        EXPECT_EQ(context.quote.HaveOptionData, c.options);
        EXPECT_EQ(Q().LastSale, c.lastSale);
    }
    // The stored field before a bad one stays.
    EXPECT_EQ(C().OptSymbol[0][1][0], "A  LH");
    EXPECT_EQ(C().OptLast[0][1][0], 1.0f);
    EXPECT_EQ(C().OptColumn2[0][1][0], -1.0f);
}

// The first archived entry, IBMLH, follows `filler` lines that match no
// entry: as line 101 of the section it is still read, as line 102 it is not.
TEST_F(ArchiveTest, OptionSectionIsCutAt101LinesAndTheNextRecordStillFound) {
    const struct {
        std::size_t filler;
        bool firstEntryStored;
    } cases[] = {{100, true}, {101, false}, {150, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.filler);
        const std::vector<std::string> filler(c.filler, "ZZZZZ,1,1,1,1,1,1");
        OpenArchive(StockRecord("IBM") + "<OPTIONS>IBM\r\n" + Lines(filler) +
                    IbmOptions().substr(14) + StockRecord("K"));
        ASSERT_TRUE(Replay("IBM"));
        EXPECT_EQ(C().OptSymbol[0][1][0] == "IBMLH", c.firstEntryStored);
        EXPECT_EQ(context.quote.HaveOptionData, c.firstEntryStored);
        EXPECT_EQ(C().OptLast[0][1][0], c.firstEntryStored ? 1.0f : -1.0f);
        EXPECT_TRUE(Replay("K"));
    }
}

TEST(ParseOptionLine, FillsTheFieldsTheLineHas) {
    struct Case {
        const char* line;
        bool ok;
        const char* symbol;
        std::vector<float> values;  // last, column 2, bid, ask, volume, open interest
    };
    const Case cases[] = {
        {"IBMLH,2.5,0.1,2.375,2.625,120,0", true, "IBMLH", {2.5f, 0.1f, 2.375f, 2.625f, 120, 0}},
        {"IBMLH,2.5,1", true, "IBMLH", {2.5f, 1, -1, -1, -1, -1}},
        {"IBMLH,2.5,", true, "IBMLH", {2.5f, -1, -1, -1, -1, -1}},
        {"IBMLH", true, "IBMLH", {-1, -1, -1, -1, -1, -1}},
        {"IBMLH,2.5,,3", false, "IBMLH", {2.5f, -1, -1, -1, -1, -1}},
        {"IBMLH,1,2,3,4,5,6,extra", true, "IBMLH", {1, 2, 3, 4, 5, 6}},
        {",-1,-1,-1,-1,-1,-1", true, "", {-1, -1, -1, -1, -1, -1}},
        {"", true, "", {-1, -1, -1, -1, -1, -1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        QuoteState state;
        ExpirationCalendar calendar;
        ResetQuote(state);
        BuildExpirationCalendar(calendar, kRecorded);
        OptionChain& chain = state.Chain;
        EXPECT_EQ(ParseOptionLine(c.line, chain, {1, 4, 2}), c.ok);
        EXPECT_EQ(chain.OptSymbol[1][4][2], c.symbol);
        const std::vector<float> got = {chain.OptLast[1][4][2],   chain.OptColumn2[1][4][2],
                                        chain.OptBid[1][4][2],    chain.OptAsk[1][4][2],
                                        chain.OptVolume[1][4][2], chain.OptOpenInterest[1][4][2]};
        EXPECT_EQ(got, c.values);
    }
}

}  // namespace
}  // namespace quillon
