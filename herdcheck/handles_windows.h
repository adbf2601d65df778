// Windows: the HANDLEs herdcheck keeps in its platform-neutral integer fields.
#pragma once

#include <cstdint>

#include "win32.h"

inline HANDLE HandleOf(std::intptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}
