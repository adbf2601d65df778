// The base waits: a busy loop that burns a fixed amount of processor work per
// unit, and a sleep that leaves its start and planned length for the worker's
// message thread.
#include "a0wait_unit.h"

#include <algorithm>
#include <cstdlib>

#include "number_text_unit.h"
#include "win32.h"

std::atomic<std::uint32_t> waitStamp{0};
std::atomic<std::int32_t> waitDuration{0};

namespace {

constexpr int kOuterIterations = 10'000;
constexpr int kInnerIterations = 1'000;

// Makes the optimiser forget what it knows about the loop counter, so it can
// neither remove the empty loop nor compute its end in one step. The counter
// stays in a register: no memory traffic is added to the loop.
template <typename Counter>
inline void KeepIteration(Counter& counter) {
#if defined(__GNUC__) || defined(__clang__)
    asm volatile("" : "+r"(counter));
#else
    volatile Counter sink = counter;
    counter = sink;
#endif
}

void SpinOneUnit() {
    for (int j = 0; j < kOuterIterations; ++j) {
        for (int k = 0; k < kInnerIterations; ++k) {
            KeepIteration(k);
        }
    }
}

constexpr std::int32_t kLongestUnitMilliseconds = 1000;
constexpr std::int64_t kFileTimeUnitsPerMillisecond = 10'000;  // 100 ns each
constexpr std::int64_t kStepsPerFixedUnit = std::int64_t{kOuterIterations} * kInnerIterations;
// Steps of the empty loop before the first look at the CPU clock: tens of
// microseconds. Later batches are sized from the measured speed, because
// reading the clock is cheap on Linux and Windows but a round trip to the
// server under Wine.
constexpr std::int64_t kFirstBatchSteps = 100'000;
// However short the call, a clock is taken for stuck only after this many
// steps without a move: some 60 ms of work on today's processors, several
// of the ticks (about 15.6 ms) in which Windows charges a thread's time.
constexpr std::int64_t kLeastStuckClockSteps = 20 * kStepsPerFixedUnit;
constexpr double kMostBatchSteps = 1e15;  // days of spinning

// The calling thread's processor time, kernel and user, in units of 100 ns.
ThreadClockReading ReadThreadClock() {
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) {
        return {false, 0};
    }
    const auto units = [](const FILETIME& time) {
        return static_cast<std::int64_t>((std::uint64_t(time.dwHighDateTime) << 32) |
                                         time.dwLowDateTime);
    };
    return {true, units(kernel) + units(user)};
}

void SpinSteps(std::int64_t count) {
    for (std::int64_t k = 0; k < count; ++k) {
        KeepIteration(k);
    }
}

// The rest of the call by the fixed count: the share of the call's fixed
// steps that the clock has not yet seen spent, less what was spun since.
std::int64_t SpinRestByFixedCount(ProcessorTimeSpin& spin) {
    spin.byFixedCount = true;
    const double left = double(spin.target - spin.last) / double(spin.clockSpan);
    const auto rest = static_cast<std::int64_t>(left * double(spin.fixedSteps));
    return std::max<std::int64_t>(0, rest - spin.stepsSinceMove);
}

// Spins `units` of `unitMilliseconds` of the thread's own processor time.
void SpinForProcessorTime(std::int32_t units, std::int32_t unitMilliseconds) {
    ProcessorTimeSpin spin = StartProcessorTimeSpin(units, unitMilliseconds, ReadThreadClock());
    while (spin.batch > 0) {
        SpinSteps(spin.batch);
        spin.batch = spin.byFixedCount ? 0 : NextSpinBatch(spin, ReadThreadClock());
    }
}

}  // namespace

// One target for the whole call: on a clock that moves in ticks the error
// stays within one tick instead of adding up unit by unit. Each batch aims at
// half of what is left, so the clock is read a few dozen times per call, not
// every few microseconds. A reading of 0 is a thread that has not yet been
// charged a tick, not a missing clock.
ProcessorTimeSpin StartProcessorTimeSpin(std::int32_t units, std::int32_t unitMilliseconds,
                                         ThreadClockReading first) {
    ProcessorTimeSpin spin;
    spin.fixedSteps = std::int64_t{units} * kStepsPerFixedUnit;
    spin.clockSpan = std::int64_t{units} * unitMilliseconds * kFileTimeUnitsPerMillisecond;
    spin.last = first.time;
    spin.target = first.time + spin.clockSpan;
    if (!first.valid) {
        spin.batch = SpinRestByFixedCount(spin);
        return spin;
    }
    spin.batch = kFirstBatchSteps;
    return spin;
}

std::int64_t NextSpinBatch(ProcessorTimeSpin& spin, ThreadClockReading reading) {
    spin.stepsSinceMove += spin.batch;
    if (!reading.valid) {
        return SpinRestByFixedCount(spin);
    }
    const std::int64_t used = reading.time - spin.last;
    if (used <= 0) {
        // A clock that moves in ticks has not moved yet; one that never
        // moves must not keep the thread spinning for ever.
        if (spin.stepsSinceMove >= std::max(spin.fixedSteps, kLeastStuckClockSteps)) {
            return SpinRestByFixedCount(spin);
        }
        return spin.batch * 2;
    }
    const double stepsPerClockUnit = double(spin.stepsSinceMove) / double(used);
    spin.stepsSinceMove = 0;
    spin.last = reading.time;
    if (spin.last >= spin.target) {
        return 0;
    }
    // Bounded as a double, so that a clock that moved by a single unit cannot
    // ask for more steps than an int64 holds.
    const double half = stepsPerClockUnit * double(spin.target - spin.last) / 2;
    return std::max(kFirstBatchSteps, static_cast<std::int64_t>(std::min(half, kMostBatchSteps)));
}

std::int32_t ParseSpinUnitMilliseconds(const char* text) {
    return ParseSettingNumber(text, kLongestUnitMilliseconds);
}

std::int32_t SpinUnitMilliseconds() {
    // One of the two settings the programs read; a launcher's children
    // inherit it with the rest of the environment.
    static const std::int32_t unit = ParseSpinUnitMilliseconds(std::getenv("HERDLAB_UNIT_MS"));
    return unit;
}

void SpinWait(std::int32_t units) {
    if (units <= 0) {
        return;
    }
    if (const std::int32_t unit = SpinUnitMilliseconds(); unit > 0) {
        SpinForProcessorTime(units, unit);
        return;
    }
    for (std::int32_t n = 0; n < units; ++n) {
        SpinOneUnit();
    }
}

void SleepWait(std::int32_t milliseconds) {
    // The stamp goes first: a reader that sees the new duration also sees
    // the new stamp.
    waitStamp.store(GetTickCount());
    waitDuration.store(milliseconds > 0 ? milliseconds : 0);
    if (milliseconds < 0) {
        return;
    }
    Sleep(static_cast<DWORD>(milliseconds));
}
