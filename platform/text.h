#pragma once
// Trimming text: the one way of cutting blanks off the ends of a field, a
// line or a name. Each reader says which bytes count as blank for it. And
// names compared in any case.

#include <cstddef>
#include <string_view>

namespace quillon {

// A space or a tab.
constexpr bool IsSpaceOrTab(char c) {
    return c == ' ' || c == '\t';
}
// A space, a tab or the CR of a CR LF line end.
constexpr bool IsSpaceTabOrCr(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}
// A space or any control character (every byte up to ' ').
constexpr bool IsSpaceOrControl(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

// `text` without the bytes `blank` answers true for at its start, at its
// end, or at both.
template <class Blank>
constexpr std::string_view TrimStart(std::string_view text, Blank blank) {
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    return text;
}
template <class Blank>
constexpr std::string_view TrimEnd(std::string_view text, Blank blank) {
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}
template <class Blank>
constexpr std::string_view Trim(std::string_view text, Blank blank) {
    return TrimEnd(TrimStart(text, blank), blank);
}

// Whether the two texts are the same but for the case of their ASCII letters.
constexpr bool SameLetters(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    const auto lower = [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    };
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

}  // namespace quillon
