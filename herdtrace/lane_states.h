// The three states of a child and who held the processors, the same for
// the picture, the summary and the trace file whichever source they come
// from.
#pragma once

#include <string>
#include <vector>

#include "trace_model.h"

namespace herdtrace {

// Milliseconds in each state.
struct StateTotals {
    double running = 0;
    double ready = 0;
    double asleep = 0;
};

// A lane's states as spans. Exact: its own. Sampled: each reading's interval
// cut into running, ready and asleep in that order (a reading tells how long
// each lasted, not in which order), neighbours of one state joined; where
// the platform does not tell the ready share, only the running pieces.
// Without a source: none.
std::vector<StateSpan> LaneStateSpans(const Lane& lane, StateSource source);

StateTotals TotalsOf(const std::vector<StateSpan>& spans);

// True when the sampled readings tell ready from asleep (some platforms
// give the running time only).
bool ReadyKnown(const Trace& trace);

// Who held the processors. Exact: the recorded slices. Sampled: each
// lane's running pieces, on the processor its reading names (-1 unknown);
// pieces of different lanes overlap within a reading's interval.
std::vector<ProcessorSlice> HeldSlices(const Trace& trace);

// A row of who held the processors: the slices on one processor, or
// (processor -1) all of them, with the number of processors its whole
// height stands for.
struct ProcessorRow {
    std::string label;  // "процессор 0", "процессоры (2)"
    int processor;
    double processors;
};

// A row per processor where every slice names its processor, else one row
// for all of them.
std::vector<ProcessorRow> ProcessorRows(const Trace& trace,
                                        const std::vector<ProcessorSlice>& slices);

// Equal columns of time from `start`, each `width` ms wide.
struct Bins {
    double start;
    double width;
    std::size_t count;
};

// Adds to each column the part of [start, end) that falls into it.
void AddToBins(const Bins& bins, double start, double end, std::vector<double>& columns);

// "Слон 3 — высокий": the child and its class, where known.
std::string LaneLabel(const Lane& lane);

// The course's Russian words for a state and for a phase.
const char* StateWord(ChildState state);
const char* PhaseWord(PhaseKind kind);

// Where the states come from, as the picture and the summary say it.
std::string SourceWords(StateSource source);

}  // namespace herdtrace
