#include "scan/symbol_file.h"

#include <algorithm>
#include <charconv>

#include "platform/files.h"

namespace quillon {

namespace {

bool IsSymbolChar(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

// The next run of non-white characters from `pos`, skipping white space
// before it.
std::string_view NextToken(std::string_view text, std::size_t& pos) {
    while (pos < text.size() && IsWhiteSpace(text[pos]))
        ++pos;
    std::size_t start = pos;
    while (pos < text.size() && !IsWhiteSpace(text[pos]))
        ++pos;
    return text.substr(start, pos - start);
}

std::optional<int> ParseInteger(std::string_view token) {
    if (!token.empty() && token.front() == '+') token.remove_prefix(1);
    if (token.empty()) return std::nullopt;
    int value = 0;
    auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), value);
    if (error != std::errc() || end != token.data() + token.size()) return std::nullopt;
    return value;
}

}  // namespace

std::string SymbolOfLine(std::string_view line) {
    std::string symbol;
    for (char c : line) {
        if (!IsSymbolChar(c) || symbol.size() == kMaxSymbolLength) break;
        symbol.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
    }
    return symbol;
}

std::vector<std::string> ParseSymbolText(std::string_view text) {
    std::vector<std::string> symbols;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string symbol = SymbolOfLine(text.substr(start, end - start));
        if (!symbol.empty()) symbols.push_back(std::move(symbol));
        start = end + 1;
    }
    std::sort(symbols.begin(), symbols.end());
    symbols.erase(std::unique(symbols.begin(), symbols.end()), symbols.end());
    return symbols;
}

std::optional<std::vector<std::string>> ReadSymbolFile(const std::string& name) {
    std::optional<std::string> text = ReadWholeFile(name);
    if (!text) return std::nullopt;
    return ParseSymbolText(*text);
}

ProgressPoint ParseProgress(std::string_view text) {
    ProgressPoint point;
    std::size_t pos = 0;
    std::optional<int> first = ParseInteger(NextToken(text, pos));
    if (!first) return point;
    point.ProcessCount = *first;
    std::optional<int> second = ParseInteger(NextToken(text, pos));
    if (second) point.SymbolIndex = *second;
    return point;
}

}  // namespace quillon
