// Random waits. Each call reseeds from the high-resolution counter, so a
// draw does not follow from the earlier draws of the same process.
#include "a1wait_unit.h"

#include "a0wait_unit.h"
#include "random_unit.h"

void RandomSpinWait(std::int32_t bound) {
    if (bound < 0) {
        return;
    }
    Reseed(SeedSource::kPerformanceCounter);
    SpinWait(RandomBelow(bound));
}

void RandomSleepWait(std::int32_t boundMilliseconds) {
    if (boundMilliseconds < 0) {
        // Still a wait that started now and plans nothing, so the worker's
        // message thread reads consistent values.
        SleepWait(boundMilliseconds);
        return;
    }
    Reseed(SeedSource::kPerformanceCounter);
    SleepWait(RandomBelow(boundMilliseconds));
}
