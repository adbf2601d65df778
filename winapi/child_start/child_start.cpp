// Starting a child: every signal blocked around the fork, then in the child
// its signal state, the caller's step and exec; an exec failure comes back
// through a close-on-exec pipe as the child's errno.
#include "child_start.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace herdlab_child_start {
namespace {

bool IsIgnored(const struct sigaction& action) {
    return (action.sa_flags & SA_SIGINFO) == 0 && action.sa_handler == SIG_IGN;
}

// Whether `signal` is ignored in the child; `current` is the parent's action.
bool IgnoredInChild(int signal, const struct sigaction& current, const ChildStart& start) {
    switch (start.signals) {
        case ChildSignals::kAsGiven:
            return sigismember(&start.given->ignored, signal) == 1;
        case ChildSignals::kIgnoredKept:
            return IsIgnored(current) && signal != SIGPIPE && signal != SIGCHLD;
        case ChildSignals::kAllDefault:
            break;
    }
    return false;
}

// The child's signal state, as start.signals says. Every signal is blocked
// until the mask is set here, so no handler of the parent's runs in the child.
void SetChildSignals(const ChildStart& start) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal) {
        struct sigaction current {};
        // The C library refuses its own signals, which are none of ours.
        if (signal == SIGKILL || signal == SIGSTOP || sigaction(signal, nullptr, &current) != 0) {
            continue;
        }
        const bool ignored = IgnoredInChild(signal, current, start);
        if (ignored && !IsIgnored(current)) {
            sigaction(signal, &ignore, nullptr);
        } else if (!ignored && current.sa_handler != SIG_DFL) {
            sigaction(signal, &fallback, nullptr);
        }
    }
    sigset_t none;
    sigemptyset(&none);
    const bool asGiven = start.signals == ChildSignals::kAsGiven;
    sigprocmask(SIG_SETMASK, asGiven ? &start.given->blocked : &none, nullptr);
}

// The child's side, between fork and exec: async-signal-safe calls only.
[[noreturn]] void RunChild(const ChildStart& start, int errorFd) {
    SetChildSignals(start);
    int failure = start.prepare != nullptr ? start.prepare(start.context) : 0;
    if (failure == 0) {
        if (start.searchPath) {
            execvp(start.program, start.argv);
        } else {
            execv(start.program, start.argv);
        }
        failure = errno;
    }
    ssize_t written;
    do {
        written = write(errorFd, &failure, sizeof failure);
    } while (written < 0 && errno == EINTR);
    _exit(127);
}

// Forks with every signal blocked around the fork: the child sets its own
// signals before any can be handled.
pid_t ForkChild(const ChildStart& start, int errorFd) {
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    const pid_t pid = start.sharesMemory ? vfork() : fork();
    if (pid == 0) {
        RunChild(start, errorFd);
    }
    const int forkError = errno;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = forkError;
    return pid;
}

// The errno the child sent through the error pipe, or 0 when the pipe closed
// at a successful exec. Closes the read end.
int ReadStartResult(int errorReadFd) {
    int failure = 0;
    ssize_t got;
    do {
        got = read(errorReadFd, &failure, sizeof failure);
    } while (got < 0 && errno == EINTR);
    close(errorReadFd);
    return got == static_cast<ssize_t>(sizeof failure) ? failure : 0;
}

}  // namespace

SignalState CurrentSignalState() {
    SignalState state{};
    sigemptyset(&state.ignored);
    for (int signal = 1; signal < NSIG; ++signal) {
        struct sigaction current {};
        if (sigaction(signal, nullptr, &current) == 0 && IsIgnored(current)) {
            sigaddset(&state.ignored, signal);
        }
    }
    pthread_sigmask(SIG_BLOCK, nullptr, &state.blocked);
    return state;
}

pid_t StartChild(const ChildStart& start, int* pendingResult) {
    if (start.signals == ChildSignals::kAsGiven && start.given == nullptr) {
        errno = EINVAL;
        return -1;
    }
    int errorPipe[2];
    if (pipe2(errorPipe, O_CLOEXEC) != 0) {
        return -1;
    }
    const pid_t pid = ForkChild(start, errorPipe[1]);
    const int forkError = errno;
    close(errorPipe[1]);
    if (pid < 0) {
        close(errorPipe[0]);
        errno = forkError;
        return -1;
    }
    if (pendingResult != nullptr) {
        *pendingResult = errorPipe[0];
        return pid;
    }
    if (const int failure = ReadStartResult(errorPipe[0]); failure != 0) {
        ReapChild(pid);
        errno = failure;
        return -1;
    }
    return pid;
}

void ReapChild(pid_t pid) {
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace herdlab_child_start
