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
// call costs its length within one tick.
void SpinWait(std::int32_t units);

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
