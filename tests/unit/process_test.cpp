// How a launcher reads a child's state at the reaping pass: an exit code that
// cannot be read must count as running, so the child is ended and reported
// as ended by its launcher.
#include <gtest/gtest.h>

#include <string>

#include "process_unit.h"
#include "win32.h"

namespace {

TEST(ChildStillRunning, UnreadableStateCountsAsRunning) {
    PROCESS_INFORMATION unknown{};  // no handle: GetExitCodeProcess fails
    DWORD exitCode = 0;
    ASSERT_FALSE(GetExitCodeProcess(unknown.hProcess, &exitCode));
    EXPECT_TRUE(ChildStillRunning(unknown));

    PROCESS_INFORMATION self{};
    self.hProcess = GetCurrentProcess();
    EXPECT_TRUE(ChildStillRunning(self));
}

// A second child after the first ended: each answer comes from its own
// child, never from a code read earlier.
TEST(ChildStillRunning, EndedChildIsNotRunningAndAnUnknownOneAfterItIs) {
    std::string commandLine = "report_child stderr convert 5";
    STARTUPINFOA startupInfo{};
    startupInfo.cb = sizeof(STARTUPINFOA);
    PROCESS_INFORMATION child{};
    ASSERT_TRUE(CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startupInfo, &child))
        << GetLastError();
    DWORD exitCode = STILL_ACTIVE;
    for (int tries = 0; tries < 1000 && exitCode == STILL_ACTIVE; ++tries) {
        Sleep(10);
        ASSERT_TRUE(GetExitCodeProcess(child.hProcess, &exitCode));
    }
    ASSERT_EQ(exitCode, 0u);
    EXPECT_FALSE(ChildStillRunning(child));

    PROCESS_INFORMATION unknown{};
    EXPECT_TRUE(ChildStillRunning(unknown));
    EXPECT_FALSE(ChildStillRunning(child));
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
}

}  // namespace
