// The time stamp of event lines.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "curtime_unit.h"
#include "locale_guard.h"
#include "locale_unit.h"

namespace {

SYSTEMTIME TimeOfDay(WORD hour, WORD minute, WORD second, WORD millisecond) {
    SYSTEMTIME time{};
    time.wYear = 2024;
    time.wMonth = 5;
    time.wDay = 17;
    time.wHour = hour;
    time.wMinute = minute;
    time.wSecond = second;
    time.wMilliseconds = millisecond;
    return time;
}

TEST(TimeText, HourHasNoLeadingZeroAndTheRestIsZeroFilled) {
    LocaleGuard guard;
    UseLocaleSettings({':', ','});  // the decimal comma never reaches the stamp
    EXPECT_EQ(TimeText(TimeOfDay(0, 0, 0, 0)), "0:00:00.000");
    EXPECT_EQ(TimeText(TimeOfDay(7, 3, 9, 5)), "7:03:09.005");
    EXPECT_EQ(TimeText(TimeOfDay(23, 59, 59, 999)), "23:59:59.999");
}

TEST(TimeText, UsesTheLocaleTimeSeparator) {
    LocaleGuard guard;
    UseLocaleSettings({'.', ','});
    EXPECT_EQ(TimeText(TimeOfDay(7, 3, 9, 5)), "7.03.09.005");
}

TEST(CurrentTimeText, HasTheStampShape) {
    LocaleGuard guard;
    UseLocaleSettings({':', '.'});
    EXPECT_TRUE(std::regex_match(
        CurrentTimeText(), std::regex(R"((1?[0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]\.[0-9]{3})")));
}

}  // namespace
