// Any bytes as Progress.--- or as Scan.lock, the two small files a scan reads
// back to know where it stands and who holds the directory: reading never
// fails, what was written reads back as written, and a holder read is one
// that could have been written.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/scan_lock.h"
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

    const quillon::ScanLockHolder holder = quillon::ParseScanLockHolder(text);
    if (!holder.Program.empty()) {
        const quillon::ScanLockHolder back = quillon::ParseScanLockHolder(
            holder.Program + " " + std::to_string(holder.ProcessId) + "\n");
        if (back.Program != holder.Program || back.ProcessId != holder.ProcessId ||
            holder.ProcessId <= 0 || holder.Program.size() > 128) {
            std::abort();
        }
    }
    return 0;
}
