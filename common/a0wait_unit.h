// The base waits of the two kinds of child.
//   SpinWait  (elephant): burns processor time, so progress depends on the
//                         share of the processor the priority class wins.
//   SleepWait (worker):   sleeps a planned number of milliseconds and records
//                         when and how long, for the worker's message thread.
#pragma once

#include <atomic>
#include <cstdint>

// One unit is 10,000 x 1,000 iterations of an empty loop that the optimiser
// may not remove; n <= 0 returns at once.
//
// With HERDLAB_UNIT_MS=n (1..1000) in the environment, a unit is instead n ms
// of the calling thread's own processor time: the loop spins until the
// thread's CPU clock has advanced by units x n ms. It still never sleeps or
// yields. On Windows that clock moves in ticks of about 16 ms, so a single
// call costs its length within one tick; a thread that has just begun may
// read 0 until its first tick is charged, and 0 is a reading like any other.
void SpinWait(std::int32_t units);

// ---- The spin of a call in processor time, step by step (for SpinWait and
// its tests) -----------------------------------------------------------------

// A reading of the thread's CPU clock, in units of 100 ns; not valid when
// the platform's call failed (the thread has no clock).
struct ThreadClockReading {
    bool valid = false;
    std::int64_t time = 0;
};

// The state of one SpinWait call that spins until the thread's clock has
// advanced by its units. `batch` is the number of empty steps to spin next;
// 0: the call is done.
struct ProcessorTimeSpin {
    std::int64_t target = 0;          // the clock's value at which the call is done
    std::int64_t last = 0;            // the clock's latest value
    std::int64_t clockSpan = 0;       // what the call asks of the clock
    std::int64_t fixedSteps = 0;      // the call's units by the fixed count
    std::int64_t stepsSinceMove = 0;  // steps spun since the clock last moved
    std::int64_t batch = 0;
    bool byFixedCount = false;  // the last batch ends the call: the clock failed or is stuck
};

// The first batch of a call of `units` of `unitMilliseconds` each, from the
// clock's first reading. Without a clock the whole call is one batch of the
// fixed count.
ProcessorTimeSpin StartProcessorTimeSpin(std::int32_t units, std::int32_t unitMilliseconds,
                                         ThreadClockReading first);

// The next batch after `spin.batch` steps have been spun and the clock read
// again. A failed reading, or a clock that has not moved during as many steps
// as the call's fixed count (and at least several of Windows' clock ticks of
// work), ends the call with the rest of its fixed count (byFixedCount). A
// thread that gets no processor spins no steps, so it never finishes a unit
// it has not worked for, however long it waits.
std::int64_t NextSpinBatch(ProcessorTimeSpin& spin, ThreadClockReading reading);

// The value of HERDLAB_UNIT_MS taken for the run: 1..1000, or 0 when the
// setting is unset, empty or invalid (the fixed count of iterations). Read
// from the environment once, at the first call.
std::int32_t SpinUnitMilliseconds();

// Reads a HERDLAB_UNIT_MS text: decimal digits only, no sign or blanks, value
// 1..1000; anything else (null and empty text included) gives 0.
std::int32_t ParseSpinUnitMilliseconds(const char* text);

// Tick count at the start of the latest SleepWait, and its planned length in
// ms; both 0 before the first wait. Written in this order, before the sleep.
extern std::atomic<std::uint32_t> waitStamp;
extern std::atomic<std::int32_t> waitDuration;

// Records waitStamp and waitDuration, then sleeps n ms (n = 0 yields; a
// negative n records 0 and returns at once).
void SleepWait(std::int32_t milliseconds);
