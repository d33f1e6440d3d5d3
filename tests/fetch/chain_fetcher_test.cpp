// The chain source of a market-data service against the made-up market
// served over HTTPS in each service's shape: what each kind of answer
// becomes for the scan.

#include "fetch/chain_fetcher.h"

#include <gtest/gtest.h>

#include <map>

#include "platform/clock.h"
#include "sim/https_server.h"
#include "sim/market_sim.h"
#include "sim/service_replies.h"
#include "tests/support/temp_dir.h"

namespace quillon::fetch {
namespace {

using namespace std::chrono_literals;
using Kind = ChainOutcome::Kind;

// The made-up market of today in both services' shapes, with replies of
// our own for a few request paths.
class Services {
  public:
    Services() : market_(7), answers_(market_, Config()) {
        std::string error;
        EXPECT_TRUE(sim::WriteTestCertificates(sim::MakeTestCertificates({"127.0.0.1"}),
                                               certificates_.Path(), error))
            << error;
        server_ = std::make_unique<sim::HttpsServer>(
            sim::HttpsServerConfig{
                certificates_.File("server.pem"), certificates_.File("server.key"), {}, 16},
            [this](const sim::HttpsRequest& request) {
                for (const auto& [path, response] : scripted) {
                    if (request.target.find(path) != std::string::npos) return response;
                }
                return answers_.Answer(request);
            });
        EXPECT_TRUE(server_->Open(error)) << error;
        server_->Start();
    }

    ChainFetchSetup Setup(Service service, const std::string& token = "test-token") const {
        ChainFetchSetup setup;
        setup.service = service;
        setup.baseUrl = "https://127.0.0.1:" + std::to_string(server_->Port());
        setup.https.caFile = certificates_.File("ca.pem");
        setup.https.bearerToken = token;
        setup.https.limits.requestsPerSecond = 0;
        setup.https.limits.retries = 1;
        setup.https.limits.firstBackoff = 10ms;
        return setup;
    }

    std::map<std::string, sim::HttpsResponse> scripted;

  private:
    static sim::ServiceConfig Config() {
        sim::ServiceConfig config;
        const DateTime now = SystemClock().Now();
        config.marketDate = now.Date();
        config.eastern = DateTime{now.Year, now.Month, now.Day, 15, 45, 0};
        return config;
    }

    testing::TempDir certificates_;
    sim::SyntheticSource market_;
    sim::ServiceAnswers answers_;
    std::unique_ptr<sim::HttpsServer> server_;
};

// The outcome of one symbol, waited for.
ChainOutcome Outcome(ChainSource& source, const std::string& symbol, QuoteState& quote) {
    source.Expect({symbol}, 0);
    for (int i = 0; i < 400; ++i) {
        if (std::optional<ChainOutcome> outcome = source.Take(symbol, quote, std::nullopt, 0.05f))
            return *outcome;
        source.Wait(50ms);
    }
    ADD_FAILURE() << symbol << " never came";
    return {};
}

TEST(ChainFetcher, EachKindOfAnswerBecomesItsOutcome) {
    Services services;
    services.scripted["/BROKEN.json"] = sim::HttpsResponse{200, {}, "{\"timestamp\": tru"};
    services.scripted["=BROKEN"] = sim::HttpsResponse{200, {}, "[1,"};
    // A stock well above the fixed strikes, whose options near the money
    // have prices to take volatilities from.
    sim::SyntheticSource market(7);
    std::string stock;
    const sim::Market today(7, SystemClock().Now());
    for (const std::string& ticker : today.Universe()) {
        if (market.Stock(ticker)->LastSale > 30) {
            stock = ticker;
            break;
        }
    }
    const struct Case {
        Service service;
        std::string symbol;
        std::string token;
        Kind kind;
        std::string reason;  // the start of the reason
    } cases[] = {
        {Service::Exchange, stock, "", Kind::Quoted, ""},
        {Service::Tradier, stock, "test-token", Kind::Quoted, ""},
        {Service::Exchange, "NOPE", "", Kind::UnknownSymbol,
         "NOPE: the exchange's delayed quotes know no such symbol (403)"},
        {Service::Tradier, "NOPE", "test-token", Kind::UnknownSymbol,
         "NOPE: Tradier knows no such symbol"},
        {Service::Exchange, "BROKEN", "", Kind::Failed,
         "BROKEN: the reply of the exchange's delayed quotes cannot be read"},
        {Service::Tradier, "BROKEN", "test-token", Kind::Failed,
         "BROKEN: the reply of Tradier cannot be read"},
        {Service::Tradier, stock, "expired", Kind::Refused,
         "Tradier refused the access token (401)."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.symbol + " " + c.token);
        std::unique_ptr<ChainSource> source = MakeChainFetcher(services.Setup(c.service, c.token));
        QuoteState quote;
        const ChainOutcome outcome = Outcome(*source, c.symbol, quote);
        EXPECT_EQ(outcome.kind, c.kind);
        EXPECT_EQ(outcome.reason.substr(0, c.reason.size()), c.reason) << outcome.reason;
        EXPECT_EQ(outcome.reason.find("test-token"), std::string::npos);
        if (c.kind != Kind::Quoted) continue;
        EXPECT_EQ(quote.Ticker, stock);
        EXPECT_TRUE(quote.HaveStockData);
        EXPECT_TRUE(quote.HaveOptionData);
        EXPECT_EQ(outcome.time.Hour, 15);
        EXPECT_TRUE(outcome.iv30.Both.has_value());
    }
}

// No server: the outcome names the service and its address.
TEST(ChainFetcher, NoAnswerNamesTheServiceAndItsAddress) {
    Services services;
    ChainFetchSetup setup = services.Setup(Service::Exchange);
    setup.baseUrl = "https://127.0.0.1:1";
    setup.https.limits.retries = 0;
    std::unique_ptr<ChainSource> source = MakeChainFetcher(setup);
    QuoteState quote;
    const ChainOutcome outcome = Outcome(*source, "ABC", quote);
    EXPECT_EQ(outcome.kind, Kind::Unreachable);
    EXPECT_EQ(outcome.reason.rfind(
                  "No answer from the exchange's delayed quotes at https://127.0.0.1:1: ", 0),
              0u)
        << outcome.reason;
}

TEST(ChainFetcher, ExchangePathsOfStocksAndIndexes) {
    EXPECT_EQ(ExchangeChainPath("SPY"), "/api/global/delayed_quotes/options/SPY.json");
    EXPECT_EQ(ExchangeChainPath("^RUT"), "/api/global/delayed_quotes/options/_RUT.json");
    EXPECT_EQ(ExchangeChainPath("$SPX"), "/api/global/delayed_quotes/options/_SPX.json");
    EXPECT_EQ(ExchangeChainPath("BRK/B"), "/api/global/delayed_quotes/options/BRK%2FB.json");
}

}  // namespace
}  // namespace quillon::fetch
