// Splitting a command line into words.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command_line_unit.h"
#include "win32.h"

namespace {

using Words = std::vector<std::string>;

TEST(CommandLineWords, SplitsAtControlCharactersAndBlanks) {
    EXPECT_EQ(CommandLineWords("tusker1 3\t42  5.50\r\n"), (Words{"tusker1", "3", "42", "5.50"}));
    EXPECT_EQ(CommandLineWords("   "), Words{});
    EXPECT_EQ(CommandLineWords(""), Words{});
}

TEST(CommandLineWords, QuotesJoinBlanksAndAreNotPartOfTheWord) {
    EXPECT_EQ(CommandLineWords(R"("C:\Program Files\tusker6.exe" "Big Tandy" 7)"),
              (Words{R"(C:\Program Files\tusker6.exe)", "Big Tandy", "7"}));
    EXPECT_EQ(CommandLineWords(R"(a b"c d"e "f)"), (Words{"a", "bc de", "f"}));
}

TEST(CommandLineWords, EmptyQuotesBetweenWordsAreSkipped) {
    EXPECT_EQ(CommandLineWords(R"(prog "" 5 """" 6 "")"), (Words{"prog", "5", "6"}));
    // Inside a word an empty pair only toggles quoting twice.
    EXPECT_EQ(CommandLineWords(R"(prog a""b)"), (Words{"prog", "ab"}));
}

TEST(CommandLineWord, MissingWordsAreEmptyText) {
    const char* line = "stageworker 1 500 800 4242";
    EXPECT_EQ(CommandLineWord(line, 0), "stageworker");
    EXPECT_EQ(CommandLineWord(line, 4), "4242");
    EXPECT_EQ(CommandLineWord(line, 5), "");
    EXPECT_EQ(CommandLineWord(line, -1), "");
    EXPECT_EQ(CommandLineWord(std::string_view("a b\0c d", 7), 2), "");  // ends at a zero byte
}

TEST(CommandArgument, MissingArgumentOfThisProgramIsEmpty) {
    EXPECT_EQ(CommandArgument(1000), "");
    EXPECT_FALSE(CommandLineWord(GetCommandLineA(), 0).empty());
}

}  // namespace
