#pragma once
// The exit statuses every program shares; a program's own ones lie between
// them (quillon-scan's 2 to 7, for one).

namespace quillon {

inline constexpr int kExitDone = 0;
// The work could not be done; the message on standard error says why.
inline constexpr int kExitFailed = 1;
// A bad command line: nothing was done.
inline constexpr int kExitUsage = 64;

}  // namespace quillon
