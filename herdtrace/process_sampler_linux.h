// Linux: following PROGRAM and every process it starts, however deep, through
// /proc: new children from each followed process's children file (or, on a
// kernel without one, a scan of all of /proc), processor time from
// /proc/PID/stat read again in place (and each thread's schedstat, for the
// time it was ready), and each child's command line once it has run its
// program, by which its lane is found.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

#include "herdlab_toolkit.h"
#include "tracer.h"

namespace herdtrace {

// A descendant and the open /proc files it is read through.
struct Watched {
    herdlab_toolkit::ProcessWatch watch;
    bool alive = true;
    int commandLineTries = 0;
    int threadListAge = 0;  // sweeps since its threads were last listed
    pid_t parent = 0;
    std::vector<std::string> parentWords;  // the parent's command line as last read
    TracedProcess record;
};

// Everything followed: PROGRAM and each descendant, by pid.
struct Sampler {
    pid_t program = 0;
    std::map<pid_t, Watched> watched;  // PROGRAM first, then its descendants
    Millis clockOffset = 0;            // local time of day minus monotonic time
    int sweeps = 0;
    // Each thread's scheduler totals read at every sweep (the sampled
    // states); false while the switch records give the states, when each
    // process's total is read once only, when it has ended.
    bool sampleStates = true;
};

// The clock of the sampling: it never jumps when the time of day is set.
Millis MonotonicMillis();

// Starts following a process first seen now, a child of `parent`, whose
// command line it shows until its own exec.
void OpenWatched(std::map<pid_t, Watched>& watched, pid_t pid, pid_t parent, Millis now);

// One sweep: new children found, every live process's processor time read,
// the command lines of new ones settled. A process that has ended is read
// once more while it is a zombie (its total is there until its parent
// collects it), then no more: its last reading stands.
void Sample(Sampler& sampler);

// True while some process PROGRAM started, however deep, still runs.
bool AnyDescendantAlive(const Sampler& sampler);

// Sends the signal to PROGRAM and every descendant still running.
void ForwardSignal(const Sampler& sampler, int signal);

}  // namespace herdtrace
