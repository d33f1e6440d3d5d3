#include "platform/services.h"

#include <cstdio>

namespace quillon {

// Standard output may hold lines not yet passed on; they come first.
void StderrMessages::ShowMessage(const std::string& text) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

bool StderrMessages::Confirm(const std::string& text) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s (answered No)\n", text.c_str());
    std::fflush(stderr);
    return false;
}

NoNotifications& NoNotifications::Instance() {
    static NoNotifications none;
    return none;
}

}  // namespace quillon
