#include "DateTimeFormat.h"

#include <gtest/gtest.h>

namespace {
std::tm march5(int hour) {
    std::tm t = {};
    t.tm_year = 2024 - 1900;
    t.tm_mon = 2;
    t.tm_mday = 5;
    t.tm_hour = hour;
    t.tm_min = 8;
    t.tm_sec = 9;
    return t;
}
}  // namespace

TEST(DateTimeFormat, FollowsTheLocaleOrderAndClockWithFileNameSafeSeparators) {
    EXPECT_EQ("2024-03-05 07;08;09", formatDateTime(march5(7), '2', '1'));
    EXPECT_EQ("05-03-2024 19;08;09", formatDateTime(march5(19), '1', '1'));
    EXPECT_EQ("03-05-2024 07;08;09PM", formatDateTime(march5(19), '0', '0'));
    // Unreadable flags give the month-first date and the 12-hour clock.
    EXPECT_EQ("03-05-2024 07;08;09AM", formatDateTime(march5(7), '\0', '\0'));
}
