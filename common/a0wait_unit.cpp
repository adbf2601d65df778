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
// Steps of the empty loop before the first look at the CPU clock: tens of
// microseconds. Later batches are sized from the measured speed, because
// reading the clock is cheap on Linux and Windows but a round trip to the
// server under Wine.
constexpr double kFirstBatchSteps = 100'000;

// The calling thread's processor time, kernel and user, in units of 100 ns.
std::int64_t ThreadProcessorTime() {
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) {
        return 0;
    }
    const auto units = [](const FILETIME& time) {
        return static_cast<std::int64_t>((std::uint64_t(time.dwHighDateTime) << 32) |
                                         time.dwLowDateTime);
    };
    return units(kernel) + units(user);
}

void SpinSteps(double steps) {
    const auto count = static_cast<std::int64_t>(steps);
    for (std::int64_t k = 0; k < count; ++k) {
        KeepIteration(k);
    }
}

// Spins until the thread has used `milliseconds` of processor time since the
// call. One target for the whole call: on a clock that moves in ticks the
// error stays within one tick instead of adding up unit by unit. Each batch
// aims at half of what is left, so the clock is read a few dozen times per
// call, not every few microseconds.
void SpinForProcessorTime(std::int64_t milliseconds) {
    std::int64_t now = ThreadProcessorTime();
    const std::int64_t target = now + milliseconds * kFileTimeUnitsPerMillisecond;
    double steps = kFirstBatchSteps;
    while (now < target) {
        SpinSteps(steps);
        const std::int64_t after = ThreadProcessorTime();
        if (after == 0) {
            return;  // no CPU clock for this thread: never spin for ever
        }
        const std::int64_t used = after - now;
        now = after;
        if (used <= 0) {
            steps *= 2;  // a clock that moves in ticks has not moved yet
            continue;
        }
        const double stepsPerUnit = steps / double(used);
        steps = std::max(kFirstBatchSteps, stepsPerUnit * double(target - now) / 2);
    }
}

}  // namespace

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
        SpinForProcessorTime(std::int64_t{units} * unit);
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
