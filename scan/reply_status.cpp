#include "scan/reply_status.h"

namespace quillon {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

int ReplyStatusCode(std::string_view reply) {
    // Blank lines before the status line are tolerated, as clients do.
    const std::size_t start = reply.find_first_not_of("\r\n");
    if (start == std::string_view::npos) return 0;
    reply.remove_prefix(start);

    constexpr std::string_view kProtocol = "HTTP/";
    if (reply.size() < kProtocol.size()) return 0;
    for (std::size_t i = 0; i < kProtocol.size(); ++i) {
        char c = reply[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != kProtocol[i]) return 0;
    }
    // The version runs to the first blank; a line that ends inside it, or a
    // version with nothing in it, holds no code.
    std::size_t at = kProtocol.size();
    while (at < reply.size() && !IsBlank(reply[at]) && reply[at] != '\r' && reply[at] != '\n')
        ++at;
    if (at == kProtocol.size() || at == reply.size() || !IsBlank(reply[at])) return 0;
    while (at < reply.size() && IsBlank(reply[at]))
        ++at;
    // Three digits, and no fourth: what follows them may be the reason
    // without a blank between.
    if (reply.size() - at < 3) return 0;
    int code = 0;
    for (std::size_t i = at; i < at + 3; ++i) {
        if (!IsDigit(reply[i])) return 0;
        code = code * 10 + (reply[i] - '0');
    }
    if (at + 3 < reply.size() && IsDigit(reply[at + 3])) return 0;
    return code;
}

}  // namespace quillon
