// Linux: reading the kernel's switch records and turning them into states.
#include "switch_records_linux.h"

#include <linux/perf_event.h>

#include <algorithm>
#include <cstring>
#include <map>

namespace herdtrace {

namespace {

// Every record ends with its sample id (sample_id_all, with TID, TIME and
// CPU asked for): pid, tid, time, cpu and a reserved word.
struct SampleId {
    std::uint32_t pid;
    std::uint32_t tid;
    std::uint64_t time;
    std::uint32_t cpu;
    std::uint32_t reserved;
};

// The body of a fork or exit record.
struct TaskBody {
    std::uint32_t pid;
    std::uint32_t ppid;
    std::uint32_t tid;
    std::uint32_t ptid;
    std::uint64_t time;
};

template <typename T>
T ReadAt(const unsigned char* at) {
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

SwitchKind SwitchOf(std::uint16_t misc) {
    if ((misc & PERF_RECORD_MISC_SWITCH_OUT) == 0) {
        return SwitchKind::kIn;
    }
    return (misc & PERF_RECORD_MISC_SWITCH_OUT_PREEMPT) != 0 ? SwitchKind::kOutPreempted
                                                             : SwitchKind::kOutAsleep;
}

// One record; false for a kind that tells nothing of the states.
bool ReadRecord(const perf_event_header& header, const unsigned char* record, SwitchRecords& into) {
    const unsigned char* body = record + sizeof header;
    if (header.type == PERF_RECORD_LOST && header.size >= sizeof header + 16) {
        into.lost += ReadAt<std::uint64_t>(body + 8);  // id, then the count lost
        return false;
    }
    if (header.size < sizeof header + sizeof(SampleId)) {
        return false;
    }
    const auto id = ReadAt<SampleId>(record + header.size - sizeof(SampleId));
    SwitchRecord read{id.pid, id.tid, id.time, int(id.cpu), SwitchKind::kIn};
    // A whole processor's switches name the task going off it (out) or
    // onto it (in) in the sample id, as a task's own switches do.
    if (header.type == PERF_RECORD_SWITCH || header.type == PERF_RECORD_SWITCH_CPU_WIDE) {
        read.kind = SwitchOf(header.misc);
    } else if ((header.type == PERF_RECORD_FORK || header.type == PERF_RECORD_EXIT) &&
               header.size >= sizeof header + sizeof(TaskBody) + sizeof(SampleId)) {
        // The record is the new (or ended) thread's; its sample id may be
        // the parent's, which did the fork.
        const auto task = ReadAt<TaskBody>(body);
        read = {task.pid,
                task.tid,
                task.time,
                int(id.cpu),
                header.type == PERF_RECORD_FORK ? SwitchKind::kStart : SwitchKind::kExit,
                task.ppid};
    } else {
        return false;
    }
    into.records.push_back(read);
    return true;
}

// A thread's state since `start`, not yet ended.
struct OpenState {
    bool open = false;
    ChildState state = ChildState::kReady;
    double start = 0;
    int processor = -1;
};

struct ProcessStates {
    std::vector<StateSpan> spans;
    long long switches = 0;
};

void CloseState(OpenState& state, double at, ProcessStates& into) {
    if (state.open && at > state.start) {
        into.spans.push_back(StateSpan{state.start, at, state.state, state.processor});
    }
    state.open = false;
}

// Applies one record to its thread's open state.
void Apply(const SwitchRecord& record, double at, OpenState& state, ProcessStates& into) {
    CloseState(state, at, into);
    switch (record.kind) {
        case SwitchKind::kIn:
            state = {true, ChildState::kRunning, at, record.processor};
            ++into.switches;
            break;
        case SwitchKind::kOutPreempted:
        case SwitchKind::kStart:
            state = {true, ChildState::kReady, at, -1};
            break;
        case SwitchKind::kOutAsleep:
            state = {true, ChildState::kAsleep, at, -1};
            break;
        case SwitchKind::kExit:
            break;
    }
}

}  // namespace

void ParseRecords(const unsigned char* data, std::size_t size, SwitchRecords& into) {
    for (std::size_t at = 0; at + sizeof(perf_event_header) <= size;) {
        const auto header = ReadAt<perf_event_header>(data + at);
        if (header.size < sizeof header || at + header.size > size) {
            return;  // a torn record: nothing after it can be trusted
        }
        ReadRecord(header, data + at, into);
        at += header.size;
    }
}

void KeepFollowed(SwitchRecords& batch, SwitchRecords& into) {
    // How long the records of a process not followed are kept in case its
    // start turns up in a later drain.
    constexpr std::uint64_t kUnclaimedNanoseconds = 2'000'000'000;
    std::stable_sort(batch.records.begin(), batch.records.end(),
                     [](const SwitchRecord& a, const SwitchRecord& b) { return a.time < b.time; });
    std::uint64_t newest = 0;
    for (const SwitchRecord& record : batch.records) {
        newest = std::max(newest, record.time);
        if (!into.onlyFollowed || into.followed.count(record.pid) != 0) {
            into.records.push_back(record);
        } else if (record.kind == SwitchKind::kStart && into.followed.count(record.parent) != 0) {
            into.followed.insert(record.pid);  // started by a followed process: followed too
            into.records.push_back(record);
        } else {
            into.unclaimed.push_back(record);
        }
    }
    std::erase_if(into.unclaimed, [&](const SwitchRecord& record) {
        if (into.followed.count(record.pid) != 0) {
            into.records.push_back(record);  // its start has come: its records count
            return true;
        }
        return record.time + kUnclaimedNanoseconds < newest;
    });
    into.lost += batch.lost;
    batch = {};
}

void GiveStates(SwitchRecords records, double offsetMillis, double endMillis,
                std::vector<TracedProcess>& processes) {
    std::map<std::uint32_t, ProcessStates> byProcess;
    for (const TracedProcess& process : processes) {
        byProcess[std::uint32_t(process.id)];
    }
    std::stable_sort(records.records.begin(), records.records.end(),
                     [](const SwitchRecord& a, const SwitchRecord& b) { return a.time < b.time; });
    std::map<std::uint32_t, OpenState> threads;
    std::map<std::uint32_t, std::uint32_t> processOf;
    for (const SwitchRecord& record : records.records) {
        const auto found = byProcess.find(record.pid);
        if (found != byProcess.end()) {
            Apply(record, double(record.time) / 1e6 + offsetMillis, threads[record.tid],
                  found->second);
            processOf[record.tid] = record.pid;
        }
    }
    for (auto& [tid, state] : threads) {
        CloseState(state, endMillis, byProcess[processOf[tid]]);
    }
    for (TracedProcess& process : processes) {
        ProcessStates& states = byProcess[std::uint32_t(process.id)];
        std::stable_sort(states.spans.begin(), states.spans.end(),
                         [](const StateSpan& a, const StateSpan& b) { return a.start < b.start; });
        process.states = std::move(states.spans);
        process.switches = states.switches;
    }
}

}  // namespace herdtrace
