// Starting a herd: 15 children with CreateProcessA against plain fork+exec of
// the same program, each round waiting for all 15 to end. CreateProcessA
// also searches for the program, applies the priority class, limits the
// descriptors and waits for exec to succeed, so it may cost a little more;
// the target is at most 1.3 times the plain start.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "win32.h"

namespace {

constexpr int kChildren = 15;
constexpr const char* kProgram = "true";  // found in PATH by CreateProcessA
constexpr const char* kProgramPath = "/usr/bin/true";
constexpr int kAlternatingRounds = 40;

// Rounds of the alternating benchmark: the load of the machine changes
// between rounds, so the ratio comes from rounds run side by side.
double gLayerSeconds = 0;
double gRawSeconds = 0;

double Seconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void AwaitPid(pid_t pid) {
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

bool RoundWithCreateProcess() {
    PROCESS_INFORMATION children[kChildren] = {};
    int started = 0;
    for (PROCESS_INFORMATION& child : children) {
        std::string commandLine = std::string(kProgram) + " 1 2 3";
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE,
                            NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup, &child)) {
            break;
        }
        ++started;
    }
    for (int i = 0; i < started; ++i) {
        AwaitPid(static_cast<pid_t>(children[i].dwProcessId));
        CloseHandle(children[i].hThread);
        CloseHandle(children[i].hProcess);
    }
    return started == kChildren;
}

void RoundWithForkExec() {
    pid_t children[kChildren] = {};
    for (pid_t& child : children) {
        child = fork();
        if (child == 0) {
            char* const argv[] = {const_cast<char*>(kProgram), const_cast<char*>("1"),
                                  const_cast<char*>("2"), const_cast<char*>("3"), nullptr};
            execv(kProgramPath, argv);
            _exit(127);
        }
    }
    for (pid_t child : children) {
        if (child > 0) {
            AwaitPid(child);
        }
    }
}

void StartWithCreateProcess(benchmark::State& state) {
    for (auto _ : state) {
        if (!RoundWithCreateProcess()) {
            state.SkipWithError("CreateProcessA failed");
            return;
        }
    }
}

void StartWithForkExec(benchmark::State& state) {
    for (auto _ : state) {
        RoundWithForkExec();
    }
}

void Alternating(benchmark::State& state) {
    for (auto _ : state) {
        const double start = Seconds();
        RoundWithForkExec();
        const double middle = Seconds();
        if (!RoundWithCreateProcess()) {
            state.SkipWithError("CreateProcessA failed");
            return;
        }
        gRawSeconds += middle - start;
        gLayerSeconds += Seconds() - middle;
    }
}

BENCHMARK(StartWithForkExec)->Iterations(20)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(StartWithCreateProcess)->Iterations(20)->UseRealTime()->Unit(benchmark::kMillisecond);
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
    std::printf(
        "15 children, alternating rounds: CreateProcessA %.2f ms, fork+exec %.2f ms, ratio %.2f "
        "(target <= 1.3)\n",
        gLayerSeconds / kAlternatingRounds * 1e3, gRawSeconds / kAlternatingRounds * 1e3,
        gLayerSeconds / gRawSeconds);
    return 0;
}
