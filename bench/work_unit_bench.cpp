// HERDLAB_UNIT_MS: does one SpinWait unit cost n ms of the thread's own
// processor time? For n = 5 and n = 30 this program runs itself again with
// the setting (it is read once per process), times 30 single units and one
// call of 10 units in thread CPU time, and compares them with n and with a
// raw baseline in the same process: a loop that only watches the thread's CPU
// clock until n ms have passed. Linux.
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "a0wait_unit.h"

extern char** environ;

namespace {

constexpr int kRepetitions = 30;

double ThreadMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

void RawSpin(double milliseconds) {
    const double end = ThreadMilliseconds() + milliseconds;
    while (ThreadMilliseconds() < end) {
    }
}

struct Figures {
    double mean = 0;
    double least = 1e9;
    double most = 0;
};

template <typename Body>
Figures Measure(Body body) {
    Figures figures;
    for (int i = 0; i < kRepetitions; ++i) {
        const double start = ThreadMilliseconds();
        body();
        const double cost = ThreadMilliseconds() - start;
        figures.mean += cost / kRepetitions;
        figures.least = std::min(figures.least, cost);
        figures.most = std::max(figures.most, cost);
    }
    return figures;
}

int MeasureOneSetting() {
    const int unit = SpinUnitMilliseconds();
    if (unit == 0) {
        std::printf("HERDLAB_UNIT_MS is not a valid setting\n");
        return 1;
    }
    SpinWait(1);  // warm-up
    const Figures spin = Measure([] { SpinWait(1); });
    const Figures raw = Measure([unit] { RawSpin(unit); });
    const double start = ThreadMilliseconds();
    SpinWait(10);
    const double tenUnits = ThreadMilliseconds() - start;
    const double ratio = spin.mean / unit;
    std::printf("HERDLAB_UNIT_MS=%d\n", unit);
    std::printf("  SpinWait(1):  mean %.3f ms, min %.3f, max %.3f (%d units)\n", spin.mean,
                spin.least, spin.most, kRepetitions);
    std::printf("  raw CPU-clock loop: mean %.3f ms, min %.3f, max %.3f\n", raw.mean, raw.least,
                raw.most);
    std::printf("  SpinWait(10): %.3f ms (%.4f of 10 x n)\n", tenUnits, tenUnits / (10.0 * unit));
    std::printf("  ratio unit/n: %.4f   ratio SpinWait/raw: %.4f   within 10%%: %s\n", ratio,
                spin.mean / raw.mean, ratio > 0.9 && ratio < 1.1 ? "yes" : "NO");
    return ratio > 0.9 && ratio < 1.1 ? 0 : 1;
}

int RunWith(const char* self, const std::string& setting) {
    std::vector<std::string> environment = {"HERDLAB_UNIT_MS=" + setting};
    for (char** variable = environ; *variable != nullptr; ++variable) {
        if (std::string(*variable).rfind("HERDLAB_UNIT_MS=", 0) != 0) {
            environment.push_back(*variable);
        }
    }
    std::vector<char*> envp;
    for (std::string& variable : environment) {
        envp.push_back(variable.data());
    }
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(self), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, self, nullptr, nullptr, argv, envp.data()) != 0) {
        return 1;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

}  // namespace

int main(int, char** argv) {
    if (std::getenv("HERDLAB_UNIT_MS") != nullptr) {
        return MeasureOneSetting();
    }
    std::fflush(stdout);
    const int five = RunWith("/proc/self/exe", "5");
    const int thirty = RunWith("/proc/self/exe", "30");
    (void)argv;
    return five != 0 || thirty != 0;
}
