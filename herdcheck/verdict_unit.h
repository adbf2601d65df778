// The eight checks of a feeder's child and how the two runs of a child are
// judged against them.
//
// Each child runs twice under the same name: once with a steady feeder that
// keeps its ring full, once with a slow feeder whose portions come with
// pauses of up to 2 s. The steady run decides the first five checks, the slow
// run the waiting check, and the slow run's own first five decide whether the
// child survives a slow feeder: it does unless the slow run shows a fault the
// steady run did not.
#pragma once

#include <cstdint>
#include <string>

#include "containment_unit.h"
#include "elephant_unit.h"
#include "ring_watch_unit.h"

enum class Check {
    kFindsBlock,
    kTakesOnlyPlaced,
    kRingOrder,
    kExactRation,
    kEndsWhenFed,
    kWaitsPolitely,
    kSurvivesSlowFeeder,
    kStaysContained,
};
inline constexpr int kCheckCount = 8;

// Titles and short table labels (Windows-1251), and names for the JSON file.
std::string_view CheckTitle(Check check);
std::string_view CheckLabel(Check check);
std::string_view CheckKey(Check check);

enum class StopReason {
    kNone,
    kQuiet,          // took nothing for a while although food was there, or after its last portion
    kFlooded,        // wrote more output than the checker takes
    kTimeLimit,      // the run's time was up
    kOverLimit,      // more processes or memory than a child may have
    kForeignWriter,  // another program fed into the block: the run says nothing of the child
};

// Everything the judgement needs of one run.
struct RunOutcome {
    RunEnd end = RunEnd::kNotStarted;
    StopReason stopReason = StopReason::kNone;
    std::uint32_t startError = 0;  // the platform's error number when not started
    std::uint32_t exitCode = 0;
    std::string crashName;  // "SIGABRT", "0xC0000005"
    std::int32_t eaten = 0;
    std::int32_t supply = 0;
    WrongWrite wrongWrite;  // the first one, as the ring watch saw it
    OrderFault orderFault;
    double secondsAfterLastPortion = 0;  // from the last portion taken to the end
    double quietSeconds = 0;             // how long a stopped child had been quiet
    double runSeconds = 0;
    double waitingSeconds = 0;     // time the ring stood empty on purpose
    double waitingCpuSeconds = 0;  // processor time the child used meanwhile
    ContainmentHarms harms;
    int foreignPortion = -1;          // the first portion the checker did not place, or -1
    bool blockHeldElsewhere = false;  // another program still held the block after the run
};

enum class Verdict { kPassed, kFailed, kNotJudged };

struct CheckResult {
    Verdict verdict = Verdict::kNotJudged;
    std::string detail;  // what was seen (Windows-1251); empty when there is nothing to say
};

// The limits the judgement applies.
inline constexpr double kEndWithinSeconds = 2.0;
inline constexpr double kMostWaitingCpuShare = 0.05;
inline constexpr double kLeastWaitingSeconds = 0.5;  // less is too little to measure

// The ration of the weight a child that ignores the decimal separator reads:
// the weight's whole part. Equal to the true ration for a whole weight.
std::int32_t MisreadRation(double weight);

// Judges the eight checks of a child that ran as `row`.
void JudgeChild(const ElephantRecord& row, const RunOutcome& steady, const RunOutcome& slow,
                CheckResult (&results)[kCheckCount]);

// True when a check failed only because something took longer than allowed,
// which a busy machine can cause: such a child is checked once more, alone.
bool FailedOnTime(const RunOutcome& run);

// True when every check passed.
bool AllPassed(const CheckResult (&results)[kCheckCount]);
