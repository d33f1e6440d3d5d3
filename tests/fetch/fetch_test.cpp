// The market-data services' replies read into the importer's rows and the
// quote state: the stock's figures, the options the book keeps, the data's
// time in Eastern time, and malformed replies refused in words.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fetch/exchange_reply.h"
#include "fetch/market_time.h"
#include "fetch/tradier_reply.h"
#include "platform/files.h"

namespace quillon::fetch {
namespace {

using import::LeftOut;

std::string Reply(const std::string& name) {
    const auto text =
        ReadWholeFile(std::string(QUILLON_SOURCE_DIR) + "/tests/fetch/replies/" + name);
    EXPECT_TRUE(text) << name;
    return text.value_or("");
}

bool SameTime(const DateTime& a, const DateTime& b) {
    return a.Date() == b.Date() && a.Hour == b.Hour && a.Minute == b.Minute && a.Second == b.Second;
}

TEST(MarketTime, UtcTextsAndEpochMillisecondsAsEasternTime) {
    struct Case {
        const char* utc;
        std::optional<DateTime> eastern;
    };
    const Case cases[] = {
        {"2026-07-24 20:15:00", DateTime{2026, 7, 24, 16, 15, 0}},
        {"2026-07-25T00:43:00", DateTime{2026, 7, 24, 20, 43, 0}},  // the evening before
        {"2026-01-15 03:00:00", DateTime{2026, 1, 14, 22, 0, 0}},
        {"2026-03-08 06:59:59", DateTime{2026, 3, 8, 1, 59, 59}},  // daylight time begins
        {"2026-03-08 07:00:00", DateTime{2026, 3, 8, 3, 0, 0}},
        {"2026-11-01 05:59:59", DateTime{2026, 11, 1, 1, 59, 59}},  // and ends
        {"2026-11-01 06:00:00", DateTime{2026, 11, 1, 1, 0, 0}},
        {"2026-02-30 10:00:00", std::nullopt},
        {"2026-07-24 24:00:00", std::nullopt},
        {"2026-07-24 20:15", std::nullopt},
        {"2026-07-24+20:15:00", std::nullopt},
    };
    for (const Case& c : cases) {
        const std::optional<DateTime> got = EasternFromUtcText(c.utc);
        ASSERT_EQ(got.has_value(), c.eastern.has_value()) << c.utc;
        if (got) {
            EXPECT_TRUE(SameTime(*got, *c.eastern)) << c.utc;
        }
    }
    EXPECT_TRUE(SameTime(*EasternFromEpochMilliseconds(1672952400445), {2023, 1, 5, 16, 0, 0}));
    EXPECT_FALSE(EasternFromEpochMilliseconds(0));
    EXPECT_FALSE(EasternFromEpochMilliseconds(-1));
}

// One option of the quote state: [type][strike slot][month slot].
struct Kept {
    int type, strike, month;
    float last, change, bid, ask, volume, openInterest;
};

void ExpectKept(const QuoteState& quote, const std::vector<Kept>& kept, int count) {
    int present = 0;
    for (const auto& byStrike : quote.Chain.OptSymbol) {
        for (const auto& months : byStrike) {
            for (const std::string& symbol : months)
                present += symbol.empty() ? 0 : 1;
        }
    }
    EXPECT_EQ(present, count);
    for (const Kept& k : kept) {
        SCOPED_TRACE(::testing::Message() << k.type << k.strike << k.month);
        const OptionChain& c = quote.Chain;
        EXPECT_FALSE(c.OptSymbol[k.type][k.strike][k.month].empty());
        EXPECT_FLOAT_EQ(c.OptLast[k.type][k.strike][k.month], k.last);
        EXPECT_FLOAT_EQ(c.OptColumn2[k.type][k.strike][k.month], k.change);
        EXPECT_FLOAT_EQ(c.OptBid[k.type][k.strike][k.month], k.bid);
        EXPECT_FLOAT_EQ(c.OptAsk[k.type][k.strike][k.month], k.ask);
        EXPECT_FLOAT_EQ(c.OptVolume[k.type][k.strike][k.month], k.volume);
        EXPECT_FLOAT_EQ(c.OptOpenInterest[k.type][k.strike][k.month], k.openInterest);
    }
}

TEST(ExchangeReply, StockFiguresOptionsKeptAndLeftOutAndTime) {
    std::string error;
    const auto chain = ReadExchangeChain(Reply("exchange_grf.json"), error);
    ASSERT_TRUE(chain) << error;
    EXPECT_TRUE(SameTime(chain->time, {2026, 7, 24, 16, 15, 0}));
    EXPECT_EQ(chain->stock.QuoteDate, (CivilDay{2026, 7, 24}));
    EXPECT_EQ(chain->skippedRows, 1);  // "GRF26082"

    QuoteState quote;
    const ChainPlacement placed = FillQuoteFromChain(*chain, quote);
    const QuoteRecord& q = quote.Quote;
    EXPECT_EQ(quote.Ticker, "GRF");
    EXPECT_EQ(q.OptionRoot, "GRF");
    const std::vector<std::pair<float, float>> figures = {
        {q.LastSale, 47.3f},  {q.NetChange, 0.85f},      {q.PercentChange, 1.8299f},
        {q.Bid, 47.28f},      {q.Ask, 47.32f},           {q.OpenPrice, 46.6f},
        {q.HighPrice, 47.5f}, {q.LowPrice, 46.4f},       {q.PreviousClose, 46.45f},
        {q.High52Week, 0},    {q.PriceEarnings, 100000}, {static_cast<float>(q.Volume), 1234567}};
    for (std::size_t i = 0; i < figures.size(); ++i)
        EXPECT_FLOAT_EQ(figures[i].first, figures[i].second) << i;
    EXPECT_TRUE(q.CompanyName.empty());

    // Strikes 35 40 45 50 55; months August, September, October.
    ExpectKept(quote,
               {{0, 2, 0, 3.2f, 0.15f, 3.1f, 3.3f, 12, 340},
                {1, 2, 0, -1, -1, 0, 0.4f, 0, 0},  // never traded: no last, no change
                {0, 3, 1, 1.1f, -0.05f, 1.05f, 1.2f, 3, 1500}},
               3);
    EXPECT_EQ(placed.kept, 3);
    const auto leftOut = [&](LeftOut why) { return placed.leftOut[static_cast<int>(why)]; };
    EXPECT_EQ(leftOut(LeftOut::StrikeNotInTable), 1);  // 46
    EXPECT_EQ(leftOut(LeftOut::OtherRoot), 2);         // GRFW, GRF1
    EXPECT_EQ(leftOut(LeftOut::NotMonthly), 1);        // 31 July
    EXPECT_EQ(leftOut(LeftOut::OutsideMonths), 1);     // December

    // Read for a scan, the options of other months are passed over unread
    // and the quote comes out the same.
    const auto forScan = ReadExchangeChainForScan(Reply("exchange_grf.json"), error, std::nullopt);
    ASSERT_TRUE(forScan) << error;
    EXPECT_EQ(forScan->passedOver, 3);  // 31 July, December, a GRFW weekly
    QuoteState scanned;
    EXPECT_EQ(FillQuoteFromChain(*forScan, scanned).kept, 3);
    EXPECT_EQ(scanned.Chain.OptSymbol, quote.Chain.OptSymbol);
    EXPECT_EQ(scanned.Chain.OptLast, quote.Chain.OptLast);
    EXPECT_EQ(scanned.Chain.OptOpenInterest, quote.Chain.OptOpenInterest);
}

TEST(ExchangeReply, IndexSymbolWeeklyRootAndTimestampAfterMidnightUtc) {
    std::string error;
    const auto chain = ReadExchangeChain(Reply("exchange_orb_index.json"), error);
    ASSERT_TRUE(chain) << error;
    EXPECT_EQ(chain->stock.Symbol, "ORB");
    EXPECT_EQ(chain->stock.QuoteDate, (CivilDay{2026, 7, 24}));
    QuoteState quote;
    const ChainPlacement placed = FillQuoteFromChain(*chain, quote);
    EXPECT_EQ(placed.kept, 1);
    EXPECT_EQ(placed.leftOut[static_cast<int>(LeftOut::OtherRoot)], 1);
    ExpectKept(quote, {{0, 2, 0, 42, 1, 41, 43, 2, 30}}, 1);
}

TEST(TradierReply, QuotesAsArrayOrSingleObject) {
    std::string error;
    const auto many = ReadTradierQuotes(Reply("tradier_quotes.json"), error);
    ASSERT_TRUE(many) << error;
    ASSERT_EQ(many->quotes.size(), 2u);
    EXPECT_EQ(many->notQuoted, std::vector<std::string>{"NOPE"});
    const FetchedQuote& grf = many->quotes[0];
    EXPECT_EQ(grf.stock.Symbol, "GRF");
    EXPECT_EQ(grf.stock.Quote.CompanyName, "Griffon Rail Freight");
    EXPECT_FLOAT_EQ(grf.stock.Quote.High52Week, 55.2f);
    EXPECT_TRUE(SameTime(grf.time, {2026, 7, 24, 16, 0, 0}));
    EXPECT_EQ(many->quotes[1].stock.Symbol, "KELP");

    // Before the market opens: no open, high or low; the time is the
    // latest quote's, 08:00 UTC.
    const auto one = ReadTradierQuotes(Reply("tradier_quote_single.json"), error);
    ASSERT_TRUE(one) << error;
    ASSERT_EQ(one->quotes.size(), 1u);
    const QuoteRecord& q = one->quotes[0].stock.Quote;
    EXPECT_FLOAT_EQ(q.LastSale, 33.1f);
    EXPECT_EQ(q.OpenPrice, 0.0f);
    EXPECT_EQ(q.HighPrice, 0.0f);
    EXPECT_TRUE(SameTime(one->quotes[0].time, {2026, 1, 6, 3, 0, 0}));
}

TEST(TradierReply, ExpirationsToFetchAndChainIntoTheQuoteState) {
    std::string error;
    const auto dates = ReadTradierExpirations(Reply("tradier_expirations.json"), error);
    ASSERT_TRUE(dates) << error;
    EXPECT_EQ(dates->size(), 7u);
    EXPECT_EQ(ExpirationsToFetch(*dates, {2026, 7, 24}),
              (std::vector<CivilDay>{{2026, 8, 21}, {2026, 9, 18}, {2026, 10, 16}}));

    const auto quotes = ReadTradierQuotes(Reply("tradier_quotes.json"), error);
    const auto rows = ReadTradierChain(Reply("tradier_chain.json"), error);
    ASSERT_TRUE(quotes && rows) << error;
    ASSERT_EQ(rows->size(), 3u);
    EXPECT_FLOAT_EQ((*rows)[2].Change, -6.7947591407E-5f);  // Java-style exponent
    QuoteState quote;
    const ChainPlacement placed =
        FillQuoteFromChain(TradierChain(quotes->quotes[0], {*rows}), quote);
    EXPECT_EQ(placed.kept, 2);
    ExpectKept(quote,
               {{0, 2, 0, 3.2f, 0.15f, 3.1f, 3.3f, 12, 340}, {1, 2, 0, -1, -1, 0.25f, 0.4f, 0, 0}},
               2);
}

TEST(Replies, MalformedRepliesAreRefusedInWords) {
    const std::string grf = Reply("exchange_grf.json");
    struct Case {
        const char* what;
        std::string reply;
        const char* error;  // the start of the message
    };
    const Case exchange[] = {
        {"not JSON", "<?xml version=\"1.0\"?><Error>AccessDenied</Error>",
         "the reply is not valid JSON"},
        {"cut short", grf.substr(0, grf.size() / 2), "the reply is not valid JSON"},
        {"unknown symbol", R"({"timestamp":"2026-07-24 20:15:00","symbol":"NOPE"})",
         "the reply holds no quote"},
        {"no price",
         R"({"timestamp":"2026-07-24 20:15:00","data":{"symbol":"GRF","current_price":0.0}})",
         "the reply has no last price for GRF"},
        {"bad time", R"({"timestamp":"24/07/2026","data":{"symbol":"GRF","current_price":1.0}})",
         "the reply's timestamp is not a date and time"},
        {"text figure",
         R"({"timestamp":"2026-07-24 20:15:00","data":{"symbol":"GRF","bid":"1.0"}})",
         "'bid' is not a number"},
        {"huge figure",
         R"({"timestamp":"2026-07-24 20:15:00","data":{"symbol":"GRF","ask":1e300}})",
         "'ask' is not a figure in range"},
        {"trailing", grf + "{}", "the reply goes on after its end"},
    };
    for (const Case& c : exchange) {
        std::string error;
        EXPECT_FALSE(ReadExchangeChain(c.reply, error)) << c.what;
        EXPECT_TRUE(error.starts_with(c.error)) << c.what << ": " << error;
    }
    std::string error;
    EXPECT_FALSE(ReadTradierChain(R"({"options":null})", error));
    EXPECT_EQ(error, "the reply has no 'options' (an unknown symbol?)");
    EXPECT_FALSE(ReadTradierExpirations(R"({"expirations":null})", error));
    EXPECT_EQ(error, "the reply has no 'expirations' (an unknown symbol?)");
    EXPECT_FALSE(ReadTradierExpirations(R"({"expirations":{"date":"2026-02-30"}})", error));
    EXPECT_EQ(error, "'2026-02-30' is not a date");
    const auto none =
        ReadTradierQuotes(R"({"quotes":{"unmatched_symbols":{"symbol":["NOPE","NIL"]}}})", error);
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->quotes.empty());
    EXPECT_EQ(none->notQuoted, (std::vector<std::string>{"NOPE", "NIL"}));
}

}  // namespace
}  // namespace quillon::fetch
