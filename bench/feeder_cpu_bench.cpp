// The feeder's own processor time over a full feeding run, beside the run's
// wall time. The feeder polls its eight rings with a pause after every visit;
// it should spend well under 1 % of the wall time on the processor.
//
// Runs herdboss6 (or the program named as the first argument) from this
// program's folder with the sample children, its output discarded. The
// feeder's own time is read from /proc/<pid>/stat while it is a zombie, so
// its children's time is not counted (the scheduler's nanosecond count is
// printed beside the clock-tick figure); getrusage(RUSAGE_CHILDREN) after the
// reaping is printed as well (it adds whatever children the feeder reaped).
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

constexpr double kTargetShare = 0.01;

double Seconds(const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

// User + system time of a process from its stat line (fields 14 and 15), in
// seconds; -1 when unreadable.
double OwnProcessorSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) {
        return -1;
    }
    // The command name may hold blanks: count fields after its closing parenthesis.
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    unsigned long long user = 0, system = 0;
    for (int number = 3; fields >> field; ++number) {
        if (number == 14) {
            user = std::stoull(field);
        } else if (number == 15) {
            system = std::stoull(field);
            break;
        }
    }
    return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The scheduler's count of the time a process ran, in seconds (first field of
// /proc/<pid>/schedstat, nanoseconds); -1 when the kernel does not keep it.
double RunSeconds(pid_t pid) {
    std::ifstream schedstat("/proc/" + std::to_string(pid) + "/schedstat");
    unsigned long long nanoseconds = 0;
    return schedstat >> nanoseconds ? static_cast<double>(nanoseconds) / 1e9 : -1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string program = argc > 1 ? argv[1] : "herdboss6";
    const std::filesystem::path folder =
        std::filesystem::read_symlink("/proc/self/exe").parent_path();
    const std::string path = (folder / program).string();

    const auto started = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);  // the feeder and its children, ended together below
        const int nowhere = open("/dev/null", O_WRONLY);
        dup2(nowhere, STDOUT_FILENO);
        execl(path.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    if (pid < 0) {
        std::perror("fork");
        return 1;
    }
    // Wait for the end but leave the zombie, so its /proc entry still holds its times.
    siginfo_t info{};
    waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const double own = OwnProcessorSeconds(pid);
    const double ran = RunSeconds(pid);
    int status = 0;
    waitpid(pid, &status, 0);
    kill(-pid, SIGKILL);  // any child still running

    rusage children{};
    getrusage(RUSAGE_CHILDREN, &children);
    const double reaped = Seconds(children.ru_utime) + Seconds(children.ru_stime);

    std::printf("%s: exit %d, wall %.2f s\n", program.c_str(),
                WIFEXITED(status) ? WEXITSTATUS(status) : -1, wall);
    std::printf("feeder processor time: %.3f s = %.3f %% of wall (target < %.0f %%)\n", own,
                100.0 * own / wall, 100.0 * kTargetShare);
    if (ran >= 0) {
        std::printf("feeder run time by the scheduler: %.4f s = %.3f %% of wall\n", ran,
                    100.0 * ran / wall);
    }
    std::printf("RUSAGE_CHILDREN after reaping: %.3f s = %.3f %% of wall\n", reaped,
                100.0 * reaped / wall);
    return own >= 0 && own < kTargetShare * wall ? 0 : 1;
}
