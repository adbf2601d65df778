// GetProcessAffinityMask and SetProcessAffinityMask, for the launcher itself
// and its children: processors 0..63, one processor group as on Windows.
#include <sched.h>
#include <unistd.h>

#include <cerrno>

#include "process_objects.h"

namespace winapi_internal {
namespace {

// Processors 0..63 that the machine has: the mask of one processor group.
DWORD_PTR SystemProcessorMask() {
    const long count = sysconf(_SC_NPROCESSORS_CONF);
    constexpr long kMaskBits = 8 * sizeof(DWORD_PTR);
    if (count <= 0 || count >= kMaskBits) {
        return ~DWORD_PTR{0};
    }
    return (DWORD_PTR{1} << count) - 1;
}

}  // namespace
}  // namespace winapi_internal

using namespace winapi_internal;

BOOL GetProcessAffinityMask(HANDLE hProcess, PDWORD_PTR lpProcessAffinityMask,
                            PDWORD_PTR lpSystemAffinityMask) {
    if (lpProcessAffinityMask == nullptr || lpSystemAffinityMask == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    const BOOL read = WithProcessId(hProcess, [&](pid_t pid) {
        if (sched_getaffinity(pid, sizeof allowed, &allowed) != 0) {
            SetLastError(static_cast<DWORD>(errno));
            return FALSE;
        }
        return TRUE;
    });
    if (!read) {
        return FALSE;
    }
    DWORD_PTR mask = 0;
    for (unsigned cpu = 0; cpu < 8 * sizeof mask; ++cpu) {
        if (CPU_ISSET(cpu, &allowed)) {
            mask |= DWORD_PTR{1} << cpu;
        }
    }
    *lpProcessAffinityMask = mask;
    *lpSystemAffinityMask = SystemProcessorMask();
    return TRUE;
}

BOOL SetProcessAffinityMask(HANDLE hProcess, DWORD_PTR dwProcessAffinityMask) {
    if (hProcess == GetCurrentProcess()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (dwProcessAffinityMask == 0 || (dwProcessAffinityMask & ~SystemProcessorMask()) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    for (unsigned cpu = 0; cpu < 8 * sizeof dwProcessAffinityMask; ++cpu) {
        if ((dwProcessAffinityMask >> cpu) & 1) {
            CPU_SET(cpu, &allowed);
        }
    }
    return WithProcessId(hProcess, [&](pid_t pid) {
        if (sched_setaffinity(pid, sizeof allowed, &allowed) != 0) {
            SetLastError(static_cast<DWORD>(errno));
            return FALSE;
        }
        return TRUE;
    });
}
