// CreateThread: the id is known when the call returns and is the id the
// thread itself sees, each thread gets its own parameter, and the handle only
// names the thread.
#include <gtest/gtest.h>

#include <atomic>

#include "win32.h"

namespace {

constexpr int kThreads = 16;

struct Started {
    std::atomic<DWORD> seenId{0};
    std::atomic<bool> mayFinish{false};
    std::atomic<bool> finished{false};
};
Started started[kThreads];

DWORD WINAPI Record(LPVOID parameter) {
    Started& self = *static_cast<Started*>(parameter);
    self.seenId.store(GetCurrentThreadId());
    while (!self.mayFinish.load()) {
        Sleep(1);
    }
    self.finished.store(true);
    return 0;
}

TEST(Threads, IdKnownAtReturnMatchesThreadAndOutlivesHandle) {
    DWORD ids[kThreads] = {};
    for (int i = 0; i < kThreads; ++i) {
        HANDLE thread = CreateThread(nullptr, 0, Record, &started[i], 0, &ids[i]);
        ASSERT_NE(thread, nullptr) << GetLastError();
        ASSERT_NE(ids[i], 0u);
        EXPECT_NE(ids[i], GetCurrentThreadId());
        EXPECT_TRUE(CloseHandle(thread));  // the thread runs on
    }
    for (int i = 0; i < kThreads; ++i) {
        while (started[i].seenId.load() == 0) {
            Sleep(1);
        }
        EXPECT_EQ(started[i].seenId.load(), ids[i]) << "thread " << i;
        started[i].mayFinish.store(true);
    }
    for (Started& thread : started) {
        while (!thread.finished.load()) {
            Sleep(1);
        }
    }
}

#ifndef _WIN32

TEST(ThreadsLinux, OnlyImmediateStartIsSupported) {
    DWORD id = 0;
    SetLastError(0);
    EXPECT_EQ(CreateThread(nullptr, 0, Record, &started[0], 4 /* CREATE_SUSPENDED */, &id),
              nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

#endif  // _WIN32

}  // namespace
