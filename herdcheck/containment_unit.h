// What containing a child and judging it share: the limits a child runs
// under, how its run ended and what the containment saw it try. The
// containment fills these in; the verdict reads them.
#pragma once

#include <string>

// The limits of a child and all it starts.
inline constexpr int kMostProcessesAtOnce = 32;
inline constexpr int kMostMemoryMegabytes = 512;

// How a run ended.
enum class RunEnd {
    kNotStarted,  // the program could not be started
    kExited,      // it ended by itself with exitCode
    kCrashed,     // it was ended by an exception or signal, named in crashName
    kStopped,     // the checker ended it; see StopReason (verdict_unit.h)
};

// What the containment saw a child (and everything it started) try.
struct ContainmentHarms {
    bool processLimitReached = false;  // tried to run more processes at once than allowed
    bool memoryLimitReached = false;
    std::string networkTried;  // the kind of socket refused first ("AF_INET"), or empty
    std::string
        wroteOutside;    // the first file opened for writing outside its folder (Windows-1251)
    int leftBehind = 0;  // processes still running after the child had ended
};
