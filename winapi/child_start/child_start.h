// Starting a child process on Linux: fork (or vfork), the child's signal
// state, a step of the caller's, exec, and the exec's errno sent back through
// a close-on-exec pipe. The layer's CreateProcessA and the tools'
// StartChildProcess both start their children here, so what a child's
// signals are at exec is decided in one place. Not part of the Win32 subset.
#pragma once

#include <signal.h>
#include <sys/types.h>

namespace herdlab_child_start {

// What a process hands on to a program it starts: the signals it ignores and
// those it blocks (a handler never survives exec).
struct SignalState {
    sigset_t ignored;
    sigset_t blocked;
};

// The process's dispositions and the calling thread's mask, now.
SignalState CurrentSignalState();

// The signal state the child's program starts with.
enum class ChildSignals {
    // Exactly ChildStart::given: its ignored signals ignored, every other at
    // its default, its mask.
    kAsGiven,
    // Every signal at its default, none blocked.
    kAllDefault,
    // Handlers back to the default; a signal the parent ignores stays ignored
    // (as a Windows child inherits an ignored Ctrl+C), except SIGPIPE and
    // SIGCHLD, whose ignoring breaks ordinary programs; none blocked.
    kIgnoredKept,
};

struct ChildStart {
    const char* program = nullptr;  // a path; with searchPath a name is looked for on PATH
    char* const* argv = nullptr;    // null-terminated
    bool searchPath = false;
    ChildSignals signals = ChildSignals::kAllDefault;
    const SignalState* given = nullptr;  // the state kAsGiven gives
    // Called in the child once its signals are set, right before exec. Only
    // async-signal-safe calls: the parent may have threads. Returns 0 to go
    // on, or an errno that ends the child (127) and becomes the start's
    // failure.
    int (*prepare)(const void* context) = nullptr;
    const void* context = nullptr;
    // vfork instead of fork: the child borrows the parent's memory until
    // exec, which spares copying its page tables. Only with a prepare step
    // that writes no memory and does not wait.
    bool sharesMemory = false;
};

// Starts the child. Returns its pid, or -1 with errno set to the failure:
// the fork's, or the one the child reported (the exec's errno, ENOENT = 2 for
// a missing program, or prepare's), in which case the child has been reaped.
//
// With `pendingResult` the call returns once the child runs, without waiting
// for its exec, and hands over the read end of the error pipe there. The
// caller closes it; while it is open, a failing exec ends the child with 127
// (closed, with SIGPIPE).
pid_t StartChild(const ChildStart& start, int* pendingResult = nullptr);

// Waits for the ended child `pid` so that it leaves no zombie.
void ReapChild(pid_t pid);

}  // namespace herdlab_child_start
