// TextToFloat with a point and with a comma as the locale's separator: it
// accepts exactly the texts of the floating-point grammar with that
// separator, and gives the value strtod reads from them.
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "errors_unit.h"
#include "fuzz_check.h"
#include "locale_unit.h"
#include "number_text_unit.h"

namespace {

bool IsAllDigits(std::string_view text) {
    return text.find_first_not_of("0123456789") == std::string_view::npos;
}

// The grammar taken apart from the outside in, unlike the parser's scan from
// left to right: blanks around, then a sign, then the mantissa up to the
// first "e" or "E" (digits with at most one separator, at least one digit or
// the separator), then the exponent (a sign and at least one digit).
bool MatchesGrammar(std::string_view text, char separator) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return false;
    }
    std::string_view number = text.substr(first, text.find_last_not_of(' ') + 1 - first);
    if (number[0] == '+' || number[0] == '-') {
        number.remove_prefix(1);
    }
    const std::size_t e = number.find_first_of("eE");
    std::string_view mantissa = number.substr(0, e);
    const std::size_t point = mantissa.find(separator);
    if (mantissa.empty() ||
        !(IsAllDigits(mantissa.substr(0, point)) &&
          (point == std::string_view::npos || IsAllDigits(mantissa.substr(point + 1))))) {
        return false;
    }
    if (e == std::string_view::npos) {
        return true;
    }
    std::string_view exponent = number.substr(e + 1);
    if (!exponent.empty() && (exponent[0] == '+' || exponent[0] == '-')) {
        exponent.remove_prefix(1);
    }
    return !exponent.empty() && IsAllDigits(exponent);
}

// What strtod reads from the text with the separator as a point. A mantissa
// without digits (a lone separator) reads as 0.
struct CReading {
    double value = 0.0;
    bool outOfRange = false;
};

CReading ReadWithStrtod(std::string_view text, char separator) {
    std::string c(text);
    for (char& ch : c) {
        if (ch == separator) {
            ch = '.';
        }
    }
    const std::size_t firstDigit = c.find_first_of("0123456789");
    const std::size_t exponent = c.find_first_of("eE");
    if (firstDigit == std::string::npos || firstDigit > exponent) {
        const bool negative = c[c.find_first_not_of(' ')] == '-';
        return {negative ? -0.0 : 0.0, false};
    }
    errno = 0;
    CReading reading;
    reading.value = std::strtod(c.c_str(), nullptr);
    reading.outOfRange = errno == ERANGE;
    return reading;
}

void CheckWithSeparator(std::string_view text, char separator) {
    UseLocaleSettings({':', separator});
    std::optional<double> converted;
    try {
        converted = TextToFloat(text);
    } catch (const EConvertError& error) {
        Require(error.message == "'" + std::string(text) + "' is not a valid floating point value",
                "the message of a bad float quotes the text");
    }
    if (!MatchesGrammar(text, separator)) {
        Require(!converted, "only texts of the grammar with the locale's separator convert");
        return;
    }
    const CReading expected = ReadWithStrtod(text, separator);
    if (!expected.outOfRange) {
        Require(converted.has_value(), "a text of the grammar with a value in range converts");
        Require(*converted == expected.value, "the value is the one strtod reads");
    } else if (std::isinf(expected.value) || expected.value == 0.0) {
        Require(!converted, "a value too large or too small for double fails");
    } else {
        // A subnormal result: it may convert, but only to the nearest double.
        Require(!converted || *converted == expected.value, "a subnormal value is the nearest");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CheckWithSeparator(text, '.');
    CheckWithSeparator(text, ',');
    return 0;
}
