// Index-to-class and class-to-name lookups over the built-in tables.
#include "priority_unit.h"

void ApplyPriorityIndex(DWORD& priorityClass, std::int64_t index) {
    if (index >= 0 && index < kPriorityCount) {
        priorityClass = kPriorityClasses[index];
    }
}

std::string_view PriorityName(DWORD priorityClass) {
    for (int i = 0; i < kPriorityCount; ++i) {
        if (kPriorityClasses[i] == priorityClass) {
            return kPriorityNames[i];
        }
    }
    return {};
}

std::string_view OwnPriorityName() {
    return PriorityName(GetPriorityClass(GetCurrentProcess()));
}
