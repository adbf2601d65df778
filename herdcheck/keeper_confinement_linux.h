// What the keeper does to the child before its program runs (keeper_linux.h):
// its own user namespace mapped to the checker's user, the limits of
// processes and memory, and Landlock's confinement of its writes; and the
// rule of where a child may write, which the call watch applies to name an
// attempt.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "keeper_linux.h"

// What the program's fork needs right before exec.
struct ProgramStart {
    const KeeperPlan* plan = nullptr;
    int listener = -1;   // the call watch's descriptor, closed in the program
    int pidReport = -1;  // write end: the program's process id as the checker sees it
};

// In the program's fork, right before exec (async-signal-safe calls only):
// limits and confines it, and reports its process id. `context` is a
// ProgramStart; returns 0, or the errno that stops the start.
int ConfineProgram(void* context);

// Inside a new user namespace, maps the checker's user and group to
// themselves, so files and blocks keep their owner.
bool MapOwnUser(uid_t uid, gid_t gid);

// Whether this user may make user, process and network namespaces (tried
// in a child of its own).
bool NamespacesWork();

// Landlock's ABI version on this machine; 0 without Landlock.
int LandlockAbi();

// The process id of the caller as the checker, outside the namespace, sees it.
std::int32_t OuterPid();

// Whether a write to `path` stays where the child may write: its scratch
// folder (where a relative path starts; its block is in it) and /dev/null.
// What interpreters try on their own (Python's __pycache__, a shell's
// /dev/tty) is refused by Landlock like any other write outside, but not
// counted as the child's.
bool WriteAllowed(const std::string& path, const KeeperPlan& plan);
