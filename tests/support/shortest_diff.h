#pragma once
// The writers show a 32-bit figure as ShortestValue of it in a picture pattern. This checks that
// route against a reference that works on decimal text (the float's shortest text from
// std::to_chars, rounded on its digits, tests/support/number_format_reference.h), and that a text
// written in "0.#####" reads back to the same float wherever it kept every decimal of the
// shortest text, with strtof and with the archive's number reader.
//
// Shared by the unit test (platform_tests) and bench/format_diff.cpp.

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/number_format.h"
#include "platform/number_read.h"
#include "tests/support/number_format_reference.h"

namespace quillon::testing {

// The patterns the writers show 32-bit figures in: the archive's "0.#####" and "0", the report's
// prices, option cells, strikes, ratios and percentages, and the summary's money.
struct PlainPattern {
    const char* prefix;
    std::size_t places;
    const char* suffix;
};
constexpr std::array<PlainPattern, 6> kOtherPatterns = {{
    {" ", 4, ""},  // " 0.####"
    {"", 4, ""},   // "0.####"
    {"", 2, ""},   // "0.##"
    {"", 2, "%"},  // "0.##%"
    {"", 5, "%"},  // "0.#####%"
    {"", 0, ""},   // "0"
}};
constexpr std::size_t kMoneyWidth = 7;

// How much of the check each float gets. Every float has its ShortestValue compared to the bit;
// every `text`-th is also written in "0.#####" and compared, and read back where it kept every
// decimal; every `other`-th of those also goes to one of the other patterns in turn, and every
// `reader`-th text read back by strtof also to the archive's reader. A sanitizer build makes
// each formatting call several times dearer, so the unit test spaces them out and
// bench_format_diff takes them all.
struct ShortestPlan {
    std::uint64_t text = 1;
    std::uint64_t other = 1;
    std::uint64_t reader = 1;
    bool every_pattern = false;  // each float of `other` to every other pattern, not one in turn
};

inline std::string PatternText(const PlainPattern& p) {
    std::string text = std::string(p.prefix) + "0";
    if (p.places > 0) text += "." + std::string(p.places, '#');
    return text + p.suffix;
}

struct ShortestCounts {
    std::uint64_t values = 0;
    std::uint64_t texts = 0;      // texts compared, in every pattern
    std::uint64_t read_back = 0;  // texts read back by strtof
    std::uint64_t mismatches = 0;
};

// Sees each mismatch: what was compared, the float, the expected and the written text.
using ShortestReport =
    std::function<void(std::string_view, float, std::string_view, std::string_view)>;

// Every float in "0.#####", and in turn in one of the other patterns or as money.
class ShortestCheck {
  public:
    ShortestCheck(ShortestPlan plan, ShortestReport report)
        : plan_(plan), report_(std::move(report)) {
        for (const PlainPattern& p : kOtherPatterns) {
            others_.emplace_back(PatternText(p));
            names_.push_back("\"" + PatternText(p) + "\"");
        }
    }

    void Check(float value) {
        if (!std::isfinite(value)) return;
        ++counts_.values;
        std::array<char, 32> buffer{};
        const std::string_view text = reference::ShortestText(value, buffer);

        // ShortestValue is the double the shortest text reads as, to the bit.
        const double shortest = ShortestValue(value);
        double read = 0;
        std::from_chars(text.data(), text.data() + text.size(), read);
        if (std::bit_cast<std::uint64_t>(shortest) != std::bit_cast<std::uint64_t>(read)) {
            Mismatch("ShortestValue", value, FormatGeneral(read, 17), FormatGeneral(shortest, 17));
        }

        if (counts_.values % plan_.text != 0) return;
        const reference::RoundedText five = reference::RoundText(text, 5);
        Compare("\"0.#####\"", value, archive_, shortest, five, "", "");
        if (five.text_places <= 5) ReadBack(value);

        if (++turn_ % plan_.other != 0) return;
        const std::size_t patterns = plan_.every_pattern ? others_.size() + 1 : 1;
        for (std::size_t k = 0; k < patterns; ++k)
            CheckNextOther(value, shortest, text);
    }

    const ShortestCounts& Result() const { return counts_; }

  private:
    // The next of the other patterns, money after the last.
    void CheckNextOther(float value, double shortest, std::string_view text) {
        if (next_ == others_.size()) {
            ++counts_.texts;
            now_ = FormatMoney(shortest, static_cast<int>(kMoneyWidth), 2);
            reference::TextBuffer expected;
            reference::WriteMoney(expected, reference::RoundText(text, 2), kMoneyWidth);
            if (now_ != expected.View()) Mismatch("money", value, expected.View(), now_);
            next_ = 0;
        } else {
            const PlainPattern& p = kOtherPatterns[next_];
            Compare(names_[next_], value, others_[next_], shortest,
                    reference::RoundText(text, p.places), p.prefix, p.suffix);
            ++next_;
        }
    }

    void Compare(std::string_view name, float value, const PicturePattern& pattern, double shortest,
                 const reference::RoundedText& rounded, const char* prefix, const char* suffix) {
        ++counts_.texts;
        now_.clear();
        pattern.AppendTo(now_, shortest);
        reference::TextBuffer expected;
        reference::WritePlain(expected, rounded, prefix, suffix);
        if (now_ != expected.View()) Mismatch(name, value, expected.View(), now_);
        if (&pattern == &archive_) written_ = now_;
    }

    // The text written in "0.#####" must give back the float, as strtof reads it and as a replay
    // reads a number of the archive (a double taken to 32 bits).
    void ReadBack(float value) {
        ++counts_.read_back;
        if (std::strtof(written_.c_str(), nullptr) != value) {
            Mismatch("strtof", value, "the same float", written_);
        }
        if (counts_.read_back % plan_.reader != 0) return;
        const std::optional<double> by_reader = ParseDecimalNumber(written_);
        if (!by_reader || static_cast<float>(*by_reader) != value) {
            Mismatch("ParseDecimalNumber", value, "the same float", written_);
        }
    }

    void Mismatch(std::string_view what, float value, std::string_view expected,
                  std::string_view now) {
        ++counts_.mismatches;
        report_(what, value, expected, now);
    }

    ShortestPlan plan_;
    ShortestReport report_;
    const PicturePattern archive_{"0.#####"};
    std::vector<PicturePattern> others_;
    std::vector<std::string> names_;
    std::size_t next_ = 0;
    std::uint64_t turn_ = 0;
    std::string now_, written_;
    ShortestCounts counts_;
};

inline float FromBits(std::uint32_t bits) {
    return std::bit_cast<float>(bits);
}

// The floats of the check, more than ten million: every exponent (all bit patterns at a stride,
// both signs, denormals and the largest), dense runs of 64 neighbouring floats from 60,000 points
// spread evenly in logarithm over 0.01 to 100000 (the sizes prices and ratios have), and 500,000
// prices read from texts of up to five decimals in that range, with the two floats on either
// side of each, of both signs.
inline ShortestCounts RunShortestCheck(ShortestPlan plan, ShortestReport report) {
    ShortestCheck check(plan, std::move(report));

    constexpr std::uint64_t kStride = 1031;
    for (std::uint64_t bits = 0; bits <= 0xFFFFFFFF; bits += kStride)
        check.Check(FromBits(static_cast<std::uint32_t>(bits)));

    constexpr int kRunStarts = 60000;
    constexpr std::uint32_t kRunLength = 64;
    for (int i = 0; i < kRunStarts; ++i) {
        const double start = 0.01 * std::pow(1e7, static_cast<double>(i) / kRunStarts);
        const auto first = std::bit_cast<std::uint32_t>(static_cast<float>(start));
        for (std::uint32_t k = 0; k < kRunLength; ++k)
            check.Check(FromBits(first + k));
    }

    std::mt19937_64 random(20261208);
    constexpr int kPrices = 500000;
    for (int i = 0; i < kPrices; ++i) {
        const int places = static_cast<int>(random() % 6);
        const double scale = std::pow(10.0, places);
        const double size = std::pow(1e7, static_cast<double>(random() % 1000000) / 1e6);
        const float price = static_cast<float>(std::floor(size * 0.01 * scale) / scale);
        const auto bits = std::bit_cast<std::uint32_t>(price);
        for (std::uint32_t neighbour : {bits - 2, bits - 1, bits, bits + 1, bits + 2})
            check.Check((i & 1) != 0 ? -FromBits(neighbour) : FromBits(neighbour));
    }
    return check.Result();
}

}  // namespace quillon::testing
