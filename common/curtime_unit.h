// The time stamp that opens every event line: the local time of day as
// "h:mm:ss.zzz" with the locale's time separator, read anew on every call.
#pragma once

#include <string>

#include "win32.h"

// The current local time of day, e.g. 9:05:07.042 (Windows-1251 text).
std::string CurrentTimeText();

// The same text for a given time; CurrentTimeText applies it to GetLocalTime.
std::string TimeText(const SYSTEMTIME& time);
