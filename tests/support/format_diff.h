#pragma once
// Differential checks of the number formatters: each formatter the writers use is run side by
// side with the implementation it replaced (the former picture formatter, or the C library's
// printf for the printf forms, through FormatArgs) over a stream of values meant to find every
// difference: random bit patterns, 32-bit figures, decimal and binary ties at every place, the
// 15-significant-digit boundary, denormals, huge values, zeros and non-finite values.
//
// Shared by the unit tests (a short run) and bench/format_diff.cpp (ten million values a form).

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/number_format.h"
#include "tests/support/number_format_reference.h"

namespace quillon::testing {

// A stream of doubles that mixes the kinds of values a formatter can get wrong.
class FormatValues {
  public:
    explicit FormatValues(std::uint64_t seed) : random_(seed) {}

    double Next() {
        const std::uint64_t kind = random_() % 16;
        const double sign = (random_() & 1) != 0 ? -1.0 : 1.0;
        switch (kind) {
            case 0:
            case 1:
            case 2:  // any bit pattern: every exponent, denormals, NaN and infinities included
                return std::bit_cast<double>(random_());
            case 3:
            case 4: {  // a stored 32-bit figure, the way the writers mostly get their values
                const auto bits = static_cast<std::uint32_t>(random_());
                return static_cast<double>(std::bit_cast<float>(bits));
            }
            case 5: {  // a 32-bit figure of a price-like size: a few decimals, up to 10^6
                const double decimal = DecimalTie(false);
                return static_cast<double>(static_cast<float>(decimal));
            }
            case 6:
            case 7:  // a decimal half at some place, k.5 * 10^-p: written ties round on text
                return sign * DecimalTie(true);
            case 8:  // a decimal with at most 8 places, not a tie
                return sign * DecimalTie(false);
            case 9: {  // an exact binary fraction k / 2^j: the ties of the exact value
                const double k = static_cast<double>(random_() % 2000000);
                return sign * std::ldexp(k, -static_cast<int>(random_() % 12));
            }
            case 10:  // 16 or 17 significant digits ending in 5 or 50: the 15-digit step's ties
                return sign * SignificantTie();
            case 11: {  // just below a power of ten: 9.99995 and the like carry into a new digit
                const int power = static_cast<int>(random_() % 40) - 20;
                const int places = static_cast<int>(random_() % 18);
                return sign * (std::pow(10.0, power) - 5 * std::pow(10.0, power - places - 1));
            }
            case 12: {  // a whole number up to 2^53, around the 10^15 limit of exact digits
                const std::uint64_t whole = random_() >> (11 + random_() % 53);
                return sign * static_cast<double>(whole);
            }
            case 13: {  // huge and tiny magnitudes
                const int exponent = static_cast<int>(random_() % 2100) - 1074;
                return sign * std::ldexp(1.0 + Unit(), exponent);
            }
            case 14: {  // a denormal
                const std::uint64_t mantissa = random_() & ((std::uint64_t{1} << 52) - 1);
                return sign * std::bit_cast<double>(mantissa);
            }
            default:
                return Special();
        }
    }

  private:
    double Unit() { return static_cast<double>(random_() >> 11) * 0x1p-53; }

    // k * 10^-p with p in 0..8; with `half`, the digit after the last is a 5.
    double DecimalTie(bool half) {
        const int places = static_cast<int>(random_() % 9);
        const double scale = std::pow(10.0, places);
        const double whole = static_cast<double>(random_() % 1000000);
        const double fraction = std::floor(Unit() * scale);
        const double digits = whole * scale + fraction;
        return half ? (digits * 10 + 5) / (scale * 10) : digits / scale;
    }

    double SignificantTie() {
        const std::uint64_t fifteen = 100000000000000 + random_() % 900000000000000;
        const bool seventeen = (random_() & 1) != 0;
        const double digits = seventeen ? static_cast<double>(fifteen) * 100 + 50
                                        : static_cast<double>(fifteen) * 10 + 5;
        const int power = static_cast<int>(random_() % 60) - 30 - (seventeen ? 16 : 15);
        return digits * std::pow(10.0, power);
    }

    double Special() {
        static const double kSpecial[] = {
            0.0,
            -0.0,
            std::numeric_limits<double>::infinity(),
            -std::numeric_limits<double>::infinity(),
            std::numeric_limits<double>::quiet_NaN(),
            -std::numeric_limits<double>::quiet_NaN(),
            std::numeric_limits<double>::denorm_min(),
            std::numeric_limits<double>::min(),
            std::numeric_limits<double>::max(),
            1e15,
            999999999999999.0,
            999999999999999.5,
            1e15 + 1,
            0.5,
            0.05,
            0.005,
            2.675,
            1.005,
            9.99995,
            99999.999995,
            static_cast<double>(std::numeric_limits<float>::max()),
            static_cast<double>(std::numeric_limits<float>::denorm_min()),
        };
        return kSpecial[random_() % std::size(kSpecial)];
    }

    std::mt19937_64 random_;
};

// One formatter and what it replaced, over doubles.
struct DoubleForm {
    std::string name;
    std::function<std::string(double)> now;
    std::function<std::string(double)> before;
};

// Every picture pattern the program writes with, as the writers now use them.
inline std::vector<DoubleForm> PictureForms() {
    std::vector<DoubleForm> forms;
    for (const char* pattern : {"0.#####", "0.####", " 0.####", "0.##", "0.##%", "0.#####%",
                                "###,###,###,##0", "#,###,##0", "#,###,###,###", "0", "0.00#"}) {
        auto picture = std::make_shared<PicturePattern>(pattern);
        const std::string text = pattern;
        forms.push_back({"picture \"" + text + "\"",
                         [picture](double v) { return picture->Format(v); },
                         [text](double v) { return reference::FormatPicture(v, text); }});
    }
    forms.push_back({"money width 7, 2 decimals", [](double v) { return FormatMoney(v, 7, 2); },
                     [](double v) { return reference::FormatMoney(v, 7, 2); }});
    return forms;
}

// Patterns no writer uses, with literals among the placeholders, for the general paths.
inline std::vector<DoubleForm> UnusualPictureForms() {
    std::vector<DoubleForm> forms;
    for (const char* pattern :
         {"0-000", "$#,##0.00", "#.##", "0.", "0.## pct.", "0.0#", "000", "0.############",
          "#,#x#0.#y#0", "a.b", "n/a", "", ".##", "0.0.0", "#,##0.00000000000000000000"}) {
        const std::string text = pattern;
        forms.push_back({"picture \"" + text + "\"",
                         [text](double v) { return FormatPicture(v, text); },
                         [text](double v) { return reference::FormatPicture(v, text); }});
    }
    for (int decimals : {-1, 0, 1, 3}) {
        forms.push_back({"money width 12, " + std::to_string(decimals) + " decimals",
                         [decimals](double v) { return FormatMoney(v, 12, decimals); },
                         [decimals](double v) { return reference::FormatMoney(v, 12, decimals); }});
    }
    return forms;
}

// The printf forms of the report and summary lines.
inline std::vector<DoubleForm> PrintfForms() {
    return {
        {"%-12.0f", [](double v) { return FormatFixed(v, 0, -12); },
         [](double v) { return FormatArgs("%-12.0f", v); }},
        {"%-.2f", [](double v) { return FormatFixed(v, 2); },
         [](double v) { return FormatArgs("%-.2f", v); }},
        {"%-6.0f", [](double v) { return FormatFixed(v, 0, -6); },
         [](double v) { return FormatArgs("%-6.0f", v); }},
        {"%-6.2f", [](double v) { return FormatFixed(v, 2, -6); },
         [](double v) { return FormatArgs("%-6.2f", v); }},
        {"%6.2f", [](double v) { return FormatFixed(v, 2, 6); },
         [](double v) { return FormatArgs("%6.2f", v); }},
        {"%7.2f", [](double v) { return FormatFixed(v, 2, 7); },
         [](double v) { return FormatArgs("%7.2f", v); }},
        {"%-.4g", [](double v) { return FormatGeneral(v, 4); },
         [](double v) { return FormatArgs("%-.4g", v); }},
        {"%.15g", [](double v) { return FormatGeneral(v); },
         [](double v) { return FormatArgs("%.15g", v); }},
    };
}

// Counts of one differential run.
struct DiffCounts {
    std::uint64_t values = 0;
    std::uint64_t mismatches = 0;
};

// Runs `form` over `count` values of a stream seeded with `seed`; `report` sees each mismatch.
inline DiffCounts RunDoubleForm(
    const DoubleForm& form, std::uint64_t count, std::uint64_t seed,
    const std::function<void(double, const std::string&, const std::string&)>& report) {
    FormatValues values(seed);
    DiffCounts counts;
    for (std::uint64_t i = 0; i < count; ++i) {
        const double value = values.Next();
        const std::string now = form.now(value);
        const std::string before = form.before(value);
        ++counts.values;
        if (now != before) {
            ++counts.mismatches;
            report(value, before, now);
        }
    }
    return counts;
}

// The integer and text forms: "%d", "%-13d", "%02d" over ints, "%-7s", "%-8s", "%-5s" over
// short texts of any bytes.
struct IntegerForm {
    std::string name;
    std::function<std::string(int)> now;
    std::function<std::string(int)> before;
};

inline std::vector<IntegerForm> IntegerForms() {
    return {
        {"%d", [](int v) { return FormatInteger(v); }, [](int v) { return FormatArgs("%d", v); }},
        {"%-13d", [](int v) { return FormatInteger(v, -13); },
         [](int v) { return FormatArgs("%-13d", v); }},
        {"%5d", [](int v) { return FormatInteger(v, 5); },
         [](int v) { return FormatArgs("%5d", v); }},
        {"%02d", [](int v) { return FormatZeroFilled(v, 2); },
         [](int v) { return FormatArgs("%02d", v); }},
        {"%04d", [](int v) { return FormatZeroFilled(v, 4); },
         [](int v) { return FormatArgs("%04d", v); }},
    };
}

inline int NextInteger(std::mt19937_64& random) {
    switch (random() % 4) {
        case 0:
            return static_cast<int>(random() % 200) - 100;
        case 1:
            return static_cast<int>(random() % 200000) - 100000;
        case 2: {
            static const int kEdges[] = {0,
                                         -1,
                                         1,
                                         9,
                                         10,
                                         99,
                                         100,
                                         -9,
                                         -10,
                                         std::numeric_limits<int>::min(),
                                         std::numeric_limits<int>::max()};
            return kEdges[random() % std::size(kEdges)];
        }
        default:
            return static_cast<int>(static_cast<std::uint32_t>(random()));
    }
}

// A text of 0 to 12 bytes, any byte but NUL, then sometimes a NUL and more bytes after it.
inline std::string NextText(std::mt19937_64& random) {
    std::string text(random() % 13, ' ');
    for (char& c : text)
        c = static_cast<char>(1 + random() % 255);
    if (random() % 8 == 0) text += std::string(1, '\0') + "tail";
    return text;
}

inline DiffCounts RunIntegerForms(
    std::uint64_t count, std::uint64_t seed,
    const std::function<void(const std::string&, const std::string&, const std::string&)>& report) {
    std::mt19937_64 random(seed);
    DiffCounts counts;
    const std::vector<IntegerForm> forms = IntegerForms();
    for (std::uint64_t i = 0; i < count; ++i) {
        const int value = NextInteger(random);
        for (const IntegerForm& form : forms) {
            ++counts.values;
            const std::string now = form.now(value);
            const std::string before = form.before(value);
            if (now != before) {
                ++counts.mismatches;
                report(form.name + " of " + std::to_string(value), before, now);
            }
        }
        const std::string text = NextText(random);
        for (int width : {-7, -8, -5, 0, 6}) {
            ++counts.values;
            const std::string now = FormatText(text.c_str(), width);
            const std::string before = FormatArgs("%*s", width, text.c_str());
            if (now != before) {
                ++counts.mismatches;
                report("%" + std::to_string(width) + "s of \"" + text + "\"", before, now);
            }
        }
    }
    return counts;
}

}  // namespace quillon::testing
