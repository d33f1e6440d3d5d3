#pragma once
// Option month and strike codes: the expiration calendar (the next twelve
// expirations from today) and the strike table (five strikes around the
// stock's last price).

#include <array>

#include "platform/clock.h"

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

// Rebuilds the calendar from the date `today`: a weekend counts from the
// following Monday; slot 0 is the nearest expiration not yet past.
void BuildExpirationCalendar(ExpirationCalendar& calendar, const DateTime& today);

// Five strikes around `price` (the centre one nearest to it above 10; the
// fixed strikes 5 to 15 otherwise) with their letters.
void SelectStrikes(StrikeTable& table, float price);

// The strike letter of a strike price; strikes above 100 take the letter of
// the strike less 100.
char StrikeLetter(float strike);

}  // namespace quillon
