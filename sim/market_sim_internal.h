#pragma once
// Shared by the synthetic market's sources: its source of chance and its
// price grids.
//
// Chance is a stream of numbers that depends only on the key it starts from. Keys are FNV-1a hashes
// of the ticker and a few integers (seed, date, salt), so the same inputs give the same market on
// every machine and every build; std::hash and std::random_device would not.

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "platform/clock.h"

namespace quillon::sim {

// FNV-1a over the bytes of a text, continuing from `hash`.
constexpr std::uint64_t kFnvOffset = 14695981039346656037ull;
constexpr std::uint64_t HashText(std::string_view text, std::uint64_t hash = kFnvOffset) {
    for (char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    return hash;
}

// FNV-1a over the eight bytes of a number, low byte first.
constexpr std::uint64_t HashNumber(std::uint64_t value, std::uint64_t hash) {
    for (int i = 0; i < 8; ++i) {
        hash ^= (value >> (8 * i)) & 0xFF;
        hash *= 1099511628211ull;
    }
    return hash;
}

// One step of splitmix64: advances `state` and returns a well-mixed value.
constexpr std::uint64_t SplitMix64(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// The key of a stream: the ticker and the numbers that select it (seed,
// date, salt, ...), mixed so that neighbouring inputs give unrelated keys.
inline std::uint64_t Key(std::string_view ticker, std::initializer_list<std::uint64_t> parts) {
    std::uint64_t hash = HashText(ticker);
    for (std::uint64_t part : parts)
        hash = HashNumber(part, hash);
    return SplitMix64(hash);
}

class Stream {
  public:
    explicit Stream(std::uint64_t key) : state_(key) {}

    std::uint64_t Next() { return SplitMix64(state_); }

    // Uniform in [0, 1), from the top 53 bits.
    double Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
    double Between(double low, double high) { return low + (high - low) * Uniform(); }
    bool Chance(double probability) { return Uniform() < probability; }
    int Below(int n) { return static_cast<int>(Next() % static_cast<std::uint64_t>(n)); }

    // Uniform in the logarithm: as many values between 5 and 50 as between
    // 50 and 500.
    double LogBetween(double low, double high) {
        return std::exp(Between(std::log(low), std::log(high)));
    }

    // Roughly standard normal (sum of four uniforms, scaled): bounded tails
    // keep every figure within sane limits.
    double Normal() {
        double sum = Uniform() + Uniform() + Uniform() + Uniform();
        return (sum - 2.0) * std::sqrt(3.0);
    }

  private:
    std::uint64_t state_;
};

// What a stream is for; part of its key, so that the streams of one stock
// are unrelated.
enum Salt : std::uint64_t { kIdentitySalt = 1, kDaySalt = 2, kChainSalt = 3, kRowSalt = 4 };

// The date as one number, 20261201 for 1 December 2026.
inline std::uint64_t DateNumber(const DateTime& date) {
    return static_cast<std::uint64_t>(date.Date().Number());
}

// Prices move on a grid of ticks (a cent, five cents, a sixteenth): the
// nearest grid price, the one at or below, and the one at or above.
inline float Nearest(double value, double tick) {
    const double price = std::round(value / tick) * tick;
    return static_cast<float>(price == 0 ? 0.0 : price);  // never "-0.00"
}
inline float Down(double value, double tick) {
    return static_cast<float>(std::floor(value / tick + 1e-9) * tick);
}
inline float Up(double value, double tick) {
    return static_cast<float>(std::ceil(value / tick - 1e-9) * tick);
}

}  // namespace quillon::sim
