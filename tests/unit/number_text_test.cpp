// The integer rules of command-line arguments and TextToFloat's grammar, with
// the exact messages the unhandled-error report shows.
#include <gtest/gtest.h>

#include <string>

#include "errors_unit.h"
#include "locale_guard.h"
#include "locale_unit.h"
#include "number_text_unit.h"

namespace {

std::string IntegerError(std::string_view text) {
    try {
        TextToInteger(text);
    } catch (const EConvertError& error) {
        return error.message;
    }
    return "no error";
}

std::string FloatError(std::string_view text) {
    try {
        TextToFloat(text);
    } catch (const EConvertError& error) {
        return error.message;
    }
    return "no error";
}

TEST(TextToInteger, FollowsTheIntegerRules) {
    EXPECT_EQ(TextToInteger("  25"), 25);
    EXPECT_EQ(TextToInteger("-$10"), -16);
    EXPECT_EQ(TextToInteger("0X7fffffff"), INT32_MAX);
    EXPECT_EQ(TextToInteger("-$80000000"), INT32_MIN);
    EXPECT_EQ(TextToInteger("-$FFFFFFFF"), 1);
    EXPECT_EQ(TextToInteger("$00000000FF"), 255);  // leading zeros do not count against 32 bits
    EXPECT_EQ(ParseInteger("-$10", IntegerRules::kSignBeforeHexRejected), std::nullopt);
    EXPECT_EQ(ParseInteger("-10", IntegerRules::kSignBeforeHexRejected), -10);
}

TEST(TextToInteger, FailsWithTheTextInTheMessage) {
    EXPECT_EQ(IntegerError(""), "'' is not a valid integer value");
    EXPECT_EQ(IntegerError("abc"), "'abc' is not a valid integer value");
    EXPECT_EQ(IntegerError("25 "), "'25 ' is not a valid integer value");  // trailing blank
    EXPECT_EQ(IntegerError("\t25"),
              "'\t25' is not a valid integer value");  // blanks are code 32 only
    EXPECT_EQ(IntegerError("%d%s"), "'%d%s' is not a valid integer value");  // no reformatting
    for (const char* text :
         {"2147483648", "-", "+", "0x", "$", "- 5", "1e3", "99999999999999999999"}) {
        EXPECT_NE(IntegerError(text), "no error") << text;
    }
}

TEST(TextToFloat, ReadsTheLocaleSeparatorOnly) {
    LocaleGuard guard;
    UseDecimalSeparator(',');
    EXPECT_DOUBLE_EQ(TextToFloat("4,80"), 4.8);
    EXPECT_DOUBLE_EQ(TextToFloat(" -1,5e2 "), -150.0);
    EXPECT_EQ(FloatError("4.80"), "'4.80' is not a valid floating point value");

    UseDecimalSeparator('.');
    EXPECT_DOUBLE_EQ(TextToFloat("4.80"), 4.8);
    EXPECT_DOUBLE_EQ(TextToFloat("+.5"), 0.5);
    EXPECT_DOUBLE_EQ(TextToFloat("7."), 7.0);
    EXPECT_DOUBLE_EQ(TextToFloat("2E-3"), 0.002);
    EXPECT_EQ(FloatError("4,80"), "'4,80' is not a valid floating point value");
}

TEST(TextToFloat, RejectsEverythingOutsideTheGrammar) {
    LocaleGuard guard;
    UseDecimalSeparator('.');
    for (const char* text : {"", "  ", "abc", "1e", "1e+", "e5", "1.2.3", "--1", "1 2", "0x10",
                             "inf", "nan", "1e999", "1e-400", "\t1"}) {
        std::string expected = "'";
        expected.append(text).append("' is not a valid floating point value");
        EXPECT_EQ(FloatError(text), expected);
    }
}

}  // namespace
