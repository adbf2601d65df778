// Handles closed, closed twice or never opened: CloseHandle and the calls
// that take a handle fail with ERROR_INVALID_HANDLE, as on Windows, and touch
// nothing. The same code runs against real Win32 (under Wine in CI).
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

#include "ipc_test_support.h"
#include "win32.h"

// Named, not anonymous: the test files are compiled a few at a time as one.
namespace handles_test {

DWORD WINAPI ReturnAtOnce(LPVOID) {
    return 0;
}

// A call that takes the handle; true when it failed as on a handle that is
// not open.
bool FailsAsInvalid(const std::function<bool()>& call) {
    SetLastError(0);
    return call() && GetLastError() == ERROR_INVALID_HANDLE;
}

TEST(Handles, ClosedOrNeverOpenedHandleIsRefusedEveryTime) {
    PROCESS_INFORMATION child{};
    ASSERT_TRUE(ipc_test::StartChild("exit 0", child)) << GetLastError();
    DWORD code = STILL_ACTIVE;
    for (int waited = 0; waited < 20000 && code == STILL_ACTIVE; waited += 10) {
        Sleep(10);
        GetExitCodeProcess(child.hProcess, &code);
    }
    const std::string blockName = "handles-" + std::to_string(GetCurrentProcessId());
    struct Row {
        const char* what;
        HANDLE handle;
        std::function<bool(HANDLE)> failedUse;  // a call on the handle that must fail
    };
    const Row rows[] = {
        {"process", child.hProcess,
         [](HANDLE h) {
             DWORD code = 0;
             return GetExitCodeProcess(h, &code) == FALSE;
         }},
        {"child's main thread", child.hThread, [](HANDLE h) { return CloseHandle(h) == FALSE; }},
        {"thread", CreateThread(nullptr, 0, ReturnAtOnce, nullptr, 0, nullptr),
         [](HANDLE h) { return CloseHandle(h) == FALSE; }},
        {"block",
         CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 8, blockName.c_str()),
         [](HANDLE h) { return MapViewOfFile(h, FILE_MAP_READ, 0, 0, 8) == nullptr; }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_NE(row.handle, nullptr);
        EXPECT_TRUE(CloseHandle(row.handle));
        EXPECT_TRUE(FailsAsInvalid([&] { return CloseHandle(row.handle) == FALSE; }));
        EXPECT_TRUE(FailsAsInvalid([&] { return row.failedUse(row.handle); }));
    }
    // A process handle once closed ends nothing.
    EXPECT_TRUE(FailsAsInvalid([&] { return TerminateProcess(child.hProcess, 1) == FALSE; }));
    // A value no handle ever had (a multiple of 4, as handles are).
    const auto neverOpened = reinterpret_cast<HANDLE>(std::uintptr_t{0x12345678});
    EXPECT_TRUE(FailsAsInvalid([&] { return CloseHandle(neverOpened) == FALSE; }));
    EXPECT_TRUE(FailsAsInvalid([&] {
        DWORD code = 0;
        return GetExitCodeProcess(neverOpened, &code) == FALSE;
    }));
}

}  // namespace handles_test
