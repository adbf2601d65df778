// Windows: the threads' states from the system's process list. The list
// holds every process of the system, each followed by its threads.
#include "thread_states_windows.h"

#include <winternl.h>

#include <algorithm>
#include <cstddef>

namespace herdtrace {

namespace {

constexpr ULONG kSystemProcessInformation = 5;
constexpr LONG kLengthMismatch = LONG(0xC0000004);  // STATUS_INFO_LENGTH_MISMATCH

// The thread states the kernel names (KTHREAD_STATE).
enum : ULONG {
    kInitialized = 0,
    kReady = 1,
    kRunning = 2,
    kStandby = 3,  // chosen to run next on a processor
    kDeferredReady = 7,
};

using QueryFunction = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);

QueryFunction Query() {
    static const QueryFunction query = [] {
        const FARPROC found =
            GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation");
        return reinterpret_cast<QueryFunction>(reinterpret_cast<void (*)()>(found));
    }();
    return query;
}

// Reads the list into `buffer`, growing it as the system asks.
bool ReadList(std::vector<unsigned char>& buffer) {
    const QueryFunction query = Query();
    if (query == nullptr) {
        return false;
    }
    for (int tries = 0; tries < 4; ++tries) {
        if (buffer.empty()) {
            buffer.resize(256 * 1024);
        }
        ULONG needed = 0;
        const LONG status =
            query(kSystemProcessInformation, buffer.data(), ULONG(buffer.size()), &needed);
        if (status >= 0) {
            return true;
        }
        if (status != kLengthMismatch) {
            return false;
        }
        buffer.resize(std::max<std::size_t>(needed, buffer.size()) * 2);
    }
    return false;
}

// One process's threads, which follow its entry in the list.
ThreadStates StatesOf(const SYSTEM_PROCESS_INFORMATION& process) {
    ThreadStates states;
    states.listed = true;
    const auto* threads = reinterpret_cast<const SYSTEM_THREAD_INFORMATION*>(&process + 1);
    for (ULONG i = 0; i < process.NumberOfThreads; ++i) {
        const ULONG state = threads[i].ThreadState;
        states.told = states.told || state != kInitialized;
        states.running += state == kRunning ? 1 : 0;
        states.ready += state == kReady || state == kStandby || state == kDeferredReady ? 1 : 0;
        states.switches += threads[i].Reserved3;  // ContextSwitches
    }
    return states;
}

}  // namespace

bool ReadThreadStates(std::map<DWORD, ThreadStates>& states, std::vector<unsigned char>& buffer) {
    if (!ReadList(buffer)) {
        return false;
    }
    for (std::size_t at = 0; at + sizeof(SYSTEM_PROCESS_INFORMATION) <= buffer.size();) {
        const auto& process = *reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(&buffer[at]);
        const auto found = states.find(DWORD(reinterpret_cast<ULONG_PTR>(process.UniqueProcessId)));
        if (found != states.end()) {
            found->second = StatesOf(process);
        }
        if (process.NextEntryOffset == 0) {
            break;
        }
        at += process.NextEntryOffset;
    }
    return true;
}

}  // namespace herdtrace
