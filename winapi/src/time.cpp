// Sleeping and the clocks.
#include <sched.h>
#include <time.h>

#include <cerrno>
#include <cstdint>
#include <mutex>

#include "herdlab_winapi.h"

namespace {

constexpr std::int64_t kNanosPerSecond = 1000000000;

timespec Now(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return now;
}

void FillSystemTime(const tm& fields, long nanoseconds, SYSTEMTIME* out) {
    out->wYear = static_cast<WORD>(fields.tm_year + 1900);
    out->wMonth = static_cast<WORD>(fields.tm_mon + 1);
    out->wDayOfWeek = static_cast<WORD>(fields.tm_wday);
    out->wDay = static_cast<WORD>(fields.tm_mday);
    out->wHour = static_cast<WORD>(fields.tm_hour);
    out->wMinute = static_cast<WORD>(fields.tm_min);
    out->wSecond =
        static_cast<WORD>(fields.tm_sec > 59 ? 59 : fields.tm_sec);  // no leap second in Win32
    out->wMilliseconds = static_cast<WORD>(nanoseconds / 1000000);
}

FILETIME FileTimeOf(std::uint64_t units) {
    return FILETIME{static_cast<DWORD>(units), static_cast<DWORD>(units >> 32)};
}

// Not a valid address of any object the layer hands out, and distinct from
// GetCurrentProcess()'s INVALID_HANDLE_VALUE (-1), as on Windows (-2).
const HANDLE kCurrentThreadHandle = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-2));

}  // namespace

HANDLE GetCurrentThread() {
    return kCurrentThreadHandle;
}

BOOL GetThreadTimes(HANDLE hThread, LPFILETIME lpCreationTime, LPFILETIME lpExitTime,
                    LPFILETIME lpKernelTime, LPFILETIME lpUserTime) {
    if (hThread != kCurrentThreadHandle) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // A thread that has not run yet reads 0, which is a time like any other;
    // only a clock the kernel does not give is a failure.
    timespec used{};
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used) != 0) {
        SetLastError(static_cast<DWORD>(errno));
        return FALSE;
    }
    const std::uint64_t units = static_cast<std::uint64_t>(used.tv_sec) * 10000000u +
                                static_cast<std::uint64_t>(used.tv_nsec) / 100u;
    *lpCreationTime = FileTimeOf(0);
    *lpExitTime = FileTimeOf(0);
    *lpKernelTime = FileTimeOf(0);
    *lpUserTime = FileTimeOf(units);
    return TRUE;
}

void Sleep(DWORD dwMilliseconds) {
    if (dwMilliseconds == 0) {
        sched_yield();
        return;
    }
    // An absolute deadline: a signal handler interrupting the sleep does not
    // shorten it, and resuming adds no drift.
    timespec deadline = Now(CLOCK_MONOTONIC);
    if (dwMilliseconds == INFINITE) {
        deadline.tv_sec += 0x7FFFFFFF;  // never in practice, as on Windows
    } else {
        deadline.tv_sec += static_cast<time_t>(dwMilliseconds / 1000);
        deadline.tv_nsec += static_cast<long>(dwMilliseconds % 1000) * 1000000L;
        if (deadline.tv_nsec >= kNanosPerSecond) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= kNanosPerSecond;
        }
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

DWORD GetTickCount() {
    const timespec now = Now(CLOCK_MONOTONIC);
    const auto millis = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                        static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<DWORD>(millis);  // wraps after 49.7 days, as on Windows
}

void GetLocalTime(SYSTEMTIME* lpSystemTime) {
    static std::once_flag zoneRead;
    std::call_once(zoneRead, [] { tzset(); });
    const timespec now = Now(CLOCK_REALTIME);
    tm fields{};
    localtime_r(&now.tv_sec, &fields);
    FillSystemTime(fields, now.tv_nsec, lpSystemTime);
}

void GetSystemTime(SYSTEMTIME* lpSystemTime) {
    const timespec now = Now(CLOCK_REALTIME);
    tm fields{};
    gmtime_r(&now.tv_sec, &fields);
    FillSystemTime(fields, now.tv_nsec, lpSystemTime);
}

BOOL QueryPerformanceCounter(LARGE_INTEGER* lpPerformanceCount) {
    const timespec now = Now(CLOCK_MONOTONIC);
    lpPerformanceCount->QuadPart =
        static_cast<std::int64_t>(now.tv_sec) * kNanosPerSecond + now.tv_nsec;
    return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* lpFrequency) {
    lpFrequency->QuadPart = kNanosPerSecond;
    return TRUE;
}
