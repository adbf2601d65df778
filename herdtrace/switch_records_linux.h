// Linux: the kernel's context-switch records (perf_event_open) for PROGRAM
// and everything it starts, and the states they give each thread: running
// from a switch onto a processor to the switch off it, then ready when it
// was taken off still runnable (preempted), else asleep.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "tracer.h"

namespace herdtrace {

enum class SwitchKind {
    kIn,            // put on a processor
    kOutPreempted,  // taken off it while still runnable
    kOutAsleep,     // left it to wait (sleep, input, a lock)
    kStart,         // a new thread (fork or thread creation), runnable
    kExit,          // a thread's end
};

struct SwitchRecord {
    std::uint32_t pid = 0;   // the process (thread group)
    std::uint32_t tid = 0;   // the thread
    std::uint64_t time = 0;  // CLOCK_MONOTONIC, ns
    int processor = -1;
    SwitchKind kind = SwitchKind::kIn;
    std::uint32_t parent = 0;  // kStart: the process that started it
};

struct SwitchRecords {
    std::vector<SwitchRecord> records;  // each processor's in its order
    std::uint64_t lost = 0;             // records the kernel dropped (PERF_RECORD_LOST)
    // With `onlyFollowed`, only the records of the processes in `followed`
    // and of those they start (which join it) are kept: a watch of whole
    // processors sees every process of the machine.
    bool onlyFollowed = false;
    std::set<std::uint32_t> followed;
    // Records of processes not (yet) followed, for a while: a child's first
    // switches may come in a drain before the record of its start, which
    // another processor wrote.
    std::vector<SwitchRecord> unclaimed;
};

// Reads the records laid out one after another in `data` (a ring buffer's
// contents, already unwrapped): switches, thread starts and ends, and the
// kernel's count of records it lost. Others are passed over.
void ParseRecords(const unsigned char* data, std::size_t size, SwitchRecords& into);

// Moves the records of one drain of every processor's buffer into `into`,
// in time order, keeping with `into.onlyFollowed` only the followed
// processes' (a process a followed one starts is followed from its start,
// which may be on another processor than its first switches).
void KeepFollowed(SwitchRecords& batch, SwitchRecords& into);

// Gives each process its threads' states from the records (their times
// shifted by `offsetMillis` to times of day), its number of switches onto a
// processor, and the processor time they add up to. A state still open at
// the end of the records ends at `endMillis`.
void GiveStates(SwitchRecords records, double offsetMillis, double endMillis,
                std::vector<TracedProcess>& processes);

// The kernel's watch over the switches of every process this process starts
// afterwards: an event per processor this process may run on, each with its
// ring buffer, watching the whole processor or else this process and those
// it starts (inherited).
struct SwitchWatch {
    bool wholeProcessors = false;
    std::vector<int> events;
    std::vector<unsigned char*> rings;
    std::size_t ringBytes = 0;  // the data part, after the control page
    SwitchRecords taken;
    std::string refusal;  // why it could not be opened; empty when open
    int error = 0;        // the errno of the refusal
};

// Opens the watch; false (with the reason) where the kernel refuses it.
// CAP_PERFMON, where this process is permitted it, is raised only for the
// opening and dropped again, so no process it starts gets it.
bool OpenSwitchWatch(SwitchWatch& watch);

// Once PROGRAM has started: of herdtrace's own records none are kept, only
// PROGRAM's and those of the processes it starts.
void FollowOnlyProgram(SwitchWatch& watch, int program);

// Takes what the ring buffers hold now into `taken`.
void DrainSwitchWatch(SwitchWatch& watch);

void CloseSwitchWatch(SwitchWatch& watch);

}  // namespace herdtrace
