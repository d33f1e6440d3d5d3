#include "scan/reply_status.h"

namespace quillon {

int ReplyStatusCode(std::string_view reply) {
    constexpr std::string_view kProtocol = "HTTP/";
    if (reply.size() < kProtocol.size()) return 0;
    for (std::size_t i = 0; i < kProtocol.size(); ++i) {
        char c = reply[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != kProtocol[i]) return 0;
    }
    // The version, then blanks, then the code.
    std::size_t at = reply.find_first_of(" \t\r\n", kProtocol.size());
    if (at == std::string_view::npos || reply[at] == '\r' || reply[at] == '\n') return 0;
    at = reply.find_first_not_of(" \t", at);
    if (at == std::string_view::npos || reply.size() - at < 3) return 0;
    int code = 0;
    for (std::size_t i = at; i < at + 3; ++i) {
        if (reply[i] < '0' || reply[i] > '9') return 0;
        code = code * 10 + (reply[i] - '0');
    }
    if (at + 3 < reply.size()) {
        const char after = reply[at + 3];
        if (after != ' ' && after != '\t' && after != '\r' && after != '\n') return 0;
    }
    return code;
}

}  // namespace quillon
