// FormatText over the system's own format texts (and, now and then, an
// arbitrary one) with arbitrary values: each directive gives what its value
// says in the form the console lines and child command lines rely on, a
// value of the wrong type or a missing one leaves the directive as written,
// and the rest of the format is copied.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "format_unit.h"
#include "fuzz_check.h"
#include "locale_unit.h"
#include "program_lines_unit.h"

namespace {

// Every format the programs and the common units pass to FormatText, from
// their one source: a new format is fuzzed as soon as it is there.
constexpr std::size_t kFormatCount = std::size(kProgramFormats);
constexpr std::size_t kMaxValues = 6;
constexpr std::size_t kLineLimit = 255;  // one console line

// The fuzz input, taken apart byte by byte; missing bytes read as zero.
struct Reader {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;

    std::uint8_t Byte() { return at < size ? data[at++] : 0; }
};

std::uint64_t Bits(Reader& in, int bytes) {
    std::uint64_t bits = 0;
    for (int i = 0; i < bytes; ++i) {
        bits = bits << 8 | in.Byte();
    }
    return bits;
}

// Texts point into the fuzz input, which outlives the call.
FormatValue NextValue(Reader& in) {
    switch (in.Byte() % 4) {
        case 0:
            return static_cast<std::int32_t>(static_cast<std::uint32_t>(Bits(in, 4)));
        case 1: {  // any bit pattern: NaN, infinities, huge, subnormal
            const std::uint64_t bits = Bits(in, 8);
            double x = 0;
            std::memcpy(&x, &bits, sizeof x);
            return x;
        }
        case 2: {
            const std::size_t length = std::min<std::size_t>(in.Byte() % 64, in.size - in.at);
            const std::string_view text(reinterpret_cast<const char*>(in.data + in.at), length);
            in.at += length;
            return text;
        }
        default:  // a waiting time of the monitor: milliseconds as seconds
            return static_cast<std::int32_t>(static_cast<std::uint32_t>(Bits(in, 4))) / 1000.0;
    }
}

std::string Format(std::string_view format, const std::vector<FormatValue>& v) {
    switch (v.size()) {
        case 0:
            return FormatText(format);
        case 1:
            return FormatText(format, {v[0]});
        case 2:
            return FormatText(format, {v[0], v[1]});
        case 3:
            return FormatText(format, {v[0], v[1], v[2]});
        case 4:
            return FormatText(format, {v[0], v[1], v[2], v[3]});
        case 5:
            return FormatText(format, {v[0], v[1], v[2], v[3], v[4]});
        default:
            return FormatText(format, {v[0], v[1], v[2], v[3], v[4], v[5]});
    }
}

std::string WithSeparator(std::string text, char from, char to) {
    for (char& c : text) {
        if (c == from) {
            c = to;
        }
    }
    return text;
}

bool AllDigits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// %d: the number exactly, no sign but a minus, no leading zeros.
void CheckInteger(std::string_view text, std::int32_t n) {
    const std::string_view digits = text.substr(text.starts_with('-') ? 1 : 0);
    Require(AllDigits(digits) && (digits.size() == 1 || digits[0] != '0'),
            "%d writes plain decimal digits");
    Require(std::strtoll(std::string(text).c_str(), nullptr, 10) == n, "%d reads back exactly");
}

// %f: a minus, digits, the separator and two digits; the exact binary value
// rounded to hundredths, a tie to the even digit.
void CheckFixed(std::string_view text, double x, char separator) {
    static_assert(std::numeric_limits<long double>::digits >= 64, "x * 100 must be exact");
    if (!std::isfinite(x)) {
        Require(text.size() <= 4, "%f of NaN or infinity is short");
        return;
    }
    const bool minus = text.starts_with('-');
    const std::string_view unsignedText = text.substr(minus ? 1 : 0);
    const std::size_t dot = unsignedText.size() - 3;
    Require(unsignedText.size() >= 4 && unsignedText[dot] == separator &&
                AllDigits(unsignedText.substr(0, dot)) && AllDigits(unsignedText.substr(dot + 1)),
            "%f writes digits, the locale's separator and two digits");
    if (std::fabs(x) > 1e15) {
        // Beyond this, every double within 0.005 of the text is x itself.
        const std::string c = WithSeparator(std::string(text), separator, '.');
        Require(std::strtod(c.c_str(), nullptr) == x, "a large %f reads back exactly");
        return;
    }
    const std::string digits =
        std::string(unsignedText.substr(0, dot)) + std::string(unsignedText.substr(dot + 1));
    const long long hundredths = std::stoll(digits);
    const long double error = std::fabs(static_cast<long double>(hundredths) -
                                        std::fabs(static_cast<long double>(x) * 100));
    Require(error <= 0.5L, "%f is within 0.005 of the value");
    Require(error < 0.5L || hundredths % 2 == 0, "%f rounds a tie to the even digit");
    Require(minus == (x < 0 && hundredths != 0), "%f has a minus exactly when it shows");
}

// %g: the value to 15 significant digits as the C library writes it, with
// the locale's separator; a negative zero without its sign.
void CheckGeneral(std::string_view text, double x, char separator) {
    if (!std::isfinite(x)) {
        Require(text.size() <= 4, "%g of NaN or infinity is short");
        return;
    }
    char c[64];
    std::snprintf(c, sizeof c, "%.15g", x == 0 ? 0.0 : x);
    const std::string expected = WithSeparator(c, '.', separator);
    if (expected.find('e') == std::string::npos) {
        Require(text == expected, "%g writes 15 significant digits");
    } else {
        const std::string back = WithSeparator(std::string(text), separator, '.');
        Require(std::strtod(back.c_str(), nullptr) == std::strtod(c, nullptr),
                "%g with an exponent has the value to 15 digits");
    }
    // The monitor's waiting times, whole milliseconds as seconds.
    if (std::fabs(x) < 2147483.648 && x == std::round(x * 1000) / 1000) {
        Require(text.find_first_of("eE") == std::string_view::npos,
                "%g of a waiting time has no exponent");
    }
}

// The text of one directive with its value; checks the value's own text.
std::string DirectiveText(std::string_view directive, std::size_t width, char conversion,
                          const FormatValue* value, char separator) {
    const bool typeFits =
        value != nullptr &&
        ((conversion == 's' && std::holds_alternative<std::string_view>(*value)) ||
         (conversion == 'd' && std::holds_alternative<std::int32_t>(*value)) ||
         ((conversion == 'f' || conversion == 'g') && std::holds_alternative<double>(*value)));
    const std::string alone =
        value != nullptr ? FormatText(directive, {*value}) : FormatText(directive);
    if (!typeFits) {
        Require(alone == directive, "a directive without a fitting value is written as it is");
        return alone;
    }
    if (conversion == 's') {
        const std::string_view given = std::get<std::string_view>(*value);
        const std::size_t blanks = alone.size() - given.size();
        Require(alone.size() == std::max(width, given.size()) &&
                    alone.find_first_not_of(' ') >= blanks && alone.substr(blanks) == given,
                "%s writes the text unchanged, right-aligned");
        return alone;
    }
    const std::string_view text =
        std::string_view(alone).substr(std::min(alone.find_first_not_of(' '), alone.size()));
    Require(alone.size() == std::max(width, text.size()),
            "a width right-aligns with blanks and never cuts");
    if (conversion == 'd') {
        CheckInteger(text, std::get<std::int32_t>(*value));
    } else if (conversion == 'f') {
        CheckFixed(text, std::get<double>(*value), separator);
    } else {
        CheckGeneral(text, std::get<double>(*value), separator);
    }
    return alone;
}

// The formatted line as its parts give it: literal characters copied, each
// directive "%", width digits and one of s, d, f, g taking the next value.
std::string LineFromParts(std::string_view format, const std::vector<FormatValue>& values,
                          char separator) {
    std::string line;
    std::size_t next = 0;
    std::size_t i = 0;
    while (i < format.size()) {
        std::size_t end = i + 1;
        std::size_t width = 0;
        while (format[i] == '%' && end < format.size() && format[end] >= '0' &&
               format[end] <= '9') {
            width = std::min<std::size_t>(width * 10 + (format[end] - '0'), kLineLimit);
            ++end;
        }
        if (format[i] != '%' || end == format.size() ||
            std::string_view("sdfg").find(format[end]) == std::string_view::npos) {
            line += format[i++];
            continue;
        }
        const FormatValue* value = next < values.size() ? &values[next] : nullptr;
        line += DirectiveText(format.substr(i, end + 1 - i), width, format[end], value, separator);
        ++next;
        i = end + 1;
    }
    return line;
}

// A line of the system's sizes: texts such as names and time stamps, numbers
// up to 1e15.
bool OfSystemSize(const std::vector<FormatValue>& values) {
    for (const FormatValue& value : values) {
        if (const auto* text = std::get_if<std::string_view>(&value); text && text->size() > 32) {
            return false;
        }
        if (const auto* x = std::get_if<double>(&value); x && !(std::fabs(*x) <= 1e15)) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reader in{data, size};
    const std::size_t choice = in.Byte() % (kFormatCount + 1);
    const char separator = in.Byte() % 2 == 0 ? '.' : ',';
    UseLocaleSettings({':', separator});
    std::vector<FormatValue> values;
    const std::size_t count = in.Byte() % (kMaxValues + 1);
    while (values.size() < count) {
        values.push_back(NextValue(in));
    }
    // The last choice is a format of the fuzzer's own: the rest of the input.
    const bool systemFormat = choice < kFormatCount;
    const std::string_view format =
        systemFormat ? kProgramFormats[choice].format
                     : std::string_view(reinterpret_cast<const char*>(data + in.at), size - in.at);

    const std::string line = Format(format, values);
    Require(line == LineFromParts(format, values, separator),
            "the line is the format with each directive replaced in turn");
    if (systemFormat && OfSystemSize(values)) {
        Require(line.size() <= kLineLimit, "a line of the system fits on a console line");
    }
    return 0;
}
