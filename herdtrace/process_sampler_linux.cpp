// Linux: the sampling of PROGRAM's descendants through /proc.
#include "process_sampler_linux.h"

#include <signal.h>
#include <time.h>

#include <utility>

namespace herdtrace {

namespace {

namespace toolkit = herdlab_toolkit;

// Adds the children that the followed processes have started since the
// last sweep: from their children files, or from a scan of all of /proc
// on a kernel without them.
void FindChildren(Sampler& sampler, Millis now) {
    std::vector<std::pair<pid_t, pid_t>> born;  // a new child and its parent
    bool anyWithoutFile = false;
    std::vector<unsigned long> children;
    for (auto& [pid, entry] : sampler.watched) {
        if (!entry.alive) {
            continue;
        }
        if (!toolkit::ReadChildIds(entry.watch, children)) {
            anyWithoutFile = true;
            continue;
        }
        for (const unsigned long child : children) {
            if (sampler.watched.count(static_cast<pid_t>(child)) == 0) {
                born.emplace_back(static_cast<pid_t>(child), pid);
            }
        }
    }
    // The full scan of /proc is the fallback only, and ten times rarer.
    if (anyWithoutFile && sampler.sweeps++ % 10 == 0) {
        for (const auto& [child, parent] : toolkit::AllParents()) {
            const auto found = sampler.watched.find(static_cast<pid_t>(parent));
            if (found != sampler.watched.end() && found->second.alive &&
                sampler.watched.count(static_cast<pid_t>(child)) == 0) {
                born.emplace_back(static_cast<pid_t>(child), static_cast<pid_t>(parent));
            }
        }
    }
    for (const auto& [pid, parent] : born) {
        OpenWatched(sampler.watched, pid, parent, now);
    }
}

// A fresh child shows its parent's command line until it has run exec:
// its own is read once it differs. On a busy machine a child may wait
// seconds between its fork and its exec, so it is asked at every sweep for
// the first half second, then at every 25th for as long as it runs (a child
// that never runs exec costs one small read every quarter second).
void ReadCommandLine(Watched& entry) {
    constexpr int kEverySweep = 50;
    constexpr int kThenEvery = 25;
    const int tries = entry.commandLineTries++;
    if (entry.record.commandLineKnown || (tries > kEverySweep && tries % kThenEvery != 0)) {
        return;
    }
    std::vector<std::string> words = toolkit::ProcessWords(entry.record.id);
    if (words.empty()) {
        return;  // in the middle of its exec, or ending
    }
    // The parent's line is read each time too: a parent busy forking or
    // ending may give none, and then the last one read stands.
    std::vector<std::string> parentWords =
        toolkit::ProcessWords(static_cast<unsigned long>(entry.parent));
    if (!parentWords.empty()) {
        entry.parentWords = std::move(parentWords);
    }
    if (!entry.parentWords.empty() && words != entry.parentWords) {
        entry.record.arguments.assign(words.begin() + 1, words.end());
        entry.record.commandLineKnown = true;
    }
}

// A process's reading now: its processor time from its stat file, or where
// its threads' scheduler totals are read, from them (in ns, with the time it
// was ready). Its threads are listed again when their number has changed,
// and every tenth sweep in case one ended as another began.
CpuReading ReadingOf(Watched& entry, const toolkit::ProcessorReading& stat, bool states,
                     Millis now) {
    constexpr int kListEvery = 10;
    CpuReading reading{now, stat.milliseconds};
    reading.processor = stat.processor;
    if (!states && !stat.ended) {
        return reading;
    }
    const bool listThreads =
        stat.threads != int(entry.watch.threads.size()) || ++entry.threadListAge % kListEvery == 0;
    toolkit::SchedulerTotals totals;
    if (!toolkit::ReadSchedulerTotals(entry.watch, listThreads, totals)) {
        return reading;
    }
    // A zombie's total is final where it is its one thread's: an ended
    // thread's schedstat is gone, with what it ran after its last reading.
    if (stat.ended && entry.watch.threads.size() == 1 && entry.watch.ended.timeslices == 0) {
        entry.record.finalCpuMilliseconds = totals.runningMilliseconds;
    }
    if (states) {
        reading.cpuMilliseconds = totals.runningMilliseconds;
        reading.readyMilliseconds = totals.readyMilliseconds;
        reading.switches = totals.timeslices;
    }
    return reading;
}

}  // namespace

Millis MonotonicMillis() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return Millis{now.tv_sec} * 1000 + now.tv_nsec / 1'000'000;
}

void OpenWatched(std::map<pid_t, Watched>& watched, pid_t pid, pid_t parent, Millis now) {
    if (watched.count(pid) != 0) {
        return;
    }
    Watched entry;
    entry.alive = toolkit::OpenProcessWatch(static_cast<unsigned long>(pid), entry.watch);
    entry.parent = parent;
    entry.record.id = static_cast<unsigned long>(pid);
    entry.record.firstSeen = now;
    watched.emplace(pid, std::move(entry));
}

void Sample(Sampler& sampler) {
    const Millis now = MonotonicMillis() + sampler.clockOffset;
    FindChildren(sampler, now);
    for (auto& [pid, entry] : sampler.watched) {
        if (!entry.alive) {
            continue;
        }
        const toolkit::ProcessorReading reading = toolkit::ReadProcessorTime(entry.watch);
        if (reading.valid) {
            entry.record.readings.push_back(ReadingOf(entry, reading, sampler.sampleStates, now));
        }
        if (!reading.valid || reading.ended) {
            entry.alive = false;
            toolkit::CloseProcessWatch(entry.watch);
            continue;
        }
        if (pid != sampler.program) {
            ReadCommandLine(entry);
        }
    }
}

bool AnyDescendantAlive(const Sampler& sampler) {
    for (const auto& [pid, entry] : sampler.watched) {
        if (pid != sampler.program && entry.alive) {
            return true;
        }
    }
    return false;
}

void ForwardSignal(const Sampler& sampler, int signal) {
    for (const auto& [pid, entry] : sampler.watched) {
        if (entry.alive) {
            kill(pid, signal);
        }
    }
}

}  // namespace herdtrace
