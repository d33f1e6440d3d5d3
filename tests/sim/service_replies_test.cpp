// The made-up market answered in the two services' reply shapes and read
// back by the fetch layer's readers: the quote state they give is the one
// the market describes, and the answers' routes, refusals and times.
#include "sim/service_replies.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fetch/exchange_reply.h"
#include "fetch/tradier_reply.h"
#include "platform/services.h"

namespace quillon::sim {
namespace {

// The made-up market of a fixed day, where the synthetic source would
// follow the system date.
class FixedMarket : public MarketSource {
  public:
    explicit FixedMarket(DateTime today) : market_(7, today) {}
    std::optional<SimStock> Stock(std::string_view ticker) override {
        return market_.Stock(ticker);
    }
    std::vector<SimOption> Options(const SimStock& stock) override {
        return market_.Options(stock);
    }
    const Market& Of() const { return market_; }

  private:
    Market market_;
};

bool SameTime(const DateTime& a, const DateTime& b) {
    return a.Date() == b.Date() && a.Hour == b.Hour && a.Minute == b.Minute && a.Second == b.Second;
}

const std::string kToken = "Bearer test-token";

HttpsResponse Get(ServiceAnswers& answers, const std::string& target,
                  const std::string& authorization = kToken) {
    HttpsRequest request{"GET", target, {}};
    if (!authorization.empty()) request.headers.emplace_back("authorization", authorization);
    return answers.Answer(request);
}

// The quote state a fetched chain gives against the one the market's own
// rows give. Figures travel as their shortest texts, so they come back to
// the bit. A count the market lacks (-1) is written as 0; the symbols'
// roots differ (the book cuts the ticker, the market may list a two-letter
// root), their month and strike letters must not.
void ExpectSameState(const QuoteState& got, const QuoteState& want) {
    const QuoteRecord& g = got.Quote;
    const QuoteRecord& w = want.Quote;
    EXPECT_EQ(got.Ticker, want.Ticker);
    for (float QuoteRecord::*figure :
         {&QuoteRecord::LastSale, &QuoteRecord::OpenPrice, &QuoteRecord::HighPrice,
          &QuoteRecord::LowPrice, &QuoteRecord::Bid, &QuoteRecord::Ask, &QuoteRecord::NetChange,
          &QuoteRecord::PercentChange, &QuoteRecord::PreviousClose}) {
        EXPECT_EQ(g.*figure, w.*figure);
    }
    EXPECT_EQ(g.Volume, w.Volume);
    EXPECT_EQ(got.HaveOptionData, want.HaveOptionData);
    for (int t = 0; t < kOptionTypes; ++t) {
        for (int s = 0; s < kStrikeSlots; ++s) {
            for (int m = 0; m < kMonthSlots; ++m) {
                const std::string& gs = got.Chain.OptSymbol[t][s][m];
                const std::string& ws = want.Chain.OptSymbol[t][s][m];
                ASSERT_EQ(gs.empty(), ws.empty()) << t << s << m;
                if (ws.empty()) continue;
                EXPECT_EQ(gs.substr(gs.size() - 2), ws.substr(ws.size() - 2));
                auto count = [](float value) { return value < 0 ? 0.0f : value; };
                const OptionChain& gc = got.Chain;
                const OptionChain& wc = want.Chain;
                EXPECT_EQ(gc.OptLast[t][s][m], wc.OptLast[t][s][m]);
                EXPECT_EQ(gc.OptColumn2[t][s][m], wc.OptColumn2[t][s][m]);
                EXPECT_EQ(gc.OptBid[t][s][m], wc.OptBid[t][s][m]);
                EXPECT_EQ(gc.OptAsk[t][s][m], wc.OptAsk[t][s][m]);
                EXPECT_EQ(gc.OptVolume[t][s][m], count(wc.OptVolume[t][s][m]));
                EXPECT_EQ(gc.OptOpenInterest[t][s][m], count(wc.OptOpenInterest[t][s][m]));
            }
        }
    }
}

class ServiceRepliesTest : public ::testing::TestWithParam<DateTime> {
  protected:
    // The quote state of the market's own rows, as a server scan of the
    // pages would leave it.
    const QuoteState& Expected(const SimStock& stock, const std::vector<SimOption>& options) {
        FillQuoteState(stock, options, expected);
        return expected.quote;
    }

    DateTime eastern = GetParam();
    FixedMarket source{eastern};
    ServiceAnswers answers{source, {eastern.Date(), eastern, "test-token"}};
    FixedClock clock{eastern};
    ScriptedMessages messages;
    CountingBeeper beeper;
    Context expected{clock, messages, beeper};
};

// Every stock's exchange reply, read and placed by the book, gives the
// quote state the market describes; the further month is left out as
// beyond the scan's three.
TEST_P(ServiceRepliesTest, ExchangeRepliesReadBackToTheMarket) {
    int withoutOptions = 0;
    for (const std::string& ticker : source.Of().Universe()) {
        SCOPED_TRACE(ticker);
        const HttpsResponse response =
            Get(answers, "/api/global/delayed_quotes/options/" + ticker + ".json", "");
        ASSERT_EQ(response.status, 200);
        std::string error;
        const auto chain = fetch::ReadExchangeChain(response.body, error);
        ASSERT_TRUE(chain) << error;
        EXPECT_TRUE(SameTime(chain->time, eastern));
        EXPECT_EQ(chain->skippedRows, 0);

        const SimStock stock = *source.Stock(ticker);
        const std::vector<SimOption> options = source.Options(stock);
        QuoteState got;
        const fetch::ChainPlacement placement = fetch::FillQuoteFromChain(*chain, got);
        const QuoteState& want = Expected(stock, options);
        ExpectSameState(got, want);
        int wanted = 0;
        for (const auto& type : want.Chain.OptSymbol)
            for (const auto& strike : type)
                for (const std::string& symbol : strike)
                    wanted += !symbol.empty();
        EXPECT_EQ(placement.kept, wanted);
        EXPECT_EQ(placement.leftOut[static_cast<int>(import::LeftOut::OutsideMonths)],
                  std::count_if(options.begin(), options.end(),
                                [](const SimOption& o) { return o.Month == kFilledMonthSlots; }));
        withoutOptions += options.empty();
    }
    EXPECT_GT(withoutOptions, 0);
}

// The same through Tradier: the quotes of many symbols in one request, each
// stock's expirations, and a chain for each expiration the scan wants.
TEST_P(ServiceRepliesTest, TradierRepliesReadBackToTheMarket) {
    const std::vector<std::string>& universe = source.Of().Universe();
    std::string symbols;
    for (const std::string& ticker : universe)
        symbols += ticker + ",";
    std::string error;
    const auto quotes = fetch::ReadTradierQuotes(
        Get(answers, "/v1/markets/quotes?symbols=" + symbols + "NOPE7").body, error);
    ASSERT_TRUE(quotes) << error;
    ASSERT_EQ(quotes->quotes.size(), universe.size());
    EXPECT_EQ(quotes->notQuoted, std::vector<std::string>{"NOPE7"});

    for (const fetch::FetchedQuote& quote : quotes->quotes) {
        const std::string& ticker = quote.stock.Symbol;
        SCOPED_TRACE(ticker);
        const SimStock stock = *source.Stock(ticker);
        const std::vector<SimOption> options = source.Options(stock);
        EXPECT_TRUE(SameTime(quote.time, eastern));
        EXPECT_EQ(quote.stock.Quote.CompanyName, stock.CompanyName);
        EXPECT_EQ(quote.stock.Quote.High52Week, stock.High52Week);
        EXPECT_EQ(quote.stock.Quote.Low52Week, stock.Low52Week);

        const auto dates = fetch::ReadTradierExpirations(
            Get(answers, "/v1/markets/options/expirations?symbol=" + ticker).body, error);
        ASSERT_EQ(dates.has_value(), !options.empty()) << error;
        std::vector<std::vector<import::OptionRow>> rows;
        if (dates) {
            ASSERT_TRUE(std::is_sorted(dates->begin(), dates->end()));
            const std::vector<CivilDay> wanted =
                fetch::ExpirationsToFetch(*dates, quote.time.Date());
            EXPECT_EQ(wanted.size(), static_cast<std::size_t>(kFilledMonthSlots));
            for (const CivilDay& expiration : wanted) {
                const auto chain = fetch::ReadTradierChain(
                    Get(answers, "/v1/markets/options/chains?symbol=" + ticker +
                                     "&expiration=" + expiration.IsoText() + "&greeks=true")
                        .body,
                    error);
                ASSERT_TRUE(chain) << error;
                rows.push_back(*chain);
            }
        }
        QuoteState got;
        fetch::FillQuoteFromChain(fetch::TradierChain(quote, rows), got);
        ExpectSameState(got, Expected(stock, options));
    }
}

// A summer day and a winter day: the services' UTC times differ by an hour.
INSTANTIATE_TEST_SUITE_P(Days, ServiceRepliesTest,
                         ::testing::Values(DateTime{2026, 8, 4, 15, 45, 0},
                                           DateTime{2026, 12, 8, 10, 30, 0}));

// The answers' routes: each target's status, and what the body holds.
TEST(ServiceReplies, AnswersRouteAndRefuse) {
    FixedMarket source({2026, 12, 8, 10, 30, 0});
    ServiceAnswers answers(source, {{2026, 12, 8}, {2026, 12, 8, 10, 30, 0}, "test-token"});
    const std::string t = source.Of().Universe().front();
    const std::string expiration =
        import::MakeImportCalendar({2026, 12, 8}).saturdays[0].Plus(-1).IsoText();
    ASSERT_FALSE(source.Options(*source.Stock(t)).empty());
    const std::string exchange = "/api/global/delayed_quotes/options/";
    struct Case {
        std::string target;
        std::string authorization;
        int status;
        std::string body;  // a part of it
    };
    const Case cases[] = {
        {exchange + t + ".json", "", 200, "\"symbol\":\"" + t + "\"}"},
        {exchange + "_" + t + ".json", "", 200, "\"security_type\":\"stock\""},
        {exchange + "%5F" + t + ".json", "", 200, "\"data\":{\"options\":[{"},
        {exchange + "ZZZZZZ.json", "", 403, "<Code>AccessDenied</Code>"},
        {exchange + "..%2F" + t + ".json", "", 403, "AccessDenied"},
        {exchange + ".json", "", 404, ""},
        {exchange + t, "", 404, ""},
        {"/", kToken, 404, ""},
        {"/v1/markets/quotes?symbols=" + t, "", 401, "Invalid Access Token"},
        {"/v1/markets/quotes?symbols=" + t, "Bearer wrong", 401, "Invalid Access Token"},
        {"/v1/markets/quotes?symbols=" + t, "test-token", 401, "Invalid Access Token"},
        {"/v1/markets/options/chains?symbol=" + t, "", 401, "Invalid Access Token"},
        {"/v1/markets/quotes?symbols=" + t, kToken, 200, "{\"quotes\":{\"quote\":{\"symbol\""},
        {"/v1/markets/quotes?symbols=%20" + t + "%2CZZZZZZ", kToken, 200,
         "\"unmatched_symbols\":{\"symbol\":\"ZZZZZZ\"}"},
        {"/v1/markets/quotes", kToken, 400, ""},
        {"/v1/markets/options/expirations?symbol=" + t, kToken, 200,
         "{\"expirations\":{\"date\":[\"" + expiration + "\","},
        {"/v1/markets/options/expirations?symbol=ZZZZZZ", kToken, 200, "{\"expirations\":null}"},
        {"/v1/markets/options/chains?symbol=ZZZZZZ&expiration=" + expiration, kToken, 200,
         "{\"options\":null}"},
        {"/v1/markets/options/chains?symbol=" + t + "&expiration=2026-12-25", kToken, 200,
         "{\"options\":null}"},
        {"/v1/markets/options/chains?greeks=true&symbol=" + t + "&expiration=" + expiration, kToken,
         200, "{\"options\":{\"option\":[{\"symbol\":\"" + t},
        {"/v1/markets/options/chains?symbol=" + t, kToken, 400, ""},
        {"/v1/markets/unknown?symbol=" + t, kToken, 404, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target + " " + c.authorization);
        const HttpsResponse response = Get(answers, c.target, c.authorization);
        EXPECT_EQ(response.status, c.status);
        EXPECT_NE(response.body.find(c.body), std::string::npos) << response.body;
        if (c.status == 200) {
            EXPECT_EQ(response.headers, (std::vector<std::pair<std::string, std::string>>{
                                            {"Content-Type", "application/json"}}));
        }
    }
}

}  // namespace
}  // namespace quillon::sim
