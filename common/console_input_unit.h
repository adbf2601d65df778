// Console input: the numbers that herdboss1 and taskwarden read, and the
// final pause of taskwarden.
//
// Input ends at the end of a file, when a pipe's writer closes it, and at a
// character 26 (Ctrl+Z). The end is final: every later ReadInteger gives 0 at
// once and every later SkipLine returns at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "number_text_unit.h"

// Where the bytes come from: standard input, or a fixed text (for tests).
struct ConsoleInput {
    bool fromStandardInput = true;
    std::string buffer;  // bytes read but not yet consumed start at `position`
    std::size_t position = 0;
    bool ended = false;  // the end of input has been reached; final
};

// An input that holds exactly `text` and then ends.
ConsoleInput InputFromText(std::string text);

// Skips characters with codes up to 32, takes a token of at most 32
// characters, discards the rest of the line through its line feed, and only
// then raises EInOutError "Invalid numeric input" when the token breaks the
// integer rules or was longer than 32 characters (its cut-off head could
// convert to a number that was never typed). The end of input before a token
// gives 0.
std::int32_t ReadInteger(ConsoleInput& input,
                         IntegerRules rules = IntegerRules::kSignBeforeHexAllowed);

// Reads and discards input through the next line feed; returns at once at
// the end of input.
void SkipLine(ConsoleInput& input);

// The same on the program's standard input.
std::int32_t ReadInteger(IntegerRules rules = IntegerRules::kSignBeforeHexAllowed);
void SkipLine();
