#include "platform/date_format.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

TEST(DateFormat, DateAndTimeForms) {
    EXPECT_EQ(ShortDateText({2027, 1, 9, 0, 0, 7}), "1/9/2027");
    EXPECT_EQ(LongTimeText({2027, 1, 9, 0, 0, 7}), "12:00:07 AM");
    EXPECT_EQ(LongTimeText({2027, 1, 9, 12, 30, 0}), "12:30:00 PM");
    EXPECT_EQ(LongTimeText({2027, 1, 9, 23, 59, 59}), "11:59:59 PM");
    EXPECT_EQ(FormatDateTime({2027, 12, 31, 13, 5, 9}), "12/31/2027 1:05:09 PM");
}

}  // namespace
}  // namespace quillon
