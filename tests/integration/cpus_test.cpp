// HERDLAB_CPUS: the children of every launcher run on the first n processors
// the launcher may use, read from /proc as the kernel applies it; the
// launcher keeps its own. Linux build only: under Wine the conformance tests
// read the mask a child sees.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/syscall.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"

namespace {

using namespace std::chrono_literals;
using Processors = std::set<int>;

using harness::EnvironmentSetting;

// Runs the test process, and so the launchers it starts, on `processors`
// while it lives.
class TestAffinity {
  public:
    explicit TestAffinity(const Processors& processors) {
        sched_getaffinity(0, sizeof saved_, &saved_);
        cpu_set_t chosen;
        CPU_ZERO(&chosen);
        for (int cpu : processors) {
            CPU_SET(cpu, &chosen);
        }
        EXPECT_EQ(sched_setaffinity(0, sizeof chosen, &chosen), 0);
    }
    ~TestAffinity() { sched_setaffinity(0, sizeof saved_, &saved_); }
    TestAffinity(const TestAffinity&) = delete;
    TestAffinity& operator=(const TestAffinity&) = delete;

  private:
    cpu_set_t saved_{};
};

Processors OwnProcessors() {
    cpu_set_t own;
    CPU_ZERO(&own);
    sched_getaffinity(0, sizeof own, &own);
    Processors processors;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (CPU_ISSET(cpu, &own)) {
            processors.insert(cpu);
        }
    }
    return processors;
}

Processors FirstOf(const Processors& processors, std::size_t count) {
    Processors first;
    for (auto cpu = processors.begin(); cpu != processors.end() && first.size() < count; ++cpu) {
        first.insert(*cpu);
    }
    return first;
}

// Cpus_allowed_list of /proc/PID/status ("0-3,6"); empty when the process
// has gone.
Processors AllowedProcessors(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Cpus_allowed_list:", 0) != 0) {
            continue;
        }
        Processors processors;
        std::istringstream ranges(line.substr(line.find(':') + 1));
        std::string range;
        while (std::getline(ranges, range, ',')) {
            const std::size_t dash = range.find('-');
            const int first = std::stoi(range);
            const int last = dash == std::string::npos ? first : std::stoi(range.substr(dash + 1));
            for (int cpu = first; cpu <= last; ++cpu) {
                processors.insert(cpu);
            }
        }
        return processors;
    }
    return {};
}

std::string CommandName(pid_t pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

// Whether the launcher's main thread is in a sleep, as in its wait: by then
// it has started, confined and resumed every child. Unknown (false) where
// /proc/PID/syscall cannot be read.
bool LauncherWaits(pid_t launcher) {
    std::ifstream file("/proc/" + std::to_string(launcher) + "/syscall");
    long number = -1;
    file >> number;
    return number == SYS_nanosleep || number == SYS_clock_nanosleep;
}

// The launcher's children, once there are at least `count` and the launcher
// has confined them all (it waits), or all of them run `program`, or the time
// is up. A confined child of a low class may not reach its program for long
// while a higher one holds its processor: that is the lesson, so the test does
// not wait for it.
std::vector<pid_t> AwaitChildren(pid_t launcher, const std::string& program, std::size_t count) {
    const std::string path =
        "/proc/" + std::to_string(launcher) + "/task/" + std::to_string(launcher) + "/children";
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    std::vector<pid_t> children;
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream list(path);
        children.clear();
        std::size_t running = 0;
        for (pid_t pid; list >> pid;) {
            children.push_back(pid);
            running += CommandName(pid) == program;
        }
        if (children.size() >= count && (running == children.size() || LauncherWaits(launcher))) {
            break;
        }
        std::this_thread::sleep_for(10ms);
    }
    return children;
}

struct Launcher {
    const char* program;
    const char* input;
    const char* child;
};
// Two children each, alive long enough to be looked at: elephants whose
// units are a second each, workers of two stages of seconds, and the
// feeder's eight children, fed for 30 s.
constexpr Launcher kHerd{"herdboss1", "2\n0\n", "tusker1"};
constexpr Launcher kMonitor{"taskwarden", "2\n0\n20\n", "stageworker"};
constexpr Launcher kFeeder{"herdboss2", "", "tusker2"};

struct Row {
    Launcher launcher;
    const char* setting;        // HERDLAB_CPUS; null: unset
    int launcherOnly;           // the launcher runs on this processor only; -1: on the test's
    std::size_t childrenCount;  // the children get the first this many; 0: all the launcher's
};

TEST(ChildProcessors, SettingConfinesEveryLaunchersChildrenToItsFirstProcessors) {
    const Processors own = OwnProcessors();
    if (own.size() < 2) {
        GTEST_SKIP() << "needs two processors to tell confined children from free ones";
    }
    const int second = *std::next(own.begin());
    const Row rows[] = {
        {kHerd, nullptr, -1, 0}, {kHerd, "", -1, 0},      {kHerd, "0", -1, 0},
        {kHerd, "65", -1, 0},    {kHerd, "1x", -1, 0},    {kHerd, "1", -1, 1},
        {kHerd, "2", -1, 2},     {kHerd, "1", second, 1}, {kMonitor, "1", -1, 1},
        {kFeeder, "1", -1, 1},
    };
    EnvironmentSetting longUnits("HERDLAB_UNIT_MS", "1000");
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.launcher.program) +
                     " HERDLAB_CPUS=" + (row.setting ? row.setting : "(unset)") + " on " +
                     std::to_string(row.launcherOnly));
        EnvironmentSetting cpus("HERDLAB_CPUS", row.setting);
        const Processors launchers = row.launcherOnly < 0 ? own : Processors{row.launcherOnly};
        TestAffinity affinity(launchers);
        const Processors expected =
            row.childrenCount == 0 ? launchers : FirstOf(launchers, row.childrenCount);

        harness::FeederRunTurn turn;
        harness::Session session = harness::Start(row.launcher.program);
        harness::Send(session, row.launcher.input);
        const std::vector<pid_t> children = AwaitChildren(session.pid, row.launcher.child, 2);
        EXPECT_GE(children.size(), 2u) << session.outputText << session.errorText;
        for (pid_t child : children) {
            EXPECT_EQ(AllowedProcessors(child), expected) << "child " << child;
        }
        EXPECT_EQ(AllowedProcessors(session.pid), launchers) << "the launcher's own";
        session.expectNoLeftovers = false;
        harness::Finish(session, 0ms);
    }
}

}  // namespace
