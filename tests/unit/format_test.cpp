// FormatText: field widths and the locale's decimal separator, as the tables,
// event lines and child command lines use them.
#include <gtest/gtest.h>

#include <string>

#include "format_unit.h"
#include "locale_guard.h"
#include "locale_unit.h"

namespace {

TEST(FormatText, RightAlignsIntegersAndNeverCutsThem) {
    EXPECT_EQ(FormatText("%2d|", {7}), " 7|");
    EXPECT_EQ(FormatText("%2d|", {123}), "123|");
    EXPECT_EQ(FormatText("%7d", {-45}), "    -45");
    const std::string row = FormatText("%7d%25d%25d", {1, 3300, 2300});
    EXPECT_EQ(row.size(), 57u);
    EXPECT_EQ(row, std::string(6, ' ') + "1" + std::string(21, ' ') + "3300" +
                       std::string(21, ' ') + "2300");
    EXPECT_EQ(FormatText("%d %d", {INT32_MIN, 0}), "-2147483648 0");
}

TEST(FormatText, FixedNotationHasTwoDecimalsAndTheLocaleSeparator) {
    LocaleGuard guard;
    UseDecimalSeparator('.');
    EXPECT_EQ(FormatText("%f", {4.8}), "4.80");
    EXPECT_EQ(FormatText("%f", {1.7}), "1.70");
    EXPECT_EQ(FormatText("%f", {0.004}), "0.00");
    EXPECT_EQ(FormatText("%f", {2.999}), "3.00");
    EXPECT_EQ(FormatText("%f", {0.066}), "0.07");
    EXPECT_EQ(FormatText("%f", {-2.345678}), "-2.35");
    EXPECT_EQ(FormatText("%f", {-0.001}), "0.00");  // no "-0.00"
    EXPECT_EQ(FormatText("%f", {12345678.9}), "12345678.90");
    UseDecimalSeparator(',');
    EXPECT_EQ(FormatText("%f", {4.8}), "4,80");
}

TEST(FormatText, GeneralNotationDropsTrailingZeros) {
    LocaleGuard guard;
    UseDecimalSeparator('.');
    EXPECT_EQ(FormatText("%g", {2.5}), "2.5");
    EXPECT_EQ(FormatText("%g", {30.0}), "30");
    EXPECT_EQ(FormatText("%g", {25.0}), "25");
    EXPECT_EQ(FormatText("%g", {2147483.647}), "2147483.647");
    EXPECT_EQ(FormatText("%g", {0.1 + 0.2}), "0.3");  // 15 significant digits
    UseDecimalSeparator(',');
    EXPECT_EQ(FormatText("%g", {2.5}), "2,5");
    EXPECT_EQ(FormatText("%g", {2147483.647}), "2147483,647");
}

TEST(FormatText, TextsPassThroughAndOtherCharactersAreCopied) {
    EXPECT_EQ(FormatText("%s - Слон %s", {"9:05:07.042", "\xC2\xE0\xF1\xFF"}),
              "9:05:07.042 - Слон \xC2\xE0\xF1\xFF");
    EXPECT_EQ(FormatText("100% %x %"), "100% %x %");
    EXPECT_EQ(FormatText("%s", {"%d"}), "%d");  // a value is never read as a format
}

TEST(FormatText, DirectiveWithoutAMatchingValueIsWrittenLiterally) {
    EXPECT_EQ(FormatText("%d and %s", {5}), "5 and %s");
    EXPECT_EQ(FormatText("%d", {2.5}), "%d");
    EXPECT_EQ(FormatText("%f", {3}), "%f");
    // A mismatched value is used up; the next directive takes the next value.
    EXPECT_EQ(FormatText("%s %7d", {1, 2}), "%s       2");
}

}  // namespace
