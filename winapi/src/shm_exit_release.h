// Inside the layer: letting go of the blocks a process holds when it ends.
//
// The kernel drops an ending process's locks, so a name nobody holds any more
// counts as gone for every later user. Its file, though, stays until someone
// looks the name up again. So that an orderly end leaves nothing behind, the
// holds are also released, removing names no one else holds, when the process
// exits (exit, ExitProcess) and when SIGINT or SIGTERM ends it.
#pragma once

#include <signal.h>

namespace winapi_internal {

// Puts the release in place (first call), then holds SIGINT and SIGTERM back
// until RestoreSignals, so that a hold is taken and recorded before either
// signal can end the process. Returns the mask to restore.
sigset_t DeferTerminatingSignals();
void RestoreSignals(const sigset_t& previous);

// Records a hold on the block file `path` open on `fd` for release at the
// process's end. Returns its slot, -1 when the table is full (that hold is
// then left to the kernel and the next user of the name).
int RecordHold(const char* path, int fd);

// Releases the hold now (see ReleaseBlock) and forgets it, unless the
// process's end has released it already. `slot` may be -1.
void ReleaseRecordedHold(int slot, const char* path, int fd);

}  // namespace winapi_internal
