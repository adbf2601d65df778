// The user's locale: set once from the environment, then read for the
// decimal and time separators.
#include <langinfo.h>

#include <clocale>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

#include "text_conversion.h"
#include "user_locale.h"

namespace winapi_internal {
namespace {

// The text between the hour and the next field of a time format, e.g. ":" of
// "%H:%M:%S"; the composite fields %T, %R, %r stand for ":"-separated times.
std::string TimeSeparatorOf(std::string_view format) {
    for (std::size_t i = 0; i + 1 < format.size(); ++i) {
        if (format[i] != '%') {
            continue;
        }
        std::size_t field = i + 1;
        while (field < format.size() && (format[field] == 'E' || format[field] == 'O')) {
            ++field;  // modifiers
        }
        if (field >= format.size()) {
            break;
        }
        const char kind = format[field];
        if (kind == 'T' || kind == 'R' || kind == 'r') {
            return ":";
        }
        if (kind == 'H' || kind == 'I' || kind == 'k' || kind == 'l') {
            const std::size_t end = format.find('%', field + 1);
            return std::string(
                format.substr(field + 1, end == std::string_view::npos ? end : end - field - 1));
        }
    }
    return {};
}

// `value` in Windows-1251 into the caller's buffer, Win32 style: the count
// written with the terminator; a zero size asks for the size needed.
int CopyLocaleText(const std::string& value, LPSTR buffer, int capacity) {
    const int size = static_cast<int>(value.size()) + 1;
    if (capacity == 0) {
        return size;
    }
    if (buffer == nullptr || capacity < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (size > capacity) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(buffer, value.c_str(), value.size() + 1);
    return size;
}

// A locale that names no separator keeps the usual one.
std::string TextOrDefault(std::string_view text, std::string_view fallback) {
    return std::string(text.empty() ? fallback : text);
}

}  // namespace

void EnsureLocale() {
    static std::once_flag once;
    std::call_once(once, [] { std::setlocale(LC_ALL, ""); });
}

}  // namespace winapi_internal

using namespace winapi_internal;

int GetLocaleInfoA(LCID, LCTYPE LCType, LPSTR lpLCData, int cchData) {
    EnsureLocale();
    std::string value;
    if (LCType == LOCALE_SDECIMAL) {
        value = TextOrDefault(nl_langinfo(RADIXCHAR), ".");
    } else if (LCType == LOCALE_STIME) {
        value = TextOrDefault(TimeSeparatorOf(nl_langinfo(T_FMT)), ":");
    } else {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    return CopyLocaleText(ConvertText(value, LocaleCodePage(), 1251), lpLCData, cchData);
}
