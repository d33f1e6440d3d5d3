// Any bytes as Progress.---: reading never fails, and what was written by a
// flush reads back as written.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "scan/symbol_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    quillon::ProgressPoint point = quillon::ParseProgress(text);
    std::string written =
        std::to_string(point.ProcessCount) + " " + std::to_string(point.SymbolIndex);
    quillon::ProgressPoint again = quillon::ParseProgress(written);
    if (again.ProcessCount != point.ProcessCount || again.SymbolIndex != point.SymbolIndex) {
        std::abort();
    }
    return 0;
}
