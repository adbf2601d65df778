// The readings and the switch records of a traced run put into the lanes:
// each interval's running and ready shares, the lanes' totals, who held
// each processor, and the trace's source of states.
#include <gtest/gtest.h>

#include <string>

#include "tracer.h"
#include "transcript_reader.h"

namespace {

using namespace herdtrace;

// Two elephants' lines at noon, and their processes by the names the
// launcher gave them.
Trace TwoLanes() {
    return ReadTranscript(
        "12:00:00.000 - Слон 1 поиск начал, приоритет - высокий\n"
        "12:00:00.010 - Слон 2 поиск начал, приоритет - низкий\n");
}

TracedProcess Process(unsigned long id, const std::string& name) {
    TracedProcess process;
    process.id = id;
    process.arguments = {name, "0"};
    process.commandLineKnown = true;
    process.firstSeen = 12 * 3'600'000;
    return process;
}

TEST(AttachSamples, SampledIntervalsSplitIntoRunningAndReadyWithTotals) {
    const Millis noon = 12 * 3'600'000;
    TracedRun run;
    run.stateSource = StateSource::kSampled;
    run.exactHint = "точно: от имени root";
    run.processes = {Process(101, "1"), Process(102, "2")};
    // Rows: time, running ms, ready ms, switches, processor so far.
    run.processes[0].readings = {
        {noon, 0, 0, 0, 0}, {noon + 10, 8, 1, 3, 0}, {noon + 20, 18, 1, 5, 1}};
    run.processes[1].readings = {
        {noon, 0, 0, 0, 0}, {noon + 10, 0, 9, 0, 0}, {noon + 20, 1, 18, 1, 0}};
    Trace trace = TwoLanes();
    AttachSamples(trace, run);
    ASSERT_EQ(trace.lanes.size(), 2u);
    const Lane& high = trace.lanes[0];
    const Lane& low = trace.lanes[1];
    ASSERT_EQ(high.cpu.size(), 2u);
    EXPECT_DOUBLE_EQ(high.cpu[0].share, 0.8);
    EXPECT_DOUBLE_EQ(high.cpu[0].ready, 0.1);
    EXPECT_DOUBLE_EQ(high.cpu[1].share, 1.0);
    EXPECT_EQ(high.cpu[1].processor, 1);
    EXPECT_DOUBLE_EQ(low.cpu[0].ready, 0.9);
    EXPECT_EQ(low.cpu[0].processor, -1);  // it did not run: no processor held
    EXPECT_DOUBLE_EQ(high.cpuMilliseconds, 18);
    EXPECT_DOUBLE_EQ(low.readyMilliseconds, 18);
    EXPECT_EQ(low.switches, 1);
    EXPECT_EQ(trace.stateSource, StateSource::kSampled);
    EXPECT_EQ(trace.exactHint, run.exactHint);
    EXPECT_EQ(trace.processors, (std::vector<int>{0, 1}));
    EXPECT_TRUE(trace.processorSlices.empty());
}

// The kernel counts a wait when it ends: elephant 2 waits 30 ms, runs 2 ms
// and its ready total jumps by 30 ms in that one interval; the picture puts
// the wait where it was, before the run, not after elephant 2's last run.
TEST(AttachSamples, AWaitCountedWhenItEndsIsDrawnWhereItWas) {
    const Millis noon = 12 * 3'600'000;
    TracedRun run;
    run.stateSource = StateSource::kSampled;
    run.processes = {Process(101, "1"), Process(102, "2")};
    run.processes[1].readings = {{noon, 0, 0, 0, 0},       {noon + 10, 4, 0, 1, 0},
                                 {noon + 20, 4, 0, 1, 0},  {noon + 30, 4, 0, 1, 0},
                                 {noon + 40, 6, 30, 2, 0}, {noon + 50, 6, 30, 2, 0}};
    Trace trace = TwoLanes();
    AttachSamples(trace, run);
    const std::vector<CpuSample>& low = trace.lanes[1].cpu;
    ASSERT_EQ(low.size(), 5u);
    // The wait fills the free time of the interval it ended in and of the
    // two before, and its last 2 ms fall after the first interval's run.
    const double expected[] = {0.2, 1.0, 1.0, 0.8, 0.0};
    for (std::size_t i = 0; i < low.size(); ++i) {
        EXPECT_NEAR(low[i].ready, expected[i], 1e-9) << i;
    }
    EXPECT_DOUBLE_EQ(trace.lanes[1].readyMilliseconds, 30);
}

TEST(AttachSamples, RecordedStatesGiveTotalsAndWhoHeldEachProcessor) {
    const double noon = 12 * 3'600'000;
    TracedRun run;
    run.stateSource = StateSource::kExact;
    run.lostRecords = 2;
    run.processes = {Process(101, "1"), Process(102, "2")};
    using S = ChildState;
    run.processes[0].states = {{noon, noon + 4, S::kRunning, 0},
                               {noon + 4, noon + 6, S::kReady},
                               {noon + 6, noon + 9, S::kRunning, 0}};
    run.processes[0].switches = 2;
    run.processes[1].states = {{noon, noon + 4, S::kReady},
                               {noon + 4, noon + 6, S::kRunning, 0},
                               {noon + 6, noon + 9, S::kAsleep}};
    run.processes[1].switches = 1;
    Trace trace = TwoLanes();
    // Elephant 2 has ended at 7 ms: its thread's sleep, kept open until the
    // last record (or until now in a run going on), ends there.
    trace.lanes[1].endedAt = 12 * 3'600'000 + 7;
    AttachSamples(trace, run);
    EXPECT_EQ(trace.stateSource, StateSource::kExact);
    EXPECT_EQ(trace.lostRecords, 2u);
    EXPECT_DOUBLE_EQ(trace.lanes[0].cpuMilliseconds, 7);
    EXPECT_DOUBLE_EQ(trace.lanes[0].readyMilliseconds, 2);
    EXPECT_DOUBLE_EQ(trace.lanes[1].readyMilliseconds, 4);
    EXPECT_EQ(trace.lanes[1].switches, 1);
    ASSERT_EQ(trace.lanes[1].states.size(), 3u);
    EXPECT_DOUBLE_EQ(trace.lanes[1].states[2].end, noon + 7);
    // The processor's holders in time order: 1, 2, 1.
    ASSERT_EQ(trace.processorSlices.size(), 3u);
    const std::size_t holders[] = {0, 1, 0};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(trace.processorSlices[i].lane, holders[i]) << i;
        EXPECT_EQ(trace.processorSlices[i].processor, 0) << i;
    }
    EXPECT_EQ(trace.processors, (std::vector<int>{0}));
}

}  // namespace
