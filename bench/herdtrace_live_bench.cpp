// What keeping the live page current costs, and how late it shows a line.
// Runs the lesson's herd of 15 (HERDLAB_CPUS=1, HERDLAB_UNIT_MS=40 unless
// given) twice under herdtrace: first without --live (the baseline), then
// with it, while headless Chromium (Debian's chromium) keeps the page open
// from disk as a teacher's browser would. Prints herdtrace's own processor
// time in both runs as a share of one processor and their difference (goal:
// at most 1 % of one processor), the page's size at the end (goal: under
// 300 kB), and from the page's own log how long after a line's time stamp
// the browser showed it (goal: at most 1 s). Linux.
//
//   herdtrace_live_bench [UNIT_MS]
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Outcome {
    double wallSeconds = 0;
    double ownCpuSeconds = -1;  // herdtrace's own, not its children's
    int exitCode = -1;
};

std::string Folder() {
    char path[4096] = {};
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    std::string self(path, length > 0 ? static_cast<std::size_t>(length) : 0);
    return self.substr(0, self.rfind('/'));
}

// utime + stime of the process itself, read while it is a zombie not yet
// reaped: its children's times are not in these two fields.
double OwnCpuSeconds(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) {
        return -1;
    }
    unsigned long values[13] = {};
    char* next = const_cast<char*>(stat.c_str() + close + 3);
    for (unsigned long& value : values) {
        value = std::strtoul(next, &next, 10);
    }
    return double(values[10] + values[11]) / double(sysconf(_SC_CLK_TCK));
}

pid_t Spawn(const std::vector<std::string>& command, int input, int output, int error,
            bool ownGroup) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, error, STDERR_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    if (ownGroup) {
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
    }
    std::vector<char*> argv;
    for (const std::string& word : command) {
        argv.push_back(const_cast<char*>(word.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return pid;
}

// herdtrace with the herd's answers typed: 15 elephants, no edit, and the
// number the launcher waits for last. Its output is read and dropped.
Outcome RunHerd(const std::vector<std::string>& command) {
    int input[2];
    int output[2];
    if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0) {
        return {};
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = Spawn(command, input[0], output[1], STDERR_FILENO, false);
    close(input[0]);
    close(output[1]);
    const char answers[] = "15\n0\n1\n";
    (void)!write(input[1], answers, sizeof answers - 1);
    close(input[1]);
    char buffer[4096];
    while (read(output[0], buffer, sizeof buffer) > 0) {
    }
    close(output[0]);
    siginfo_t info{};
    waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
    Outcome outcome;
    outcome.wallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    outcome.ownCpuSeconds = OwnCpuSeconds(pid);
    int status = 0;
    waitpid(pid, &status, 0);
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

// Headless Chromium on the page, as soon as herdtrace has written it, with
// the page's console going to `log`; its process group's id.
pid_t OpenInBrowser(const fs::path& page, const fs::path& profile, const fs::path& log) {
    while (!fs::exists(page)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    const int logFile = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const pid_t pid =
        Spawn({"chromium", "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
               "--disable-background-networking", "--disable-component-update", "--disable-sync",
               "--window-size=1280,720", "--enable-logging=stderr", "--v=0",
               "--user-data-dir=" + profile.string(), "file://" + page.string()},
              null, null, logFile, true);
    close(null);
    close(logFile);
    return pid;
}

// The page's own log: every line's delay from its time stamp to the page.
std::vector<double> LoggedDelays(const fs::path& log) {
    std::ifstream file(log);
    const std::regex shown("a line shown (\\d+) ms after its time stamp");
    std::vector<double> delays;
    for (std::string line; std::getline(file, line);) {
        std::smatch match;
        if (std::regex_search(line, match, shown)) {
            delays.push_back(std::stod(match[1]));
        }
    }
    return delays;
}

}  // namespace

int main(int argc, char** argv) {
    setenv("HERDLAB_UNIT_MS", argc > 1 ? argv[1] : "40", 1);
    setenv("HERDLAB_CPUS", "1", 1);
    const std::string folder = Folder();
    const fs::path scratch =
        fs::temp_directory_path() / ("herdtrace-live-bench-" + std::to_string(getpid()));
    fs::create_directories(scratch / "profile");
    const fs::path page = scratch / "live.html";
    const fs::path log = scratch / "browser.log";

    const Outcome plain = RunHerd({folder + "/herdtrace", "-o", (scratch / "plain.svg").string(),
                                   "--", folder + "/herdboss1"});
    pid_t browser = -1;
    std::thread opener([&] { browser = OpenInBrowser(page, scratch / "profile", log); });
    const Outcome live = RunHerd({folder + "/herdtrace", "--live", "-o",
                                  (scratch / "live.svg").string(), "--", folder + "/herdboss1"});
    opener.join();
    std::this_thread::sleep_for(std::chrono::seconds(1));  // the last frame reaches the page
    if (browser > 0) {
        kill(-browser, SIGTERM);
        waitpid(browser, nullptr, 0);
    }
    const auto pageBytes = fs::file_size(page);
    const std::vector<double> delays = LoggedDelays(log);
    fs::remove_all(scratch);

    const double plainShare = plain.ownCpuSeconds / plain.wallSeconds;
    const double liveShare = live.ownCpuSeconds / live.wallSeconds;
    const double worst = delays.empty() ? -1 : *std::max_element(delays.begin(), delays.end());
    std::printf("herd of 15, HERDLAB_CPUS=1, HERDLAB_UNIT_MS=%s\n", std::getenv("HERDLAB_UNIT_MS"));
    std::printf("herdtrace:        %.2f s processor over %.1f s = %.2f%% of one processor\n",
                plain.ownCpuSeconds, plain.wallSeconds, plainShare * 100);
    std::printf("herdtrace --live: %.2f s processor over %.1f s = %.2f%% of one processor\n",
                live.ownCpuSeconds, live.wallSeconds, liveShare * 100);
    std::printf("the page's cost:  %.2f%% of one processor (ratio %.4f; goal at most 1%%)\n",
                (liveShare - plainShare) * 100, liveShare - plainShare);
    std::printf("page at the end:  %.0f kB (goal under 300 kB)\n", double(pageBytes) / 1024);
    std::printf("line to page:     %zu lines shown, worst %.0f ms (goal at most 1000 ms)\n",
                delays.size(), worst);
    const bool met = liveShare - plainShare <= 0.01 && pageBytes < 300 * 1024 && !delays.empty() &&
                     worst <= 1000;
    return met && plain.exitCode == 0 && live.exitCode == 0 ? 0 : 1;
}
