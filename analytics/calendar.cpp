#include "analytics/calendar.h"

namespace quillon {

void BuildExpirationCalendar(ExpirationCalendar& calendar, const DateTime& today) {
    // The tables are filled by the option-calendar code; until then the
    // calendar keeps its current contents.
    (void)calendar;
    (void)today;
}

}  // namespace quillon
