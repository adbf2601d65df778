// A child program's start on Linux: the time from starting tusker1 to its
// first line, and its peak resident memory, against a statically linked C
// program that prints one line (one_line_static), started the same way side
// by side. The programs are linked statically, so a child needs no dynamic
// loading; the targets are at most 1.5 times the baseline's start and at
// most 1.5 MB peak memory.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr int kAlternatingRounds = 40;

struct ChildRun {
    double firstLineMs = -1;  // -1: the child printed no line
    long peakKb = 0;
};

std::string gBinDirectory;
std::vector<ChildRun> gTuskerRuns;
std::vector<ChildRun> gBaselineRuns;

double Milliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) * 1e-6;
}

// Starts `program` from the bench's folder with its output in a pipe; times
// the first line and reads the rest. With `throughSmallLauncher` the child
// is started by one_line_static, which adds the line "peak <kB>" with the
// child's peak memory (a child started from this bench would count the
// bench's own memory in its peak).
ChildRun RunChild(const std::string& program, std::vector<std::string> arguments,
                  bool throughSmallLauncher) {
    ChildRun run;
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        return run;
    }
    arguments.insert(arguments.begin(), gBinDirectory + "/" + program);
    if (throughSmallLauncher) {
        arguments.insert(arguments.begin(), gBinDirectory + "/one_line_static");
    }
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);

    const double start = Milliseconds();
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    std::string output;
    char buffer[512];
    while (failed == 0) {
        const ssize_t got = read(pipeFds[0], buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        if (run.firstLineMs < 0 && std::find(buffer, buffer + got, '\n') != buffer + got) {
            run.firstLineMs = Milliseconds() - start;
        }
        output.append(buffer, static_cast<std::size_t>(got));
    }
    close(pipeFds[0]);
    while (failed == 0 && waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    const std::size_t peak = output.rfind("peak ");
    if (throughSmallLauncher && peak != std::string::npos) {
        run.peakKb = std::atol(output.c_str() + peak + 5);
    }
    return run;
}

// An elephant that finds water at once (age 60) and drinks little (weight 1).
ChildRun RunTusker() {
    return RunChild("tusker1", {"1", "60", "1"}, false);
}

ChildRun RunBaseline() {
    return RunChild("one_line_static", {}, false);
}

long PeakKb(const std::string& program, const std::vector<std::string>& arguments) {
    return RunChild(program, arguments, true).peakKb;
}

void Measure(benchmark::State& state, ChildRun (*start)()) {
    for (auto _ : state) {
        const ChildRun run = start();
        if (run.firstLineMs < 0) {
            state.SkipWithError("the child printed no line");
            return;
        }
        state.SetIterationTime(run.firstLineMs * 1e-3);
    }
}

void TuskerFirstLine(benchmark::State& state) {
    Measure(state, RunTusker);
}

void StaticCFirstLine(benchmark::State& state) {
    Measure(state, RunBaseline);
}

// The load of the machine changes over time: the ratio comes from runs made
// side by side.
void Alternating(benchmark::State& state) {
    for (auto _ : state) {
        ChildRun baseline = RunBaseline();
        ChildRun tusker = RunTusker();
        baseline.peakKb = PeakKb("one_line_static", {});
        tusker.peakKb = PeakKb("tusker1", {"1", "60", "1"});
        gBaselineRuns.push_back(baseline);
        gTuskerRuns.push_back(tusker);
    }
}

BENCHMARK(StaticCFirstLine)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(TuskerFirstLine)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(Alternating)->Iterations(kAlternatingRounds)->Unit(benchmark::kMillisecond);

template <typename Field>
double Median(const std::vector<ChildRun>& runs, Field field) {
    std::vector<double> values;
    for (const ChildRun& run : runs) {
        values.push_back(static_cast<double>(run.*field));
    }
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) > 0) {
        gBinDirectory = std::string(self).substr(0, std::string(self).rfind('/'));
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (gTuskerRuns.empty()) {
        return 0;
    }
    const double tuskerMs = Median(gTuskerRuns, &ChildRun::firstLineMs);
    const double baselineMs = Median(gBaselineRuns, &ChildRun::firstLineMs);
    const double tuskerKb = Median(gTuskerRuns, &ChildRun::peakKb);
    std::printf(
        "start to first line, median of %d alternating runs: tusker1 %.2f ms, static C %.2f ms, "
        "ratio %.2f (target <= 1.5)\n"
        "peak memory: tusker1 %.0f kB, static C %.0f kB (target <= 1536 kB)\n",
        kAlternatingRounds, tuskerMs, baselineMs, baselineMs > 0 ? tuskerMs / baselineMs : 0,
        tuskerKb, Median(gBaselineRuns, &ChildRun::peakKb));
    return 0;
}
