// Starting a child: vfork, then in the child default signal handling, only
// the standard descriptors, the priority class and exec. An exec failure
// comes back through a close-on-exec pipe as the child's errno.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
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

[[noreturn]] void RunChild(const ChildPlan& plan) {
    ResetSignals();
    LimitDescriptors(plan);
    if (plan.priorityClass != 0) {
        RaiseNiceRight();
        ApplyPriorityClass(plan.priorityClass);
    }
    DropNiceRight();
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

pid_t StartChild(const std::string& path, std::vector<char*>& argv, DWORD priorityClass) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        return -1;
    }
    const ChildPlan plan{path.c_str(), argv.data(), priorityClass, pipeFds[1], HighestDescriptor()};

    // vfork: the launcher has to wait until the child has reached exec
    // anyway (the error pipe), and vfork spares copying its page tables. The
    // child shares the launcher's memory until then and writes none of it.
    // No signal handler may run in the child before it has reset them.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    const pid_t pid = vfork();
    if (pid == 0) {
        RunChild(plan);
    }
    const int forkError = errno;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    close(pipeFds[1]);
    if (pid < 0) {
        close(pipeFds[0]);
        errno = forkError;
        return -1;
    }

    // The pipe closes at a successful exec; otherwise the child sends errno.
    int childError = 0;
    ssize_t got;
    do {
        got = read(pipeFds[0], &childError, sizeof childError);
    } while (got < 0 && errno == EINTR);
    close(pipeFds[0]);
    if (got == static_cast<ssize_t>(sizeof childError)) {
        Reap(pid);
        errno = childError;
        return -1;
    }
    return pid;
}

}  // namespace winapi_internal
