// The time stamp of event lines. It is taken right before the line is
// formatted and never cached, so the order of lines on the shared console
// shows the order in which the processes reached their events.
#include "curtime_unit.h"

#include "locale_unit.h"

namespace {

// Appends `value` as exactly `digits` decimal digits, zero-filled.
void AppendDigits(std::string& text, unsigned value, int digits) {
    char field[8];
    for (int i = digits - 1; i >= 0; --i) {
        field[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    text.append(field, static_cast<std::size_t>(digits));
}

}  // namespace

std::string TimeText(const SYSTEMTIME& time) {
    const char separator = CurrentLocaleSettings().timeSeparator;
    std::string text;
    text.reserve(12);
    // The hour has no leading zero; the full stop before the milliseconds
    // is literal, never the locale's decimal separator.
    text += std::to_string(time.wHour);
    text += separator;
    AppendDigits(text, time.wMinute, 2);
    text += separator;
    AppendDigits(text, time.wSecond, 2);
    text += '.';
    AppendDigits(text, time.wMilliseconds, 3);
    return text;
}

std::string CurrentTimeText() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return TimeText(now);
}
