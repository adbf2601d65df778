// MatchFormat and MatchTimeStamp read back what FormatText and TimeText
// wrote, in either locale, and refuse what those never write.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "curtime_unit.h"
#include "format_match_unit.h"
#include "format_unit.h"
#include "locale_guard.h"
#include "locale_unit.h"

namespace {

std::vector<std::string> Values(const FormatFields& fields) {
    return std::vector<std::string>(fields.values.begin(), fields.values.begin() + fields.count);
}

TEST(MatchFormat, ReadsBackWhatFormatTextWroteInEitherLocale) {
    LocaleGuard guard;
    struct Row {
        std::string_view format;
        std::string line;
        std::vector<std::string> values;
    };
    for (const char separator : {'.', ','}) {
        UseLocaleSettings({':', separator});
        const std::string weight = std::string("4") + separator + "80";
        const Row rows[] = {
            {"%s - Слон %s напился",
             FormatText("%s - Слон %s напился", {"1:02:03.004", "Tandy"}),
             {"1:02:03.004", "Tandy"}},
            {"Процесс %2d - ok.", FormatText("Процесс %2d - ok.", {7}), {" 7"}},
            {"%7d%25d%25d",
             FormatText("%7d%25d%25d", {-1, 3300, 2300}),
             {"     -1", std::string(21, ' ') + "3300", std::string(21, ' ') + "2300"}},
            {"вес: %f.", FormatText("вес: %f.", {4.8}), {weight}},
            {"(%g с.)", FormatText("(%g с.)", {2.5e20}), {std::string("2") + separator + "5e+20"}},
            // A name holding the text after it: the first place it appears.
            {"%s - %s погиб", FormatText("%s - %s погиб", {"t", "a - b"}), {"t", "a - b"}},
        };
        for (const Row& row : rows) {
            FormatFields fields;
            EXPECT_TRUE(MatchFormat(row.format, row.line, fields)) << row.line;
            EXPECT_EQ(Values(fields), row.values) << row.line;
        }
    }
}

TEST(MatchFormat, ConstantsMustMatchAndNumbersMustBeThere) {
    FormatFields fields;
    EXPECT_FALSE(MatchFormat("Слон %s напился", "Слон 3 напился!", fields));
    EXPECT_TRUE(MatchFormat("Введите число>", "Введите число>15", fields, true));
    EXPECT_FALSE(MatchFormat("Процесс %d.", "Процесс .", fields));
    EXPECT_FALSE(MatchFormat("Процесс %d.", "Процесс x.", fields));
    EXPECT_FALSE(MatchFormat("a %", "a %", fields));  // no directive, nothing to match it
    // Values past kMostFormatFields are matched, not kept.
    EXPECT_TRUE(MatchFormat("%d %d %d %d %d", "1 2 3 4 5", fields));
    EXPECT_EQ(fields.count, kMostFormatFields);
}

TEST(MatchTimeStamp, ReadsTimeTextAndRefusesWhatItNeverWrites) {
    LocaleGuard guard;
    for (const char separator : {':', '.'}) {
        UseLocaleSettings({separator, '.'});
        SYSTEMTIME time{};
        time.wHour = 9;
        time.wMinute = 5;
        time.wSecond = 7;
        time.wMilliseconds = 42;
        const std::string text = TimeText(time) + " - ";
        std::int64_t millis = 0;
        std::size_t length = 0;
        ASSERT_TRUE(MatchTimeStamp(text, millis, length)) << text;
        EXPECT_EQ(millis, ((9 * 60 + 5) * 60 + 7) * 1000 + 42);
        EXPECT_EQ(length, text.size() - 3);
    }
    std::int64_t millis = 0;
    std::size_t length = 0;
    for (const char* wrong : {"24:00:00.000", "9:60:00.000", "9:05:61.000", "9 05 07.042",
                              "9:05.07.042", "9:5:07.042", "9:05:07.42", ""}) {
        EXPECT_FALSE(MatchTimeStamp(wrong, millis, length)) << wrong;
    }
    EXPECT_TRUE(MatchTimeStamp("23:59:59.999", millis, length));
    EXPECT_EQ(millis, 24 * 3600 * 1000 - 1);
}

}  // namespace
