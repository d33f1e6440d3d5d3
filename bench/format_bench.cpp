// The number formatters old against new, pattern by pattern: the former picture formatter
// (parsing its pattern on every call) against a PicturePattern parsed once, and C's printf
// (through FormatArgs) against the std::to_chars forms. Values are what the writers mostly see:
// prices and percentages stored as 32-bit figures, and whole counts.
//
// Usage: bench_format [Google Benchmark options]

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/format_diff.h"

namespace {

using namespace quillon;

constexpr std::size_t kValueCount = 4096;

// Prices and percentages: up to 500 with two to four decimals, stored as 32-bit figures.
std::vector<double> PriceValues() {
    std::mt19937_64 random(1);
    std::vector<double> values;
    for (std::size_t i = 0; i < kValueCount; ++i) {
        const double scale = std::pow(10.0, 2 + static_cast<int>(random() % 3));
        const double price = static_cast<double>(random() % 500'0000) / 1e4;
        values.push_back(
            static_cast<double>(static_cast<float>(std::round(price * scale) / scale)));
    }
    return values;
}

// Volumes, open interest and share counts: whole numbers up to 10^9.
std::vector<double> CountValues() {
    std::mt19937_64 random(2);
    std::vector<double> values;
    for (std::size_t i = 0; i < kValueCount; ++i) {
        const double magnitude = std::pow(10.0, static_cast<double>(random() % 10));
        values.push_back(std::floor(static_cast<double>(random() % 1000) * magnitude / 1000));
    }
    return values;
}

bool TakesCounts(const std::string& name) {
    return name.find(',') != std::string::npos || name == "picture \"0\"" ||
           name.find(".0f") != std::string::npos;
}

void Register(const testing::DoubleForm& form) {
    const std::vector<double> values = TakesCounts(form.name) ? CountValues() : PriceValues();
    const auto run = [values](benchmark::State& state,
                              const std::function<std::string(double)>& format) {
        std::size_t i = 0;
        for (auto _ : state) {
            benchmark::DoNotOptimize(format(values[i++ % values.size()]));
        }
        state.SetItemsProcessed(state.iterations());
    };
    benchmark::RegisterBenchmark((form.name + " old").c_str(),
                                 [run, form](benchmark::State& state) { run(state, form.before); });
    benchmark::RegisterBenchmark((form.name + " new").c_str(),
                                 [run, form](benchmark::State& state) { run(state, form.now); });
}

// 32-bit figures as the writers now show them: ShortestValue, then "0.#####". Prices read from
// texts of a few decimals take the short way; figures computed in float (ratios, per cents)
// mostly need the text conversion.
std::vector<float> ComputedValues() {
    std::mt19937_64 random(3);
    std::vector<float> values;
    for (std::size_t i = 0; i < kValueCount; ++i)
        values.push_back(static_cast<float>(random() % 5000000) / 7919.0f);
    return values;
}

void RegisterShortest() {
    std::vector<float> prices;
    for (double price : PriceValues())
        prices.push_back(static_cast<float>(price));
    const auto picture = std::make_shared<PicturePattern>("0.#####");
    for (const auto& [name, values] :
         {std::pair{"prices", prices}, {"computed", ComputedValues()}}) {
        const std::vector<float> floats = values;
        benchmark::RegisterBenchmark(
            (std::string("ShortestValue, ") + name).c_str(), [floats](benchmark::State& state) {
                std::size_t i = 0;
                for (auto _ : state)
                    benchmark::DoNotOptimize(ShortestValue(floats[i++ % floats.size()]));
            });
        benchmark::RegisterBenchmark(
            (std::string("picture \"0.#####\" of ShortestValue, ") + name).c_str(),
            [floats, picture](benchmark::State& state) {
                std::size_t i = 0;
                for (auto _ : state) {
                    benchmark::DoNotOptimize(
                        picture->Format(ShortestValue(floats[i++ % floats.size()])));
                }
            });
    }
}

}  // namespace

int main(int argc, char** argv) {
    for (const testing::DoubleForm& form : testing::PictureForms())
        Register(form);
    for (const testing::DoubleForm& form : testing::PrintfForms())
        Register(form);
    RegisterShortest();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
