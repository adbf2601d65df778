// Inside the layer: starting a child process (spawn.cpp).
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "herdlab_winapi.h"

namespace winapi_internal {

// Starts `path` with `argv` (null-terminated) in `priorityClass` (0: the
// launcher's own scheduling), applied in the child before exec. The child
// keeps only standard input, output and error, and default signal handling.
// Returns the child's pid, or -1 with errno set to the failure: fork's, or
// the exec's as the child reported it (ENOENT = 2 for a missing program).
pid_t StartChild(const std::string& path, std::vector<char*>& argv, DWORD priorityClass);

// Waits for the ended child `pid` so that it leaves no zombie.
void Reap(pid_t pid);

}  // namespace winapi_internal
