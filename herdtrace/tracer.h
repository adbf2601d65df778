// Running PROGRAM under observation. The platform part (tracer_linux.cpp,
// tracer_windows.cpp) starts it, passes its output through while keeping a
// copy, and samples the processor time of every process it starts; the
// portable part puts those samples into the lanes of the trace.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "trace_model.h"

namespace herdtrace {

// How often the descendants' processor time is read.
inline constexpr Millis kSampleInterval = 10;

// One sample of one process: when, and its processor time used so far
// (all its threads'), and where known the time it spent ready (runnable,
// waiting for a processor) so far, the times it was put on a processor and
// the processor it last ran on.
struct CpuReading {
    Millis time;
    double cpuMilliseconds;
    double readyMilliseconds = -1;
    long long switches = -1;
    int processor = -1;
};

// Which source of states herdtrace is to use: the best the machine allows,
// the samples only, or where the switch records are had, both (the tests
// and the bench compare the two on one run).
enum class StateChoice { kBest, kSampled, kBoth };

// A process PROGRAM started, directly or further down.
struct TracedProcess {
    unsigned long id = 0;
    // Its command line after the program (Linux), which begins with the
    // name its launcher gave it; empty where unknown (Windows).
    std::vector<std::string> arguments;
    bool commandLineKnown = false;
    Millis firstSeen = kNoTime;
    std::vector<CpuReading> readings;
    // Exact: its threads' states from the switch records, times of day in
    // fractional ms. The kernel's total of its processor time, read once it
    // had ended (-1 when not seen ended, or when threads of it had ended
    // before, whose last stretch no file keeps).
    std::vector<StateSpan> states;
    long long switches = -1;
    double finalCpuMilliseconds = -1;
};

struct TracedRun {
    bool started = false;
    std::string startError;                // why PROGRAM could not be started
    int exitCode = 0;                      // PROGRAM's; 128 + signal when a signal ended it (Linux)
    std::string output;                    // everything PROGRAM and its children wrote, as written
    Millis start = kNoTime;                // local time of day, ms, when PROGRAM was started
    Millis end = kNoTime;                  // when PROGRAM had ended
    std::vector<TracedProcess> processes;  // PROGRAM itself not included
    StateSource stateSource = StateSource::kNone;
    std::string exactHint;          // sampled: what would make it exact (Russian)
    std::uint64_t lostRecords = 0;  // exact: records the kernel could not hand over
};

// While PROGRAM runs, what is known so far (its output, the processes with
// their readings, no end yet) is handed over about this often.
inline constexpr Millis kProgressInterval = 250;
using ProgressReport = std::function<void(const TracedRun& soFar)>;

// Platform part. Blocks until PROGRAM has ended and its children have ended
// or left the output (at most a few seconds later); calls `progress`, where
// given, every kProgressInterval meanwhile.
TracedRun RunTraced(const std::vector<std::string>& command,
                    StateChoice states = StateChoice::kBest, const ProgressReport& progress = {});

// The local time of day in ms (the clock of the programs' time stamps).
Millis LocalTimeOfDay();

// Writes UTF-8 text to standard output (error: standard error) so the user
// can read it: as it is on Linux, through the console's wide-character
// output on a Windows console.
void WriteUserText(const std::string& utf8, bool error);

// Portable part: gives each lane the samples of its process, matched by the
// command line its launcher gave it (Linux) or else by start order, and
// moves the trace's end to the end of the run.
void AttachSamples(Trace& trace, const TracedRun& run);

}  // namespace herdtrace
