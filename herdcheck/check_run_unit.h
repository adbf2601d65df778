// One run of one child: the checker creates the ring under the lane's name,
// starts the child contained, feeds and watches it step by step, stops it
// when it must, and records the outcome the verdict judges.
//
// Time limits count the machine's delays out: a spell in which the child
// (or the checker) was ready to run but got no processor is not held
// against the child, so a busy machine does not turn a correct child's
// pause into a fault.
#pragma once

#include <string>

#include "child_block_unit.h"
#include "child_process_unit.h"
#include "elephant_unit.h"
#include "ring_watch_unit.h"
#include "verdict_unit.h"
#include "win32.h"

// How the checker feeds a run: keeping the ring full, or with pauses.
enum class FeederPace { kSteady, kSlow };

struct CheckRun {
    ChildBlock block;
    ChildProcess child;
    // A portion the checker did not place ends the run (another program
    // feeds into the block); otherwise it counts as the child's wrong write.
    bool stopOnForeignPortion = true;
    FeedingPlan plan;
    RingWatch watch;
    DWORD startTick = 0;
    std::size_t outputBytes = 0;
    DWORD hungerStartTick = 0;
    double hungerStartCpu = 0;
    DWORD sampleTick = 0;
    ChildUsage usage;            // at the last sample
    ChildUsage startUsage;       // at the start
    DWORD quietSinceTick = 0;    // the quiet spell quietStartUsage belongs to
    ChildUsage quietStartUsage;  // at the start of that spell
    ChildUsage lastEatenUsage;   // at the last portion taken
    RunOutcome outcome;
};

// Makes the child's scratch folder and creates the run's block under
// `blockName` for it, fresh and cleared (child_block_unit.h). False with the
// platform's error number; on Windows a name that another program holds is
// ERROR_ALREADY_EXISTS: the checker never shares a block.
bool CreateRing(CheckRun& run, const std::string& blockName, DWORD& error);
// Lets go of the block; true when another program still held it.
bool ReleaseRing(CheckRun& run);

// Starts the child on the run's open ring; false when it does not start
// (the ring is released then).
bool StartRun(CheckRun& run, FeederPace pace, const ElephantRecord& row, const std::string& program,
              const std::string& commandLine);

// One look at a running child; true when its run is over and `run.outcome`
// holds what happened.
bool StepRun(CheckRun& run, DWORD now);
