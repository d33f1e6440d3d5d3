// Reading a whole chain as the exchange replies with it: 5,000 contracts in
// about 2 MB, generated here in the reply's shape (float sizes, null last
// trade times of never-traded contracts, weeklies among the monthlies), then
// placed into the quote state. The target is 3 ms for reading and placing.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "fetch/exchange_reply.h"

namespace {

using namespace quillon;
using namespace quillon::fetch;

// 20 expirations, 125 strikes each, a call and a put: 5,000 contracts.
constexpr const char* kExpirations[] = {"261204", "261211", "261218", "261224", "261231",
                                        "270108", "270115", "270122", "270129", "270205",
                                        "270212", "270219", "270226", "270319", "270416",
                                        "270521", "270618", "270917", "271217", "280121"};
constexpr int kStrikes = 125;

std::string Row(const char* expiration, char type, int strike, int k) {
    char row[600];
    const bool traded = k % 3 != 0;
    const double mid = 0.05 + (k % 40) * 0.25;
    std::snprintf(
        row, sizeof row,
        "{\"option\": \"KELP%s%c%08d\", \"bid\": %.2f, \"bid_size\": %d.0, \"ask\": %.2f, "
        "\"ask_size\": %d.0, \"iv\": 0.%04d, \"open_interest\": %d.0, \"volume\": %d.0, "
        "\"delta\": 0.%04d, \"gamma\": 0.0%03d, \"vega\": 0.0%03d, \"theta\": -0.0%03d, "
        "\"rho\": 0.0%03d, \"theo\": %.3f, \"change\": %.2f, \"open\": %.2f, \"high\": %.2f, "
        "\"low\": %.2f, \"tick\": \"no_change\", \"last_trade_price\": %.2f, "
        "\"last_trade_time\": %s, \"percent_change\": %.4f, \"prev_day_close\": "
        "%.14f}",
        expiration, type, strike * 500, mid - 0.05, k % 90, mid + 0.05, k % 70, 2000 + k % 5000,
        k * 7 % 9000, k % 300, k % 9999, k % 999, k % 999, k % 999, k % 999, mid,
        traded ? 0.1 : 0.0, mid, mid + 0.1, mid - 0.1, traded ? mid : 0.0,
        traded ? "\"2026-12-01T15:52:14\"" : "null", traded ? -3.5714 : 0.0,
        mid + 0.00000095367431);
    return row;
}

std::string WholeChainReply() {
    std::string reply = "{\"timestamp\": \"2026-12-01 21:15:00\", \"data\": {\"options\": [";
    int k = 0;
    for (const char* expiration : kExpirations) {
        for (int strike = 40; strike < 40 + kStrikes; ++strike) {
            for (char type : {'C', 'P'}) {
                if (k > 0) reply += ", ";
                reply += Row(expiration, type, strike, k++);
            }
        }
    }
    reply +=
        "], \"symbol\": \"KELP\", \"security_type\": \"stock\", \"exchange_id\": 2, "
        "\"current_price\": 47.3, \"price_change\": 0.85, \"price_change_percent\": 1.8299, "
        "\"open\": 46.6, \"high\": 47.5, \"low\": 46.4, \"close\": 47.3, \"prev_day_close\": "
        "46.45, \"bid\": 47.28, \"bid_size\": 3, \"ask\": 47.32, \"ask_size\": 5, \"volume\": "
        "1234567, \"iv30\": 31.52, \"iv30_change\": -0.4, \"iv30_change_percent\": -1.2, "
        "\"seqno\": 88123, \"last_trade_time\": \"2026-12-01T16:00:00\", \"tick\": \"up\"}, "
        "\"symbol\": \"KELP\"}";
    return reply;
}

const std::string& Reply() {
    static const std::string reply = WholeChainReply();
    return reply;
}

void BM_ReadExchangeChain(benchmark::State& state) {
    std::string error;
    std::size_t contracts = 0;
    for (auto _ : state) {
        const auto chain = ReadExchangeChain(Reply(), error);
        if (!chain) state.SkipWithError(error.c_str());
        contracts = chain ? chain->options.size() : 0;
        benchmark::DoNotOptimize(chain);
    }
    state.counters["contracts"] = static_cast<double>(contracts);
    state.counters["MB"] = static_cast<double>(Reply().size()) / 1e6;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * Reply().size()));
}
BENCHMARK(BM_ReadExchangeChain)->Unit(benchmark::kMillisecond);

void BM_ExchangeChainIntoQuoteState(benchmark::State& state) {
    std::string error;
    QuoteState quote;
    int kept = 0;
    for (auto _ : state) {
        const auto chain = ReadExchangeChain(Reply(), error);
        if (!chain) {
            state.SkipWithError(error.c_str());
            break;
        }
        kept = FillQuoteFromChain(*chain, quote).kept;
        benchmark::DoNotOptimize(quote);
    }
    state.counters["kept"] = kept;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * Reply().size()));
}
BENCHMARK(BM_ExchangeChainIntoQuoteState)->Unit(benchmark::kMillisecond);

// As a scan reads it: the options of months the scan does not keep are passed
// over once their contract symbol is read.
void BM_ExchangeChainForScanIntoQuoteState(benchmark::State& state) {
    std::string error;
    QuoteState quote;
    int kept = 0;
    long read = 0;
    for (auto _ : state) {
        const auto chain = ReadExchangeChainForScan(Reply(), error, std::nullopt);
        if (!chain) {
            state.SkipWithError(error.c_str());
            break;
        }
        read = static_cast<long>(chain->options.size());
        kept = FillQuoteFromChain(*chain, quote).kept;
        benchmark::DoNotOptimize(quote);
    }
    state.counters["kept"] = kept;
    state.counters["read"] = static_cast<double>(read);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * Reply().size()));
}
BENCHMARK(BM_ExchangeChainForScanIntoQuoteState)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
