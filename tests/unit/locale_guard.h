// Locale settings for a test: restored when the guard goes out of scope.
#pragma once

#include "locale_unit.h"

struct LocaleGuard {
    LocaleSettings saved = CurrentLocaleSettings();
    ~LocaleGuard() { UseLocaleSettings(saved); }
};

inline void UseDecimalSeparator(char separator) {
    LocaleSettings settings = CurrentLocaleSettings();
    settings.decimalSeparator = separator;
    UseLocaleSettings(settings);
}
