// Console input of numbers. Bytes are read from standard input in blocks and
// consumed from a buffer; the rules for tokens, line ends and the end of
// input are applied one character at a time.
#include "console_input_unit.h"

#include "errors_unit.h"
#include "program_lines_unit.h"
#include "win32.h"

namespace {

// Windows reports the end of input on some handles as a failed read: a pipe
// whose writer has closed (ERROR_BROKEN_PIPE) and the end of a file
// (ERROR_HANDLE_EOF). The Linux layer always reports it as a read of zero
// bytes and never fails a read with these numbers.
bool IsEndOfInputError(DWORD error) {
    return error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF;
}

constexpr char kEndOfInputChar = 26;  // Ctrl+Z
constexpr std::size_t kTokenLimit = 32;
constexpr DWORD kReadBlock = 4096;

ConsoleInput standardInput;

std::uint32_t ReadLocation() {
    return CodeLocation(static_cast<std::int32_t (*)(ConsoleInput&, IntegerRules)>(&ReadInteger));
}

// Reads more bytes into the buffer; false at the end of input.
bool Refill(ConsoleInput& input) {
    input.buffer.clear();
    input.position = 0;
    if (!input.fromStandardInput) {
        return false;
    }
    char block[kReadBlock];
    DWORD count = 0;
    if (!ReadFile(GetStdHandle(STD_INPUT_HANDLE), block, kReadBlock, &count, nullptr)) {
        const DWORD error = GetLastError();
        if (IsEndOfInputError(error)) {
            return false;
        }
        throw EInOutError{IoErrorMessage(error), ReadLocation()};
    }
    input.buffer.assign(block, count);
    return count > 0;
}

// The next character without consuming it, or -1 at the end of input. The
// end, once reached, is final; a Ctrl+Z character is the end too.
int Peek(ConsoleInput& input) {
    if (input.ended) {
        return -1;
    }
    if (input.position >= input.buffer.size() && !Refill(input)) {
        input.ended = true;
        return -1;
    }
    const char c = input.buffer[input.position];
    if (c == kEndOfInputChar) {
        input.ended = true;
        return -1;
    }
    return static_cast<unsigned char>(c);
}

void Advance(ConsoleInput& input) {
    ++input.position;
}

bool IsBlankOrControl(int c) {
    return c >= 0 && c <= 32;
}

// Consumes input through the next line feed, or up to the end of input. A
// carriage return alone does not end a line.
void DiscardLine(ConsoleInput& input) {
    for (int c = Peek(input); c >= 0; c = Peek(input)) {
        Advance(input);
        if (c == '\n') {
            return;
        }
    }
}

}  // namespace

ConsoleInput InputFromText(std::string text) {
    ConsoleInput input;
    input.fromStandardInput = false;
    input.buffer = std::move(text);
    return input;
}

std::int32_t ReadInteger(ConsoleInput& input, IntegerRules rules) {
    int c = Peek(input);
    while (IsBlankOrControl(c)) {
        Advance(input);
        c = Peek(input);
    }
    if (c < 0) {
        return 0;  // the end of input is no error
    }
    std::string token;
    while (c > 32 && token.size() < kTokenLimit) {
        token += static_cast<char>(c);
        Advance(input);
        c = Peek(input);
    }
    // A token cut at the limit is not the number that was typed: its first
    // 32 characters may still convert ("000...0" of "000...0012345678"), so
    // it fails instead of giving that wrong value.
    const bool cut = c > 32;
    // The line is consumed before a bad number is reported, so a caller that
    // handles the error goes on with the next line.
    DiscardLine(input);
    const std::optional<std::int32_t> value = cut ? std::nullopt : ParseInteger(token, rules);
    if (!value) {
        throw EInOutError{std::string(kBadNumberMessage), ReadLocation()};
    }
    return *value;
}

void SkipLine(ConsoleInput& input) {
    DiscardLine(input);
}

std::int32_t ReadInteger(IntegerRules rules) {
    return ReadInteger(standardInput, rules);
}

void SkipLine() {
    SkipLine(standardInput);
}
