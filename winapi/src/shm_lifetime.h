// Inside the layer: how long a block's name lives.
//
// As on Windows, a name lives while some process holds a handle to its block
// or a view of it, and ends with the last one, however that process ends.
// Every holder keeps a shared flock on the object's file for as long as it
// holds it; the kernel drops the lock when the holder ends, SIGKILL included.
// So:
//   - the last holder to let go (its exclusive lock succeeds) removes the name;
//   - a name whose object nobody holds (an exclusive lock succeeds at once) is
//     what a crashed last holder left: it counts as gone and is removed by
//     whoever finds it;
//   - a new block is published under its name only once it is sized, has mode
//     0600 and is held, so no one ever finds a half-made or unheld new block;
//   - after taking its shared lock a holder checks that the name still leads
//     to the object it locked: a name removed or replaced meanwhile is looked
//     up again, so nobody keeps a block that later openers cannot see.
#pragma once

#include <cstdint>

#include "herdlab_winapi.h"
#include "shm_names.h"

namespace winapi_internal {

// Opens and holds the live block at `name`. Returns the descriptor (close-on-
// exec), or -1 with the Win32 error in `error`: ERROR_FILE_NOT_FOUND when
// there is no live block (a stale one is removed), ERROR_ACCESS_DENIED when
// the object is not ours or not mode 0600.
int HoldExistingBlock(const BlockPath& name, bool writable, DWORD& error);

// Holds the live block at `name`, grown to `size` when smaller, or publishes a
// new zeroed one of `size` bytes in place of a missing or stale one. Returns
// the read-write descriptor with `existed` set, or -1 with the Win32 error.
int HoldBlock(const BlockPath& name, std::uint64_t size, bool& existed, DWORD& error);

// Lets go of the hold on `fd`; when no other holder is left, removes the name
// first, unless it already leads to another object. Other holders get up to
// 50 ms to end. The descriptor stays open. Async-signal-safe.
void ReleaseBlock(const char* path, int fd);

}  // namespace winapi_internal
