// Reading printed text back: the reverse of FormatText and TimeText.
#include "format_match_unit.h"

#include <algorithm>

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Where the run of digits at `at` ends.
std::size_t DigitsEnd(std::string_view text, std::size_t at) {
    while (at < text.size() && IsDigit(text[at])) {
        ++at;
    }
    return at;
}

// Where a number printed by %d (%2d, %7d: blanks before it), %f or %g that
// begins at `at` ends; `at` itself when there is none. A fraction has
// either decimal separator, as the locale gave it.
std::size_t NumberEnd(std::string_view text, std::size_t at, char conversion) {
    while (conversion == 'd' && at < text.size() && text[at] == ' ') {
        ++at;
    }
    const std::size_t sign = at < text.size() && text[at] == '-' ? at + 1 : at;
    std::size_t end = DigitsEnd(text, sign);
    if (end == sign) {
        return at;
    }
    if (conversion != 'd' && end + 1 < text.size() && (text[end] == '.' || text[end] == ',') &&
        IsDigit(text[end + 1])) {
        end = DigitsEnd(text, end + 1);
    }
    if (conversion == 'g' && end + 2 < text.size() && text[end] == 'e' &&
        (text[end + 1] == '+' || text[end + 1] == '-') && IsDigit(text[end + 2])) {
        end = DigitsEnd(text, end + 2);
    }
    return end;
}

// Where the text of a %s ends, given the constant part after it in the
// format: the first place that part appears, or, when it ends the format,
// the place it ends the line. npos when it does not appear.
std::size_t TextEnd(std::string_view text, std::size_t at, std::string_view following,
                    bool endsFormat) {
    if (following.empty()) {
        return text.size();
    }
    if (!endsFormat) {
        return text.find(following, at);
    }
    if (text.size() - at < following.size() ||
        text.substr(text.size() - following.size()) != following) {
        return std::string_view::npos;
    }
    return text.size() - following.size();
}

// Reads `count` digits at `at` into `value`.
bool ReadDigits(std::string_view text, std::size_t& at, std::size_t count, int& value) {
    if (text.size() - at < count || DigitsEnd(text, at) - at < count) {
        return false;
    }
    value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        value = value * 10 + (text[at++] - '0');
    }
    return true;
}

}  // namespace

bool MatchFormat(std::string_view format, std::string_view text, FormatFields& fields,
                 bool restAllowed) {
    fields.count = 0;
    std::size_t at = 0;
    for (std::size_t f = 0; f < format.size();) {
        const std::size_t percent = std::min(format.find('%', f), format.size());
        const std::string_view constant = format.substr(f, percent - f);
        if (text.substr(at, constant.size()) != constant) {
            return false;
        }
        at += constant.size();
        if (percent == format.size()) {
            break;
        }
        std::size_t conversion = percent + 1;
        while (conversion < format.size() && IsDigit(format[conversion])) {
            ++conversion;  // a width
        }
        if (conversion == format.size()) {
            return false;
        }
        f = conversion + 1;
        const std::size_t next = std::min(format.find('%', f), format.size());
        const bool endsFormat = next == format.size() && !restAllowed;
        const std::size_t end = format[conversion] == 's'
                                    ? TextEnd(text, at, format.substr(f, next - f), endsFormat)
                                    : NumberEnd(text, at, format[conversion]);
        if (end == std::string_view::npos || end < at || (format[conversion] != 's' && end == at)) {
            return false;
        }
        if (fields.count < kMostFormatFields) {
            fields.values[fields.count++] = text.substr(at, end - at);
        }
        at = end;
    }
    return restAllowed || at == text.size();
}

bool MatchTimeStamp(std::string_view text, std::int64_t& millisOfDay, std::size_t& length) {
    std::size_t at = 0;
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
    int millis = 0;
    const bool twoDigitHour = text.size() > 1 && IsDigit(text[1]);
    if (!ReadDigits(text, at, twoDigitHour ? 2 : 1, hours) || at >= text.size()) {
        return false;
    }
    const char separator = text[at++];
    if (separator == ' ' || !ReadDigits(text, at, 2, minutes) || at >= text.size() ||
        text[at++] != separator || !ReadDigits(text, at, 2, seconds) || at >= text.size() ||
        text[at++] != '.' || !ReadDigits(text, at, 3, millis)) {
        return false;
    }
    if (hours > 23 || minutes > 59 || seconds > 59) {
        return false;
    }
    millisOfDay = ((hours * 60 + minutes) * 60 + seconds) * std::int64_t{1000} + millis;
    length = at;
    return true;
}
