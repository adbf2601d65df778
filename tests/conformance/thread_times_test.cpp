// GetThreadTimes on the calling thread: kernel plus user time grows with the
// thread's own busy work, not with its sleeping, and not with the busy work
// of another thread of the process.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>

#include "win32.h"

namespace {

double Milliseconds(const FILETIME& time) {  // units of 100 ns
    return double((std::uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime) / 1e4;
}

double OwnProcessorMilliseconds() {
    FILETIME created, exited, kernel, user;
    EXPECT_TRUE(GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user));
    return Milliseconds(kernel) + Milliseconds(user);
}

void BusyFor(std::chrono::milliseconds wall) {
    std::atomic<std::uint64_t> spins{0};
    const auto end = std::chrono::steady_clock::now() + wall;
    while (std::chrono::steady_clock::now() < end) {
        spins.fetch_add(1, std::memory_order_relaxed);
    }
}

std::atomic<bool> helperDone{false};

DWORD WINAPI BusyHelper(LPVOID) {
    BusyFor(std::chrono::milliseconds(200));
    helperDone.store(true);
    return 0;
}

// Windows advances the figures by clock ticks (about 16 ms); the bounds allow
// two ticks, and for busy work the large share of a processor that a loaded
// machine may take away (the wall time bounds it from above).
TEST(ThreadTimes, CountOnlyTheCallingThreadsOwnWork) {
    double before = OwnProcessorMilliseconds();
    BusyFor(std::chrono::milliseconds(400));
    const double busy = OwnProcessorMilliseconds() - before;
    EXPECT_GT(busy, 20.0);
    EXPECT_LT(busy, 440.0);

    before = OwnProcessorMilliseconds();
    Sleep(200);
    EXPECT_LT(OwnProcessorMilliseconds() - before, 35.0);

    before = OwnProcessorMilliseconds();
    HANDLE helper = CreateThread(nullptr, 0, BusyHelper, nullptr, 0, nullptr);
    ASSERT_NE(helper, nullptr);
    while (!helperDone.load()) {
        Sleep(5);
    }
    EXPECT_LT(OwnProcessorMilliseconds() - before, 35.0);
    CloseHandle(helper);
    EXPECT_TRUE(CloseHandle(GetCurrentThread()));  // a pseudo handle: nothing to close
}

}  // namespace
