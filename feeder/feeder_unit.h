// The shared-memory feeder: eight children of one companion program, each fed
// through its own FeedRing until it has its ration or 30 seconds have passed.
//
// herdboss2 and herdboss6 are this code with two data sets; each program
// defines kFeederBuild with its own. The program runs, in this order:
// greeting, LaunchFeederHerd, FeedHerd, ReapFeederHerd, ReleaseFeedRings.
#pragma once

#include <cstdint>

#include "elephant_unit.h"
#include "feed_ring_unit.h"
#include "feeder_herds_unit.h"
#include "process_unit.h"
#include "program_lines_unit.h"
#include "win32.h"

// The data set of this program (defined by feeder.cpp, or by a test): one of
// the two of feeder_herds_unit.h.
extern const FeederBuildData kFeederBuild;

// ---- Module state: the slots and the feeding state, indexed like the table --

extern ChildSlot<const ElephantRecord> ChildSlots[kFeederHerdSize];
extern HANDLE FeedRingHandles[kFeederHerdSize];        // null when no block exists
extern unsigned char* FeedRingViews[kFeederHerdSize];  // null when not mapped
extern std::int32_t RemainingRations[kFeederHerdSize];
extern std::int32_t RingPositions[kFeederHerdSize];  // slot that takes the next portion
extern std::int32_t StartedCount;
extern STARTUPINFOA StartupInfo;  // shared by all eight starts

// ---- Launch -----------------------------------------------------------------

// Creates, maps and clears the block of child `index`. When the block cannot
// be created or mapped, prints a line saying so and returns false; the child
// must then not be started.
bool OpenFeedRing(int index);

// Fills the slots and feeding state, creates the eight blocks and starts the
// eight children in table order; returns StartedCount.
std::int32_t LaunchFeederHerd();

// ---- Feeding ----------------------------------------------------------------

// Started children whose ration has not run out yet.
std::int32_t UnfinishedCount();

// The time of day as a fraction of a day, to the millisecond.
double DayFraction(const SYSTEMTIME& time);

// The deadline: `start` plus 30 seconds, as a fraction of a day.
double FeedingDeadline(double start);

// True when feeding must stop: the time of day has reached the deadline, or
// 30 s of ticks have passed (a bound that holds across midnight and clock
// changes) since `startTick` (wrap-around safe).
bool FeedingTimeUp(double now, double deadline, DWORD nowTick, DWORD startTick);

// One visit without its pause: places a portion when the child still has
// ration left and the slot at its ring position is empty. True when placed.
bool VisitChild(int index);

// One pass: the eight visits in table order, each followed by its pause of
// 0..99 ms.
void FeedPass();

// Passes until every started child has its ration or the time is up.
void FeedHerd();

// ---- End --------------------------------------------------------------------

// Reports each started child in table order, ending those still running.
void ReapFeederHerd();

// Unmaps and closes the eight blocks; missing ones are skipped.
void ReleaseFeedRings();
