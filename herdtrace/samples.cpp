// Turning the per-process readings into per-lane shares of a processor,
// and the switch records into each lane's states and who held each processor.
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

// The interval between two readings as shares of a processor: running,
// and where the readings tell, ready.
CpuSample SampleBetween(const CpuReading& before, const CpuReading& after, const Trace& trace) {
    const double passed = double(after.time - before.time);
    CpuSample sample{Aligned(before.time, trace), Aligned(after.time, trace),
                     std::max((after.cpuMilliseconds - before.cpuMilliseconds) / passed, 0.0)};
    if (before.readyMilliseconds >= 0 && after.readyMilliseconds >= 0) {
        sample.ready = std::max((after.readyMilliseconds - before.readyMilliseconds) / passed, 0.0);
    }
    sample.processor = sample.share > 0 ? after.processor : -1;
    return sample;
}

// Exact: the process's states on the trace's clock, and the lane's totals
// from them.
void FillStates(Lane& lane, const TracedProcess& process, const Trace& trace) {
    const double shift = double(Aligned(process.firstSeen, trace) - process.firstSeen);
    double running = 0;
    double ready = 0;
    for (StateSpan span : process.states) {
        span.start += shift;
        span.end += shift;
        // A thread's last switch away comes after its end, and a run that
        // goes on keeps it open until now: an ended child sleeps no more.
        if (span.state == ChildState::kAsleep && lane.endedAt != kNoTime) {
            span.end = std::min(span.end, double(lane.endedAt));
            if (span.end <= span.start) {
                continue;
            }
        }
        running += span.state == ChildState::kRunning ? span.end - span.start : 0;
        ready += span.state == ChildState::kReady ? span.end - span.start : 0;
        lane.states.push_back(span);
    }
    lane.cpuMilliseconds = running;
    lane.readyMilliseconds = ready;
    lane.switches = process.switches;
}

// The kernel adds a wait to a thread's ready total (schedstat) only when the
// wait ends, as the thread is put on a processor: a wait of seconds lands in
// the one interval in which the child ran again. It lay just before that
// moment, so what does not fit into that interval is given back to the
// intervals before it, to their time neither running nor ready, as far back
// as the last one in which the child ran.
void SpreadReadyBackwards(std::vector<CpuSample>& samples) {
    std::vector<double> placed(samples.size(), 0);  // ready ms of each interval
    const auto length = [&](std::size_t i) { return double(samples[i].end - samples[i].start); };
    const auto running = [&](std::size_t i) { return std::min(samples[i].share, 1.0) * length(i); };
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (samples[i].ready < 0) {
            continue;
        }
        double left = samples[i].ready * length(i);
        for (std::size_t j = i + 1; j-- > 0 && left > 0 && samples[j].ready >= 0;) {
            const double room = std::max(length(j) - running(j) - placed[j], 0.0);
            const double take = std::min(left, room);
            placed[j] += take;
            left -= take;
            if (j != i && running(j) > 0) {
                break;  // it ran here: its wait began after
            }
        }
    }
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (samples[i].ready >= 0) {
            samples[i].ready = placed[i] / length(i);
        }
    }
}

// The lane's processor shares from its process's readings: between two
// readings, the processor time used over the time passed; its states and
// totals from the switch records where there are some.
void Fill(Lane& lane, const TracedProcess& process, const Trace& trace) {
    lane.cpu.clear();
    lane.states.clear();
    for (std::size_t i = 1; i < process.readings.size(); ++i) {
        if (process.readings[i].time > process.readings[i - 1].time) {
            lane.cpu.push_back(SampleBetween(process.readings[i - 1], process.readings[i], trace));
        }
    }
    SpreadReadyBackwards(lane.cpu);
    if (process.switches >= 0) {
        FillStates(lane, process, trace);
        return;
    }
    const CpuReading* last = process.readings.empty() ? nullptr : &process.readings.back();
    lane.cpuMilliseconds = last == nullptr ? 0 : last->cpuMilliseconds;
    lane.readyMilliseconds = last == nullptr ? -1 : last->readyMilliseconds;
    lane.switches = last == nullptr ? -1 : last->switches;
}

// Exact: who held each processor, from the lanes' running spans; and the
// processors the children ran on, from the slices or else the samples.
void FillProcessors(Trace& trace) {
    std::vector<int> seen;
    for (std::size_t i = 0; i < trace.lanes.size(); ++i) {
        for (const StateSpan& span : trace.lanes[i].states) {
            if (span.state == ChildState::kRunning) {
                trace.processorSlices.push_back({span.start, span.end, span.processor, i});
                seen.push_back(span.processor);
            }
        }
        for (const CpuSample& sample : trace.lanes[i].cpu) {
            seen.push_back(sample.processor);
        }
    }
    std::stable_sort(
        trace.processorSlices.begin(), trace.processorSlices.end(),
        [](const ProcessorSlice& a, const ProcessorSlice& b) { return a.start < b.start; });
    std::sort(seen.begin(), seen.end());
    seen.erase(std::unique(seen.begin(), seen.end()), seen.end());
    std::erase(seen, -1);
    trace.processors = std::move(seen);
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
    trace.stateSource = run.stateSource;
    trace.exactHint = run.exactHint;
    trace.lostRecords = run.lostRecords;
    trace.processorSlices.clear();
    FillProcessors(trace);
    if (run.end != kNoTime && trace.start != kNoTime) {
        trace.end = std::max(trace.end, Aligned(run.end, trace));
    }
}

}  // namespace herdtrace
