// The busy and sleeping waits of the two kinds of child.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>

#include "a0wait_unit.h"
#include "a1wait_unit.h"
#include "random_unit.h"
#include "win32.h"

#ifndef _WIN32
#include <time.h>
#endif

namespace {

// Processor time of this thread in ms where it is precise enough to see a
// ten-millisecond busy loop, wall time otherwise; a busy loop shows in both.
double ThreadMilliseconds() {
#ifndef _WIN32
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
#else
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
#endif
}

// Processor time of this thread in ms (coarse on Windows, but a sleep that
// burned the processor would still show).
double ProcessorMilliseconds() {
#ifndef _WIN32
    return ThreadMilliseconds();
#else
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    const auto ticks = [](const FILETIME& time) {  // units of 100 ns
        return double((std::uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime);
    };
    return (ticks(kernel) + ticks(user)) / 1e4;
#endif
}

template <typename Body>
double CostOf(Body body) {
    const double start = ThreadMilliseconds();
    body();
    return ThreadMilliseconds() - start;
}

TEST(SpinWait, AUnitBurnsRealProcessorWork) {
    // Ten million loop steps cannot take under a millisecond on any current
    // processor; a loop the optimiser removed or collapsed would.
    EXPECT_GT(CostOf([] { SpinWait(1); }), 1.0);
}

TEST(SpinWait, NoCountOrABoundOfOneNeverSpins) {
    const double unit = CostOf([] { SpinWait(1); });
    const double none = CostOf([] {
        for (int i = 0; i < 100; ++i) {
            SpinWait(0);
            SpinWait(-5);
            SpinWait(INT32_MIN);
            RandomSpinWait(1);
            RandomSpinWait(0);
            RandomSpinWait(-3);
        }
    });
    EXPECT_LT(none, unit / 2);
}

TEST(SleepWait, RecordsStampAndDurationBeforeSleeping) {
    SleepWait(20);
    EXPECT_EQ(waitDuration.load(), 20);
    const DWORD before = GetTickCount();
    SleepWait(0);
    const DWORD after = GetTickCount();
    EXPECT_EQ(waitDuration.load(), 0);
    EXPECT_LE(waitStamp.load() - before, after - before);  // taken during this call

    SleepWait(20);
    const auto start = std::chrono::steady_clock::now();
    SleepWait(-7);  // a negative length records 0 and does not wait
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(waitDuration.load(), 0);
}

TEST(SleepWait, SleepsWithoutBurningTheProcessor) {
    const auto start = std::chrono::steady_clock::now();
    const double before = ProcessorMilliseconds();
    SleepWait(50);
    const double cost = ProcessorMilliseconds() - before;
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(49));
    EXPECT_LT(cost, 25.0);
}

TEST(RandomSleepWait, DrawsBelowTheBoundAndLeavesItInWaitDuration) {
    constexpr int kBound = 30;
    bool sawNonZero = false;
    for (int i = 0; i < 20; ++i) {
        const auto start = std::chrono::steady_clock::now();
        RandomSleepWait(kBound);
        const auto slept = std::chrono::steady_clock::now() - start;
        const std::int32_t planned = waitDuration.load();
        ASSERT_GE(planned, 0);
        ASSERT_LT(planned, kBound);
        EXPECT_GE(slept, std::chrono::milliseconds(planned) - std::chrono::milliseconds(1));
        sawNonZero = sawNonZero || planned > 0;
    }
    EXPECT_TRUE(sawNonZero);
}

TEST(RandomSleepWait, ReseedsOnEveryCall) {
    // Without a reseed the state would simply advance from the one set here.
    SetRandomState(12345);
    RandomBelow(2);
    const std::uint32_t withoutReseed = RandomState();
    std::uint32_t previous = withoutReseed;
    for (int call = 0; call < 2; ++call) {
        SetRandomState(12345);
        RandomSleepWait(2);
        EXPECT_NE(RandomState(), withoutReseed) << call;
        EXPECT_NE(RandomState(), previous) << call;
        previous = RandomState();
    }
}

}  // namespace

namespace {

TEST(SpinUnitSetting, OnlyAWholeNumberOfMillisecondsFromOneToAThousand) {
    EXPECT_EQ(ParseSpinUnitMilliseconds("1"), 1);
    EXPECT_EQ(ParseSpinUnitMilliseconds("80"), 80);
    EXPECT_EQ(ParseSpinUnitMilliseconds("0080"), 80);
    EXPECT_EQ(ParseSpinUnitMilliseconds("1000"), 1000);
    // Unset, empty and everything else: the fixed count of iterations.
    for (const char* invalid : {static_cast<const char*>(nullptr), "", "0", "1001", "-5", "+5",
                                " 80", "80 ", "8O", "2.5", "0x10", "99999999999999999999"}) {
        EXPECT_EQ(ParseSpinUnitMilliseconds(invalid), 0) << (invalid ? invalid : "(unset)");
    }
}

}  // namespace
