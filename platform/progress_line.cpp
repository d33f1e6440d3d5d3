#include "platform/progress_line.h"

#include <unistd.h>

#include <cstdio>

namespace quillon {

ProgressLine::ProgressLine(std::string_view program, bool quiet)
    : program_(program), on_(!quiet && isatty(STDERR_FILENO) == 1) {}

void ProgressLine::Show(std::string_view text) {
    if (!on_) return;
    std::fprintf(stderr, "\r%s: %.*s", program_.c_str(), static_cast<int>(text.size()),
                 text.data());
    open_ = true;
}

void ProgressLine::End() {
    if (!open_) return;
    std::fputc('\n', stderr);
    open_ = false;
}

}  // namespace quillon
