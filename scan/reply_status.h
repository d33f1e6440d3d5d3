#pragma once
// The status line of a quote server's reply, as far as the scan acts on it.

#include <string_view>

namespace quillon {

// The three-digit status code of a reply that begins with an HTTP status
// line ("HTTP/1.0 401 Unauthorized"), or 0 when it begins with anything else.
int ReplyStatusCode(std::string_view reply);

// 401 and 403: the server turned the user name or password down.
inline bool LoginRefusedStatus(int status) {
    return status == 401 || status == 403;
}

}  // namespace quillon
