// Turning the per-process readings into per-lane shares of a processor.
#include <algorithm>
#include <cstdlib>

#include "tracer.h"

namespace herdtrace {

namespace {

// Readings are times of day; the trace counts from the midnight before its
// first line. A run that started before midnight and printed after it is
// shifted back a day.
Millis Aligned(Millis timeOfDay, const Trace& trace) {
    if (trace.start != kNoTime && timeOfDay - trace.start > kDay / 2) {
        return timeOfDay - kDay;
    }
    if (trace.start != kNoTime && trace.start - timeOfDay > kDay / 2) {
        return timeOfDay + kDay;
    }
    return timeOfDay;
}

// The lane's processor shares from its process's readings: between two
// readings, the processor time used over the time passed.
void Fill(Lane& lane, const TracedProcess& process, const Trace& trace) {
    lane.cpu.clear();
    for (std::size_t i = 1; i < process.readings.size(); ++i) {
        const CpuReading& before = process.readings[i - 1];
        const CpuReading& after = process.readings[i];
        if (after.time <= before.time) {
            continue;
        }
        const double share =
            (after.cpuMilliseconds - before.cpuMilliseconds) / double(after.time - before.time);
        lane.cpu.push_back(CpuSample{Aligned(before.time, trace), Aligned(after.time, trace),
                                     std::max(share, 0.0)});
    }
    lane.cpuMilliseconds = process.readings.empty() ? 0 : process.readings.back().cpuMilliseconds;
}

// The order in which the launcher started its children: by number where the
// lanes are numbered, else the order in which they first spoke.
std::vector<Lane*> LaunchOrder(Trace& trace) {
    std::vector<Lane*> lanes;
    for (Lane& lane : trace.lanes) {
        lanes.push_back(&lane);
    }
    const bool numbered = std::all_of(lanes.begin(), lanes.end(),
                                      [](const Lane* lane) { return IsNumber(lane->key); });
    if (numbered) {
        std::stable_sort(lanes.begin(), lanes.end(), [](const Lane* a, const Lane* b) {
            return std::strtoll(a->key.c_str(), nullptr, 10) <
                   std::strtoll(b->key.c_str(), nullptr, 10);
        });
    }
    return lanes;
}

// True when the process's command line names the lane's child: its
// arguments begin with the child's name (one word or several: "процесс 1"
// reaches the child as two) and go on with its numbers.
bool NamesChild(const TracedProcess& process, const std::string& key) {
    std::string line;
    for (const std::string& argument : process.arguments) {
        line += line.empty() ? argument : " " + argument;
    }
    return !key.empty() && line.rfind(key, 0) == 0 &&
           (line.size() == key.size() || line[key.size()] == ' ');
}

// Matches each lane to the process whose command line names it; returns the
// lanes left without one.
std::vector<Lane*> MatchByCommandLine(Trace& trace, const TracedRun& run, std::vector<bool>& used) {
    std::vector<Lane*> unmatched;
    for (Lane* lane : LaunchOrder(trace)) {
        bool matched = false;
        for (std::size_t i = 0; i < run.processes.size() && !matched; ++i) {
            if (!used[i] && NamesChild(run.processes[i], lane->key)) {
                Fill(*lane, run.processes[i], trace);
                used[i] = matched = true;
            }
        }
        if (!matched) {
            unmatched.push_back(lane);
        }
    }
    return unmatched;
}

}  // namespace

void AttachSamples(Trace& trace, const TracedRun& run) {
    std::vector<bool> used(run.processes.size(), false);
    const std::vector<Lane*> unmatched = MatchByCommandLine(trace, run, used);
    // Without command lines (Windows): the n-th process started is the n-th
    // child in launch order, which the launchers keep.
    std::vector<std::size_t> unnamed;
    for (std::size_t i = 0; i < run.processes.size(); ++i) {
        if (!used[i] && !run.processes[i].commandLineKnown) {
            unnamed.push_back(i);
        }
    }
    std::stable_sort(unnamed.begin(), unnamed.end(), [&](std::size_t a, std::size_t b) {
        return run.processes[a].firstSeen < run.processes[b].firstSeen;
    });
    for (std::size_t i = 0; i < unmatched.size() && i < unnamed.size(); ++i) {
        Fill(*unmatched[i], run.processes[unnamed[i]], trace);
    }
    if (run.end != kNoTime && trace.start != kNoTime) {
        trace.end = std::max(trace.end, Aligned(run.end, trace));
    }
}

}  // namespace herdtrace
