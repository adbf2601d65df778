// The busy and sleeping waits of the two kinds of child.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
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

// ---- A call in processor time against a clock of the test's own ------------

// The test's machine: this many empty steps to a millisecond of processor
// time (about a step a cycle at 3 GHz), ten million steps to a fixed unit.
constexpr double kStepsPerMillisecond = 3e6;
constexpr std::int64_t kFixedUnitSteps = 10'000'000;
constexpr std::int64_t kClockUnitsPerMillisecond = 10'000;  // 100 ns each

enum class FakeClock {
    kExact,         // moves with every step
    kTicksOf16Ms,   // reads 0 until the thread's first 16 ms have been charged
    kNeverMoves,    // reads 0 for ever
    kFails,         // the call fails
    kFailsAt100Ms,  // exact, then fails once 100 ms are spent
};

ThreadClockReading ReadFake(FakeClock clock, std::int64_t steps) {
    const double spent = double(steps) / kStepsPerMillisecond;
    const auto units = [](double milliseconds) {
        return static_cast<std::int64_t>(milliseconds * kClockUnitsPerMillisecond);
    };
    switch (clock) {
        case FakeClock::kExact:
            return {true, units(spent)};
        case FakeClock::kTicksOf16Ms:
            return {true, units(16.0 * std::floor(spent / 16.0))};
        case FakeClock::kNeverMoves:
            return {true, 0};
        case FakeClock::kFails:
            return {false, 0};
        case FakeClock::kFailsAt100Ms:
            return {spent < 100.0, spent < 100.0 ? units(spent) : 0};
    }
    return {};
}

// Every step a call of `units` x `unitMilliseconds` spins against `clock`.
std::int64_t StepsOfCall(FakeClock clock, std::int32_t units, std::int32_t unitMilliseconds) {
    std::int64_t steps = 0;
    ProcessorTimeSpin spin = StartProcessorTimeSpin(units, unitMilliseconds, ReadFake(clock, 0));
    for (int batches = 0; spin.batch > 0; ++batches) {
        EXPECT_LT(batches, 1000) << "the call never ends";
        if (batches >= 1000) {
            break;
        }
        steps += spin.batch;
        spin.batch = spin.byFixedCount ? 0 : NextSpinBatch(spin, ReadFake(clock, steps));
    }
    return steps;
}

TEST(SpinForProcessorTime, SpendsTheCallOnTheClockAndFallsBackToTheFixedCountOnlyWithoutOne) {
    struct Row {
        FakeClock clock;
        std::int32_t units, unitMilliseconds;
        double leastMs, mostMs;  // of the test machine's processor time
    };
    constexpr double kFixedMs = kFixedUnitSteps / kStepsPerMillisecond;  // 3.3 ms a unit
    const Row rows[] = {
        {FakeClock::kExact, 6, 40, 240, 250},
        // A thread that has just begun reads 0: that is its time, not a
        // missing clock, and the whole drink is still spent.
        {FakeClock::kTicksOf16Ms, 6, 40, 240, 256},
        {FakeClock::kTicksOf16Ms, 1, 1, 16, 32},
        // A clock that never moves ends the call after about as much work as
        // the fixed count, and at least several Windows ticks' worth.
        {FakeClock::kNeverMoves, 6, 40, 6 * kFixedMs, 2 * 20 * kFixedMs},
        {FakeClock::kNeverMoves, 1000, 1000, 1000 * kFixedMs, 2 * 1000 * kFixedMs},
        // No clock at all: the fixed count, exactly.
        {FakeClock::kFails, 6, 40, 6 * kFixedMs, 6 * kFixedMs},
        // A clock lost half way: what it saw, then no more than the fixed
        // count of the rest beyond the batch that was under way.
        {FakeClock::kFailsAt100Ms, 6, 40, 100, 240},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "clock " << int(row.clock) << ", " << row.units << " x "
                                        << row.unitMilliseconds << " ms");
        const double spent =
            double(StepsOfCall(row.clock, row.units, row.unitMilliseconds)) / kStepsPerMillisecond;
        EXPECT_GE(spent, row.leastMs);
        EXPECT_LE(spent, row.mostMs);
    }
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
