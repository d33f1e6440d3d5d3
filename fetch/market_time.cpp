#include "fetch/market_time.h"

namespace quillon::fetch {

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::int64_t kSecondsPerHour = 3600;
// 9999-12-31 23:59:59 UTC: no later instant is a date the system writes.
constexpr std::int64_t kLastSecond = 253402300799;

// The day of the month of the n-th Sunday (1 = the first) of a month.
int NthSunday(int year, int month, int n) {
    const int weekDay = CivilDay{year, month, 1}.WeekDay();
    return 1 + (7 - weekDay) % 7 + 7 * (n - 1);
}

std::optional<int> TwoDigits(std::string_view text, std::size_t at) {
    if (at + 2 > text.size()) return std::nullopt;
    const char a = text[at], b = text[at + 1];
    if (a < '0' || a > '9' || b < '0' || b > '9') return std::nullopt;
    return (a - '0') * 10 + (b - '0');
}

}  // namespace

std::int64_t UtcSeconds(const DateTime& utc) {
    return static_cast<std::int64_t>(utc.Date().Serial()) * kSecondsPerDay +
           utc.Hour * kSecondsPerHour + utc.Minute * 60 + utc.Second;
}

bool EasternDaylightTime(std::int64_t utcSeconds) {
    const int year = CivilDay::FromSerial(static_cast<int>(utcSeconds / kSecondsPerDay)).Year;
    // 2:00 EST is 7:00 UTC; 2:00 EDT is 6:00 UTC.
    const std::int64_t begins = UtcSeconds({year, 3, NthSunday(year, 3, 2), 7, 0, 0});
    const std::int64_t ends = UtcSeconds({year, 11, NthSunday(year, 11, 1), 6, 0, 0});
    return utcSeconds >= begins && utcSeconds < ends;
}

DateTime EasternTimeOf(std::int64_t utcSeconds) {
    const std::int64_t local =
        utcSeconds - (EasternDaylightTime(utcSeconds) ? 4 : 5) * kSecondsPerHour;
    std::int64_t days = local / kSecondsPerDay;
    std::int64_t rest = local % kSecondsPerDay;
    if (rest < 0) {
        rest += kSecondsPerDay;
        --days;
    }
    const CivilDay day = CivilDay::FromSerial(static_cast<int>(days));
    const auto seconds = static_cast<int>(rest);
    return {day.Year, day.Month, day.Day, seconds / 3600, seconds / 60 % 60, seconds % 60};
}

std::optional<DateTime> EasternFromUtcText(std::string_view text) {
    if (text.size() != 19 || (text[10] != ' ' && text[10] != 'T') || text[13] != ':' ||
        text[16] != ':') {
        return std::nullopt;
    }
    const std::optional<CivilDay> day = ReadIsoDigits(text.substr(0, 10));
    const std::optional<int> hour = TwoDigits(text, 11);
    const std::optional<int> minute = TwoDigits(text, 14);
    const std::optional<int> second = TwoDigits(text, 17);
    if (!day || !day->Valid() || day->Year < 1970 || !hour || !minute || !second || *hour > 23 ||
        *minute > 59 || *second > 59) {
        return std::nullopt;
    }
    return EasternTimeOf(UtcSeconds({day->Year, day->Month, day->Day, *hour, *minute, *second}));
}

std::optional<DateTime> EasternFromEpochMilliseconds(std::int64_t milliseconds) {
    if (milliseconds <= 0 || milliseconds / 1000 > kLastSecond) return std::nullopt;
    return EasternTimeOf(milliseconds / 1000);
}

}  // namespace quillon::fetch
