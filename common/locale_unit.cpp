// The separators of the user's locale, read once at start-up. After that both
// threads of a program only read them, so a plain structure is enough.
#include "locale_unit.h"

#include "win32.h"

namespace {

LocaleSettings settings;

// The first character of a locale setting, or `fallback` when the locale
// gives none.
char FirstCharOf(LCTYPE item, char fallback) {
    char text[16] = {};
    const int length = GetLocaleInfoA(LOCALE_USER_DEFAULT, item, text, sizeof text);
    // The length counts the terminating zero: 1 means an empty setting.
    if (length > 1 && text[0] != '\0') {
        return text[0];
    }
    return fallback;
}

}  // namespace

void ReadLocaleSettings() {
    const LocaleSettings defaults;
    LocaleSettings read;
    read.timeSeparator = FirstCharOf(LOCALE_STIME, defaults.timeSeparator);
    read.decimalSeparator = FirstCharOf(LOCALE_SDECIMAL, defaults.decimalSeparator);
    settings = read;
}

void UseLocaleSettings(LocaleSettings replacement) {
    settings = replacement;
}

const LocaleSettings& CurrentLocaleSettings() {
    return settings;
}
