// A child created suspended, confined to some processors and resumed runs its
// program on those processors only, while its launcher keeps its own.
#include <gtest/gtest.h>

#include <string>

#include "ipc_test_support.h"
#include "win32.h"

namespace {

// The calling process's own processors.
DWORD_PTR OwnProcessors() {
    DWORD_PTR own = 0;
    DWORD_PTR system = 0;
    EXPECT_TRUE(GetProcessAffinityMask(GetCurrentProcess(), &own, &system));
    EXPECT_EQ(own & ~system, 0u);
    return own;
}

// The highest of the calling process's processors 0..7 (the child reports
// only those), or 0 when it has none of them.
DWORD_PTR HighestOfFirstEight(DWORD_PTR mask) {
    for (int cpu = 7; cpu >= 0; --cpu) {
        if ((mask >> cpu) & 1) {
            return DWORD_PTR{1} << cpu;
        }
    }
    return 0;
}

bool StartSuspended(const std::string& arguments, PROCESS_INFORMATION& info) {
    std::string commandLine = "conformance_child " + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    return CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                          nullptr, nullptr, &startup, &info) != FALSE;
}

TEST(Affinity, SuspendedChildConfinedThenResumedRunsOnlyThere) {
    const DWORD_PTR own = OwnProcessors();
    const DWORD_PTR chosen = HighestOfFirstEight(own);
    if (chosen == 0) {
        GTEST_SKIP() << "none of processors 0..7 is ours";
    }
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(StartSuspended("affinity", info));
    EXPECT_TRUE(SetProcessAffinityMask(info.hProcess, chosen));
    EXPECT_EQ(ResumeThread(info.hThread), 1u);
    EXPECT_EQ(ipc_test::WaitForExit(info), chosen);
    EXPECT_EQ(OwnProcessors(), own);
}

TEST(Affinity, ChildNotSuspendedHasItsLaunchersProcessorsAndNothingToResume) {
    const DWORD_PTR own = OwnProcessors();
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(ipc_test::StartChild("sleep 200", info));
    EXPECT_EQ(ResumeThread(info.hThread), 0u);
    DWORD_PTR childs = 0;
    DWORD_PTR system = 0;
    EXPECT_TRUE(GetProcessAffinityMask(info.hProcess, &childs, &system));
    EXPECT_EQ(childs, own);
    EXPECT_EQ(ipc_test::WaitForExit(info), 0u);
}

TEST(Affinity, SuspendedChildEndedBeforeResumingReportsTheTerminateCode) {
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(StartSuspended("exit 3", info));
    EXPECT_TRUE(TerminateProcess(info.hProcess, 42));
    ResumeThread(info.hThread);  // must not harm the launcher; the result varies
    EXPECT_EQ(ipc_test::WaitForExit(info), 42u);
}

}  // namespace
