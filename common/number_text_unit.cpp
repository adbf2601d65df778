// The integer rules and the conversions of command-line numbers.
#include "number_text_unit.h"

#include <charconv>
#include <string>
#include <system_error>

#include "errors_unit.h"
#include "format_unit.h"
#include "locale_unit.h"
#include "program_lines_unit.h"

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::size_t SkipBlanks(std::string_view text, std::size_t i) {
    while (i < text.size() && text[i] == ' ') {
        ++i;
    }
    return i;
}

// Length of the hexadecimal prefix at text[i] ("$", "x", "X", "0x", "0X"), or 0.
std::size_t HexPrefixLength(std::string_view text, std::size_t i) {
    if (i >= text.size()) {
        return 0;
    }
    const char c = text[i];
    if (c == '$' || c == 'x' || c == 'X') {
        return 1;
    }
    if (c == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        return 2;
    }
    return 0;
}

// The hex digits from text[i] to the end as 32 bits; nothing when there are
// none, another character follows, or the value needs more than 32 bits.
std::optional<std::uint32_t> HexValue(std::string_view text, std::size_t i) {
    if (i >= text.size()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (; i < text.size(); ++i) {
        const int digit = HexDigitValue(text[i]);
        if (digit < 0) {
            return std::nullopt;
        }
        value = value * 16 + static_cast<std::uint64_t>(digit);
        if (value > 0xFFFFFFFFu) {
            return std::nullopt;
        }
    }
    return static_cast<std::uint32_t>(value);
}

// The decimal digits from text[i] to the end, with the sign applied; nothing
// when there are none, another character follows, or the value leaves the
// signed 32-bit range.
std::optional<std::int32_t> DecimalValue(std::string_view text, std::size_t i, bool negative) {
    if (i >= text.size()) {
        return std::nullopt;
    }
    const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
    std::int64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        if (!IsDigit(text[i])) {
            return std::nullopt;
        }
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > limit) {
            return std::nullopt;
        }
    }
    return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

[[noreturn]] void RaiseConvertError(std::string_view pattern, std::string_view text,
                                    std::uint32_t location) {
    throw EConvertError{FormatText(pattern, {text}), location};
}

// The text rebuilt for std::from_chars: the locale's separator becomes "."
// and the blanks go. Empty when the text breaks the floating-point grammar.
std::string NormalisedFloat(std::string_view text, char separator) {
    std::size_t i = SkipBlanks(text, 0);
    std::string normal;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-') {
            normal += '-';
        }
        ++i;
    }
    std::string whole;
    std::string fraction;
    bool hasSeparator = false;
    while (i < text.size() && IsDigit(text[i])) {
        whole += text[i++];
    }
    if (i < text.size() && text[i] == separator) {
        hasSeparator = true;
        ++i;
        while (i < text.size() && IsDigit(text[i])) {
            fraction += text[i++];
        }
    }
    if (whole.empty() && fraction.empty() && !hasSeparator) {
        return {};
    }
    normal += whole.empty() ? "0" : whole;
    normal += '.';
    normal += fraction.empty() ? "0" : fraction;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        normal += 'e';
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
            normal += text[i++];
        }
        const std::size_t exponentStart = i;
        while (i < text.size() && IsDigit(text[i])) {
            normal += text[i++];
        }
        if (i == exponentStart) {
            return {};
        }
    }
    if (SkipBlanks(text, i) != text.size()) {
        return {};
    }
    return normal;
}

}  // namespace

std::optional<std::int32_t> ParseInteger(std::string_view text, IntegerRules rules) {
    std::size_t i = SkipBlanks(text, 0);
    bool negative = false;
    bool hasSign = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        hasSign = true;
        ++i;
    }
    const std::size_t prefix = HexPrefixLength(text, i);
    if (prefix == 0) {
        return DecimalValue(text, i, negative);
    }
    if (hasSign && rules == IntegerRules::kSignBeforeHexRejected) {
        return std::nullopt;
    }
    const std::optional<std::uint32_t> bits = HexValue(text, i + prefix);
    if (!bits) {
        return std::nullopt;
    }
    // Taken as 32 bits: $FFFFFFFF is -1, and a minus sign negates that.
    const std::uint32_t value = negative ? 0u - *bits : *bits;
    return static_cast<std::int32_t>(value);
}

std::int32_t ParseSettingNumber(const char* text, std::int32_t highest) {
    if (text == nullptr || *text == '\0') {
        return 0;
    }
    std::int32_t value = 0;
    for (const char* digit = text; *digit != '\0'; ++digit) {
        if (*digit < '0' || *digit > '9') {
            return 0;
        }
        value = value * 10 + (*digit - '0');
        if (value > highest) {
            return 0;  // also stops long digit strings before they overflow
        }
    }
    return value;
}

std::int32_t TextToInteger(std::string_view text) {
    const std::optional<std::int32_t> value = ParseInteger(text);
    if (!value) {
        RaiseConvertError(kNotAnIntegerMessage, text, CodeLocation(&TextToInteger));
    }
    return *value;
}

double TextToFloat(std::string_view text) {
    const std::string normal = NormalisedFloat(text, CurrentLocaleSettings().decimalSeparator);
    double value = 0.0;
    // A value beyond the range of double fails too: it has no faithful
    // result, neither infinity nor a silent zero.
    const auto result = std::from_chars(normal.data(), normal.data() + normal.size(), value);
    if (normal.empty() || result.ec != std::errc() || result.ptr != normal.data() + normal.size()) {
        RaiseConvertError(kNotAFloatMessage, text, CodeLocation(&TextToFloat));
    }
    return value;
}
