// Windows priority classes on Linux scheduling. The values are absolute:
//
//   IDLE          SCHED_IDLE
//   BELOW_NORMAL  nice 10
//   NORMAL        nice 0
//   ABOVE_NORMAL  nice -10
//   HIGH          nice -20
//   REALTIME      SCHED_RR, priority 1
//
// Read back, the nice value maps to the nearest class: >= 15 IDLE, 5..14
// BELOW_NORMAL, -4..4 NORMAL, -14..-5 ABOVE_NORMAL, <= -15 HIGH; SCHED_IDLE is
// IDLE and SCHED_FIFO/SCHED_RR are REALTIME.
//
// Who may raise a priority: a process holding CAP_SYS_NICE (root, or an
// ordinary user running a launcher granted it with setcap) may have any
// class; otherwise RLIMIT_NICE bounds how far the nice value may fall and
// RLIMIT_RTPRIO whether SCHED_RR is allowed (limits.conf sets both for a
// group of users). A class beyond the user's rights falls back to the nearest
// setting allowed, and the child reports the class it really got.
//
// The launcher itself needs the right only to start its children in their
// classes. It keeps CAP_SYS_NICE out of its effective set from its start on
// and raises it only in the new child, between fork and exec; there the child
// also clears every set the right could pass through exec by, so no program
// it runs keeps it.
#include <linux/capability.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "layer_private.h"

namespace winapi_internal {
namespace {

struct ClassSetting {
    DWORD priorityClass;
    int policy;
    int nice;  // for SCHED_OTHER only
};

// From the lowest class to the highest: the order of falling back.
constexpr ClassSetting kClasses[] = {
    {IDLE_PRIORITY_CLASS, SCHED_IDLE, 0},    {BELOW_NORMAL_PRIORITY_CLASS, SCHED_OTHER, 10},
    {NORMAL_PRIORITY_CLASS, SCHED_OTHER, 0}, {ABOVE_NORMAL_PRIORITY_CLASS, SCHED_OTHER, -10},
    {HIGH_PRIORITY_CLASS, SCHED_OTHER, -20}, {REALTIME_PRIORITY_CLASS, SCHED_RR, 0},
};
constexpr int kClassCount = sizeof(kClasses) / sizeof(kClasses[0]);

int RankOf(DWORD priorityClass) {
    for (int rank = 0; rank < kClassCount; ++rank) {
        if (kClasses[rank].priorityClass == priorityClass) {
            return rank;
        }
    }
    return -1;
}

// The lowest nice value the process may set without CAP_SYS_NICE: the one
// RLIMIT_NICE allows (20 - limit), or its current one, which it may always
// keep.
int LowestNiceWithoutRight() {
    errno = 0;  // -1 is a valid nice value
    const int current = getpriority(PRIO_PROCESS, 0);
    rlimit limit{};
    if (getrlimit(RLIMIT_NICE, &limit) != 0 || (current == -1 && errno != 0)) {
        return 19;
    }
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= 40) {
        return -20;
    }
    const int allowed = 20 - static_cast<int>(limit.rlim_cur);
    return allowed < current ? allowed : current;
}

// The nice value itself, else the nearest one the user may have.
bool SetNice(int nice) {
    if (setpriority(PRIO_PROCESS, 0, nice) == 0) {
        return true;
    }
    const int lowest = LowestNiceWithoutRight();
    return lowest > nice && setpriority(PRIO_PROCESS, 0, lowest) == 0;
}

// One attempt; false when the system refuses it (no privilege).
bool TrySetting(const ClassSetting& setting) {
    sched_param param{};
    if (setting.policy == SCHED_RR) {
        param.sched_priority = 1;
        return sched_setscheduler(0, SCHED_RR, &param) == 0;
    }
    if (setting.policy == SCHED_IDLE) {
        return sched_setscheduler(0, SCHED_IDLE, &param) == 0;
    }
    // Leaving SCHED_IDLE or a real-time policy comes first; the nice value
    // only counts under SCHED_OTHER.
    if (sched_getscheduler(0) != SCHED_OTHER && sched_setscheduler(0, SCHED_OTHER, &param) != 0) {
        return false;
    }
    return SetNice(setting.nice);
}

// ---- CAP_SYS_NICE, by raw system calls: no library needed ---------------------

struct Capabilities {
    __user_cap_data_struct sets[_LINUX_CAPABILITY_U32S_3];
};

constexpr int kNiceWord = CAP_SYS_NICE / 32;
constexpr __u32 kNiceBit = 1u << (CAP_SYS_NICE % 32);

bool ReadCapabilities(Capabilities& capabilities) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return syscall(SYS_capget, &header, capabilities.sets) == 0;
}

void WriteCapabilities(Capabilities& capabilities) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    syscall(SYS_capset, &header, capabilities.sets);
}

// At the start of every process that can start children: the right to raise
// priorities stays permitted but not effective, and no inheritable or
// ambient capability is left to pass to the children. Lowering these sets
// needs no privilege. Runs before main, while the process has one thread:
// capabilities belong to threads, and later threads inherit these.
__attribute__((constructor)) void LowerRightsAtStart() {
    prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    Capabilities capabilities{};
    if (!ReadCapabilities(capabilities)) {
        return;
    }
    bool changed = false;
    for (__user_cap_data_struct& set : capabilities.sets) {
        changed = changed || set.inheritable != 0;
        set.inheritable = 0;
    }
    if ((capabilities.sets[kNiceWord].effective & kNiceBit) != 0) {
        capabilities.sets[kNiceWord].effective &= ~kNiceBit;
        changed = true;
    }
    if (changed) {
        WriteCapabilities(capabilities);
    }
}

}  // namespace

void RaiseNiceRight() {
    Capabilities capabilities{};
    if (ReadCapabilities(capabilities) &&
        (capabilities.sets[kNiceWord].permitted & kNiceBit) != 0) {
        capabilities.sets[kNiceWord].effective |= kNiceBit;
        WriteCapabilities(capabilities);
    }
}

void DropNiceRight() {
    prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    Capabilities capabilities{};
    if (!ReadCapabilities(capabilities)) {
        return;
    }
    for (__user_cap_data_struct& set : capabilities.sets) {
        set.inheritable = 0;
    }
    capabilities.sets[kNiceWord].effective &= ~kNiceBit;
    capabilities.sets[kNiceWord].permitted &= ~kNiceBit;
    WriteCapabilities(capabilities);
}

DWORD PriorityClassFromFlags(DWORD creationFlags) {
    for (const ClassSetting& setting : kClasses) {
        if ((creationFlags & setting.priorityClass) != 0) {
            return setting.priorityClass;
        }
    }
    return 0;
}

void ApplyPriorityClass(DWORD priorityClass) {
    // Windows, too, starts a child in a lower class when the user may not
    // have the one asked for (real time without the privilege).
    for (int rank = RankOf(priorityClass); rank >= 0; --rank) {
        if (TrySetting(kClasses[rank])) {
            return;
        }
    }
}

DWORD PriorityClassOf(pid_t pid) {
    const int policy = sched_getscheduler(pid);
    if (policy < 0) {
        SetLastError(static_cast<DWORD>(errno));
        return 0;
    }
    if (policy == SCHED_FIFO || policy == SCHED_RR) {
        return REALTIME_PRIORITY_CLASS;
    }
    if (policy == SCHED_IDLE) {
        return IDLE_PRIORITY_CLASS;
    }
    errno = 0;  // -1 is a valid nice value
    const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(pid));
    if (nice == -1 && errno != 0) {
        SetLastError(static_cast<DWORD>(errno));
        return 0;
    }
    if (nice >= 15) {
        return IDLE_PRIORITY_CLASS;
    }
    if (nice >= 5) {
        return BELOW_NORMAL_PRIORITY_CLASS;
    }
    if (nice > -5) {
        return NORMAL_PRIORITY_CLASS;
    }
    if (nice > -15) {
        return ABOVE_NORMAL_PRIORITY_CLASS;
    }
    return HIGH_PRIORITY_CLASS;
}

}  // namespace winapi_internal
