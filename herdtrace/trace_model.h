// What herdtrace knows about one run: a lane per child with the phases read
// from its time-stamped lines, how it ended, and the processor time sampled
// while it ran. Times are milliseconds of the local clock counted from the
// midnight before the transcript's first line (a run past midnight keeps
// counting up).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace herdtrace {

using Millis = std::int64_t;
inline constexpr Millis kNoTime = -1;
inline constexpr Millis kDay = 24 * 60 * 60 * 1000;

// True for a non-empty run of decimal digits (a lane's number, a process id).
inline bool IsNumber(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// The launcher whose children the transcript shows.
enum class LauncherKind { kUnknown, kHerd, kMonitor, kFeeder };

enum class PhaseKind {
    kSearching,    // elephant: from its first line to "нашел воду"
    kDrinking,     // elephant: to "напился"
    kFirstStage,   // worker
    kSecondStage,  // worker
    kEating,       // feeder child: from its first line to "наелся"
};

struct Phase {
    PhaseKind kind;
    Millis start;
    Millis end = kNoTime;  // open while the child runs
};

// How a child's run ended, as its own and its launcher's lines tell.
enum class Ending {
    kUnknown,   // still running when the transcript ends
    kFinished,  // ended on its own (drank, ate its fill, second stage done)
    kEnded,     // ended by its launcher or by its launcher's end order
};

// Processor time a child used in one sample interval, as a share of one
// processor (0..1; more than 1 for a child with several busy threads), and
// the share it spent ready: runnable, waiting in a run queue for a
// processor. What is left of the interval, it was asleep (blocked).
struct CpuSample {
    Millis start;
    Millis end;
    double share;
    double ready = -1;   // share of one processor; -1 where the platform does not tell
    int processor = -1;  // the processor it last ran on; -1 where not known
};

// The three states a process is in, as the course teaches them.
enum class ChildState {
    kRunning,  // on a processor
    kReady,    // could run, waits for a processor
    kAsleep,   // waits for something else (a sleep, input, a message)
};

// Where a trace's states come from, best first.
enum class StateSource {
    kNone,     // a transcript only (--from), or no processor data at all
    kSampled,  // readings of every thread's totals every kSampleInterval
    kExact,    // the kernel's record of every switch of a processor
};

// Exact: a stretch of one child's time in one state. Times are fractional
// milliseconds on the trace's clock (the records are exact to the
// microsecond). A child with several threads has one span per thread, so
// its running spans may overlap.
struct StateSpan {
    double start;
    double end;
    ChildState state;
    int processor = -1;  // kRunning: the processor it ran on
};

struct Lane {
    std::string name;        // UTF-8, as the lines call the child: "Слон 3", "Процесс 2"
    std::string key;         // what its launcher passes as its name or number: "3", "Tandy"
    int priorityIndex = -1;  // 0 idle .. 5 real time; -1 not known
    Millis firstLine = kNoTime;
    std::vector<Phase> phases;
    std::vector<Millis> feedTicks;  // feeder child: every tenth portion eaten
    Ending ending = Ending::kUnknown;
    Millis endedAt = kNoTime;
    std::vector<CpuSample> cpu;
    double cpuMilliseconds = -1;    // total processor time; -1 without samples
    double readyMilliseconds = -1;  // total time ready but off the processor; -1 unknown
    long long switches = -1;        // times it was switched onto a processor; -1 unknown
    std::vector<StateSpan> states;  // exact source only, in time order per thread
};

// Exact: who held a processor from `start` to `end`.
struct ProcessorSlice {
    double start;
    double end;
    int processor;
    std::size_t lane;  // index into Trace::lanes
};

// A line of the transcript that herdtrace could not place, for the report.
struct UnreadLine {
    int number;  // 1-based
    std::string text;
};

struct Trace {
    LauncherKind kind = LauncherKind::kUnknown;
    std::vector<Lane> lanes;  // in the order the children first appear
    Millis start = kNoTime;   // the first child's first line
    Millis end = kNoTime;     // the last line, or the end of the traced run
    Millis deadline = kNoTime;
    std::string deadlineLabel;       // "25 с", "30 с", "12 с"
    std::vector<UnreadLine> unread;  // the first of them, for the report
    std::size_t unreadCount = 0;     // all of them

    // The states of the children and who held the processors.
    StateSource stateSource = StateSource::kNone;
    // Sampled: the one thing that would make it exact on this machine, in
    // Russian (for example the grant's command); empty otherwise.
    std::string exactHint;
    std::vector<int> processors;                  // the processors the children ran on, ascending
    std::vector<ProcessorSlice> processorSlices;  // exact source only, in time order
    std::uint64_t lostRecords = 0;                // exact: records the kernel could not hand over
};

}  // namespace herdtrace
