// ReadInteger over an arbitrary input stream, with both integer rules: every
// call must take exactly its token's line and no more, give the token's value
// or fail on a bad token, and make progress until the input has ended.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "console_input_unit.h"
#include "errors_unit.h"
#include "fuzz_check.h"
#include "reference_integer.h"

namespace {

constexpr char kEndOfInputChar = 26;  // Ctrl+Z ends the input for good
constexpr std::size_t kTokenLimit = 32;

bool IsBlankOrControl(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

// What one ReadInteger from `start` must do.
struct ExpectedRead {
    std::size_t next = 0;  // where the following read starts
    bool ended = false;    // the input has ended during this read
    bool fails = false;
    std::int32_t value = 0;
};

ExpectedRead ReferenceRead(std::string_view text, std::size_t start, bool signBeforeHexAllowed) {
    const std::size_t end = std::min(text.find(kEndOfInputChar, start), text.size());
    ExpectedRead read;
    std::size_t i = start;
    while (i < end && IsBlankOrControl(text[i])) {
        ++i;
    }
    if (i == end) {  // nothing but blanks: 0, no error
        read.next = i;
        read.ended = true;
        return read;
    }
    std::size_t j = i;
    while (j < end && !IsBlankOrControl(text[j]) && j - i < kTokenLimit) {
        ++j;
    }
    const bool cut = j < end && !IsBlankOrControl(text[j]);
    const std::size_t lineFeed = text.substr(0, end).find('\n', j);
    read.ended = lineFeed == std::string_view::npos;
    read.next = read.ended ? end : lineFeed + 1;
    const std::optional<std::int32_t> value =
        cut ? std::nullopt : reference::Integer(text.substr(i, j - i), signBeforeHexAllowed);
    read.fails = !value;
    read.value = value.value_or(0);
    return read;
}

// How far the input has been consumed. Reaching the end of a text input
// empties its buffer, and then all of the text is consumed.
std::size_t Consumed(const ConsoleInput& input, std::size_t textSize) {
    return input.buffer.size() == textSize ? input.position : textSize;
}

void CheckReads(std::string_view text, IntegerRules rules) {
    const bool signBeforeHexAllowed = rules == IntegerRules::kSignBeforeHexAllowed;
    ConsoleInput input = InputFromText(std::string(text));
    while (!input.ended) {
        const std::size_t start = Consumed(input, text.size());
        const ExpectedRead expected = ReferenceRead(text, start, signBeforeHexAllowed);
        bool failed = false;
        std::int32_t value = 0;
        try {
            value = ReadInteger(input, rules);
        } catch (const EInOutError& error) {
            failed = true;
            Require(error.message == "Invalid numeric input", "the message of a bad number");
        }
        const std::size_t next = Consumed(input, text.size());
        // Never a hang: each read consumes input or finds its end.
        Require(next > start || input.ended, "a read consumes input or finds its end");
        Require(next == expected.next, "a read consumes its token's line through the line feed");
        Require(input.ended == expected.ended, "the input ends where the text or a Ctrl+Z ends");
        Require(failed == expected.fails, "a read fails exactly on a token the rules reject");
        Require(failed || value == expected.value, "a read gives the token's value");
    }
    // The end is final: a later read gives 0 at once and consumes nothing.
    const std::size_t atEnd = Consumed(input, text.size());
    Require(ReadInteger(input, rules) == 0, "a read after the end gives 0");
    SkipLine(input);
    Require(Consumed(input, text.size()) == atEnd, "nothing is consumed after the end");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CheckReads(text, IntegerRules::kSignBeforeHexAllowed);
    CheckReads(text, IntegerRules::kSignBeforeHexRejected);
    return 0;
}
