#include "results/chain_iv30.h"

#include <charconv>
#include <cmath>
#include <optional>
#include <vector>

#include "platform/civil_day.h"
#include "platform/files.h"
#include "platform/number_format.h"
#include "platform/text.h"

namespace quillon {

namespace {

constexpr std::size_t kFields = 8;
constexpr std::size_t kLongestSymbol = 32;
constexpr double kLowestVolatility = 0.001;  // points; the file keeps six decimals
constexpr double kHighestVolatility = 10000;
constexpr int kLongestDays = 3660;

std::string Figure(const std::optional<double>& value) {
    return value ? FormatArgs("%.6f", *value) : std::string();
}

std::string Days(const std::optional<int>& days) {
    return days ? std::to_string(*days) : std::string();
}

std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t at = 0;
    for (;;) {
        const std::size_t comma = line.find(',', at);
        fields.push_back(line.substr(at, comma == std::string_view::npos ? comma : comma - at));
        if (comma == std::string_view::npos || fields.size() > kFields) return fields;
        at = comma + 1;
    }
}

template <typename T>
bool Parse(std::string_view text, T& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end;
}

// An empty field is nothing; anything else must be a volatility.
bool Volatility(std::string_view text, std::optional<double>& value) {
    if (text.empty()) return true;
    double v = 0;
    if (!Parse(text, v) || !std::isfinite(v) || v < kLowestVolatility || v > kHighestVolatility)
        return false;
    value = v;
    return true;
}

bool DaysField(std::string_view text, std::optional<int>& value) {
    if (text.empty()) return true;
    int v = 0;
    if (!Parse(text, v) || v <= 0 || v > kLongestDays) return false;
    value = v;
    return true;
}

// "2025-10-14" as 20251014.
bool DateField(std::string_view text, int& day) {
    int y = 0, m = 0, d = 0;
    if (text.size() != 10 || text[4] != '-' || text[7] != '-' || !Parse(text.substr(0, 4), y) ||
        !Parse(text.substr(5, 2), m) || !Parse(text.substr(8, 2), d) || y < 1900 || m < 1 ||
        m > 12 || d < 1 || d > 31) {
        return false;
    }
    day = y * 10000 + m * 100 + d;
    return true;
}

std::optional<std::pair<std::string, ChainIv30Entry>> ReadLine(std::string_view line) {
    const std::vector<std::string_view> f = Fields(line);
    if (f.size() != kFields || f[0].empty() || f[0].size() > kLongestSymbol) return std::nullopt;
    ChainIv30Entry entry;
    if (!DateField(f[1], entry.Day) || !Parse(f[2], entry.Last) || !std::isfinite(entry.Last) ||
        entry.Last <= 0) {
        return std::nullopt;
    }
    Iv30Result& iv = entry.Iv30;
    if (!Volatility(f[3], iv.Both) || !Volatility(f[4], iv.Calls) || !Volatility(f[5], iv.Puts) ||
        !DaysField(f[6], iv.DaysNear) || !DaysField(f[7], iv.DaysNext)) {
        return std::nullopt;
    }
    return std::pair{std::string(f[0]), entry};
}

std::string_view TrimmedRight(std::string_view text) {
    return TrimEnd(text, IsSpaceOrControl);
}

}  // namespace

std::string ChainIv30Header() {
    return "Symbol,Date,Last,IV30,IV30 Calls,IV30 Puts,Days Near,Days Next\r\n";
}

std::string ChainIv30Line(const std::string& symbol, const ChainIv30Entry& e) {
    return symbol + "," + CivilDay::FromNumber(e.Day).IsoText() + "," +
           FormatGeneral(ShortestValue(e.Last), 9) + "," + Figure(e.Iv30.Both) + "," +
           Figure(e.Iv30.Calls) + "," + Figure(e.Iv30.Puts) + "," + Days(e.Iv30.DaysNear) + "," +
           Days(e.Iv30.DaysNext) + "\r\n";
}

ChainIv30Table ReadChainIv30(std::string_view text) {
    ChainIv30Table table;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (auto read = ReadLine(line)) table.emplace(std::move(read->first), read->second);
    }
    return table;
}

ChainIv30Table LoadChainIv30(const std::string& directory) {
    const std::string file = directory.empty() ? kChainIv30File : directory + "/" + kChainIv30File;
    const std::optional<std::string> text = ReadWholeFile(file);
    return text ? ReadChainIv30(*text) : ChainIv30Table{};
}

const Iv30Result* ChainIv30Of(const ChainIv30Table& table, std::string_view symbol, int day,
                              float last) {
    if (table.empty()) return nullptr;
    const auto found = table.find(std::string(TrimmedRight(symbol)));
    if (found == table.end() || found->second.Day != day || found->second.Last != last)
        return nullptr;
    return &found->second.Iv30;
}

}  // namespace quillon
