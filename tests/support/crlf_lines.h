#pragma once
// Lines as pages and working files write them, and counts in such texts.

#include <string>
#include <vector>

namespace quillon::testing {

// The lines, each ended by CR LF.
inline std::string Lines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += line + "\r\n";
    return text;
}

// How many times `what` occurs in `text`, overlaps included.
inline int CountOf(const std::string& text, const std::string& what) {
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

}  // namespace quillon::testing
