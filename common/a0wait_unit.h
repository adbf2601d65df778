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
void SpinWait(std::int32_t units);

// Tick count at the start of the latest SleepWait, and its planned length in
// ms; both 0 before the first wait. Written in this order, before the sleep.
extern std::atomic<std::uint32_t> waitStamp;
extern std::atomic<std::int32_t> waitDuration;

// Records waitStamp and waitDuration, then sleeps n ms (n = 0 yields; a
// negative n records 0 and returns at once).
void SleepWait(std::int32_t milliseconds);
