#pragma once
// The time a fetched reply's data belongs to, in the market's own time zone
// (US Eastern, with daylight saving time), from the UTC forms the services
// write: a "YYYY-MM-DD HH:MM:SS" text and epoch milliseconds. A pass is
// recorded under the market's date, so a reply read at 00:43 UTC belongs to
// the evening before.

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/clock.h"

namespace quillon::fetch {

// Seconds since 1970-01-01 00:00:00 UTC of a UTC date and time.
std::int64_t UtcSeconds(const DateTime& utc);

// Whether Eastern daylight saving time is in force at that instant: from
// 2:00 local time on the second Sunday of March to 2:00 local time on the
// first Sunday of November (the rule in force since 2007).
bool EasternDaylightTime(std::int64_t utcSeconds);

// The Eastern wall time of an instant given in seconds since 1970 UTC.
DateTime EasternTimeOf(std::int64_t utcSeconds);

// "YYYY-MM-DD HH:MM:SS" (or with a "T" between date and time) read as UTC
// and given as Eastern wall time; nothing for any other text, a day or
// time that does not exist, or a year before 1970.
std::optional<DateTime> EasternFromUtcText(std::string_view text);

// Epoch milliseconds (UTC) as Eastern wall time; nothing for 0, a negative
// count or one past the year 9999.
std::optional<DateTime> EasternFromEpochMilliseconds(std::int64_t milliseconds);

}  // namespace quillon::fetch
