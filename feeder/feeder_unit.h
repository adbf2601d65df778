// The shared-memory feeder: eight children of one companion program, each fed
// through its own FeedRing until it has its ration or 30 seconds have passed.
//
// herdboss2 and herdboss6 are this code with two data sets; each program
// defines kFeederBuild with its own. The program runs, in this order:
// greeting, LaunchFeederHerd, FeedHerd, ReapFeederHerd, ReleaseFeedRings.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "elephant_unit.h"
#include "feed_ring_unit.h"
#include "process_unit.h"
#include "program_lines_unit.h"
#include "win32.h"

inline constexpr int kFeederHerdSize = 8;

// Everything in which the two builds differ.
struct FeederBuildData {
    std::string_view childProgramName;
    ElephantRecord herd[kFeederHerdSize];  // the FeederHerdTable
    std::string_view greetingLine;         // %s: time stamp
    std::string_view startFailureLine;     // %d: the platform's error number
    std::string_view endedLine;            // %s: time stamp, %s: name
    std::string_view killedLine;           // %s: time stamp, %s: name
};

// The data set of this program (defined by feeder.cpp, or by a test).
extern const FeederBuildData kFeederBuild;

// A herd row as the table holds it: the name as a length byte and at most 16
// characters, every byte after them zero; the block name is read from it.
constexpr ElephantRecord HerdRow(std::string_view name, std::int32_t age, double weight) {
    ElephantRecord row{};
    const std::size_t length =
        name.size() < kElephantNameLimit ? name.size() : std::size_t{kElephantNameLimit};
    row.nameLength = static_cast<std::uint8_t>(length);
    for (std::size_t i = 0; i < length; ++i) {
        row.nameChars[i] = name[i];
    }
    row.age = age;
    row.weight = weight;
    return row;
}

// Every ration of the build exceeds the ring. A child that never started gets
// eight portions and no more, so its ration never runs out and it never
// counts as fed; the data headers assert this.
constexpr bool EveryRationExceedsRing(const FeederBuildData& build) {
    for (const ElephantRecord& row : build.herd) {
        if (RationOf(row.weight) <= kRingSlots) {
            return false;
        }
    }
    return true;
}

// ---- Module state: the slots and the feeding state, indexed like the table --

extern ChildSlot<const ElephantRecord> ChildSlots[kFeederHerdSize];
extern HANDLE FeedRingHandles[kFeederHerdSize];        // null when no block exists
extern unsigned char* FeedRingViews[kFeederHerdSize];  // null when not mapped
extern std::int32_t RemainingRations[kFeederHerdSize];
extern std::int32_t RingPositions[kFeederHerdSize];  // slot that takes the next portion
extern std::int32_t StartedCount;
extern std::int32_t UnfinishedCount;  // started children whose ration has not run out
extern STARTUPINFOA StartupInfo;      // shared by all eight starts

// ---- Launch -----------------------------------------------------------------

// The block's name of a row: its length byte and characters, as stored.
std::string FeedRingName(const ElephantRecord& row);

// "%s %s %d %f": program, name, age, weight (two decimals, locale separator).
std::string ChildCommandLine(const ElephantRecord& row);

// Creates, maps and clears the block of child `index`. When the block cannot
// be created or mapped, prints a line saying so and returns false; the child
// must then not be started.
bool OpenFeedRing(int index);

// Fills the slots and feeding state, creates the eight blocks and starts the
// eight children in table order; returns StartedCount.
std::int32_t LaunchFeederHerd();

// ---- Feeding ----------------------------------------------------------------

// How long feeding may last, by the time of day and, as a bound that holds
// across midnight and clock changes, by the monotonic tick count.
inline constexpr double kFeedingSeconds = kFeedingMilliseconds / 1000.0;
inline constexpr DWORD kFeedingTicks = kFeedingMilliseconds;

// The time of day as a fraction of a day, to the millisecond.
double DayFraction(const SYSTEMTIME& time);

// The deadline: `start` plus 30 seconds, as a fraction of a day.
double FeedingDeadline(double start);

// True when feeding must stop: the time of day has reached the deadline, or
// 30 s of ticks have passed since `startTick` (wrap-around safe).
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
