// Sleep(100) against a plain nanosleep of 100 ms: how far each overshoots,
// and how much processor time the sleeping thread uses (it should be nil).
#include <benchmark/benchmark.h>
#include <time.h>

#include <cstdio>

#include "win32.h"

namespace {

constexpr long kSleepMs = 100;

struct Totals {
    double overshootSeconds = 0;
    double processorSeconds = 0;
    long long sleeps = 0;
};
Totals gLayer;
Totals gRaw;

double Seconds(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void RawSleep() {
    timespec length{0, kSleepMs * 1000000L};
    while (nanosleep(&length, &length) != 0) {
    }
}

void LayerSleep() {
    Sleep(static_cast<DWORD>(kSleepMs));
}

template <void (*SleepOnce)()>
void Measure(benchmark::State& state, Totals& totals) {
    for (auto _ : state) {
        const double wallStart = Seconds(CLOCK_MONOTONIC);
        const double cpuStart = Seconds(CLOCK_THREAD_CPUTIME_ID);
        SleepOnce();
        const double cpu = Seconds(CLOCK_THREAD_CPUTIME_ID) - cpuStart;
        const double wall = Seconds(CLOCK_MONOTONIC) - wallStart;
        totals.overshootSeconds += wall - static_cast<double>(kSleepMs) / 1e3;
        totals.processorSeconds += cpu;
        ++totals.sleeps;
    }
    state.counters["overshoot_us"] =
        totals.overshootSeconds / static_cast<double>(totals.sleeps) * 1e6;
    state.counters["cpu_us"] = totals.processorSeconds / static_cast<double>(totals.sleeps) * 1e6;
}

void SleepWithLayer(benchmark::State& state) {
    Measure<LayerSleep>(state, gLayer);
}
void SleepWithNanosleep(benchmark::State& state) {
    Measure<RawSleep>(state, gRaw);
}

BENCHMARK(SleepWithNanosleep)->Iterations(10)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(SleepWithLayer)->Iterations(10)->UseRealTime()->Unit(benchmark::kMillisecond);

double MeanMicros(double seconds, long long count) {
    return count > 0 ? seconds / static_cast<double>(count) * 1e6 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (gLayer.sleeps == 0 || gRaw.sleeps == 0) {
        return 0;
    }
    const double layerWall =
        static_cast<double>(kSleepMs) * 1e3 + MeanMicros(gLayer.overshootSeconds, gLayer.sleeps);
    const double rawWall =
        static_cast<double>(kSleepMs) * 1e3 + MeanMicros(gRaw.overshootSeconds, gRaw.sleeps);
    std::printf(
        "Sleep(100): overshoot %.0f us, processor %.1f us; nanosleep: overshoot %.0f us, processor "
        "%.1f us; "
        "ratio %.3f\n",
        MeanMicros(gLayer.overshootSeconds, gLayer.sleeps),
        MeanMicros(gLayer.processorSeconds, gLayer.sleeps),
        MeanMicros(gRaw.overshootSeconds, gRaw.sleeps),
        MeanMicros(gRaw.processorSeconds, gRaw.sleeps), layerWall / rawWall);
    return 0;
}
