#pragma once
// Date and time formatting for everything the system writes for people: the
// report's time of writing and the printout headers use these forms.

#include <string>

#include "platform/clock.h"

namespace quillon {

// The short date M/d/yyyy: "1/9/2027".
std::string ShortDateText(const DateTime& at);

// The long time h:mm:ss AM/PM on a 12-hour clock: "12:00:07 AM", "1:05:09 PM".
std::string LongTimeText(const DateTime& at);

// The short date and the long time, one blank between: "3/4/2027 1:05:09 PM".
std::string FormatDateTime(const DateTime& at);

}  // namespace quillon
