// Inside the layer: what a HANDLE points to. Every object starts with a
// HandleHeader so CloseHandle and the calls that take a handle can tell the
// kinds apart and refuse a handle of the wrong kind (ERROR_INVALID_HANDLE).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

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

// The object behind `handle` if it is of `kind`, else null.
inline HandleHeader* HandleOfKind(HANDLE handle, HandleKind kind) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    auto* header = static_cast<HandleHeader*>(handle);
    return header->magic == kHandleMagic && header->kind == kind ? header : nullptr;
}

// Per-kind close operations, called by CloseHandle (handles.cpp).
BOOL CloseProcessObject(HandleHeader* object);  // process.cpp
BOOL CloseThreadObject(HandleHeader* object);   // threads.cpp
BOOL CloseMappingObject(HandleHeader* object);  // shared_memory.cpp

// Lets go of every shared-memory block this process holds, removing the names
// no other process holds; called when the process ends without running exit
// handlers (shm_exit_release.cpp).
void RemoveCreatedMappingNames();

// The Windows-1251 <-> UTF-8 conversions that CreateProcessA, GetCommandLineA
// and the shared-memory names need (codepages.cpp).
std::string Cp1251ToUtf8(std::string_view text);
std::string Utf8ToCp1251(std::string_view text);  // unmappable characters become '?'

}  // namespace winapi_internal
