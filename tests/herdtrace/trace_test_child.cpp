// A child for the herdtrace tests, in the elephant's line forms so that its
// lines make lanes. Its first argument is its name, as a launcher passes it:
//   NAME burn MS   burns MS ms of processor time
//   NAME sleep MS  sleeps MS ms
//   NAME tree MS   starts "sleeper sleep MS" and "middle middle MS"; middle
//                  starts "burner burn MS", a grandchild. Exit code 3.
//   NAME late MS   starts "slower burn MS" 1.5 s after its fork and "slow
//                  sleep 0" 1 s after its fork: children that are slow to
//                  run their program, the second one speaking first
//   NAME echo      copies standard input to standard output with bytes a
//                  terminal treats specially around it; exit code 7
//   NAME contend MS  on one processor, starts "high burn MS", "low burn
//                  MS/12" at nice 19 (ready while high runs) and "sleeper
//                  sleep MS"
//   NAME threads MS  burns MS ms in each of two threads
//   NAME wrap MODE MS  starts "inner MODE MS" and waits for it
//   NAME caps      prints its own effective and permitted capabilities and
//                  its parent's effective ones
//   NAME hold MS   says it searches, waits for a line on standard input,
//                  then starts "later burn MS" and says it has drunk
#include <sched.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

extern char** environ;

namespace {

double ThreadMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// One write per line, as the course's programs do.
void Say(const std::string& name, const char* what) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm fields{};
    localtime_r(&now.tv_sec, &fields);
    char line[256];
    const int length =
        std::snprintf(line, sizeof line, "%d:%02d:%02d.%03ld - Слон %s %s\n", fields.tm_hour,
                      fields.tm_min, fields.tm_sec, now.tv_nsec / 1000000, name.c_str(), what);
    (void)!write(STDOUT_FILENO, line, static_cast<std::size_t>(length));
}

pid_t Spawn(const char* self, const char* name, const char* mode, const char* ms) {
    char* argv[] = {const_cast<char*>(self), const_cast<char*>(name), const_cast<char*>(mode),
                    const_cast<char*>(ms), nullptr};
    pid_t pid = 0;
    posix_spawn(&pid, self, nullptr, nullptr, argv, environ);
    return pid;
}

// Forks a child that waits DELAY_MS before it runs "self NAME MODE MS".
pid_t ForkThenRun(const char* self, const char* name, const char* mode, const char* ms,
                  int delayMs) {
    const pid_t pid = fork();
    if (pid == 0) {
        usleep(static_cast<useconds_t>(delayMs) * 1000);
        char* argv[] = {const_cast<char*>(self), const_cast<char*>(name), const_cast<char*>(mode),
                        const_cast<char*>(ms), nullptr};
        execv(self, argv);
        _exit(127);
    }
    return pid;
}

void Burn(double ms) {
    const double end = ThreadMilliseconds() + ms;
    volatile unsigned long spins = 0;
    while (ThreadMilliseconds() < end) {
        spins = spins + 1;
    }
}

// Two burners on the processor this child runs on, the second at the
// lowest priority (nice 19, 1.5 % of the weight of the first), so that it
// waits ready while the first burns; it burns a twelfth as long, so that a
// busy machine does not keep it from ending for long.
int Contend(const char* self, const char* ms) {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(sched_getcpu(), &one);
    sched_setaffinity(0, sizeof one, &one);
    const std::string lowMs = std::to_string(std::atoi(ms) / 12);
    const pid_t sleeper = Spawn(self, "sleeper", "sleep", ms);
    const pid_t high = Spawn(self, "high", "burn", ms);
    const pid_t low = fork();
    if (low == 0) {
        (void)!nice(19);
        char* argv[] = {const_cast<char*>(self), const_cast<char*>("low"),
                        const_cast<char*>("burn"), const_cast<char*>(lowMs.c_str()), nullptr};
        execv(self, argv);
        _exit(127);
    }
    for (const pid_t child : {sleeper, high, low}) {
        waitpid(child, nullptr, 0);
    }
    return 0;
}

// A capability set's line of /proc/PID/status ("CapEff", "CapPrm").
std::string Capabilities(const std::string& pid, const std::string& set) {
    std::ifstream status("/proc/" + pid + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(set + ":", 0) == 0) {
            return line.substr(line.find_first_not_of(" \t", set.size() + 1));
        }
    }
    return "?";
}

// Burns MS ms in each of its threads, between the lines of an elephant.
int Burner(const std::string& name, double ms, int threads) {
    Say(name, "поиск начал, приоритет - нормальный");
    std::thread second;
    if (threads > 1) {
        second = std::thread(Burn, ms);
    }
    Burn(ms);
    if (second.joinable()) {
        second.join();
    }
    Say(name, "напился");
    return 0;
}

int PrintCapabilities() {
    std::printf("own %s %s parent %s\n", Capabilities("self", "CapEff").c_str(),
                Capabilities("self", "CapPrm").c_str(),
                Capabilities(std::to_string(getppid()), "CapEff").c_str());
    return 0;
}

int Echo() {
    const char before[] = "\033]0;title\007start\r\n\xFF\xFE\n";
    (void)!write(STDOUT_FILENO, before, sizeof before - 1);
    char buffer[256];
    ssize_t got;
    while ((got = read(STDIN_FILENO, buffer, sizeof buffer)) > 0) {
        (void)!write(STDOUT_FILENO, buffer, static_cast<std::size_t>(got));
    }
    (void)!write(STDOUT_FILENO, "end\r\n", 5);
    return 7;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string name = argc > 1 ? argv[1] : "";
    const std::string mode = argc > 2 ? argv[2] : "";
    const char* ms = argc > 3 ? argv[3] : "0";
    if (mode == "echo") {
        return Echo();
    }
    if (mode == "burn" || mode == "threads") {
        return Burner(name, std::atof(ms), mode == "threads" ? 2 : 1);
    }
    if (mode == "wrap" && argc > 4) {
        const pid_t inner = Spawn(argv[0], "inner", argv[3], argv[4]);
        waitpid(inner, nullptr, 0);
        return 0;
    }
    if (mode == "contend") {
        return Contend(argv[0], ms);
    }
    if (mode == "caps") {
        return PrintCapabilities();
    }
    if (mode == "sleep") {
        Say(name, "поиск начал, приоритет - низкий");
        usleep(static_cast<useconds_t>(std::atoi(ms)) * 1000);
        Say(name, "напился");
        return 0;
    }
    if (mode == "hold") {
        Say(name, "поиск начал, приоритет - высокий");
        char line[64];
        (void)!read(STDIN_FILENO, line, sizeof line);
        const pid_t later = Spawn(argv[0], "later", "burn", ms);
        waitpid(later, nullptr, 0);
        Say(name, "напился");
        return 0;
    }
    if (mode == "late") {
        const pid_t slower = ForkThenRun(argv[0], "slower", "burn", ms, 1500);
        const pid_t slow = ForkThenRun(argv[0], "slow", "sleep", "0", 1000);
        for (const pid_t child : {slower, slow}) {
            waitpid(child, nullptr, 0);
        }
        return 0;
    }
    if (mode == "tree" || mode == "middle") {
        pid_t children[2] = {0, 0};
        if (mode == "tree") {
            children[0] = Spawn(argv[0], "sleeper", "sleep", ms);
            children[1] = Spawn(argv[0], "middle", "middle", ms);
        } else {
            children[0] = Spawn(argv[0], "burner", "burn", ms);
        }
        for (const pid_t child : children) {
            if (child > 0) {
                waitpid(child, nullptr, 0);
            }
        }
        return mode == "tree" ? 3 : 0;
    }
    std::fprintf(stderr,
                 "usage: %s NAME burn|sleep|tree|late|contend|threads|wrap|caps|echo|hold [MS]\n",
                 argv[0]);
    return 2;
}
