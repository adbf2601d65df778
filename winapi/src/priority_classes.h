// Inside the layer: the priority classes as Linux scheduling (priority.cpp),
// for CreateProcessA and GetPriorityClass.
#pragma once

#include <sys/types.h>

#include "herdlab_winapi.h"

namespace winapi_internal {

// The priority class that CreateProcessA's creation flags ask for, or 0 when
// they name none (the child then keeps the launcher's scheduling). When
// several class bits are set, the lowest class wins.
DWORD PriorityClassFromFlags(DWORD creationFlags);

// Puts the calling process into `priorityClass`, or into the highest lower
// class the user may have. Async-signal-safe: runs in a forked child.
void ApplyPriorityClass(DWORD priorityClass);

// In a forked child before exec (async-signal-safe): RaiseNiceRight makes a
// permitted CAP_SYS_NICE effective for ApplyPriorityClass; DropNiceRight then
// removes it and clears the inheritable and ambient sets, so the program the
// child runs never holds it (unless it is root's, or granted to that file).
void RaiseNiceRight();
void DropNiceRight();

// The class nearest to the scheduling of `pid` (0 = the caller); always one of
// the six. 0 with the errno in GetLastError when the process cannot be read.
DWORD PriorityClassOf(pid_t pid);

}  // namespace winapi_internal
