#pragma once
// The option tables the quote data model holds: the expiration calendar (the
// next twelve expirations) and the strike table (five strikes around the
// stock's last price), with their letters. analytics/calendar.h builds them.

#include <array>

namespace quillon {

inline constexpr int kExpirations = 12;

struct ExpirationCalendar {
    std::array<int, 12> MonthLengths = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    std::array<int, kExpirations> DaysToExpiration{};
    std::array<int, kExpirations> ExpirationDay{};
    std::array<int, kExpirations> ExpirationMonth{};  // 0 = January
    // MonthLetters[0][k] the call letter, MonthLetters[1][k] the put letter.
    std::array<std::array<char, kExpirations>, 2> MonthLetters{};
};

struct StrikeTable {
    std::array<float, 5> StrikePrices{};
    std::array<char, 5> StrikeLetters{};
};

// What the option parsers and the archive read of the tables to place an
// option by its symbol.
struct OptionTables {
    const ExpirationCalendar& Calendar;
    const StrikeTable& Strikes;
};

}  // namespace quillon
