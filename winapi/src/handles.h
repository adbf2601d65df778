// Inside the layer: handles and the objects behind them. Every object starts
// with a HandleHeader so CloseHandle and the calls that take a handle can tell
// the kinds apart and refuse a handle of the wrong kind (ERROR_INVALID_HANDLE).
//
// A handle is not the object's address but a number: a slot of the process's
// handle table and the slot's generation, which changes when the handle is
// closed. So a handle that was closed, or never given out, leads to no
// object, and the call fails with ERROR_INVALID_HANDLE, as on Windows,
// without touching freed memory.
#pragma once

#include <cstdint>

#include "herdlab_winapi.h"

namespace winapi_internal {

enum class HandleKind : std::uint32_t {
    kProcess = 1,    // a child started by CreateProcessA (holds a pidfd)
    kThread,         // a thread started by CreateThread, or a child's main thread
    kMapping,        // a named shared-memory block
    kStandardStream  // GetStdHandle's result for fd 0, 1 or 2
};

inline constexpr std::uint32_t kHandleMagic = 0x48524442;  // "HRDB"

struct HandleHeader {
    std::uint32_t magic = kHandleMagic;
    HandleKind kind;
};

// A new handle for `object`, which the handle table owns from now on.
HANDLE NewHandle(HandleHeader* object);

// The object behind `handle` if it is a live handle of `kind`, else null.
HandleHeader* HandleOfKind(HANDLE handle, HandleKind kind);

// Per-kind close operations, called by CloseHandle (handles.cpp).
BOOL CloseProcessObject(HandleHeader* object);  // process.cpp
BOOL CloseThreadObject(HandleHeader* object);   // threads.cpp
BOOL CloseMappingObject(HandleHeader* object);  // shared_memory.cpp

// Frees `object` if it is the main-thread object of a child that
// CreateProcessA made; false when it is some other thread object
// (process.cpp).
bool CloseChildThreadObject(HandleHeader* object);

}  // namespace winapi_internal
