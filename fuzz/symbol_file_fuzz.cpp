// Any bytes as a symbol file: the list must come out sorted, unique, and made
// of one to six upper-case letters and digits.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "scan/symbol_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> symbols = quillon::ParseSymbolText(text);
    if (!std::is_sorted(symbols.begin(), symbols.end())) std::abort();
    if (std::adjacent_find(symbols.begin(), symbols.end()) != symbols.end()) std::abort();
    for (const std::string& s : symbols) {
        if (s.empty() || s.size() > quillon::kMaxSymbolLength) std::abort();
        for (char c : s) {
            if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z'))) std::abort();
        }
    }
    return 0;
}
