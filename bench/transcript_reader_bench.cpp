// herdtrace's transcript reader on a day of lab runs: 100,000 lines of the
// three launchers and their children, made from the texts the programs
// print from, in Windows-1251 as a Windows console saves them. The raw
// baseline is the least any reader does: every byte looked at once, the
// line ends found. Rounds alternate the two; the ratio is what telling the
// encoding, converting each line and matching it against the programs'
// formats costs on top.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>

#include "format_unit.h"
#include "priority_unit.h"
#include "program_lines_unit.h"
#include "transcript_reader.h"

namespace {

constexpr int kLines = 100'000;
constexpr int kAlternatingRounds = 10;

double gRawSeconds = 0;
double gReaderSeconds = 0;

// One run of each launcher, about 30 lines, repeated to kLines.
std::string DayOfRuns() {
    const std::string_view stamp = "10:00:00.000";
    const std::string_view high = kPriorityNames[4];
    const std::string_view tandy = "Слон Tandy"_cp1251;
    const std::string run[] = {
        FormatText(kHerdGreetingLine, {stamp}),
        FormatText(kHerdListingLine, {stamp, 1, 3, 1.7}),
        FormatText(kElephantSearchLine, {stamp, "1", high}),
        FormatText(kElephantFoundLine, {stamp, "1"}),
        FormatText(kElephantDrunkLine, {stamp, "1"}),
        FormatText(kHerdTimeUpLine, {stamp}),
        FormatText(kHerdEndedLine, {stamp, 1}),
        FormatText(kMonitorHeadingLine, {stamp}),
        FormatText(kProcessTableRow, {1, 3300, 2300}),
        FormatText(kWorkerStartedLine, {stamp, 2, high}),
        FormatText(kWorkerFirstStageLine, {stamp, 2, 3300}),
        FormatText(kWorkerFirstDoneLine, {stamp, 2}),
        FormatText(kWorkerSecondStageLine, {stamp, 2, 2300}),
        FormatText(kMonitorTimeUpLine, {stamp, 2.5}),
        FormatText(kWorkerEndOrderLine, {stamp, 2}),
        FormatText(kWorkerWaitFactorLine, {stamp, 2, 571}),
        FormatText(kWorkerSecondDoneLine, {stamp, 2}),
        FormatText(kFeederGreetingLine, {stamp}),
        FormatText(kChildStartLine, {stamp, tandy, 15, high}),
        FormatText(kChildProgressLine, {stamp, tandy, 10}),
        FormatText(kChildFedLine, {stamp, tandy}),
        FormatText(kElephantFeederEndedLine, {stamp, "Tandy"}),
    };
    std::string day;
    for (int line = 0; line < kLines; ++line) {
        day += run[line % std::size(run)] + "\r\n";
    }
    return day;
}

const std::string& Day() {
    static const std::string day = DayOfRuns();
    return day;
}

// Lines, and bytes outside ASCII (so that every byte is read).
std::size_t RawPass(const std::string& bytes) {
    std::size_t lines = 0;
    std::size_t high = 0;
    for (const char c : bytes) {
        lines += c == '\n';
        high += static_cast<unsigned char>(c) >= 0x80;
    }
    return lines + high;
}

double Seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void Alternating(benchmark::State& state) {
    for (auto _ : state) {
        const double start = Seconds();
        benchmark::DoNotOptimize(RawPass(Day()));
        const double middle = Seconds();
        benchmark::DoNotOptimize(herdtrace::ReadTranscript(Day()).lanes.size());
        gRawSeconds += middle - start;
        gReaderSeconds += Seconds() - middle;
    }
}

BENCHMARK(Alternating)
    ->Iterations(kAlternatingRounds)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (gRawSeconds <= 0) {
        return 0;
    }
    std::printf("%d lines, alternating rounds: reader %.1f ms, raw pass %.1f ms, ratio %.2f\n",
                kLines, gReaderSeconds / kAlternatingRounds * 1e3,
                gRawSeconds / kAlternatingRounds * 1e3, gReaderSeconds / gRawSeconds);
    return 0;
}
