// What herdtrace knows about one run: a lane per child with the phases read
// from its time-stamped lines, how it ended, and the processor time sampled
// while it ran. Times are milliseconds of the local clock counted from the
// midnight before the transcript's first line (a run past midnight keeps
// counting up).
#pragma once

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
// processor (0..1; more than 1 for a child with several busy threads).
struct CpuSample {
    Millis start;
    Millis end;
    double share;
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
    double cpuMilliseconds = -1;  // total processor time; -1 without samples
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
};

}  // namespace herdtrace
