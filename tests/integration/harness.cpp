// Runs the real programs with piped console streams, for the integration tests.
#include "harness.h"

#include "../named_place.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace harness {
namespace {

std::string EnvironmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string OwnDirectory() {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) {
        return ".";
    }
    std::string text(path, static_cast<std::size_t>(length));
    return text.substr(0, text.rfind('/'));
}

#ifndef HERDLAB_PROGRAM_DIR
#define HERDLAB_PROGRAM_DIR ""
#endif

// The build's own programs, unless the environment names another folder.
std::string BinDirectory() {
    std::string folder = EnvironmentValue("HERDLAB_BIN_DIR");
    if (folder.empty()) {
        folder = HERDLAB_PROGRAM_DIR;
    }
    return folder.empty() ? OwnDirectory() : folder;
}

std::string Runner() {
    return EnvironmentValue("HERDLAB_RUNNER");
}

void SetNonBlocking(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// Appends what is available on `fd` to `text`; closes and clears `fd` at its end.
void Drain(int& fd, std::string& text) {
    char buffer[65536];
    while (fd >= 0) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got > 0) {
            text.append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0) {
            close(fd);
            fd = -1;
        } else if (errno != EINTR) {
            if (errno != EAGAIN) {
                close(fd);
                fd = -1;
            }
            return;
        }
    }
}

// Waits up to `limit` for output on either stream and reads it.
void PumpOutput(Session& session, std::chrono::milliseconds limit) {
    pollfd fds[2];
    nfds_t count = 0;
    for (int fd : {session.output, session.error}) {
        if (fd >= 0) {
            fds[count++] = {fd, POLLIN, 0};
        }
    }
    if (count == 0) {
        usleep(static_cast<useconds_t>(std::min<long long>(limit.count(), 50) * 1000));
        return;
    }
    if (poll(fds, count, static_cast<int>(limit.count())) > 0) {
        Drain(session.output, session.outputText);
        Drain(session.error, session.errorText);
    }
}

double SecondsOf(const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

bool Reap(Session& session, int options) {
    if (session.exitCode >= 0) {
        return true;
    }
    int status = 0;
    rusage usage{};
    const pid_t result = wait4(session.pid, &status, options, &usage);
    if (result != session.pid) {
        return false;
    }
    session.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - session.started).count();
    session.processorSeconds = SecondsOf(usage.ru_utime) + SecondsOf(usage.ru_stime);
    session.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
}

std::vector<std::string> CommandFor(std::string_view program, const Options& options) {
    std::vector<std::string> words;
    const std::string runner = Runner();
    if (!runner.empty()) {
        words.push_back(runner);
    }
    const std::string directory =
        options.programDirectory.empty() ? BinDirectory() : options.programDirectory;
    words.push_back(directory + "/" + std::string(program) + (runner.empty() ? "" : ".exe"));
    words.insert(words.end(), options.arguments.begin(), options.arguments.end());
    return words;
}

}  // namespace

bool UnderRunner() {
    return !Runner().empty();
}

std::string ProgramPath(std::string_view name) {
    return BinDirectory() + "/" + std::string(name) + (UnderRunner() ? ".exe" : "");
}

namespace {

// A new pseudo-terminal: its controlling side, and the name of the side a
// program writes to.
int OpenTerminal(std::string& programSide) {
    const int terminal = open("/dev/ptmx", O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128];
    if (terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0 ||
        ptsname_r(terminal, name, sizeof name) != 0) {
        throw std::runtime_error("no pseudo-terminal");
    }
    programSide = name;
    return terminal;
}

// Shared by runs in the default locale, alone for runs in any other one.
int TakeLocaleTurn(const std::string& locale) {
    const std::string prefix = EnvironmentValue("WINEPREFIX");
    if (prefix.empty()) {
        return -1;
    }
    const std::string path = prefix + "/herdlab-locale.lock";
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) {
        flock(fd, locale == Options{}.locale ? LOCK_SH : LOCK_EX);
    }
    return fd;
}

}  // namespace

Session Start(std::string_view program, const Options& options) {
    int input[2], output[2], error[2];
    if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0 ||
        pipe2(error, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    std::string terminalName;
    const int terminal = options.terminal ? OpenTerminal(terminalName) : -1;
    const int localeTurn = UnderRunner() ? TakeLocaleTurn(options.locale) : -1;
    const std::vector<std::string> words = CommandFor(program, options);
    std::vector<char*> argv;
    for (const std::string& word : words) {
        argv.push_back(const_cast<char*>(word.c_str()));
    }
    argv.push_back(nullptr);
    const std::string localeSetting = "LC_ALL=" + options.locale;
    const bool underRunner = UnderRunner();
    // A program that has ended before it read its input must not end the test.
    signal(SIGPIPE, SIG_IGN);

    Session session;
    session.localeTurn = localeTurn;
    session.started = std::chrono::steady_clock::now();
    session.pid = fork();
    if (session.pid == 0) {
        // A process group of its own: Finish can end the program and all its children.
        setpgid(0, 0);
        dup2(input[0], 0);
        dup2(output[1], 1);
        dup2(error[1], 2);
        if (terminal >= 0) {
            const int programSide = open(terminalName.c_str(), O_RDWR | O_NOCTTY);
            // Bytes as the program writes them: no LF to CR LF on the way.
            termios settings{};
            tcgetattr(programSide, &settings);
            settings.c_oflag &= ~static_cast<tcflag_t>(ONLCR);
            tcsetattr(programSide, TCSANOW, &settings);
            dup2(programSide, 1);
            dup2(programSide, 2);
        }
        putenv(const_cast<char*>(localeSetting.c_str()));
        if (underRunner) {
            // Wine's own messages would mix with the program's lines.
            putenv(const_cast<char*>("WINEDEBUG=-all"));
        }
        if (!options.workingDirectory.empty() && chdir(options.workingDirectory.c_str()) != 0) {
            _exit(126);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    setpgid(session.pid, session.pid);
    close(input[0]);
    close(output[1]);
    close(error[1]);
    session.input = input[1];
    session.output = output[0];
    session.error = error[0];
    if (terminal >= 0) {
        close(session.output);
        close(session.error);
        session.output = terminal;
        session.error = -1;
        session.onTerminal = true;
    } else {
        SetNonBlocking(session.error);
    }
    SetNonBlocking(session.output);
    return session;
}

void PressKeys(Session& session, std::string_view keys) {
    if (session.onTerminal && session.output >= 0) {
        const ssize_t wrote = write(session.output, keys.data(), keys.size());
        EXPECT_EQ(wrote, static_cast<ssize_t>(keys.size())) << "keys not typed";
    }
}

void Send(Session& session, std::string_view text) {
    std::size_t done = 0;
    while (session.input >= 0 && done < text.size()) {
        const ssize_t wrote = write(session.input, text.data() + done, text.size() - done);
        if (wrote < 0 && errno != EINTR) {
            return;  // the program has closed its input; what it does then is what we test
        }
        done += wrote > 0 ? static_cast<std::size_t>(wrote) : 0;
    }
}

void CloseInput(Session& session) {
    if (session.input >= 0) {
        close(session.input);
        session.input = -1;
    }
}

bool WaitForOutput(Session& session, std::string_view text, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (session.outputText.find(text) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || (session.output < 0 && session.error < 0)) {
            return session.outputText.find(text) != std::string::npos;
        }
        PumpOutput(session, std::min(left, std::chrono::milliseconds(100)));
    }
    return true;
}

bool StillRunningAfter(Session& session, std::chrono::milliseconds period) {
    const auto deadline = std::chrono::steady_clock::now() + period;
    while (std::chrono::steady_clock::now() < deadline) {
        if (Reap(session, WNOHANG)) {
            return false;
        }
        PumpOutput(session, std::chrono::milliseconds(50));
    }
    return !Reap(session, WNOHANG);
}

bool WaitUntil(Session& session, const std::function<bool()>& condition,
               std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        PumpOutput(session, std::chrono::milliseconds(20));
    }
    return true;
}

void Finish(Session& session, std::chrono::milliseconds limit) {
    CloseInput(session);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!Reap(session, WNOHANG)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            session.timedOut = true;
            kill(-session.pid, SIGKILL);
            Reap(session, 0);
            break;
        }
        PumpOutput(session, std::chrono::milliseconds(50));
    }
    const bool endedOnItsOwn = !session.timedOut && session.exitCode >= 0 && session.exitCode < 128;
    if (endedOnItsOwn && session.expectNoLeftovers) {
        const std::vector<pid_t> left = LeftoverProcesses(session, kLeftoverGrace);
        if (!left.empty()) {
            ADD_FAILURE() << left.size() << " process(es) still running " << kLeftoverGrace.count()
                          << " s after the program ended, e.g. pid " << left.front();
        }
    }
    // Whatever the program's children still print goes to pipes nobody reads
    // after this; end them so no test leaves processes behind.
    kill(-session.pid, SIGKILL);
    while (session.output >= 0 || session.error >= 0) {
        PumpOutput(session, std::chrono::milliseconds(200));
    }
    if (session.localeTurn >= 0) {
        close(session.localeTurn);
        session.localeTurn = -1;
    }
}

Session Run(std::string_view program, std::string_view input, const Options& options,
            std::chrono::milliseconds limit) {
    Session session = Start(program, options);
    Send(session, input);
    Finish(session, limit);
    return session;
}

std::vector<std::string> Lines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        const bool complete = end != std::string_view::npos;
        if (!complete) {
            end = text.size();
        }
        std::string_view line = text.substr(start, end - start);
        if (complete && !line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        lines.emplace_back(line);
        start = end + 1;
    }
    return lines;
}

bool IsEventLine(std::string_view line, std::string_view rest) {
    // h:mm:ss.zzz or hh:mm:ss.zzz, then " - ".
    const std::size_t hourDigits = line.size() > 1 && line[1] == ':' ? 1 : 2;
    const std::string_view pattern = "0:00:00.000 - ";
    if (line.size() < hourDigits + pattern.size() - 1) {
        return false;
    }
    for (std::size_t i = 0; i < hourDigits; ++i) {
        if (line[i] < '0' || line[i] > '9') {
            return false;
        }
    }
    for (std::size_t i = 1; i < pattern.size(); ++i) {
        const char want = pattern[i];
        const char have = line[hourDigits + i - 1];
        const bool digit = want == '0';
        if (digit ? (have < '0' || have > '9') : have != want) {
            return false;
        }
    }
    return line.substr(hourDigits + pattern.size() - 1) == rest;
}

bool LocaleAvailable(const std::string& locale) {
    // Checked in a child so the test process keeps its own locale.
    const pid_t pid = fork();
    if (pid == 0) {
        _exit(std::setlocale(LC_ALL, locale.c_str()) != nullptr ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

namespace {

// The text of /proc/PID/FILE (its first 4 KiB), or empty text when the
// process is gone.
std::string ProcessFile(pid_t pid, const char* file) {
    const std::string path = "/proc/" + std::to_string(pid) + "/" + file;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return "";
    }
    char buffer[4096];
    const ssize_t got = read(fd, buffer, sizeof buffer);
    close(fd);
    return got > 0 ? std::string(buffer, static_cast<std::size_t>(got)) : "";
}

}  // namespace

std::string ProcessStat(pid_t pid) {
    return ProcessFile(pid, "stat");
}

std::vector<std::string> SharedMemoryNames() {
    const std::string prefix = named_place::BlockPrefix();
    std::vector<std::string> names;
    if (DIR* folder = opendir(named_place::Folder().c_str())) {
        while (const dirent* entry = readdir(folder)) {
            if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) == 0) {
                names.emplace_back(entry->d_name);
            }
        }
        closedir(folder);
    }
    return names;
}

bool SharedMemoryNameHeld(const std::string& name) {
    const int fd =
        open((named_place::Folder() + "/" + name).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool held = flock(fd, LOCK_EX | LOCK_NB) != 0;
    close(fd);
    return held;
}

namespace {

// True when a process shown as a zombie has really ended: the first thread
// of a process shows as one as soon as it has ended itself, while the other
// threads may still be ending, and until they have, nobody can wait for it.
bool Ended(pid_t zombie) {
    return ProcessFile(zombie, "status").find("\nThreads:\t1\n") != std::string::npos;
}

// Live members of process group `group`, zombies aside.
std::vector<pid_t> LiveGroupMembers(pid_t group) {
    std::vector<pid_t> members;
    DIR* folder = opendir("/proc");
    if (folder == nullptr) {
        return members;
    }
    while (const dirent* entry = readdir(folder)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0') {
            continue;
        }
        const std::string stat = ProcessStat(static_cast<pid_t>(pid));
        const std::size_t nameEnd = stat.rfind(')');
        char state = 0;
        long processGroup = 0;  // fields after the name: state, parent, process group
        if (nameEnd != std::string::npos &&
            std::sscanf(stat.c_str() + nameEnd + 1, " %c %*d %ld", &state, &processGroup) == 2 &&
            processGroup == group && state != 'X' &&
            (state != 'Z' || !Ended(static_cast<pid_t>(pid)))) {
            members.push_back(static_cast<pid_t>(pid));
        }
    }
    closedir(folder);
    return members;
}

}  // namespace

std::vector<pid_t> LeftoverProcesses(const Session& session, std::chrono::milliseconds grace) {
    if (UnderRunner() || session.pid <= 0) {
        return {};
    }
    const auto deadline = std::chrono::steady_clock::now() + grace;
    std::vector<pid_t> members = LiveGroupMembers(session.pid);
    while (!members.empty() && std::chrono::steady_clock::now() < deadline) {
        usleep(20000);
        members = LiveGroupMembers(session.pid);
    }
    return members;
}

std::vector<pid_t> LiveProcessesNamed(const Session& session, std::string_view text) {
    std::vector<pid_t> named;
    for (const pid_t pid : LiveGroupMembers(session.pid)) {
        std::string commandLine = ProcessFile(pid, "cmdline");
        if (commandLine.empty()) {  // on its way out, before it is a zombie: its name then
            const std::string stat = ProcessStat(pid);
            const std::size_t open = stat.find('(');
            commandLine = stat.substr(open + 1, stat.rfind(')') - open - 1);
        }
        std::replace(commandLine.begin(), commandLine.end(), '\0', ' ');
        const std::size_t extension = commandLine.find(".exe ");
        if (extension != std::string::npos) {
            commandLine.erase(extension, 4);
        }
        if (commandLine.find(text) != std::string::npos) {
            named.push_back(pid);
        }
    }
    return named;
}

namespace {

// Gives this test process, and every program it starts from now on, a
// /dev/shm of its own (a private mount namespace with a fresh tmpfs there)
// and in it a place of its own for named objects, as XDG_RUNTIME_DIR. Needs
// root; under a runner the names live in its server, not in that place.
bool TakeOwnSharedMemoryFolder() {
    if (UnderRunner() || geteuid() != 0 || unshare(CLONE_NEWNS) != 0) {
        return false;
    }
    return mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           mount("tmpfs", "/dev/shm", "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777") == 0 &&
           mkdir("/dev/shm/runtime", 0700) == 0 &&
           setenv("XDG_RUNTIME_DIR", "/dev/shm/runtime", 1) == 0;
}

}  // namespace

FeederRunTurn::FeederRunTurn() {
    // With a /dev/shm of its own the test meets no other run's names, and the
    // lock below, beside them, is its alone: feeder tests then run side by
    // side. Otherwise they take turns through the lock with every run of
    // this user on the machine.
    static const bool ownFolder = TakeOwnSharedMemoryFolder();
    (void)ownFolder;
    const std::string path = "/dev/shm/herdlab-feeder-test-" + std::to_string(getuid()) + ".lock";
    fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) {
        flock(fd, LOCK_EX);
    }
}

FeederRunTurn::~FeederRunTurn() {
    if (fd >= 0) {
        close(fd);
    }
}

EnvironmentSetting::EnvironmentSetting(const char* name, const char* value) : name_(name) {
    if (value == nullptr) {
        unsetenv(name);
    } else {
        setenv(name, value, 1);
    }
}

EnvironmentSetting::~EnvironmentSetting() {
    unsetenv(name_);
}

}  // namespace harness
