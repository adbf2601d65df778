// What the thread-message and shared-memory tests share: starting
// conformance_child and waiting for it, receiving a message with a deadline,
// and passing byte strings on a command line. Only Win32 calls, so the same
// code runs against real Win32.
#pragma once

#include <atomic>
#include <cstdio>
#include <string>
#include <string_view>

#include "win32.h"

namespace ipc_test {

// Wine, where a few calls differ from Windows in ways the programs never meet.
inline bool RunningUnderWine() {
#ifdef _WIN32
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

// Posted by a test's child thread to announce its thread id in lParam.
constexpr UINT kHello = WM_USER + 1;
// Posted by the watchdog when a receive has waited too long.
constexpr UINT kTimedOut = WM_USER + 0x3F0;

inline bool StartChild(const std::string& arguments, PROCESS_INFORMATION& info) {
    std::string commandLine = "conformance_child " + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    return CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &info) != FALSE;
}

// The child's exit code; STILL_ACTIVE when it had to be ended after the timeout.
inline DWORD WaitForExit(PROCESS_INFORMATION& info, DWORD timeoutMs = 20000) {
    DWORD code = STILL_ACTIVE;
    for (DWORD waited = 0; waited <= timeoutMs; waited += 10) {
        if (GetExitCodeProcess(info.hProcess, &code) && code != STILL_ACTIVE) {
            break;
        }
        Sleep(10);
    }
    if (code == STILL_ACTIVE) {
        TerminateProcess(info.hProcess, 1);
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return code;
}

// GetMessageA has no timeout: a watchdog thread posts kTimedOut to the
// waiting thread instead. One receive at a time.
struct Watchdog {
    std::atomic<DWORD> target{0};
    std::atomic<int> remainingMs{0};
    std::atomic<bool> cancelled{false};
    std::atomic<bool> finished{true};
};
inline Watchdog watchdog;

inline DWORD WINAPI RunWatchdog(LPVOID) {
    while (!watchdog.cancelled.load() && watchdog.remainingMs.load() > 0) {
        Sleep(10);
        watchdog.remainingMs.fetch_sub(10);
    }
    if (!watchdog.cancelled.load()) {
        PostThreadMessageA(watchdog.target.load(), kTimedOut, 0, 0);
    }
    watchdog.finished.store(true);
    return 0;
}

// The next message for the calling thread; false when none came in time.
inline bool ReceiveWithin(MSG& message, int timeoutMs = 20000) {
    watchdog.target.store(GetCurrentThreadId());
    watchdog.remainingMs.store(timeoutMs);
    watchdog.cancelled.store(false);
    watchdog.finished.store(false);
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, RunWatchdog, nullptr, 0, &id);
    if (thread == nullptr) {
        watchdog.finished.store(true);
        return false;
    }
    CloseHandle(thread);
    const BOOL got = GetMessageA(&message, nullptr, 0, 0);
    watchdog.cancelled.store(true);
    while (!watchdog.finished.load()) {
        Sleep(1);
    }
    return got != -1 && message.message != kTimedOut;
}

// Byte strings travel on command lines as hex, so names with control
// characters or Windows-1251 letters reach the child unchanged.
inline std::string HexOf(std::string_view bytes) {
    std::string hex;
    char pair[3];
    for (unsigned char byte : bytes) {
        std::snprintf(pair, sizeof pair, "%02X", byte);
        hex += pair;
    }
    return hex;
}

inline std::string BytesOfHex(std::string_view hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
    }
    return bytes;
}

}  // namespace ipc_test
