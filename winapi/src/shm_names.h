// Inside the layer: where a named block lives and which objects may be used
// as blocks.
//
// A named block is the file "herdlab-map-<uid>-<escaped name>" in the user's
// own place for named objects (user_place.h): every byte of the Windows-1251
// name outside [A-Za-z0-9._-] is written as "%XX" (upper-case hex), so the
// block of "\x05Tandy" is "<place>/herdlab-map-<uid>-%05Tandy". Programs that
// do not use this library find the blocks by that path.
#pragma once

#include <climits>
#include <cstddef>

#include "herdlab_winapi.h"
#include "user_place.h"

namespace winapi_internal {

// The place + "/" + a file name of at most NAME_MAX bytes + the terminator.
inline constexpr std::size_t kBlockPathCapacity = kPlaceCapacity + 1 + NAME_MAX + 1;

// A block's file path and the folder it is in.
struct BlockPath {
    char path[kBlockPathCapacity];
    const char* folder;
};

// Builds the block's path from a Windows-1251 name; false with the Win32
// error in `error`: ENAMETOOLONG when the file name would not fit NAME_MAX,
// UserPlace's error when the user has no place.
bool MakeBlockPath(const char* name, BlockPath& out, DWORD& error);

// True when the object open on `fd` may be used as a block: a plain file of
// our own user with mode 0600. Anything else may have been planted by someone
// else and is never used, resized or removed.
bool IsOurBlock(int fd);

// True while `path` still names the object open on `fd`: the name was neither
// removed nor given to a new object meanwhile. Async-signal-safe.
bool NamesObject(const char* path, int fd);

// The Win32 error for a failed open or map: ERROR_ACCESS_DENIED for EACCES
// and EPERM, else the errno itself (ENOENT is ERROR_FILE_NOT_FOUND).
DWORD ErrorOfOpen(int error);

}  // namespace winapi_internal
