// Linux: PROGRAM runs with its standard output on a pseudo-terminal when
// ours is a terminal (so it prints exactly what it prints on a terminal:
// title escape, a line at a time), on a pipe otherwise. Its descendants are
// followed through /proc/PID/task/PID/children and their processor time read
// from /proc/PID/stat, from descriptors kept open and re-read in place.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>

#include "tracer.h"

namespace herdtrace {

namespace {

// After PROGRAM has ended, its children still writing get this long.
constexpr Millis kLeftoverGrace = 5000;

std::atomic<int> pendingSignal{0};

void NoteSignal(int signal) {
    pendingSignal.store(signal);
}

Millis MonotonicMillis() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return Millis{now.tv_sec} * 1000 + now.tv_nsec / 1'000'000;
}

// A descendant and the open /proc files it is read through.
struct Watched {
    pid_t pid = 0;
    int statFd = -1;
    int childrenFd = -1;  // -1 where the kernel offers no children file
    bool alive = true;
    int keyTries = 0;  // a fresh child shows its parent's command line until exec
    std::string parentCommand;
    TracedProcess record;
};

std::string ReadAll(int fd) {
    std::string text;
    char buffer[4096];
    off_t offset = 0;
    for (;;) {
        const ssize_t got = pread(fd, buffer, sizeof buffer, offset);
        if (got <= 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(got));
        offset += got;
    }
    return text;
}

std::string ReadFile(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    std::string text = ReadAll(fd);
    close(fd);
    return text;
}

std::string CommandLineOf(pid_t pid) {
    return ReadFile("/proc/" + std::to_string(pid) + "/cmdline");
}

// The first argument of a NUL-separated command line.
std::string FirstArgument(const std::string& command) {
    const std::size_t end0 = command.find('\0');
    if (end0 == std::string::npos || end0 + 1 >= command.size()) {
        return {};
    }
    return command.substr(end0 + 1, command.find('\0', end0 + 1) - end0 - 1);
}

// Processor time (user + system) from /proc/PID/stat; false once the
// process is gone or a zombie.
bool ReadProcessorTime(Watched& watched, double& milliseconds) {
    static const double tickMillis = 1000.0 / double(sysconf(_SC_CLK_TCK));
    const std::string stat = ReadAll(watched.statFd);
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos || close + 2 >= stat.size()) {
        return false;
    }
    // Fields after the name: state ppid pgrp session tty tpgid flags minflt
    // cminflt majflt cmajflt utime stime.
    const char* field = stat.c_str() + close + 2;
    const char state = *field;
    unsigned long values[13] = {};
    char* next = const_cast<char*>(field + 1);
    for (unsigned long& value : values) {
        value = std::strtoul(next, &next, 10);
    }
    milliseconds = double(values[10] + values[11]) * tickMillis;
    return state != 'Z' && state != 'X';
}

void OpenWatched(std::map<pid_t, Watched>& watched, pid_t pid, const std::string& parentCommand,
                 Millis now) {
    if (watched.count(pid) != 0) {
        return;
    }
    Watched entry;
    entry.pid = pid;
    const std::string base = "/proc/" + std::to_string(pid);
    entry.statFd = open((base + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
    entry.childrenFd =
        open((base + "/task/" + std::to_string(pid) + "/children").c_str(), O_RDONLY | O_CLOEXEC);
    entry.parentCommand = parentCommand;
    entry.record.id = static_cast<unsigned long>(pid);
    entry.record.firstSeen = now;
    if (entry.statFd < 0) {
        entry.alive = false;
    }
    watched.emplace(pid, std::move(entry));
}

// Without children files: every process whose parent is watched.
std::vector<std::pair<pid_t, pid_t>> ScanParents() {
    std::vector<std::pair<pid_t, pid_t>> found;  // child, parent
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        return found;
    }
    while (dirent* entry = readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::atol(entry->d_name));
        if (pid <= 0) {
            continue;
        }
        const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
        const std::size_t close = stat.rfind(')');
        if (close != std::string::npos && close + 4 < stat.size()) {
            found.emplace_back(pid, static_cast<pid_t>(std::atol(stat.c_str() + close + 4)));
        }
    }
    closedir(proc);
    return found;
}

struct Sampler {
    pid_t program = 0;
    std::map<pid_t, Watched> watched;  // PROGRAM first, then its descendants
    Millis clockOffset = 0;            // local time of day minus monotonic time
    int sweeps = 0;
};

void FindChildren(Sampler& sampler, Millis now) {
    std::vector<std::pair<pid_t, std::string>> born;
    bool anyWithoutFile = false;
    for (auto& [pid, entry] : sampler.watched) {
        if (!entry.alive) {
            continue;
        }
        if (entry.childrenFd < 0) {
            anyWithoutFile = true;
            continue;
        }
        const std::string list = ReadAll(entry.childrenFd);
        char* next = const_cast<char*>(list.c_str());
        while (const long child = std::strtol(next, &next, 10)) {
            if (sampler.watched.count(static_cast<pid_t>(child)) == 0) {
                born.emplace_back(static_cast<pid_t>(child), CommandLineOf(pid));
            }
        }
    }
    // The full scan of /proc is the fallback only, and ten times rarer.
    if (anyWithoutFile && sampler.sweeps++ % 10 == 0) {
        for (const auto& [child, parent] : ScanParents()) {
            const auto found = sampler.watched.find(parent);
            if (found != sampler.watched.end() && found->second.alive &&
                sampler.watched.count(child) == 0) {
                born.emplace_back(child, CommandLineOf(parent));
            }
        }
    }
    for (const auto& [pid, parentCommand] : born) {
        OpenWatched(sampler.watched, pid, parentCommand, now);
    }
}

void SettleKey(Watched& entry) {
    if (entry.pid == 0 || !entry.record.key.empty() || entry.keyTries > 50) {
        return;
    }
    ++entry.keyTries;
    const std::string command = CommandLineOf(entry.pid);
    if (!command.empty() && command != entry.parentCommand) {
        entry.record.key = FirstArgument(command);
        entry.keyTries = 1000;  // settled, even when it has no argument
    }
}

void Sample(Sampler& sampler) {
    const Millis now = MonotonicMillis() + sampler.clockOffset;
    FindChildren(sampler, now);
    for (auto& [pid, entry] : sampler.watched) {
        if (!entry.alive) {
            continue;
        }
        double cpu = 0;
        if (!ReadProcessorTime(entry, cpu)) {
            entry.alive = false;
            close(entry.statFd);
            if (entry.childrenFd >= 0) {
                close(entry.childrenFd);
            }
            continue;
        }
        entry.record.readings.push_back(CpuReading{now, cpu});
        if (pid != sampler.program) {
            SettleKey(entry);
        }
    }
}

bool AnyDescendantAlive(const Sampler& sampler) {
    for (const auto& [pid, entry] : sampler.watched) {
        if (pid != sampler.program && entry.alive) {
            return true;
        }
    }
    return false;
}

void ForwardSignal(const Sampler& sampler, int signal) {
    for (const auto& [pid, entry] : sampler.watched) {
        if (entry.alive) {
            kill(pid, signal);
        }
    }
}

// The descriptor PROGRAM writes to, and the one we read: a pseudo-terminal
// that passes bytes unchanged (no line-end translation), or a pipe.
bool OpenOutputChannel(int& ours, int& theirs) {
    if (isatty(STDOUT_FILENO)) {
        ours = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (ours >= 0 && grantpt(ours) == 0 && unlockpt(ours) == 0) {
            theirs = open(ptsname(ours), O_RDWR | O_NOCTTY | O_CLOEXEC);
            if (theirs >= 0) {
                termios settings{};
                tcgetattr(theirs, &settings);
                cfmakeraw(&settings);
                tcsetattr(theirs, TCSANOW, &settings);
                winsize size{};
                if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0) {
                    ioctl(theirs, TIOCSWINSZ, &size);
                }
                return true;
            }
        }
        if (ours >= 0) {
            close(ours);
        }
    }
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        return false;
    }
    ours = ends[0];
    theirs = ends[1];
    return true;
}

// A bare program name is looked for beside herdtrace first, as Windows looks
// in the starting program's folder, then on PATH.
std::string ProgramFile(const std::string& name) {
    if (name.find('/') != std::string::npos) {
        return name;
    }
    char self[4096] = {};
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length > 0) {
        std::string beside(self, static_cast<std::size_t>(length));
        beside = beside.substr(0, beside.rfind('/') + 1) + name;
        if (access(beside.c_str(), X_OK) == 0) {
            return beside;
        }
    }
    return name;
}

// Starts PROGRAM with the output channel as its standard output; an exec
// failure comes back as its errno through a close-on-exec pipe.
pid_t StartProgram(const std::vector<std::string>& command, int output, int& error) {
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        error = errno;
        return -1;
    }
    std::vector<char*> argv;
    for (const std::string& word : command) {
        argv.push_back(const_cast<char*>(word.c_str()));
    }
    argv.push_back(nullptr);
    const std::string file = ProgramFile(command[0]);
    const pid_t pid = fork();
    if (pid == 0) {
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        signal(SIGHUP, SIG_DFL);
        signal(SIGPIPE, SIG_DFL);
        dup2(output, STDOUT_FILENO);  // dup2 clears close-on-exec
        execvp(file.c_str(), argv.data());
        const int failure = errno;
        (void)!write(report[1], &failure, sizeof failure);
        _exit(127);
    }
    close(report[1]);
    error = 0;
    if (pid < 0) {
        error = errno;
    } else if (read(report[0], &error, sizeof error) != sizeof error) {
        error = 0;  // closed by the exec: started
    }
    close(report[0]);
    return pid;
}

// Passes what is readable now to our standard output and keeps a copy.
// Returns the bytes read: 0 at the end of the output, -1 when nothing is
// there yet.
ssize_t PassOutput(int fd, std::string& copy, bool& echo) {
    char buffer[4096];
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
        return -1;
    }
    if (got <= 0) {
        return 0;  // end of a pipe, or EIO once no terminal end is open
    }
    copy.append(buffer, static_cast<std::size_t>(got));
    for (ssize_t done = 0; echo && done < got;) {
        const ssize_t wrote =
            write(STDOUT_FILENO, buffer + done, static_cast<std::size_t>(got - done));
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            echo = false;  // our reader went away; keep collecting for the picture
        }
        done += wrote > 0 ? wrote : 0;
    }
    return got;
}

int ExitCodeOf(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : 1;
}

void CatchSignals() {
    struct sigaction action {};
    action.sa_handler = NoteSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(signal, &action, nullptr);
    }
    ::signal(SIGPIPE, SIG_IGN);
}

}  // namespace

Millis LocalTimeOfDay() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm fields{};
    localtime_r(&now.tv_sec, &fields);
    return ((Millis{fields.tm_hour} * 60 + fields.tm_min) * 60 + fields.tm_sec) * 1000 +
           now.tv_nsec / 1'000'000;
}

void WriteUserText(const std::string& utf8, bool error) {
    const int fd = error ? STDERR_FILENO : STDOUT_FILENO;
    for (std::size_t done = 0; done < utf8.size();) {
        const ssize_t wrote = write(fd, utf8.data() + done, utf8.size() - done);
        if (wrote <= 0 && errno != EINTR) {
            return;
        }
        done += wrote > 0 ? static_cast<std::size_t>(wrote) : 0;
    }
}

TracedRun RunTraced(const std::vector<std::string>& command) {
    TracedRun run;
    // Children of a launcher that ends first become ours, so they are still
    // followed and their ends collected.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    CatchSignals();
    int ours = -1;
    int theirs = -1;
    if (!OpenOutputChannel(ours, theirs)) {
        run.startError = std::strerror(errno);
        return run;
    }
    Sampler sampler;
    sampler.clockOffset = LocalTimeOfDay() - MonotonicMillis();
    run.start = MonotonicMillis() + sampler.clockOffset;
    int error = 0;
    sampler.program = StartProgram(command, theirs, error);
    close(theirs);
    if (sampler.program < 0 || error != 0) {
        run.startError = std::strerror(error);
        close(ours);
        if (sampler.program > 0) {
            waitpid(sampler.program, nullptr, 0);
        }
        return run;
    }
    run.started = true;
    OpenWatched(sampler.watched, sampler.program, {}, run.start);

    bool outputOpen = true;
    bool echo = true;
    bool programEnded = false;
    Millis endedAt = 0;
    Millis nextSample = MonotonicMillis();
    for (;;) {
        const Millis now = MonotonicMillis();
        if (now >= nextSample) {
            Sample(sampler);
            nextSample = std::max(nextSample + kSampleInterval, now + 1);
        }
        if (const int signal = pendingSignal.exchange(0)) {
            ForwardSignal(sampler, signal);  // as a terminal sends it to the whole job
        }
        int status = 0;
        pid_t ended;
        while ((ended = waitpid(-1, &status, WNOHANG)) > 0) {
            if (ended == sampler.program) {
                run.exitCode = ExitCodeOf(status);
                run.end = MonotonicMillis() + sampler.clockOffset;
                programEnded = true;
                endedAt = MonotonicMillis();
            }
        }
        if (programEnded && (!outputOpen || !AnyDescendantAlive(sampler) ||
                             MonotonicMillis() - endedAt > kLeftoverGrace)) {
            break;
        }
        pollfd wait{ours, POLLIN, 0};
        const int timeout = static_cast<int>(std::max<Millis>(nextSample - MonotonicMillis(), 0));
        if (outputOpen && poll(&wait, 1, timeout) > 0) {
            outputOpen = PassOutput(ours, run.output, echo) != 0;
        } else if (!outputOpen) {
            poll(nullptr, 0, timeout);
        }
    }
    // Whatever the last writers left in the channel.
    fcntl(ours, F_SETFL, O_NONBLOCK);
    while (outputOpen && PassOutput(ours, run.output, echo) > 0) {
    }
    close(ours);
    for (auto& [pid, entry] : sampler.watched) {
        if (entry.alive) {
            close(entry.statFd);
            if (entry.childrenFd >= 0) {
                close(entry.childrenFd);
            }
        }
        if (pid != sampler.program) {
            run.processes.push_back(std::move(entry.record));
        }
    }
    return run;
}

}  // namespace herdtrace
