// Random waits on top of the base waits: each call reseeds the generator from
// the high-resolution counter, draws k below the bound and waits k.
// A bound of 0 or 1 gives no wait. A negative bound returns at once: the spin
// form without reseeding, the sleep form after recording a wait of 0 ms
// (SleepWait with the negative value), so waitStamp and waitDuration always
// describe the latest call.
#pragma once

#include <cstdint>

void RandomSpinWait(std::int32_t bound);
void RandomSleepWait(std::int32_t boundMilliseconds);
