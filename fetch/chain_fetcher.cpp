#include "fetch/chain_fetcher.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <unordered_map>
#include <vector>

#include "fetch/exchange_reply.h"
#include "fetch/fetched_chain.h"
#include "fetch/tradier_reply.h"
#include "platform/number_format.h"
#include "results/token_store.h"

namespace quillon::fetch {

namespace {

using Kind = ChainOutcome::Kind;

// A query value: letters, digits and a few marks as they are, the rest
// percent-encoded.
std::string Encoded(const std::string& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) != 0 || c == '.' || c == '-' || c == '_') {
            out += c;
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        }
    }
    return out;
}

std::string IsoDay(const CivilDay& day) {
    return FormatArgs("%04d-%02d-%02d", day.Year, day.Month, day.Day);
}

// One symbol's requests and what has come back of them.
struct Job {
    std::vector<std::uint64_t> waiting;  // request ids not yet answered
    std::optional<ChainOutcome> failure;
    std::optional<FetchedChain> chain;
    // Tradier's parts.
    std::optional<FetchedQuote> quote;
    std::optional<std::vector<CivilDay>> expirations;
    std::vector<std::vector<import::OptionRow>> expirationRows;
    bool Done() const { return failure || chain; }
};

class ChainFetcher final : public ChainSource {
  public:
    explicit ChainFetcher(ChainFetchSetup setup)
        : setup_(std::move(setup)),
          base_(!setup_.baseUrl.empty()               ? setup_.baseUrl
                : setup_.service == Service::Exchange ? kExchangeBaseUrl
                                                      : kTradierBaseUrl),
          name_(setup_.service == Service::Exchange ? "the exchange's delayed quotes" : "Tradier"),
          client_(setup_.https),
          ahead_(setup_.ahead > 0
                     ? setup_.ahead
                     : static_cast<std::size_t>(std::max(1, setup_.https.limits.connections)) * 2) {
    }

    std::string ServiceText() const override { return name_ + " at " + base_; }

    void Expect(const std::vector<std::string>& symbols, std::size_t next) override {
        const std::size_t end = std::min(symbols.size(), next + ahead_);
        // Symbols the scan has left behind (a restart, a reset) are dropped,
        // and their replies with them when they come.
        std::unordered_map<std::string, Job> kept;
        for (std::size_t i = next; i < end; ++i) {
            auto found = jobs_.find(symbols[i]);
            if (found != jobs_.end()) {
                kept.emplace(symbols[i], std::move(found->second));
                jobs_.erase(found);
            }
        }
        for (auto& [symbol, job] : jobs_)
            for (const std::uint64_t id : job.waiting)
                owners_.erase(id);
        jobs_ = std::move(kept);
        for (std::size_t i = next; i < end; ++i) {
            if (jobs_.count(symbols[i]) == 0) Start(symbols[i]);
        }
    }

    std::optional<ChainOutcome> Take(const std::string& symbol, QuoteState& quote,
                                     const std::optional<DateTime>& date, float rate) override {
        Pump();
        auto found = jobs_.find(symbol);
        if (found == jobs_.end()) {
            Start(symbol);
            return std::nullopt;
        }
        Job& job = found->second;
        if (!job.Done()) return std::nullopt;
        std::optional<ChainOutcome> outcome = std::move(job.failure);
        if (!outcome) {
            const FetchedChain& chain = *job.chain;
            outcome = ChainOutcome{};
            outcome->time = chain.time;
            const CivilDay day = date ? date->Date() : chain.time.Date();
            outcome->iv30 = FillQuoteFromChain(chain, quote, day, rate).iv30;
            quote.Ticker = symbol;
        }
        jobs_.erase(found);
        return outcome;
    }

    void Wait(std::chrono::milliseconds most) override {
        Pump();
        for (const auto& [symbol, job] : jobs_) {
            if (job.Done()) return;
        }
        client_.WaitDone(most);
    }

  private:
    void Start(const std::string& symbol) {
        Job& job = jobs_[symbol];
        if (setup_.service == Service::Exchange) {
            Ask(symbol, job, base_ + ExchangeChainPath(symbol));
            return;
        }
        Ask(symbol, job, base_ + "/v1/markets/quotes?symbols=" + Encoded(symbol));
        Ask(symbol, job, base_ + "/v1/markets/options/expirations?symbol=" + Encoded(symbol));
    }

    void Ask(const std::string& symbol, Job& job, const std::string& url) {
        const std::uint64_t id = client_.Get(url, {"Accept: application/json"});
        job.waiting.push_back(id);
        owners_[id] = {symbol, url.substr(url.find("/v1/") != std::string::npos ? url.find("/v1/")
                                                                                : base_.size())};
    }

    // Takes the replies that have come and works them into their symbols' jobs.
    void Pump() {
        for (HttpsReply& reply : client_.TakeDone()) {
            auto owner = owners_.find(reply.id);
            if (owner == owners_.end()) continue;  // a symbol left behind
            const auto [symbol, path] = owner->second;
            owners_.erase(owner);
            auto found = jobs_.find(symbol);
            if (found == jobs_.end()) continue;
            Job& job = found->second;
            std::erase(job.waiting, reply.id);
            if (job.Done()) continue;
            if (std::optional<ChainOutcome> failure = Failure(symbol, reply)) {
                job.failure = std::move(failure);
                continue;
            }
            if (setup_.service == Service::Exchange) {
                ReadExchange(symbol, job, reply.body);
            } else {
                ReadTradier(symbol, path, job, reply.body);
            }
        }
    }

    // What a reply without a usable body means for its symbol.
    std::optional<ChainOutcome> Failure(const std::string& symbol, const HttpsReply& reply) const {
        switch (reply.fault) {
            case FetchFault::None:
                return std::nullopt;
            case FetchFault::Status:
                break;
            case FetchFault::Certificate:
            case FetchFault::Unreachable:
            case FetchFault::TimedOut:
                return ChainOutcome{Kind::Unreachable,
                                    "No answer from " + ServiceText() + ": " + reply.error,
                                    {},
                                    {}};
            case FetchFault::CutShort:
            case FetchFault::TooLarge:
            case FetchFault::Other:
                return ChainOutcome{Kind::Failed, symbol + ": " + reply.error, {}, {}};
        }
        const int status = reply.status;
        if (status == 401 || (setup_.service == Service::Tradier && status == 403)) {
            return ChainOutcome{
                Kind::Refused,
                name_ + " refused the access token (" + std::to_string(status) + ").",
                {},
                {}};
        }
        if (status == 403 || status == 404) {
            return ChainOutcome{
                Kind::UnknownSymbol,
                symbol + ": " + name_ + " know no such symbol (" + std::to_string(status) + ")",
                {},
                {}};
        }
        std::string reason = symbol + ": " + name_ + " answered " + std::to_string(status);
        if (reply.retryAfterSeconds >= 0) {
            reason += ", asking to wait " + std::to_string(reply.retryAfterSeconds) + " s";
        }
        return ChainOutcome{Kind::Failed, reason, {}, {}};
    }

    void ReadExchange(const std::string& symbol, Job& job, const std::string& body) {
        std::string error;
        job.chain = ReadExchangeChainForScan(body, error, setup_.scanDate);
        if (!job.chain) Unreadable(symbol, job, error);
    }

    void Unreadable(const std::string& symbol, Job& job, const std::string& error) {
        job.failure = ChainOutcome{
            Kind::Failed, symbol + ": the reply of " + name_ + " cannot be read: " + error, {}, {}};
    }

    void Unknown(const std::string& symbol, Job& job) {
        job.failure = ChainOutcome{
            Kind::UnknownSymbol, symbol + ": " + name_ + " knows no such symbol", {}, {}};
    }

    void ReadTradier(const std::string& symbol, const std::string& path, Job& job,
                     const std::string& body) {
        std::string error;
        if (path.starts_with("/v1/markets/quotes")) {
            std::optional<TradierQuotes> quotes = ReadTradierQuotes(body, error);
            if (!quotes) return Unreadable(symbol, job, error);
            if (quotes->quotes.empty()) return Unknown(symbol, job);
            job.quote = std::move(quotes->quotes.front());
        } else if (path.starts_with("/v1/markets/options/expirations")) {
            job.expirations = ReadTradierExpirations(body, error);
            // "expirations": null is a symbol without options (or an unknown
            // one, which its quote tells); anything else that cannot be
            // read fails the symbol.
            if (!job.expirations && error.find("(an unknown symbol?)") == std::string::npos)
                return Unreadable(symbol, job, error);
            if (!job.expirations) job.expirations.emplace();
        } else {
            long skipped = 0;
            std::optional<std::vector<import::OptionRow>> rows =
                ReadTradierChain(body, error, &skipped);
            if (!rows) return Unreadable(symbol, job, error);
            job.expirationRows.push_back(std::move(*rows));
        }
        if (!job.quote || !job.expirations) return;
        if (path.starts_with("/v1/markets/quotes") ||
            path.starts_with("/v1/markets/options/expirations")) {
            // Both are in: the chains of the months the scan keeps.
            for (const CivilDay& day :
                 ExpirationsToFetch(*job.expirations,
                                    setup_.scanDate ? *setup_.scanDate : job.quote->time.Date())) {
                Ask(symbol, job,
                    base_ + "/v1/markets/options/chains?symbol=" + Encoded(symbol) +
                        "&expiration=" + IsoDay(day));
            }
        }
        if (job.waiting.empty()) job.chain = TradierChain(*job.quote, job.expirationRows);
    }

    ChainFetchSetup setup_;
    std::string base_;
    std::string name_;
    HttpsClient client_;
    std::size_t ahead_;
    std::unordered_map<std::string, Job> jobs_;
    // Request id: its symbol and path.
    std::unordered_map<std::uint64_t, std::pair<std::string, std::string>> owners_;
};

}  // namespace

ServiceLimits DefaultLimits(Service service, int connections) {
    ServiceLimits limits;
    limits.connections = connections;
    limits.requestsPerSecond = service == Service::Exchange ? 5.0 : 2.0;
    return limits;
}

std::unique_ptr<ChainSource> MakeChainFetcher(ChainFetchSetup setup) {
    return std::make_unique<ChainFetcher>(std::move(setup));
}

std::unique_ptr<ChainSource> ChainSourceFor(const Context& context, const FetchChoices& choices,
                                            std::string& error) {
    ChainFetchSetup setup;
    setup.service =
        context.settings.Source() == QuoteSource::Tradier ? Service::Tradier : Service::Exchange;
    setup.baseUrl = choices.sourceUrl;
    setup.https.caFile = choices.caFile;
    setup.https.limits = DefaultLimits(setup.service, choices.connections);
    if (choices.rate > 0) setup.https.limits.requestsPerSecond = choices.rate;
    if (context.requestedDate) setup.scanDate = context.requestedDate->Date();
    if (setup.service == Service::Tradier) {
        const std::optional<std::string> token = LoadToken(context.files);
        if (!token) {
            error = "no access token: give it with --token-file FILE or QUILLON_TRADIER_TOKEN";
            return nullptr;
        }
        setup.https.bearerToken = *token;
    }
    return MakeChainFetcher(std::move(setup));
}

std::string ExchangeChainPath(const std::string& symbol) {
    std::string name = symbol;
    if (!name.empty() && (name[0] == '^' || name[0] == '$')) name[0] = '_';
    return "/api/global/delayed_quotes/options/" + Encoded(name) + ".json";
}

}  // namespace quillon::fetch
