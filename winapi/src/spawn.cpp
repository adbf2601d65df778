// Starting a child: vfork, then in the child default signal handling, only
// the standard descriptors, the priority class and exec. An exec failure
// comes back through a close-on-exec pipe as the child's errno. A child
// created suspended is forked instead and waits before exec until released.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "priority_classes.h"
#include "spawn.h"

namespace winapi_internal {
namespace {

// ---- Starting the child ------------------------------------------------------

// Everything the child needs, prepared before fork: after fork only
// async-signal-safe system calls run, no allocation.
struct ChildPlan {
    const char* path;
    char* const* argv;
    DWORD priorityClass;
    int errorFd;    // write end of the close-on-exec error pipe
    int highestFd;  // for marking descriptors close-on-exec by hand
    int holdFd;     // the held child's end of the socket pair it waits on, or -1
    int releaseFd;  // the launcher's end of that pair, closed in the child
};

void ResetSignals() {
    // A handler of the launcher must not run in the child before exec. An
    // ignored signal stays ignored (like a Ctrl+C ignored on Windows), except
    // SIGPIPE and SIGCHLD, whose ignoring would break ordinary programs.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal) {
        struct sigaction current {};
        if (signal == SIGKILL || signal == SIGSTOP || sigaction(signal, nullptr, &current) != 0) {
            continue;
        }
        const bool ignored = current.sa_handler == SIG_IGN && (current.sa_flags & SA_SIGINFO) == 0;
        const bool keepIgnored = ignored && signal != SIGPIPE && signal != SIGCHLD;
        if (current.sa_handler != SIG_DFL && !keepIgnored) {
            sigaction(signal, &fallback, nullptr);
        }
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

// Only standard input, output and error pass to the program. They pass as
// they are: where the launcher has one of them closed, the layer's own
// descriptors (the error pipe, a pidfd) may hold its number, and they must
// stay close-on-exec.
void LimitDescriptors(const ChildPlan& plan) {
    // Close-on-exec rather than closed: the error pipe must stay usable.
    if (close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) == 0) {
        return;
    }
    for (int fd = 3; fd <= plan.highestFd; ++fd) {
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
}

// True once the launcher releases the held child; false when it closed its
// end of the socket pair (or ended) instead.
bool AwaitRelease(const ChildPlan& plan) {
    close(plan.releaseFd);
    char go = 0;
    ssize_t got;
    do {
        got = read(plan.holdFd, &go, 1);
    } while (got < 0 && errno == EINTR);
    return got == 1;
}

[[noreturn]] void RunChild(const ChildPlan& plan) {
    ResetSignals();
    LimitDescriptors(plan);
    if (plan.priorityClass != 0) {
        RaiseNiceRight();
        ApplyPriorityClass(plan.priorityClass);
    }
    DropNiceRight();
    if (plan.holdFd >= 0 && !AwaitRelease(plan)) {
        _exit(127);  // the launcher gave the child up before starting it
    }
    execv(plan.path, plan.argv);
    const int error = errno;
    ssize_t written;
    do {
        written = write(plan.errorFd, &error, sizeof error);
    } while (written < 0 && errno == EINTR);
    _exit(127);
}

int HighestDescriptor() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
        limit.rlim_cur > 65536) {
        return 65535;
    }
    return static_cast<int>(limit.rlim_cur) - 1;
}

}  // namespace

void Reap(pid_t pid) {
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

namespace {

// The errno the child sent through the error pipe, or 0 when the pipe closed
// at a successful exec. Closes the launcher's read end.
int ReadExecResult(int errorReadFd) {
    int childError = 0;
    ssize_t got;
    do {
        got = read(errorReadFd, &childError, sizeof childError);
    } while (got < 0 && errno == EINTR);
    close(errorReadFd);
    return got == static_cast<ssize_t>(sizeof childError) ? childError : 0;
}

// Starts the child process that runs `plan`, with every signal blocked
// around the fork: no handler may run in the child before it has reset them.
//
// vfork, unless the child is held: the launcher has to wait until the child
// has reached exec anyway (the error pipe), and vfork spares copying its page
// tables; the child shares the launcher's memory until then and writes none
// of it. A held child waits before exec for as long as the launcher likes, so
// it needs a copy of its own.
pid_t ForkChild(const ChildPlan& plan) {
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    const pid_t pid = plan.holdFd >= 0 ? fork() : vfork();
    if (pid == 0) {
        RunChild(plan);
    }
    const int forkError = errno;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = forkError;
    return pid;
}

}  // namespace

pid_t SpawnProgram(const std::string& path, std::vector<char*>& argv, DWORD priorityClass,
                   HeldExec* held) {
    int errorPipe[2];
    if (pipe2(errorPipe, O_CLOEXEC) != 0) {
        return -1;
    }
    int holdPair[2] = {-1, -1};
    // A socket pair rather than a pipe: releasing a child that has been ended
    // meanwhile must not raise SIGPIPE in the launcher (MSG_NOSIGNAL).
    if (held != nullptr && socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, holdPair) != 0) {
        const int error = errno;
        close(errorPipe[0]);
        close(errorPipe[1]);
        errno = error;
        return -1;
    }
    const ChildPlan plan{path.c_str(),        argv.data(), priorityClass, errorPipe[1],
                         HighestDescriptor(), holdPair[0], holdPair[1]};
    const pid_t pid = ForkChild(plan);
    const int forkError = errno;
    close(errorPipe[1]);
    if (holdPair[0] >= 0) {
        close(holdPair[0]);
    }
    if (pid < 0) {
        close(errorPipe[0]);
        if (holdPair[1] >= 0) {
            close(holdPair[1]);
        }
        errno = forkError;
        return -1;
    }
    if (held != nullptr) {
        *held = HeldExec{holdPair[1], errorPipe[0]};
        return pid;
    }
    if (const int childError = ReadExecResult(errorPipe[0]); childError != 0) {
        Reap(pid);
        errno = childError;
        return -1;
    }
    return pid;
}

void ReleaseHeldExec(HeldExec& held) {
    if (held.resumeFd < 0) {
        return;
    }
    const char go = 1;
    ssize_t written;
    do {
        written = send(held.resumeFd, &go, 1, MSG_NOSIGNAL);
    } while (written < 0 && errno == EINTR);
    close(held.resumeFd);
    held.resumeFd = -1;
}

void DropHeldExec(HeldExec& held) {
    for (int fd : {held.resumeFd, held.execResultFd}) {
        if (fd >= 0) {
            close(fd);
        }
    }
    held = HeldExec{};
}

}  // namespace winapi_internal
