#pragma once
// The access token of a market-data service that wants one (Tradier), kept
// as the quote-server password is: in a file of the working directory that
// only its owner may read, replaced whole. The token is never written
// anywhere else, never put on a command line and never said in a message.

#include <optional>
#include <string>

#include "results/settings.h"

namespace quillon {

// The longest token taken: far more than a service's tokens are.
inline constexpr std::size_t kMaxTokenBytes = 4096;

// Whether `token` can be kept: not empty, at most kMaxTokenBytes, printable
// ASCII without blanks (it goes into a request header).
bool TokenCanBeKept(const std::string& token);

// The stored token; nothing when there is none or it cannot be read or kept.
std::optional<std::string> LoadToken(const WorkingFileNames& files);

// Replaces the store with `token` (mode 0600); false with errno set.
bool SaveToken(const WorkingFileNames& files, const std::string& token);

}  // namespace quillon
