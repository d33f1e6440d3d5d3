#include "platform/number_read.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <random>
#include <string>

namespace quillon {
namespace {

// The reader as it was before plain decimals took a short way: the form
// checked, then always a full conversion. The reference the reader must agree
// with bit for bit.
std::optional<double> FullConversion(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return std::nullopt;
    text = text.substr(first, text.find_last_not_of(" \t") - first + 1);
    auto digits = [&](std::size_t& pos) {
        const std::size_t start = pos;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9')
            ++pos;
        return pos - start;
    };
    std::size_t pos = 0;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) ++pos;
    std::size_t count = digits(pos);
    if (pos < text.size() && text[pos] == '.') {
        ++pos;
        count += digits(pos);
    }
    if (count == 0) return std::nullopt;
    if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
        ++pos;
        if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) ++pos;
        if (digits(pos) == 0) return std::nullopt;
    }
    if (pos != text.size()) return std::nullopt;
    const bool negative = text.front() == '-';
    if (text.front() == '+' || text.front() == '-') text.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

// Same answer, the same bits (so -0 and 0 differ).
void ExpectSame(const std::string& text) {
    const std::optional<double> want = FullConversion(text);
    const std::optional<double> got = ParseDecimalNumber(text);
    ASSERT_EQ(got.has_value(), want.has_value()) << "'" << text << "'";
    if (!want) return;
    std::uint64_t wantBits = 0;
    std::uint64_t gotBits = 0;
    std::memcpy(&wantBits, &*want, sizeof wantBits);
    std::memcpy(&gotBits, &*got, sizeof gotBits);
    ASSERT_EQ(gotBits, wantBits) << "'" << text << "' read as " << *got << ", not " << *want;
}

TEST(ParseDecimalNumber, AgreesWithTheFullConversionAtTheEdgesOfTheShortWay) {
    const char* const texts[] = {
        // Plain prices and counts, signs and blanks.
        "0", "-0", "+0", "-0.0", "12.375", " 12.375\t", "-4.5", "+.5", "5.", ".", "-", "",
        "1234567", "0.00001", "000000000000000000000001", "1..2", "1.2.3", "12a", "1 2",
        // Around 2^53 = 9007199254740992 and 19 digits.
        "9007199254740992", "9007199254740993", "9007199254740991.5", "900719925474099.3",
        "9999999999999999999", "18446744073709551615", "18446744073709551616", "0.9007199254740993",
        "1234567890123456789", "12345678901234567890",
        // 22 and 23 digits after the point.
        "1.0000000000000000000001", "0.0000000000000000000001", "0.00000000000000000000001", "0.1",
        "0.2", "0.3", "2.675", "1.005", "100000.00001",
        // Exponents take the long way.
        "1e5", "1E-5", "2.5e+3", "1e400", "1e-400", "4.9e-324", "1.7976931348623157e308", "e5",
        "1e", "1e+"};
    for (const char* text : texts)
        ExpectSame(text);
}

TEST(ParseDecimalNumber, AgreesWithTheFullConversionOnRandomTexts) {
    std::mt19937_64 random(20261208);
    std::uniform_int_distribution<int> percent(0, 99);
    std::uniform_int_distribution<int> digit(0, 9);
    std::uniform_int_distribution<int> length(0, 24);
    const std::string junk = " \t+-.eE0x,";
    std::uniform_int_distribution<std::size_t> junkAt(0, junk.size() - 1);
    for (int i = 0; i < 300000; ++i) {
        std::string text;
        if (percent(random) < 10) text += ' ';
        if (percent(random) < 30) text += percent(random) < 50 ? '-' : '+';
        const int whole = length(random);
        const int fraction = percent(random) < 70 ? length(random) : -1;
        for (int d = 0; d < whole; ++d)
            text += static_cast<char>('0' + digit(random));
        if (fraction >= 0) {
            text += '.';
            for (int d = 0; d < fraction; ++d)
                text += static_cast<char>('0' + digit(random));
        }
        if (percent(random) < 10) text += "e" + std::to_string(digit(random) * 7 - 30);
        if (percent(random) < 5) {
            text.insert(text.size() * static_cast<std::size_t>(digit(random)) / 10, 1,
                        junk[junkAt(random)]);
        }
        if (percent(random) < 10) text += '\t';
        ExpectSame(text);
    }
}

TEST(ParseDecimalNumber, AgreesWithTheFullConversionOnTheArchivesPrices) {
    // Prices as the archive writes them ("0.#####") and whole counts.
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> price(0, 5000);
    std::uniform_int_distribution<long long> count(0, 99999999999LL);
    char text[64];
    for (int i = 0; i < 200000; ++i) {
        std::snprintf(text, sizeof text, "%.5f", price(random));
        ExpectSame(text);
        std::snprintf(text, sizeof text, "%lld", count(random));
        ExpectSame(text);
    }
}

}  // namespace
}  // namespace quillon
