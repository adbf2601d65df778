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
#include <sched.h>
#include <sys/resource.h>

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
    return setpriority(PRIO_PROCESS, 0, setting.nice) == 0;
}

}  // namespace

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
