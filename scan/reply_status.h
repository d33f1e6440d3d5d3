#pragma once
// The status line of a quote server's reply, as far as the scan acts on it.

#include <string_view>

namespace quillon {

// The status code of a reply that begins with an HTTP status line, read as
// HTTP clients read it: blank lines (CR LF or LF) before it are skipped, the
// protocol name "HTTP/" is taken in any case and followed by its version,
// then blanks or tabs, then exactly three digits, which may be followed
// directly by the reason ("HTTP/1.1 401Unauthorized"). 0 when the reply does
// not begin that way: a page without a status line, a line cut short, or a
// number of more than three digits.
int ReplyStatusCode(std::string_view reply);

// 401, 403 and 407: the server (or a proxy on the way, 407) refuses the
// request for want of an accepted user name and password. The scan driver
// decides whether a refusal is the login's or a single symbol's.
inline bool LoginRefusedStatus(int status) {
    return status == 401 || status == 403 || status == 407;
}

}  // namespace quillon
