// SpinWait: one unit must cost real processor time, the same every time.
//
// Measures 30 single units in thread CPU time (Google Benchmark's CPU column)
// and prints their mean and coefficient of variation, next to a raw baseline
// of the same iteration count: a plain loop on a volatile counter. The ratio
// shows that the unit is a full-length loop, neither removed nor collapsed by
// the optimiser.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "a0wait_unit.h"

namespace {

constexpr int kRepetitions = 30;

// The baseline: the same 10,000 x 1,000 steps, kept by a volatile counter
// (a load and a store per step).
void VolatileUnit() {
    for (int j = 0; j < 10'000; ++j) {
        volatile int k = 0;
        while (k < 1'000) {
            k = k + 1;
        }
    }
}

void BM_SpinWaitUnit(benchmark::State& state) {
    for (auto _ : state) {
        SpinWait(1);
    }
}

void BM_VolatileLoopUnit(benchmark::State& state) {
    for (auto _ : state) {
        VolatileUnit();
    }
}

// Each repetition times exactly one unit.
BENCHMARK(BM_SpinWaitUnit)
    ->Iterations(1)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VolatileLoopUnit)
    ->Iterations(1)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);

struct Summary {
    double meanMs = 0;
    double cv = 0;
};

// Prints the usual table and keeps each benchmark's mean and CV of CPU time.
class SummaryReporter : public benchmark::ConsoleReporter {
  public:
    std::map<std::string, Summary> summaries;

    SummaryReporter() : ConsoleReporter(OO_Tabular) {}  // plain text, also in logs

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            Summary& summary = summaries[run.run_name.function_name];
            if (run.aggregate_name == "mean") {
                summary.meanMs = run.GetAdjustedCPUTime();
            } else if (run.aggregate_name == "cv") {
                // A percentage aggregate holds the plain fraction, not a time.
                summary.cv = run.cpu_accumulated_time;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const Summary spin = reporter.summaries["BM_SpinWaitUnit"];
    const Summary raw = reporter.summaries["BM_VolatileLoopUnit"];
    std::printf("\nSpinWait unit:        %.3f ms thread CPU time, CV %.1f%% over %d single units\n",
                spin.meanMs, spin.cv * 100, kRepetitions);
    std::printf("volatile-loop unit:   %.3f ms thread CPU time, CV %.1f%%\n", raw.meanMs,
                raw.cv * 100);
    if (raw.meanMs > 0) {
        std::printf("ratio SpinWait/raw:   %.2f\n", spin.meanMs / raw.meanMs);
    }
    return 0;
}
