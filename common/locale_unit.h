// The user's locale settings that the system's texts depend on, read once at
// program start and fixed for the run.
#pragma once

struct LocaleSettings {
    char timeSeparator = ':';     // between hours, minutes and seconds of a time stamp
    char decimalSeparator = '.';  // in %f, %g and when reading floating-point numbers
};

// Reads the separators from the user's locale (LOCALE_STIME, LOCALE_SDECIMAL);
// a locale that gives none keeps the default. Every program calls it first.
void ReadLocaleSettings();

// Replaces the settings; for ReadLocaleSettings and for tests.
void UseLocaleSettings(LocaleSettings settings);

const LocaleSettings& CurrentLocaleSettings();
