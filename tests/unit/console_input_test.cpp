// ReadInteger and SkipLine: the input rules the dialogues rely on.
#include <gtest/gtest.h>

#include <string>

#include "console_input_unit.h"
#include "errors_unit.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

// Reads one number and says whether it was rejected; `value` is set otherwise.
bool Rejects(ConsoleInput& input, std::int32_t& value,
             IntegerRules rules = IntegerRules::kSignBeforeHexAllowed) {
    try {
        value = ReadInteger(input, rules);
        return false;
    } catch (const EInOutError& error) {
        EXPECT_EQ(error.message, "Invalid numeric input");
        return true;
    }
}

TEST(ReadInteger, PassesOverBlankLinesAndDiscardsTheRestOfTheLine) {
    ConsoleInput input = InputFromText("\n   \n\t\r\n  42  abc\n7 8 9\n");
    EXPECT_EQ(ReadInteger(input), 42);
    EXPECT_EQ(ReadInteger(input), 7);  // abc went with its line; so do 8 and 9
    EXPECT_EQ(ReadInteger(input), 0);  // end of input
}

TEST(ReadInteger, BadTokenFailsOnlyAfterItsWholeLineIsConsumed) {
    ConsoleInput input = InputFromText("42abc 5\n6\n");
    std::int32_t value = -1;
    EXPECT_TRUE(Rejects(input, value));
    EXPECT_EQ(ReadInteger(input), 6);
}

TEST(ReadInteger, AcceptsSignsAndHexadecimalPrefixes) {
    ConsoleInput input =
        InputFromText("+7\n-0\n$1F\n0x1F\nx1f\n-2147483648\n007\n$FFFFFFFF\n-$10\n");
    for (std::int32_t expected : {7, 0, 31, 31, 31, INT32_MIN, 7, -1, -16}) {
        EXPECT_EQ(ReadInteger(input), expected);
    }
}

TEST(ReadInteger, RejectsOutOfRangeAndMalformedNumbers) {
    for (const char* line :
         {"2147483648", "-2147483649", "$", "0x", "+", "-", "$100000000", "1.5", "12-", "$G"}) {
        ConsoleInput input = InputFromText(std::string(line) + "\n");
        std::int32_t value = 0;
        EXPECT_TRUE(Rejects(input, value)) << line << " gave " << value;
    }
}

TEST(ReadInteger, HerdVariantRejectsASignBeforeAHexPrefix) {
    ConsoleInput input = InputFromText("-$10\n+$10\n$10\n");
    std::int32_t value = 0;
    EXPECT_TRUE(Rejects(input, value, IntegerRules::kSignBeforeHexRejected));
    EXPECT_TRUE(Rejects(input, value, IntegerRules::kSignBeforeHexRejected));
    EXPECT_EQ(ReadInteger(input, IntegerRules::kSignBeforeHexRejected), 16);
}

TEST(ReadInteger, TokenLongerThan32CharactersFailsWithItsLine) {
    // Its first 32 characters alone would read as 0, a number never typed.
    ConsoleInput padded = InputFromText(std::string(32, '0') + "12345678 9\n5\n");
    std::int32_t value = -1;
    EXPECT_TRUE(Rejects(padded, value));
    EXPECT_EQ(ReadInteger(padded), 5);  // the tail and the 9 went with the line

    ConsoleInput letters = InputFromText(std::string(40, 'a') + "\n9\n");
    EXPECT_TRUE(Rejects(letters, value));
    EXPECT_EQ(ReadInteger(letters), 9);

    ConsoleInput exact = InputFromText(std::string(31, '0') + "7\n");  // 32 fit
    EXPECT_EQ(ReadInteger(exact), 7);
}

TEST(ReadInteger, CarriageReturnAloneDoesNotEndALine) {
    ConsoleInput input = InputFromText("1 x\r2\n3\n");
    EXPECT_EQ(ReadInteger(input), 1);
    EXPECT_EQ(ReadInteger(input), 3);  // "2" was part of line 1
}

TEST(ReadInteger, EndOfInputGivesZeroAndIsFinal) {
    ConsoleInput input = InputFromText("  \n 12");
    EXPECT_EQ(ReadInteger(input), 12);  // a number ended by the end of input counts
    EXPECT_EQ(ReadInteger(input), 0);
    EXPECT_TRUE(input.ended);
    input.buffer += "5\n";  // nothing after the end is ever read
    EXPECT_EQ(ReadInteger(input), 0);
    SkipLine(input);
}

TEST(ReadInteger, CharacterTwentySixEndsTheInputForGood) {
    ConsoleInput input = InputFromText("4\x1a\n5\n");
    EXPECT_EQ(ReadInteger(input), 4);
    EXPECT_EQ(ReadInteger(input), 0);
    EXPECT_EQ(ReadInteger(input), 0);

    ConsoleInput inBlanks = InputFromText("\n \x1a 5\n");
    EXPECT_EQ(ReadInteger(inBlanks), 0);
    EXPECT_TRUE(inBlanks.ended);
}

TEST(SkipLine, DiscardsThroughTheNextLineFeedOnly) {
    ConsoleInput input = InputFromText("anything 1\r\n2\n");
    SkipLine(input);
    EXPECT_EQ(ReadInteger(input), 2);
    SkipLine(input);  // at the end: returns at once
    SkipLine(input);
    EXPECT_TRUE(input.ended);
}

#ifndef _WIN32
// Standard input is a pipe: a block holds several lines, and the writer's
// close is the end of input. Runs once per process: the end is final.
TEST(ReadInteger, StandardInputPipeEndsWhenItsWriterCloses) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    const int savedInput = dup(0);
    dup2(ends[0], 0);
    close(ends[0]);
    const std::string text = " 7\r\nabc\n\n-12\n";
    ASSERT_EQ(write(ends[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(ends[1]);

    std::int32_t first = ReadInteger();
    bool rejected = false;
    try {
        ReadInteger();
    } catch (const EInOutError&) {
        rejected = true;
    }
    std::int32_t third = ReadInteger();
    std::int32_t afterEnd = ReadInteger();
    SkipLine();
    dup2(savedInput, 0);
    close(savedInput);

    EXPECT_EQ(first, 7);
    EXPECT_TRUE(rejected);
    EXPECT_EQ(third, -12);
    EXPECT_EQ(afterEnd, 0);
}
#endif

}  // namespace
