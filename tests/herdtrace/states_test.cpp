// herdtrace's states of real children (Linux): the switch records read from
// a hand-made buffer, and children that burn, sleep, wait for a processor
// and run two threads, followed from both sources on one run and compared
// with the kernel's own totals; a refused watch falls back to the samples.
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/perf_event.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "switch_records_linux.h"
#include "tracer.h"
#include "transcript_reader.h"

namespace herdtrace {
namespace {

// ---- The record parser -----------------------------------------------------

void Put(std::vector<unsigned char>& buffer, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    buffer.insert(buffer.end(), bytes, bytes + size);
}

// A record as the kernel writes it: header, body, sample id.
void PutRecord(std::vector<unsigned char>& buffer, std::uint32_t type, std::uint16_t misc,
               const std::vector<std::uint64_t>& body, std::uint32_t pid, std::uint32_t tid,
               std::uint64_t timeMs, std::uint32_t cpu) {
    const perf_event_header header{type, misc, std::uint16_t(8 + 8 * body.size() + 24)};
    Put(buffer, &header, sizeof header);
    Put(buffer, body.data(), 8 * body.size());
    const std::uint32_t ids[2] = {pid, tid};
    const std::uint64_t time = timeMs * 1'000'000;
    const std::uint32_t where[2] = {cpu, 0};
    Put(buffer, ids, sizeof ids);
    Put(buffer, &time, sizeof time);
    Put(buffer, where, sizeof where);
}

std::uint64_t Pair(std::uint32_t low, std::uint32_t high) {
    return std::uint64_t(high) << 32 | low;
}

TEST(SwitchRecords, GiveEachThreadsStatesAndCountWhatWasLost) {
    constexpr std::uint16_t kOut = PERF_RECORD_MISC_SWITCH_OUT;
    constexpr std::uint16_t kPreempt = PERF_RECORD_MISC_SWITCH_OUT_PREEMPT;
    std::vector<unsigned char> buffer;
    // Process 10: thread 11 is forked at 1 ms, runs, is preempted, runs on
    // another processor, sleeps, ends; thread 12 runs from 3 ms to the end.
    PutRecord(buffer, PERF_RECORD_FORK, 0, {Pair(10, 1), Pair(11, 1), 1'000'000}, 1, 1, 1, 0);
    PutRecord(buffer, PERF_RECORD_SWITCH, 0, {}, 10, 11, 2, 0);
    PutRecord(buffer, PERF_RECORD_SWITCH, 0, {}, 10, 12, 3, 1);
    PutRecord(buffer, PERF_RECORD_SWITCH, kOut | kPreempt, {}, 10, 11, 5, 0);
    PutRecord(buffer, PERF_RECORD_LOST, 0, {7, 3}, 10, 11, 6, 0);
    PutRecord(buffer, PERF_RECORD_COMM, 0, {Pair(10, 11), 0}, 10, 11, 6, 0);  // passed over
    PutRecord(buffer, PERF_RECORD_SWITCH, 0, {}, 10, 11, 7, 0);
    PutRecord(buffer, PERF_RECORD_SWITCH, 0, {}, 99, 99, 8, 0);  // not followed
    PutRecord(buffer, PERF_RECORD_SWITCH, kOut, {}, 10, 11, 9, 0);
    PutRecord(buffer, PERF_RECORD_EXIT, 0, {Pair(10, 1), Pair(11, 1), 12'000'000}, 10, 11, 12, 0);
    const std::size_t whole = buffer.size();
    PutRecord(buffer, PERF_RECORD_LOST, 0, {7, 5}, 10, 11, 13, 0);
    buffer.resize(whole + 20);  // a record cut short is not read

    SwitchRecords records;
    ParseRecords(buffer.data(), buffer.size(), records);
    EXPECT_EQ(records.lost, 3u);
    EXPECT_EQ(records.records.size(), 8u);
    std::vector<TracedProcess> processes(1);
    processes[0].id = 10;
    GiveStates(records, 1000, 1020, processes);

    using S = ChildState;
    const StateSpan expected[] = {
        {1001, 1002, S::kReady, -1}, {1002, 1005, S::kRunning, 0}, {1003, 1020, S::kRunning, 1},
        {1005, 1007, S::kReady, -1}, {1007, 1009, S::kRunning, 0}, {1009, 1012, S::kAsleep, -1},
    };
    ASSERT_EQ(processes[0].states.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const StateSpan& got = processes[0].states[i];
        EXPECT_DOUBLE_EQ(got.start, expected[i].start) << i;
        EXPECT_DOUBLE_EQ(got.end, expected[i].end) << i;
        EXPECT_EQ(got.state, expected[i].state) << i;
        EXPECT_EQ(got.processor, expected[i].processor) << i;
    }
    EXPECT_EQ(processes[0].switches, 3);

    // A watch of whole processors keeps only the followed processes and
    // those they start: 10, started by 1, is kept; 99 is not. Its start is
    // read after its first switch (another processor's buffer), as happens
    // within one drain.
    SwitchRecords batch;
    std::swap(records.records[0], records.records[1]);
    batch.records = records.records;
    SwitchRecords followed;
    followed.onlyFollowed = true;
    followed.followed = {1};
    KeepFollowed(batch, followed);
    EXPECT_EQ(followed.records.size(), 7u);
    EXPECT_EQ(followed.records[0].kind, SwitchKind::kStart);
    EXPECT_EQ(followed.followed, (std::set<std::uint32_t>{1, 10}));

    // The start may come a drain later than the child's first switches: they
    // are kept until it does, and count then.
    SwitchRecords early, late;
    early.records.assign(records.records.begin() + 2, records.records.end());
    late.records = {records.records[1]};  // the start of 10
    SwitchRecords laterFollowed;
    laterFollowed.onlyFollowed = true;
    laterFollowed.followed = {1};
    KeepFollowed(early, laterFollowed);
    KeepFollowed(late, laterFollowed);
    EXPECT_EQ(laterFollowed.records.size(), followed.records.size() - 1);  // all but the first
}

// ---- Real children -----------------------------------------------------------

const std::string kChild = HERDTRACE_TEST_CHILD;

// A process's time in each state, in ms.
struct Totals {
    double running = 0;
    double ready = 0;
    double asleep = 0;
};

Totals FromRecords(const TracedProcess& process) {
    Totals totals;
    for (const StateSpan& span : process.states) {
        const double length = span.end - span.start;
        (span.state == ChildState::kRunning ? totals.running
         : span.state == ChildState::kReady ? totals.ready
                                            : totals.asleep) += length;
    }
    return totals;
}

Totals FromSamples(const TracedProcess& process) {
    Totals totals;
    if (process.readings.size() >= 2) {
        const CpuReading& first = process.readings.front();
        const CpuReading& last = process.readings.back();
        totals.running = last.cpuMilliseconds;
        totals.ready = last.readyMilliseconds;
        totals.asleep = double(last.time - first.time) -
                        (last.cpuMilliseconds - first.cpuMilliseconds) -
                        (last.readyMilliseconds - first.readyMilliseconds);
    }
    return totals;
}

const TracedProcess* Named(const TracedRun& run, const std::string& name) {
    for (const TracedProcess& process : run.processes) {
        if (!process.arguments.empty() && process.arguments[0] == name) {
            return &process;
        }
    }
    ADD_FAILURE() << "no process " << name;
    return nullptr;
}

// The longest time between two of the process's readings.
double LongestGap(const TracedProcess& process) {
    double gap = 0;
    for (std::size_t i = 1; i < process.readings.size(); ++i) {
        gap = std::max(gap, double(process.readings[i].time - process.readings[i - 1].time));
    }
    return gap;
}

// Within 1 % or 5 ms of the kernel's own total, whichever is larger: its
// schedstat once it had ended, else (a parent that reaped it before a
// sample saw it ended, or threads that ended first) the sum of its switch
// records. The samples then end at their last reading of each of its
// `busyThreads`, up to the longest gap between readings (one interval, more
// on a busy machine) before its end.
void ExpectKernelsTotal(double measured, const TracedProcess& process, bool sampled,
                        int busyThreads = 1) {
    const bool seenEnded = process.finalCpuMilliseconds >= 0;
    const double kernel = seenEnded ? process.finalCpuMilliseconds : FromRecords(process).running;
    const double tail = sampled && !seenEnded ? LongestGap(process) * busyThreads : 0;
    ASSERT_GT(kernel, 0) << process.arguments[0];
    EXPECT_NEAR(measured, kernel - tail / 2, std::max(kernel * 0.01, 5.0) + tail / 2)
        << process.arguments[0] << (sampled ? " from the samples" : " from the records");
}

// Running spans of different processes on one processor at one time: the
// records of a processor must never give it two holders.
double OverlapOnOneProcessor(const Trace& trace) {
    double overlap = 0;
    const auto& slices = trace.processorSlices;
    for (std::size_t i = 0; i < slices.size(); ++i) {
        for (std::size_t j = i + 1; j < slices.size() && slices[j].start < slices[i].end; ++j) {
            if (slices[j].processor == slices[i].processor && slices[j].lane != slices[i].lane) {
                overlap += std::min(slices[i].end, slices[j].end) - slices[j].start;
            }
        }
    }
    return overlap;
}

// The lanes of a run of children confined to one processor: it has one
// holder at a time (overlap below 1 % of the time it was held), and at
// least `leastHeld` ms of it were held.
void ExpectOneHolderAtATime(const TracedRun& run, double leastHeld) {
    Trace trace = ReadTranscript(run.output);
    AttachSamples(trace, run);
    EXPECT_EQ(trace.stateSource, StateSource::kExact);
    EXPECT_EQ(trace.processors.size(), 1u);
    double held = 0;
    for (const ProcessorSlice& slice : trace.processorSlices) {
        held += slice.end - slice.start;
    }
    EXPECT_GT(held, leastHeld);
    EXPECT_LT(OverlapOnOneProcessor(trace), held * 0.01);
    for (const Lane& lane : trace.lanes) {
        EXPECT_GT(lane.switches, 0) << lane.name;
        EXPECT_GE(lane.readyMilliseconds, 0) << lane.name;
    }
}

TEST(States, BurnerSleeperAndOneKeptReadyAgreeInBothSources) {
    constexpr double kBurn = 600;
    const TracedRun run = RunTraced({kChild, "top", "contend", "600"}, StateChoice::kBoth);
    if (run.stateSource != StateSource::kExact) {
        GTEST_SKIP() << "no switch records here: " << run.exactHint;
    }
    EXPECT_EQ(run.lostRecords, 0u);
    // Rows: the child, its least and most running and its least ready, in
    // ms. Each child's start-up costs a little more, which the bounds allow.
    struct Row {
        const char* name;
        double running[2];
        double leastReady;
    };
    const Row rows[] = {
        {"high", {kBurn, kBurn + 250}, 0},
        {"low", {kBurn / 12, kBurn / 12 + 250}, kBurn / 2},  // ready while high burns
        {"sleeper", {0, 250}, 0},
    };
    for (const Row& row : rows) {
        const TracedProcess* process = Named(run, row.name);
        ASSERT_NE(process, nullptr);
        for (const auto& [source, totals] : {std::pair{"records", FromRecords(*process)},
                                             std::pair{"samples", FromSamples(*process)}}) {
            const bool sampled = source == std::string("samples");
            ExpectKernelsTotal(totals.running, *process, sampled);
            // The samples may end a gap between readings before the child.
            EXPECT_GE(totals.running, row.running[0] - (sampled ? LongestGap(*process) : 0))
                << row.name << " " << source;
            EXPECT_LE(totals.running, row.running[1]) << row.name << " " << source;
            EXPECT_GE(totals.ready, row.leastReady) << row.name << " " << source;
        }
    }
    EXPECT_GT(FromRecords(*Named(run, "sleeper")).asleep, kBurn - 100);
    EXPECT_GT(FromSamples(*Named(run, "sleeper")).asleep, kBurn - 100);

    ExpectOneHolderAtATime(run, kBurn + kBurn / 12);
}

TEST(States, TwoBusyThreadsAddUp) {
    constexpr double kBurn = 400;
    const TracedRun run = RunTraced({kChild, "top", "wrap", "threads", "400"}, StateChoice::kBoth);
    const TracedProcess* inner = Named(run, "inner");
    ASSERT_NE(inner, nullptr);
    std::vector<std::pair<const char*, Totals>> sources = {{"samples", FromSamples(*inner)}};
    if (run.stateSource == StateSource::kExact) {
        sources.emplace_back("records", FromRecords(*inner));
    }
    for (const auto& [source, totals] : sources) {
        EXPECT_GE(totals.running, 2 * (kBurn - LongestGap(*inner))) << source;
        ExpectKernelsTotal(totals.running, *inner, source == std::string("samples"), 2);
    }
}

// ---- A refused watch ---------------------------------------------------------

// Makes perf_event_open fail with EACCES in this process and all it starts,
// as on a machine whose kernel refuses the watch.
bool RefuseTheWatch() {
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_perf_event_open, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EACCES),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

struct Fallback {
    bool nobody;   // run as the user nobody
    bool refused;  // the kernel refuses perf_event_open
};

// Traces a short burner in a process of its own, as the row says; returns
// the source ("exact"/"sampled"), the hint and the burner's lane total.
std::string TraceInAProcessOfItsOwn(const Fallback& row) {
    int channel[2];
    if (pipe(channel) != 0) {
        return "no pipe";
    }
    const pid_t pid = fork();
    if (pid == 0) {
        close(channel[0]);
        const bool ready = (!row.refused || RefuseTheWatch()) &&
                           (!row.nobody || (setresgid(65534, 65534, 65534) == 0 &&
                                            setresuid(65534, 65534, 65534) == 0));
        const TracedRun run = RunTraced({kChild, "top", "wrap", "burn", "100"});
        Trace trace = ReadTranscript(run.output);
        AttachSamples(trace, run);
        const std::string text =
            std::string(!ready                                       ? "not set up"
                        : trace.stateSource == StateSource::kExact   ? "exact"
                        : trace.stateSource == StateSource::kSampled ? "sampled"
                                                                     : "none") +
            "|" + trace.exactHint + "|" +
            std::to_string(trace.lanes.empty() ? -1 : int(trace.lanes[0].cpuMilliseconds));
        (void)!write(channel[1], text.data(), text.size());
        _exit(0);
    }
    close(channel[1]);
    std::string text;
    char buffer[512];
    ssize_t got;
    while ((got = read(channel[0], buffer, sizeof buffer)) > 0) {
        text.append(buffer, std::size_t(got));
    }
    close(channel[0]);
    waitpid(pid, nullptr, 0);
    return text;
}

int Paranoia() {
    std::ifstream file("/proc/sys/kernel/perf_event_paranoid");
    int level = 3;
    file >> level;
    return level;
}

TEST(States, RefusedWatchFallsBackToTheSamplesAndSaysWhatWouldMakeThemExact) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root, to become nobody";
    }
    const std::string grant = "точно: от имени root или после sudo scripts/allow-priorities.sh";
    const std::string nobodyMay = Paranoia() <= 2 ? "exact||" : "sampled|" + grant + "|";
    const std::pair<Fallback, std::string> rows[] = {
        {{false, true}, "sampled|точно: ядро не дает записей переключений (perf_event_open: "},
        {{true, true}, "sampled|" + grant + "|"},
        {{true, false}, nobodyMay},
    };
    for (const auto& [row, expected] : rows) {
        const std::string got = TraceInAProcessOfItsOwn(row);
        EXPECT_EQ(got.substr(0, expected.size()), expected) << row.nobody << row.refused;
        // Either way the burner's processor time is there.
        const int burned = std::atoi(got.substr(got.rfind('|') + 1).c_str());
        EXPECT_GE(burned, 50) << got;  // the samples may end before the burner
        EXPECT_LT(burned, 400) << got;
    }
}

}  // namespace
}  // namespace herdtrace
