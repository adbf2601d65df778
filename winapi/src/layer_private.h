// Declarations shared between the process, priority, console and locale parts
// of the layer.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "handles.h"

namespace winapi_internal {

// ---- Priority classes (priority.cpp) -----------------------------------------

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

// ---- Process objects (process.cpp) -------------------------------------------

// Frees `object` if it is the main-thread object of a child that
// CreateProcessA made; false when it is some other thread object.
bool CloseChildThreadObject(HandleHeader* object);

// ---- Text (codepages.cpp) ---------------------------------------------------

// `text` from one of the layer's code pages to another; characters the
// target lacks become '?'.
std::string ConvertText(std::string_view text, UINT fromCodePage, UINT toCodePage);

// ---- Locale (locale.cpp) -----------------------------------------------------

// Sets the C library's locale from the environment, once per process.
void EnsureLocale();

// The code page of the locale's character set (console.cpp).
UINT LocaleCodePage();

}  // namespace winapi_internal
