// The platform's six priority classes, numbered 0..5 from the lowest to the
// highest (the PriorityIndex), and their Russian names.
#pragma once

#include <cstdint>
#include <string_view>

#include "cp1251_unit.h"
#include "win32.h"

inline constexpr int kPriorityCount = 6;

// Class of each PriorityIndex, in index order (not in the order of values).
inline constexpr DWORD kPriorityClasses[kPriorityCount] = {
    IDLE_PRIORITY_CLASS,         BELOW_NORMAL_PRIORITY_CLASS, NORMAL_PRIORITY_CLASS,
    ABOVE_NORMAL_PRIORITY_CLASS, HIGH_PRIORITY_CLASS,         REALTIME_PRIORITY_CLASS,
};

// Names in index order (Windows-1251).
inline constexpr std::string_view kPriorityNames[kPriorityCount] = {
    "низкий"_cp1251,        "ниже среднего"_cp1251, "нормальный"_cp1251,
    "выше среднего"_cp1251, "высокий"_cp1251,       "реального времени"_cp1251,
};

// Sets `priorityClass` to the class of `index`; an index outside 0..5,
// a negative one included, leaves it unchanged.
void ApplyPriorityIndex(DWORD& priorityClass, std::int64_t index);

// The name of a class, or empty text when it is none of the six (0, the
// failure result of GetPriorityClass, included).
std::string_view PriorityName(DWORD priorityClass);

// The name of this process's own class (GetPriorityClass(GetCurrentProcess())).
std::string_view OwnPriorityName();
