// Traces made by hand for the picture, summary and trace-file tests: a herd
// of four on one processor whose schedule is known to the millisecond, in
// each of the sources herdtrace may have.
#pragma once

#include <algorithm>
#include <vector>

#include "trace_model.h"

namespace herdtrace_test {

using namespace herdtrace;

constexpr Millis kStart = 10 * 3600 * 1000;  // 10:00:00
constexpr Millis kDeadline = kStart + 10000;
constexpr Millis kLastAnswer = kDeadline + 18000;  // typed long after the herd

// Who held the one processor, in ms from kStart; who slept when.
struct Held {
    Millis from;
    Millis to;
    std::size_t lane;
};

// Elephants 1 and 4 (high) share the processor in 50 ms slices while
// 4 sleeps from 1 to 2 s; 4 is done at 4 s, 1 at 5 s; then 2 (normal) runs
// to 8 s and 3 (idle) until the deadline ends it. Everyone not holding the
// processor is ready, apart from 4 asleep.
inline std::vector<Held> Schedule() {
    std::vector<Held> held;
    for (Millis at = 0; at < 4000; at += 100) {
        const bool asleep4 = at >= 1000 && at < 2000;
        held.push_back({at, at + 50, asleep4 ? 0u : 3u});
        held.push_back({at + 50, at + 100, 0});
    }
    held.push_back({4000, 5000, 0});
    held.push_back({5000, 8000, 1});
    held.push_back({8000, 10000, 2});
    return held;
}

inline const Millis kEnds[4] = {5000, 8000, 10000, 4000};

inline ChildState StateAt(std::size_t lane, Millis at) {
    for (const Held& held : Schedule()) {
        if (at >= held.from && at < held.to) {
            if (held.lane == lane) {
                return ChildState::kRunning;
            }
            break;
        }
    }
    return lane == 3 && at >= 1000 && at < 2000 ? ChildState::kAsleep : ChildState::kReady;
}

inline Lane MadeLane(std::size_t index) {
    static const int kClasses[4] = {4, 2, 0, 4};
    Lane lane;
    lane.name = "Слон " + std::to_string(index + 1);
    lane.key = std::to_string(index + 1);
    lane.priorityIndex = kClasses[index];
    lane.firstLine = kStart;
    const Millis end = kStart + kEnds[index];
    lane.phases = {{PhaseKind::kSearching, kStart, kStart + kEnds[index] / 2},
                   {PhaseKind::kDrinking, kStart + kEnds[index] / 2, end}};
    lane.ending = index == 2 ? Ending::kEnded : Ending::kFinished;
    lane.endedAt = end;
    return lane;
}

// Exact: a span per change of state, a slice per holding of the processor.
inline void AddExact(Trace& trace) {
    for (std::size_t i = 0; i < trace.lanes.size(); ++i) {
        Lane& lane = trace.lanes[i];
        lane.switches = 0;
        for (Millis at = 0; at < kEnds[i]; at += 50) {
            const ChildState state = StateAt(i, at);
            if (!lane.states.empty() && lane.states.back().state == state) {
                lane.states.back().end = double(kStart + at + 50);
            } else {
                lane.states.push_back({double(kStart + at), double(kStart + at + 50), state,
                                       state == ChildState::kRunning ? 0 : -1});
                lane.switches += state == ChildState::kRunning ? 1 : 0;
            }
        }
    }
    for (const Held& held : Schedule()) {
        trace.processorSlices.push_back(
            {double(kStart + held.from), double(kStart + held.to), 0, held.lane});
    }
    trace.stateSource = StateSource::kExact;
}

// Sampled: every 10 ms the share each state had, as schedstat tells it.
inline void AddSampled(Trace& trace, bool readyKnown) {
    for (std::size_t i = 0; i < trace.lanes.size(); ++i) {
        Lane& lane = trace.lanes[i];
        for (Millis at = 0; at < kEnds[i]; at += 10) {
            const ChildState state = StateAt(i, at);
            CpuSample sample{kStart + at, kStart + at + 10,
                             state == ChildState::kRunning ? 1.0 : 0.0};
            sample.ready = !readyKnown ? -1 : state == ChildState::kReady ? 1.0 : 0.0;
            sample.processor = state == ChildState::kRunning ? 0 : -1;
            lane.cpu.push_back(sample);
        }
    }
    trace.stateSource = StateSource::kSampled;
    trace.exactHint = "точно: sudo scripts/allow-priorities.sh";
}

enum class Source { kNone, kSampled, kSampledRunningOnly, kExact };

// The herd with its lines' phases and ends, the deadline, the late last
// answer, and the states from `source`.
inline Trace MadeHerd(Source source) {
    Trace trace;
    trace.kind = LauncherKind::kHerd;
    for (std::size_t i = 0; i < 4; ++i) {
        trace.lanes.push_back(MadeLane(i));
    }
    trace.start = kStart;
    trace.end = kLastAnswer;
    trace.deadline = kDeadline;
    trace.deadlineLabel = "10 с";
    trace.processors = {0};
    if (source == Source::kExact) {
        AddExact(trace);
    } else if (source != Source::kNone) {
        AddSampled(trace, source == Source::kSampled);
    }
    for (const Held& held : Schedule()) {
        trace.lanes[held.lane].cpuMilliseconds =
            source == Source::kNone ? -1
                                    : std::max(trace.lanes[held.lane].cpuMilliseconds, 0.0) +
                                          double(held.to - held.from);
    }
    return trace;
}

}  // namespace herdtrace_test
