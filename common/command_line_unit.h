// The children's reading of their command line.
//
// Words are separated by characters with codes 1..32; a double quote switches
// quoting on and off and is not part of the word; blanks inside quotes belong
// to the word; an empty pair of quotes between words is skipped. Word 0 is the
// program itself.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Word i of the given command line; empty text when there are fewer words.
std::string CommandLineWord(std::string_view commandLine, int index);

// All words of a command line, in order.
std::vector<std::string> CommandLineWords(std::string_view commandLine);

// Argument i (i >= 1) of this program's command line (GetCommandLineA), as
// Windows-1251 text; empty when missing.
std::string CommandArgument(int index);
