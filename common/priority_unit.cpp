// Index-to-class and class-to-name lookups over the built-in tables.
#include "priority_unit.h"

void ApplyPriorityIndex(DWORD& priorityClass, std::int64_t index) {
    if (index >= 0 && index < kPriorityCount) {
        priorityClass = kPriorityClasses[index];
    }
}

std::string_view PriorityName(DWORD priorityClass, PriorityNameRows rows) {
    const int rowCount = static_cast<int>(rows);
    for (int i = 0; i < rowCount; ++i) {
        if (kPriorityClasses[i] == priorityClass) {
            return kPriorityNames[i];
        }
    }
    return {};
}

std::string_view OwnPriorityName(PriorityNameRows rows) {
    return PriorityName(GetPriorityClass(GetCurrentProcess()), rows);
}
