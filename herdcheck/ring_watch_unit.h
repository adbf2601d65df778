// The feeder's side of one checked run, played against a child's FeedRing,
// and what the checker sees of the child through the ring.
//
// The checker feeds by the feeders' own ring rules: it places a portion only
// into the slot at its ring position and only when that slot is empty, and
// advances the position after each portion. It places more than the ration,
// so a child that eats too much is seen doing it. Between placements it
// watches every slot: a 1 that became 0 is a portion eaten; anything else the
// child writes is a fault, recorded and then undone, so that the run goes on
// and the other checks are still judged. A portion the checker did not
// place is another feeder's: a program other than the child has the block
// open (on Windows, where one session shares the names), and the run says so.
#pragma once

#include <cstdint>
#include <span>

#include "feed_ring_unit.h"
#include "win32.h"

// How portions arrive during a run.
struct FeedingPlan {
    std::int32_t supply = 0;               // portions placed in all: ration + a full ring
    std::span<const std::int32_t> pauses;  // ms before portion i, for i < size; 0 after
};

// Portions beyond the ration: a full ring, so that a child that has its
// ration sees eight more and must leave them.
inline constexpr std::int32_t kExtraPortions = kRingSlots;

// The slow feeder: pauses before the first portions, up to 2 s, irregular.
inline constexpr std::int32_t kSlowFeederPauses[] = {300, 2000, 0, 0, 400, 0, 900, 0, 150};

// A write into the ring that was not a portion taken (1 turned into 0).
struct WrongWrite {
    int slot = -1;  // -1: none seen
    int value = 0;
    bool intoEmpty = false;  // written into a slot that held no portion
};

// A portion taken out of ring order.
struct OrderFault {
    int slot = -1;     // -1: none seen
    int expected = 0;  // the slot next in ring order
};

// What the checker knows of one run so far.
struct RingWatch {
    // The feeder's side.
    std::int32_t placed = 0;             // portions placed so far
    int feederPosition = 0;              // slot for the next portion
    DWORD nextPortionTick = 0;           // no portion before this tick
    bool holdsPortion[kRingSlots] = {};  // slots holding a portion the child has not taken
    // The child as seen through the ring.
    std::int32_t eaten = 0;
    int childPosition = 0;  // the slot an in-order child empties next
    DWORD lastEatenTick = 0;
    WrongWrite wrongWrite;    // the first one
    OrderFault orderFault;    // the first one
    int foreignPortion = -1;  // the slot of the first portion the checker did not place, or -1
    // Waiting: the ring is empty while the feeder holds back on purpose.
    bool hungry = false;
    DWORD foodSinceTick = 0;  // since when food has waited untouched
};

// What a step changed that the caller measures around.
struct WatchEvents {
    std::int32_t eatenNow = 0;
    bool hungerBegan = false;
    bool hungerEnded = false;
};

// Starts a run's watch at `startTick`: nothing placed, the first portion
// after the plan's first pause.
RingWatch NewRingWatch(const FeedingPlan& plan, DWORD startTick);

// One look at the ring: records what the child took or wrote since the last
// look, then places the portions the plan allows now.
WatchEvents WatchRing(unsigned char* ring, RingWatch& watch, const FeedingPlan& plan,
                      DWORD nowTick);

// True when some slot holds a portion the child has not taken.
bool FoodWaiting(const RingWatch& watch);
