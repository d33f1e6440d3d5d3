#pragma once
// Building the option month and strike codes: the expiration calendar (the
// next twelve expirations from today) and the strike table (five strikes
// around the stock's last price).

#include <array>

#include "market/option_tables.h"
#include "platform/clock.h"

namespace quillon {

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
