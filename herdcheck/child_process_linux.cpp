// The checker's children on Linux: fork and exec with a pipe for the output,
// the processor time from /proc, SIGKILL to end one.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "child_process_unit.h"
#include "format_unit.h"
#include "report_unit.h"

namespace {

// Output read per call at most, so that a child writing without pause
// cannot keep the checker in one call.
constexpr std::size_t kMostDrainPerCall = 256 * 1024;

pid_t PidOf(const ChildProcess& child) {
    return static_cast<pid_t>(child.process);
}

// A name without a folder runs from the current folder when it is there,
// else from PATH, as a teacher typing it in the children's folder expects.
std::string ProgramToRun(std::string_view programPath) {
    std::string path = NativePath(programPath);
    struct stat status {};
    if (path.find('/') == std::string::npos && stat(path.c_str(), &status) == 0) {
        path = "./" + path;
    }
    return path;
}

[[noreturn]] void RunProgramInChild(const char* path, char* const* argv, int input, int output,
                                    int errorFd, pid_t checker) {
    // End with the checker, however it ends; it may already be gone.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != checker) {
        _exit(127);
    }
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    signal(SIGPIPE, SIG_DFL);
    dup2(input, STDIN_FILENO);
    dup2(output, STDOUT_FILENO);
    dup2(output, STDERR_FILENO);
    execvp(path, argv);
    const int error = errno;
    [[maybe_unused]] const ssize_t written = write(errorFd, &error, sizeof error);
    _exit(127);
}

// The errno the child reported before exec failed, or 0 after a good exec.
int ExecError(int errorRead) {
    int error = 0;
    ssize_t got;
    do {
        got = read(errorRead, &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    return got == static_cast<ssize_t>(sizeof error) ? error : 0;
}

void CloseAll(std::initializer_list<int> fds) {
    for (int fd : fds) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

std::string SignalName(int signalNumber) {
    if (const char* name = sigabbrev_np(signalNumber)) {
        return std::string("SIG") + name;
    }
    return FormatText("сигнал %d", {signalNumber});
}

}  // namespace

void PrepareChildren() {
    // A child that closes its pipe early must not end the checker.
    signal(SIGPIPE, SIG_IGN);
}

std::string NativePath(std::string_view path) {
    return Utf8FromCp1251(path);
}

bool StartChild(std::string_view programPath, const std::vector<std::string>& words,
                ChildProcess& child, std::uint32_t& error) {
    const std::string path = ProgramToRun(programPath);
    std::vector<std::string> utf8Words;
    for (const std::string& word : words) {
        utf8Words.push_back(Utf8FromCp1251(word));
    }
    std::vector<char*> argv;
    for (std::string& word : utf8Words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    int outputPipe[2] = {-1, -1};
    int errorPipe[2] = {-1, -1};
    const int input = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (input < 0 || pipe2(outputPipe, O_CLOEXEC) != 0 || pipe2(errorPipe, O_CLOEXEC) != 0) {
        error = static_cast<std::uint32_t>(errno);
        CloseAll({input, outputPipe[0], outputPipe[1], errorPipe[0], errorPipe[1]});
        return false;
    }
    const pid_t checker = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        RunProgramInChild(path.c_str(), argv.data(), input, outputPipe[1], errorPipe[1], checker);
    }
    const int forkError = errno;
    CloseAll({input, outputPipe[1], errorPipe[1]});
    const int execError = pid < 0 ? forkError : ExecError(errorPipe[0]);
    close(errorPipe[0]);
    if (execError != 0) {
        if (pid > 0) {
            waitpid(pid, nullptr, 0);
        }
        close(outputPipe[0]);
        error = static_cast<std::uint32_t>(execError);
        return false;
    }
    fcntl(outputPipe[0], F_SETFL, O_NONBLOCK);
    child.process = pid;
    child.output = outputPipe[0];
    child.running = true;
    return true;
}

std::size_t DrainChildOutput(ChildProcess& child) {
    if (child.output < 0) {
        return 0;
    }
    char buffer[16384];
    std::size_t total = 0;
    while (total < kMostDrainPerCall) {
        const ssize_t got = read(static_cast<int>(child.output), buffer, sizeof buffer);
        if (got <= 0) {
            if (got == 0 || (errno != EINTR)) {
                break;
            }
            continue;
        }
        total += static_cast<std::size_t>(got);
    }
    return total;
}

bool ChildEnded(ChildProcess& child, ChildEnd& how) {
    if (!child.running) {
        return false;
    }
    int status = 0;
    pid_t result;
    do {
        result = waitpid(PidOf(child), &status, WNOHANG);
    } while (result < 0 && errno == EINTR);
    if (result != PidOf(child)) {
        return false;
    }
    child.running = false;
    if (WIFSIGNALED(status)) {
        how.end = RunEnd::kCrashed;
        how.crashName = SignalName(WTERMSIG(status));
    } else {
        how.end = RunEnd::kExited;
        how.exitCode = static_cast<std::uint32_t>(WEXITSTATUS(status));
    }
    return true;
}

double ChildCpuSeconds(const ChildProcess& child) {
    // /proc/<pid>/stat: after the name in parentheses, utime and stime are
    // the 12th and 13th fields, in clock ticks, summed over all threads.
    std::ifstream stat("/proc/" + std::to_string(PidOf(child)) + "/stat");
    std::string line;
    std::getline(stat, line);
    const std::size_t nameEnd = line.rfind(')');
    if (nameEnd == std::string::npos) {
        return 0.0;
    }
    std::istringstream fields(line.substr(nameEnd + 1));
    std::string field;
    unsigned long long userTicks = 0;
    unsigned long long systemTicks = 0;
    for (int index = 1; index <= 13 && fields >> field; ++index) {
        if (index == 12) {
            userTicks = std::strtoull(field.c_str(), nullptr, 10);
        } else if (index == 13) {
            systemTicks = std::strtoull(field.c_str(), nullptr, 10);
        }
    }
    return static_cast<double>(userTicks + systemTicks) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

void EndChild(ChildProcess& child) {
    if (!child.running) {
        return;
    }
    kill(PidOf(child), SIGKILL);
    while (waitpid(PidOf(child), nullptr, 0) < 0 && errno == EINTR) {
    }
    child.running = false;
}

void ReleaseChild(ChildProcess& child) {
    EndChild(child);
    if (child.output >= 0) {
        close(static_cast<int>(child.output));
        child.output = -1;
    }
}
