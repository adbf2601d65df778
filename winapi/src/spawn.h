// Inside the layer: starting a child process for CreateProcessA (spawn.cpp).
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "herdlab_winapi.h"

namespace winapi_internal {

// A child created suspended: it has its priority class and waits just before
// exec until the launcher writes to `resumeFd` (it gives up, unstarted, when
// the launcher closes it or ends). `execResultFd` stays open for the exec's
// errno, so that a failing exec ends the child with 127 rather than SIGPIPE.
struct HeldExec {
    int resumeFd = -1;      // the launcher's end of the socket pair the child waits on
    int execResultFd = -1;  // read end of the close-on-exec error pipe
};

// Starts `path` with `argv` (null-terminated) in `priorityClass` (0: the
// launcher's own scheduling), applied in the child before exec. The child
// keeps only standard input, output and error; its handlers are back at
// their default, a signal the launcher ignores stays ignored except SIGPIPE
// and SIGCHLD, and none is blocked (child_start.h, kIgnoredKept).
// Returns the child's pid, or -1 with errno set to the failure: fork's, or
// the exec's as the child reported it (ENOENT = 2 for a missing program).
//
// With `held` the child stops short of exec instead (see HeldExec), so that
// the launcher can change it first, as a suspended process on Windows; the
// exec's failure then only ends the child, with 127.
pid_t SpawnProgram(const std::string& path, std::vector<char*>& argv, DWORD priorityClass,
                   HeldExec* held = nullptr);

// Lets a held child go on to exec, without waiting for it: a child confined
// to a busy processor may take long to get there. Closes `resumeFd`.
void ReleaseHeldExec(HeldExec& held);

// Closes a held child's descriptors; one not released yet ends unstarted.
void DropHeldExec(HeldExec& held);

// Waits for the ended child `pid` so that it leaves no zombie.
void Reap(pid_t pid);

}  // namespace winapi_internal
