// FormatText: the system's small printf. Numbers are formatted without the C
// locale (std::to_chars) and then given the user's decimal separator, so the
// result is the same on every platform and in every thread.
//
// A directive is "%", an optional width of decimal digits, and one of s, d,
// f, g; the width right-aligns any directive's result with blanks and never
// cuts it. Anything else after "%" is not a directive and is copied as it is.
// Each directive takes the next value. When the values have run out, or the
// value has the wrong type (%d wants a 32-bit integer, %f and %g a floating
// value, %s a text), the directive is written literally; a value of the wrong
// type is still used up, so later directives keep their own values.
#include "format_unit.h"

#include <charconv>
#include <cstddef>

#include "locale_unit.h"

namespace {

// Longer fields than a whole line are never needed; this also keeps a
// malformed width from asking for a huge allocation.
constexpr std::size_t kWidthLimit = 255;

struct Directive {
    std::size_t width = 0;
    char conversion = 0;     // 's', 'd', 'f' or 'g'; 0 when the text is no directive
    std::size_t length = 0;  // characters of the directive in the format
};

// Reads the directive that starts at format[start] == '%'.
Directive ReadDirective(std::string_view format, std::size_t start) {
    Directive directive;
    std::size_t i = start + 1;
    while (i < format.size() && format[i] >= '0' && format[i] <= '9') {
        directive.width = directive.width * 10 + static_cast<std::size_t>(format[i] - '0');
        if (directive.width > kWidthLimit) {
            directive.width = kWidthLimit;
        }
        ++i;
    }
    if (i < format.size()) {
        const char c = format[i];
        if (c == 's' || c == 'd' || c == 'f' || c == 'g') {
            directive.conversion = c;
            directive.length = i + 1 - start;
        }
    }
    return directive;
}

// A floating-point number in the given notation, with the locale's decimal
// separator. A negative value that shows as zero loses its sign.
std::string FloatText(double value, std::chars_format notation, int precision) {
    char digits[400];  // room for the widest fixed-notation double
    const auto result = std::to_chars(digits, digits + sizeof digits, value, notation, precision);
    std::string text(digits, result.ptr);
    if (!text.empty() && text[0] == '-' &&
        text.find_first_of("123456789", 1) == std::string::npos &&
        text.find_first_of("ni", 1) == std::string::npos) {  // not -nan, -inf
        text.erase(0, 1);
    }
    const char separator = CurrentLocaleSettings().decimalSeparator;
    for (char& c : text) {
        if (c == '.') {
            c = separator;
        }
    }
    return text;
}

// The directive's text for the value, or false when the value has the wrong
// type for it.
bool ConvertValue(char conversion, const FormatValue& value, std::string& text) {
    if (conversion == 's') {
        if (const auto* s = std::get_if<std::string_view>(&value)) {
            text.assign(*s);
            return true;
        }
        return false;
    }
    if (conversion == 'd') {
        if (const auto* n = std::get_if<std::int32_t>(&value)) {
            text = std::to_string(*n);
            return true;
        }
        return false;
    }
    if (const auto* x = std::get_if<double>(&value)) {
        text = conversion == 'f' ? FloatText(*x, std::chars_format::fixed, 2)
                                 : FloatText(*x, std::chars_format::general, 15);
        return true;
    }
    return false;
}

}  // namespace

std::string FormatText(std::string_view format, std::initializer_list<FormatValue> values) {
    std::string out;
    out.reserve(format.size() + 16 * values.size());
    const FormatValue* next = values.begin();
    std::size_t i = 0;
    while (i < format.size()) {
        if (format[i] != '%') {
            out += format[i++];
            continue;
        }
        const Directive directive = ReadDirective(format, i);
        if (directive.conversion == 0) {
            out += format[i++];
            continue;
        }
        std::string text;
        const bool converted =
            next != values.end() && ConvertValue(directive.conversion, *next, text);
        if (next != values.end()) {
            ++next;
        }
        if (!converted) {
            out.append(format.substr(i, directive.length));
        } else {
            if (text.size() < directive.width) {
                out.append(directive.width - text.size(), ' ');
            }
            out += text;
        }
        i += directive.length;
    }
    return out;
}
