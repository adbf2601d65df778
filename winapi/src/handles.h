// Inside the layer: handles and the objects behind them. Every object starts
// with a HandleHeader, so the calls that take a handle can refuse one of the
// wrong kind (ERROR_INVALID_HANDLE) and CloseHandle can let the object go.
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
    kThread,         // a thread started by CreateThread
    kChildThread,    // a child's main thread, held before exec when started suspended
    kMapping,        // a named shared-memory block
    kStandardStream  // GetStdHandle's result for fd 0, 1 or 2
};

struct HandleHeader {
    HandleKind kind;
    // Frees the object once CloseHandle has taken its handle out of the
    // table. Each kind's creator sets its own, so the table knows no kind.
    // Null for an object that lives as long as the process (a standard
    // stream): its handle stays valid after CloseHandle, as on Windows.
    void (*release)(HandleHeader* object);
};

// A new handle for `object`, which the handle table owns from now on.
HANDLE NewHandle(HandleHeader* object);

// The object behind `handle` if it is a live handle of `kind`, else null.
HandleHeader* HandleOfKind(HANDLE handle, HandleKind kind);

}  // namespace winapi_internal
