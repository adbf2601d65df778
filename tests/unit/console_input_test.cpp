// ReadInteger and SkipLine: the input rules the dialogues rely on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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

// Each row: an input and what the reads give in turn, "!" where one is
// rejected with the input-error report.
TEST(ReadInteger, TakesTheFirstTokenOfALineAndDiscardsTheRest) {
    constexpr IntegerRules kHerd = IntegerRules::kSignBeforeHexRejected;
    struct Case {
        std::string input;
        std::vector<std::string> reads;
        IntegerRules rules = IntegerRules::kSignBeforeHexAllowed;
    };
    const Case cases[] = {
        {"\n   \n\t\r\n  42  abc\n7 8 9\n", {"42", "7", "0"}},  // blank lines passed over
        {"42abc 5\n6\n", {"!", "6"}},  // a bad token fails after its whole line is read
        {"+7\n-0\n$1F\n0x1F\nx1f\n-2147483648\n007\n$FFFFFFFF\n-$10\n",
         {"7", "0", "31", "31", "31", "-2147483648", "7", "-1", "-16"}},
        {"2147483648\n-2147483649\n$\n0x\n+\n-\n$100000000\n1.5\n12-\n$G\n",
         std::vector<std::string>(10, "!")},
        {"-$10\n+$10\n$10\n", {"!", "!", "16"}, kHerd},  // no sign before a hex prefix
        // 32 characters fit; the first 32 of a longer token would read as 0.
        {std::string(31, '0') + "7\n", {"7"}},
        {std::string(32, '0') + "12345678 9\n5\n", {"!", "5"}},
        {std::string(40, 'a') + "\n9\n", {"!", "9"}},
        {"1 x\r2\n3\n", {"1", "3"}},      // a carriage return alone ends no line
        {"4\x1a\n5\n", {"4", "0", "0"}},  // character 26 ends the input for good
        {"\n \x1a 5\n", {"0", "0"}},
    };
    for (const Case& c : cases) {
        ConsoleInput input = InputFromText(c.input);
        for (const std::string& expected : c.reads) {
            std::int32_t value = 0;
            EXPECT_EQ(Rejects(input, value, c.rules) ? "!" : std::to_string(value), expected)
                << c.input;
        }
    }
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
