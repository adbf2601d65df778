// Running one child once against the checker's ring.
#include "check_run_unit.h"

#include <algorithm>

#include "command_line_unit.h"
#include "feed_ring_unit.h"

namespace {

constexpr DWORD kFirstPortionMs = 10000;  // start-up included, generous for Wine
constexpr DWORD kQuietMs = 3000;          // no portion taken although there was food
constexpr DWORD kRunBaseMs = 15000;       // a run's limit: this plus kMsPerPortion a portion
constexpr DWORD kMsPerPortion = 500;
constexpr DWORD kSampleMs = 100;  // how often the child's processes are counted and measured
constexpr std::size_t kMostOutputBytes = 1024 * 1024;

FeedingPlan PlanOf(FeederPace pace, const ElephantRecord& row) {
    FeedingPlan plan;
    plan.supply = RationOf(row.weight) + kExtraPortions;
    if (pace == FeederPace::kSlow) {
        plan.pauses = kSlowFeederPauses;
    }
    return plan;
}

DWORD RunLimitMs(const FeedingPlan& plan) {
    DWORD pauses = 0;
    for (std::int32_t pause : plan.pauses) {
        pauses += static_cast<DWORD>(pause);
    }
    return kRunBaseMs + pauses + kMsPerPortion * static_cast<DWORD>(plan.supply);
}

double SecondsBetween(DWORD from, DWORD to) {
    return static_cast<double>(to - from) / 1000.0;
}

// How long the machine held the child or the checker back since `before`:
// the longer of the two waits for a processor (they overlap in time).
double MachineDelaySeconds(const ChildUsage& before, const ChildUsage& now) {
    return std::max(now.runQueueSeconds - before.runQueueSeconds,
                    now.checkerRunQueueSeconds - before.checkerRunQueueSeconds);
}

// Seconds from `since` to `now` that count against the child.
double ChildSecondsSince(const CheckRun& run, DWORD since, const ChildUsage& atSince, DWORD now) {
    return std::max(0.0, SecondsBetween(since, now) - MachineDelaySeconds(atSince, run.usage));
}

void Sample(CheckRun& run, DWORD now) {
    run.usage = SampleChild(run.child);
    run.sampleTick = now;
}

void EndWaiting(CheckRun& run, DWORD now) {
    Sample(run, now);
    run.outcome.waitingSeconds += SecondsBetween(run.hungerStartTick, now);
    run.outcome.waitingCpuSeconds += run.usage.cpuSeconds - run.hungerStartCpu;
}

// Since when the child has taken nothing although it could have: food has
// waited, or, with all food placed, since its last portion.
DWORD QuietSinceTick(const RingWatch& watch) {
    return FoodWaiting(watch) ? watch.foodSinceTick : watch.lastEatenTick;
}

double QuietSeconds(const CheckRun& run, DWORD now) {
    return ChildSecondsSince(run, QuietSinceTick(run.watch), run.quietStartUsage, now);
}

// Why the checker must end the child now, or kNone.
StopReason StopReasonOf(const CheckRun& run, DWORD now) {
    if (run.stopOnForeignPortion && run.watch.foreignPortion >= 0) {
        return StopReason::kForeignWriter;
    }
    if (run.outputBytes > kMostOutputBytes) {
        return StopReason::kFlooded;
    }
    if (run.usage.overLimit) {
        return StopReason::kOverLimit;
    }
    const RingWatch& watch = run.watch;
    const bool food = FoodWaiting(watch);
    const double quiet = QuietSeconds(run, now);
    if (watch.eaten == 0 && food && quiet * 1000 > kFirstPortionMs) {
        return StopReason::kQuiet;
    }
    const bool fedOut = watch.placed == run.plan.supply;
    if (watch.eaten > 0 && (food || fedOut) && quiet * 1000 > kQuietMs) {
        return StopReason::kQuiet;
    }
    if (ChildSecondsSince(run, run.startTick, run.startUsage, now) * 1000 > RunLimitMs(run.plan)) {
        return StopReason::kTimeLimit;
    }
    return StopReason::kNone;
}

// Records the run's outcome and ends the child if it still runs. A wait
// still open counts only while the child can be measured: one that has
// ended and been reaped has no processor time left to read.
void FinishRun(CheckRun& run, DWORD now) {
    if (run.watch.hungry && run.child.running) {
        EndWaiting(run, now);
    }
    RunOutcome& outcome = run.outcome;
    outcome.eaten = run.watch.eaten;
    outcome.supply = run.plan.supply;
    outcome.wrongWrite = run.watch.wrongWrite;
    outcome.orderFault = run.watch.orderFault;
    outcome.foreignPortion = run.watch.foreignPortion;
    outcome.secondsAfterLastPortion =
        ChildSecondsSince(run, run.watch.lastEatenTick, run.lastEatenUsage, now);
    outcome.runSeconds = SecondsBetween(run.startTick, now);
    ReleaseChild(run.child);
    outcome.harms = run.child.harms;
    outcome.blockHeldElsewhere = ReleaseRing(run);  // the child is gone by now
}

// Samples when due, and keeps the samples the time limits start from.
void KeepSamples(CheckRun& run, const WatchEvents& events, DWORD now) {
    if (now - run.sampleTick >= kSampleMs || events.eatenNow > 0 || events.hungerBegan) {
        Sample(run, now);
    }
    if (events.eatenNow > 0) {
        run.lastEatenUsage = run.usage;
    }
    if (QuietSinceTick(run.watch) != run.quietSinceTick) {
        run.quietSinceTick = QuietSinceTick(run.watch);
        run.quietStartUsage = run.usage;
    }
}

}  // namespace

bool CreateRing(CheckRun& run, const std::string& blockName, DWORD& error) {
    std::uint32_t platformError = 0;
    const bool created = MakeChildScratch(run.child, platformError) &&
                         CreateChildBlock(run.child.scratch, blockName, run.block, platformError);
    if (!created) {
        ReleaseChild(run.child);  // its scratch folder
    }
    error = platformError;
    return created;
}

bool ReleaseRing(CheckRun& run) {
    return ReleaseChildBlock(run.block);
}

bool StartRun(CheckRun& run, FeederPace pace, const ElephantRecord& row, const std::string& program,
              const std::string& commandLine) {
    run.plan = PlanOf(pace, row);
    run.startTick = GetTickCount();
    const std::vector<std::string> words = CommandLineWords(commandLine);
    if (!StartContainedChild(program, words, run.child, run.outcome.startError)) {
        ReleaseRing(run);
        return false;
    }
    run.outcome.end = RunEnd::kExited;
    run.watch = NewRingWatch(run.plan, run.startTick);
    Sample(run, run.startTick);
    run.startUsage = run.usage;
    run.lastEatenUsage = run.usage;
    run.quietSinceTick = QuietSinceTick(run.watch);
    run.quietStartUsage = run.usage;
    return true;
}

bool StepRun(CheckRun& run, DWORD now) {
    ChildEnd how;
    const bool ended = ChildEnded(run.child, how);  // before the ring: its last bites count
    run.outputBytes += DrainChildOutput(run.child);
    const WatchEvents events = WatchRing(run.block.ring, run.watch, run.plan, now);
    // A child that has just ended can no longer be measured.
    if (!ended) {
        KeepSamples(run, events, now);
        if (events.hungerBegan) {
            run.hungerStartTick = now;
            run.hungerStartCpu = run.usage.cpuSeconds;
        } else if (events.hungerEnded) {
            EndWaiting(run, now);
        }
    }
    if (ended) {
        run.outcome.end = how.end;
        run.outcome.exitCode = how.exitCode;
        run.outcome.crashName = how.crashName;
        FinishRun(run, now);
        return true;
    }
    const StopReason stop = StopReasonOf(run, now);
    if (stop == StopReason::kNone) {
        return false;
    }
    run.outcome.quietSeconds = QuietSeconds(run, now);
    run.outcome.end = RunEnd::kStopped;
    run.outcome.stopReason = stop;
    FinishRun(run, now);
    return true;
}
