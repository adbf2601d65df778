// Starting a child for CreateProcessA through the one way children are
// started on Linux (child_start.h): in the child handlers back to their
// default with ignored signals kept, only the standard descriptors, the
// priority class, then exec. A child created suspended waits before exec
// until released.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "child_start.h"
#include "priority_classes.h"
#include "spawn.h"

namespace winapi_internal {
namespace {

// ---- Starting the child ------------------------------------------------------

// What the child does before exec, prepared before fork: after fork only
// async-signal-safe system calls run, no allocation.
struct ChildPlan {
    DWORD priorityClass;
    int highestFd;  // for marking descriptors close-on-exec by hand
    int holdFd;     // the held child's end of the socket pair it waits on, or -1
    int releaseFd;  // the launcher's end of that pair, closed in the child
};

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

// The child's step before exec, once its signals are set.
int PrepareChild(const void* context) {
    const ChildPlan& plan = *static_cast<const ChildPlan*>(context);
    LimitDescriptors(plan);
    if (plan.priorityClass != 0) {
        RaiseNiceRight();
        ApplyPriorityClass(plan.priorityClass);
    }
    DropNiceRight();
    if (plan.holdFd >= 0 && !AwaitRelease(plan)) {
        _exit(127);  // the launcher gave the child up before starting it
    }
    return 0;
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
    herdlab_child_start::ReapChild(pid);
}

pid_t SpawnProgram(const std::string& path, std::vector<char*>& argv, DWORD priorityClass,
                   HeldExec* held) {
    int holdPair[2] = {-1, -1};
    // A socket pair rather than a pipe: releasing a child that has been ended
    // meanwhile must not raise SIGPIPE in the launcher (MSG_NOSIGNAL).
    if (held != nullptr && socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, holdPair) != 0) {
        return -1;
    }
    const ChildPlan plan{priorityClass, HighestDescriptor(), holdPair[0], holdPair[1]};
    herdlab_child_start::ChildStart start;
    start.program = path.c_str();
    start.argv = argv.data();
    start.signals = herdlab_child_start::ChildSignals::kIgnoredKept;
    start.prepare = PrepareChild;
    start.context = &plan;
    // vfork unless the child is held: the launcher waits until the child has
    // reached exec anyway (the error pipe), and the child writes none of its
    // memory. A held child waits for as long as the launcher likes, so it
    // needs a copy of its own.
    start.sharesMemory = held == nullptr;
    int execResultFd = -1;
    const pid_t pid =
        herdlab_child_start::StartChild(start, held != nullptr ? &execResultFd : nullptr);
    const int startError = errno;
    if (holdPair[0] >= 0) {
        close(holdPair[0]);  // the child's end
    }
    if (pid < 0) {
        if (holdPair[1] >= 0) {
            close(holdPair[1]);
        }
        errno = startError;
        return -1;
    }
    if (held != nullptr) {
        *held = HeldExec{holdPair[1], execResultFd};
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
