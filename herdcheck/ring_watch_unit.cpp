// Watching a FeedRing from the feeder's side.
#include "ring_watch_unit.h"

#include <atomic>

namespace {

std::int32_t PauseBefore(const FeedingPlan& plan, std::int32_t portion) {
    return portion < static_cast<std::int32_t>(plan.pauses.size()) ? plan.pauses[portion] : 0;
}

// Replaces `seen` by 0 unless the child changed the slot again meanwhile.
void UndoWrite(unsigned char* ring, int slot, unsigned char seen) {
    std::atomic_ref<unsigned char>(ring[slot]).compare_exchange_strong(seen, kEmptySlot);
}

// Places a portion when the slot is empty; never overwrites a child's write.
bool PlacePortion(unsigned char* ring, int slot) {
    unsigned char expected = kEmptySlot;
    return std::atomic_ref<unsigned char>(ring[slot]).compare_exchange_strong(expected, kFullSlot);
}

// The slots emptied in this look, checked against ring order: an in-order
// child empties childPosition, childPosition + 1, ... and nothing else.
void CheckOrder(const bool (&taken)[kRingSlots], int count, RingWatch& watch) {
    int expectedRun = 0;
    while (expectedRun < count && taken[(watch.childPosition + expectedRun) % kRingSlots]) {
        ++expectedRun;
    }
    int furthest = watch.childPosition;
    for (int step = 0; step < kRingSlots; ++step) {
        const int slot = (watch.childPosition + step) % kRingSlots;
        if (taken[slot]) {
            furthest = slot;
            if (step >= expectedRun && watch.orderFault.slot < 0) {
                watch.orderFault = {slot, watch.childPosition};
            }
        }
    }
    watch.childPosition = NextRingPosition(furthest);
}

// Records what the child did to the ring since the last look; returns the
// portions it took.
std::int32_t ReadChildMoves(unsigned char* ring, RingWatch& watch) {
    bool taken[kRingSlots] = {};
    int count = 0;
    for (int slot = 0; slot < kRingSlots; ++slot) {
        const unsigned char value = LoadSlot(ring, slot);
        const bool wasFull = watch.holdsPortion[slot];
        if (wasFull ? value == kFullSlot : value == kEmptySlot) {
            continue;  // unchanged
        }
        if (value != kEmptySlot) {
            if (watch.wrongWrite.slot < 0) {
                watch.wrongWrite = {slot, value, !wasFull};
            }
            if (value == kFullSlot && watch.foreignPortion < 0) {
                watch.foreignPortion = slot;  // a portion where the checker placed none
            }
            UndoWrite(ring, slot, value);
        }
        if (wasFull) {  // the portion is gone, whatever was written in its place
            watch.holdsPortion[slot] = false;
            taken[slot] = true;
            ++count;
        }
    }
    if (count > 0) {
        CheckOrder(taken, count, watch);
    }
    return count;
}

void PlaceAllowedPortions(unsigned char* ring, RingWatch& watch, const FeedingPlan& plan,
                          DWORD nowTick) {
    while (watch.placed < plan.supply &&
           static_cast<std::int32_t>(nowTick - watch.nextPortionTick) >= 0 &&
           !watch.holdsPortion[watch.feederPosition] && PlacePortion(ring, watch.feederPosition)) {
        watch.holdsPortion[watch.feederPosition] = true;
        watch.feederPosition = NextRingPosition(watch.feederPosition);
        ++watch.placed;
        watch.nextPortionTick = nowTick + static_cast<DWORD>(PauseBefore(plan, watch.placed));
    }
}

}  // namespace

RingWatch NewRingWatch(const FeedingPlan& plan, DWORD startTick) {
    RingWatch watch;
    watch.nextPortionTick = startTick + static_cast<DWORD>(PauseBefore(plan, 0));
    watch.foodSinceTick = startTick;
    watch.lastEatenTick = startTick;
    return watch;
}

bool FoodWaiting(const RingWatch& watch) {
    for (bool full : watch.holdsPortion) {
        if (full) {
            return true;
        }
    }
    return false;
}

WatchEvents WatchRing(unsigned char* ring, RingWatch& watch, const FeedingPlan& plan,
                      DWORD nowTick) {
    WatchEvents events;
    const bool foodBefore = FoodWaiting(watch);
    events.eatenNow = ReadChildMoves(ring, watch);
    if (events.eatenNow > 0) {
        watch.eaten += events.eatenNow;
        watch.lastEatenTick = nowTick;
    }
    PlaceAllowedPortions(ring, watch, plan, nowTick);
    const bool foodAfter = FoodWaiting(watch);
    if (foodAfter && (!foodBefore || events.eatenNow > 0)) {
        watch.foodSinceTick = nowTick;
    }
    // Waiting counts only once the child has eaten (its start-up is not
    // waiting) and only while the feeder holds back on purpose.
    const bool hungry = !foodAfter && watch.eaten > 0 && watch.placed < plan.supply;
    events.hungerBegan = hungry && !watch.hungry;
    events.hungerEnded = !hungry && watch.hungry;
    watch.hungry = hungry;
    return events;
}
