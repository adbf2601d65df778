// Child processes: start, priority class, exit codes, termination, the
// command line a child receives, and what a failed start leaves behind.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "ipc_test_support.h"
#include "win32.h"

#ifndef _WIN32
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#endif

namespace {

constexpr DWORD kClasses[] = {IDLE_PRIORITY_CLASS,   BELOW_NORMAL_PRIORITY_CLASS,
                              NORMAL_PRIORITY_CLASS, ABOVE_NORMAL_PRIORITY_CLASS,
                              HIGH_PRIORITY_CLASS,   REALTIME_PRIORITY_CLASS};
constexpr int kNormalIndex = 2;

bool StartChild(const std::string& arguments, DWORD flags, PROCESS_INFORMATION& info) {
    std::string commandLine = "conformance_child " + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    return CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, flags, nullptr,
                          nullptr, &startup, &info) != FALSE;
}

// Polls like the launchers do; STILL_ACTIVE if the child outlived the timeout.
DWORD AwaitExit(HANDLE process, DWORD timeoutMs = 20000) {
    DWORD code = STILL_ACTIVE;
    for (DWORD waited = 0; waited <= timeoutMs; waited += 5) {
        if (GetExitCodeProcess(process, &code) && code != STILL_ACTIVE) {
            break;
        }
        Sleep(5);
    }
    return code;
}

void Release(PROCESS_INFORMATION& info) {
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
}

// Starts a child, waits for it and returns its exit code (-1: no start).
long long RunChild(const std::string& arguments, DWORD flags = 0) {
    PROCESS_INFORMATION info{};
    if (!StartChild(arguments, flags, info)) {
        ADD_FAILURE() << "CreateProcessA failed with error " << GetLastError() << ": " << arguments;
        return -1;
    }
    const DWORD code = AwaitExit(info.hProcess);
    if (code == STILL_ACTIVE) {
        TerminateProcess(info.hProcess, 1);
    }
    Release(info);
    return code;
}

bool UnderWine() {
    return ipc_test::RunningUnderWine();
}

std::string Hex(const std::string& bytes) {
    std::string hex;
    char digits[3];
    for (char c : bytes) {
        std::snprintf(digits, sizeof digits, "%02X", static_cast<unsigned char>(c));
        hex += digits;
    }
    return hex;
}

// Waits until the child has ended, without asking for its exit code (which
// the layer would take and keep).
void AwaitEndUnasked(const PROCESS_INFORMATION& info) {
#ifdef _WIN32
    WaitForSingleObject(info.hProcess, 20000);
#else
    siginfo_t ended{};
    waitid(P_PID, static_cast<id_t>(info.dwProcessId), &ended, WEXITED | WNOWAIT);
#endif
}

#ifndef _WIN32
// Children of this process, started by any of its threads, that have not been
// reaped: running or ended.
int CountChildren() {
    int children = 0;
    DIR* tasks = opendir("/proc/self/task");
    while (const dirent* task = tasks != nullptr ? readdir(tasks) : nullptr) {
        std::ifstream list(std::string("/proc/self/task/") + task->d_name + "/children");
        std::string pid;
        while (list >> pid) {
            ++children;
        }
    }
    if (tasks != nullptr) {
        closedir(tasks);
    }
    return children;
}
#endif

TEST(ProcessTest, ChildRunsInTheRequestedPriorityClass) {
    const bool wine = UnderWine();
    for (int index = 0; index < 6; ++index) {
        int expected = wine ? kNormalIndex : index;  // Wine ignores the class of a new process
#ifndef _WIN32
        if (geteuid() != 0 && index > kNormalIndex) {
            expected = kNormalIndex;  // without privilege the child gets the highest class allowed
        }
#endif
        // The launchers pass the class alone or with CREATE_UNICODE_ENVIRONMENT.
        const DWORD extra = index % 2 == 0 ? CREATE_UNICODE_ENVIRONMENT : 0;
        EXPECT_EQ(RunChild("class", kClasses[index] | extra), expected) << "class index " << index;
    }
}

// The child runs until the test creates the file it waits for.
TEST(ProcessTest, ExitCodeIsStillActiveWhileRunningThenTheChildsOwn) {
    const std::string told = "herdlab_told_" + std::to_string(GetCurrentProcessId());
    std::remove(told.c_str());
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(StartChild("await " + told, 0, info));
    EXPECT_NE(info.dwProcessId, 0u);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    std::fclose(std::fopen(told.c_str(), "wb"));
    EXPECT_EQ(AwaitExit(info.hProcess), 0u);
    std::remove(told.c_str());
    // Asked again after the child is gone: the same code.
    ASSERT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ(code, 0u);
    Release(info);

    EXPECT_EQ(RunChild("exit 7"), 7);
    EXPECT_EQ(RunChild("exit 200"), 200);
}

// The monitor asks and ends its workers from its main and its message
// thread: a watcher thread sees the code given as well.
TEST(ProcessTest, TerminatedChildReportsTheGivenCodeToEveryThread) {
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(StartChild("sleep 30000", 0, info));
    std::atomic<DWORD> seenByWatcher{STILL_ACTIVE};
    std::thread watcher([&] { seenByWatcher = AwaitExit(info.hProcess, 20000); });
    EXPECT_TRUE(TerminateProcess(info.hProcess, 42));
    EXPECT_EQ(AwaitExit(info.hProcess), 42u);
    watcher.join();
    EXPECT_EQ(seenByWatcher.load(), 42u);
    // An ended process cannot be ended again (Wine allows it) ...
    SetLastError(0);
    const BOOL again = TerminateProcess(info.hProcess, 0);
    if (!UnderWine()) {
        EXPECT_FALSE(again);
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    }
    // ... and its code stays.
    EXPECT_EQ(AwaitExit(info.hProcess), 42u);
    Release(info);
}

TEST(ProcessTest, TerminatingAnEndedChildKeepsItsRealCode) {
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(StartChild("exit 3", 0, info));
    AwaitEndUnasked(info);
    SetLastError(0);
    const BOOL terminated = TerminateProcess(info.hProcess, 0);
    if (!UnderWine()) {
        EXPECT_FALSE(terminated);
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    }
    EXPECT_EQ(AwaitExit(info.hProcess), 3u);
    Release(info);
}

// The monitor starts workers while its message thread runs; here two threads
// start children at once.
TEST(ProcessTest, ChildrenStartFromTwoThreadsAtOnce) {
    constexpr int kEach = 5;
    std::atomic<int> wrongCodes{0};
    auto startSeveral = [&](int first) {
        for (int i = first; i < first + kEach; ++i) {
            if (RunChild("exit " + std::to_string(i)) != i) {
                ++wrongCodes;
            }
        }
    };
    std::thread other(startSeveral, 10);
    startSeveral(20);
    other.join();
    EXPECT_EQ(wrongCodes.load(), 0);
}

// A failed start leaves no child behind, running or ended.
TEST(ProcessTest, MissingProgramFailsWithFileNotFound) {
#ifndef _WIN32
    const int childrenBefore = CountChildren();
#endif
    std::string commandLine = "herdlab_no_such_program 1 2";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    SetLastError(0);
    EXPECT_FALSE(CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE,
                                NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup, &info));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
#ifndef _WIN32
    EXPECT_EQ(CountChildren(), childrenBefore);
#endif
}

TEST(ProcessTest, ChildReceivesTheWordsOfItsCommandLine) {
    struct Case {
        const char* tail;  // Windows-1251
        std::vector<std::string> words;
    };
    const Case cases[] = {
        {"plain 42 4.80", {"plain", "42", "4.80"}},
        {"\"two words\" \"a b\"c", {"two words", "a bc"}},
        {"x \"\" y \t\tz ", {"x", "y", "z"}},
        {"\xD1\xEB\xEE\xED \"\xC1\xEE\xEB\xFC\xF8\xEE\xE9 \xF1\xEB\xEE\xED\" \xA8\xB8",
         {"\xD1\xEB\xEE\xED", "\xC1\xEE\xEB\xFC\xF8\xEE\xE9 \xF1\xEB\xEE\xED", "\xA8\xB8"}},
        {"\"open to the end", {"open to the end"}},
    };
    for (const Case& c : cases) {
        std::string hex;
        for (const std::string& word : c.words) {
            if (!hex.empty()) {
                hex += '.';
            }
            hex += Hex(word);
        }
        EXPECT_EQ(RunChild("words " + hex + " " + c.tail), 0) << c.tail;
    }
}

TEST(ProcessTest, OwnCommandLineAndFileName) {
    const char* commandLine = GetCommandLineA();
    ASSERT_NE(commandLine, nullptr);
    EXPECT_EQ(GetCommandLineA(), commandLine);  // the same text for the whole run
    EXPECT_NE(std::strstr(commandLine, "conformance_tests"), nullptr) << commandLine;

    char name[4096] = {};
    const DWORD length = GetModuleFileNameA(nullptr, name, sizeof name);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(length, std::strlen(name));
    EXPECT_NE(std::strstr(name, "conformance_tests"), nullptr) << name;

    // Too small: cut, the buffer size returned. Windows terminates the cut
    // name; Wine, like Windows XP, fills the last byte with the name too.
    char shortName[5] = {'x', 'x', 'x', 'x', 'x'};
    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameA(nullptr, shortName, sizeof shortName), sizeof shortName);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::string(shortName, 4), std::string(name, 4));
    if (!UnderWine()) {
        EXPECT_EQ(shortName[4], '\0');
    }
}

#ifndef _WIN32

TEST(ProcessTest, ApplicationNameIsNotSupported) {
    std::string commandLine = "conformance_child exit 0";
    STARTUPINFOA startup{};
    PROCESS_INFORMATION info{};
    EXPECT_FALSE(CreateProcessA("conformance_child", commandLine.data(), nullptr, nullptr, FALSE, 0,
                                nullptr, nullptr, &startup, &info));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

// exec itself fails (the file is no program): its errno comes back and the
// child that tried has been reaped when the start returns.
TEST(ProcessTest, ExecFailureGivesItsErrnoAndLeavesNoZombie) {
    char path[] = "/tmp/herdlab_not_a_program_XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "\x01\x02garbage\n", 10), 10);
    close(fd);
    chmod(path, 0755);
    const int childrenBefore = CountChildren();

    std::string commandLine = std::string(path) + " 1";
    STARTUPINFOA startup{};
    PROCESS_INFORMATION info{};
    SetLastError(0);
    EXPECT_FALSE(CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                nullptr, &startup, &info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ENOEXEC));
    EXPECT_EQ(CountChildren(), childrenBefore);
    unlink(path);
}

TEST(ProcessTest, ChildInheritsNoDescriptorBeyondTheStandardStreams) {
    const int file = open("/dev/null", O_RDONLY);  // deliberately without O_CLOEXEC
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    EXPECT_EQ(RunChild("fds"), 0);
    close(file);
    close(pipeFds[0]);
    close(pipeFds[1]);
}

// With standard streams closed, the layer's own descriptors take their
// numbers; the child must not inherit them (the start would wait for the
// child to end, holding the error pipe open).
// (In a process of its own, whose standard streams stay closed.) The child
// runs until told; the test tells it after 20 s, so a start that waited for
// its end returns only then.
TEST(ProcessTest, StartWorksWithStandardStreamsClosed) {
    const std::string told = "herdlab_told_" + std::to_string(getpid());
    std::remove(told.c_str());
    std::fflush(nullptr);
    const pid_t tester = fork();
    if (tester == 0) {
        close(STDIN_FILENO);
        close(STDERR_FILENO);
        PROCESS_INFORMATION info{};
        if (!StartChild("await " + told, 0, info)) {
            _exit(1);
        }
        const bool inTime = std::ifstream(told).fail();
        TerminateProcess(info.hProcess, 0);
        AwaitExit(info.hProcess);
        _exit(inTime ? 0 : 2);
    }
    int status = -1;
    for (int waited = 0; waitpid(tester, &status, WNOHANG) == 0; waited += 10) {
        if (waited == 20000) {
            std::fclose(std::fopen(told.c_str(), "wb"));
        }
        Sleep(10);
    }
    std::remove(told.c_str());
    EXPECT_EQ(status, 0) << "exit 1: no start; 2: the start waited for the child's end";
}

// Ctrl+C must reach the whole herd: no session or group of its own.
TEST(ProcessTest, ChildStaysInTheLaunchersSessionAndGroup) {
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(StartChild("sleep 30000", 0, info));
    const auto pid = static_cast<pid_t>(info.dwProcessId);
    EXPECT_EQ(getpgid(pid), getpgrp());
    EXPECT_EQ(getsid(pid), getsid(0));
    TerminateProcess(info.hProcess, 0);
    AwaitExit(info.hProcess);
    Release(info);
}

void NoteSignal(int) {}

// As a Windows child inherits an ignored Ctrl+C, a signal the launcher
// ignores stays ignored in the child, except SIGPIPE and SIGCHLD, which
// ordinary programs need at their default. Handlers never pass on, and the
// launcher's mask does not either. (SIGCHLD is left out: ignoring it here
// would reap the children before their codes could be read.)
TEST(ProcessTest, ChildKeepsIgnoredSignalsButNoHandlerAndNoMask) {
    const struct {
        int signal;
        void (*launchers)(int);  // the launcher's action
        bool blocked;            // in the launcher's thread
        int expected;            // ReportSignal's: 0 default, 1 ignored, + 4 blocked
    } rows[] = {
        {SIGUSR1, NoteSignal, false, 0}, {SIGUSR2, SIG_IGN, false, 1}, {SIGPIPE, SIG_IGN, false, 0},
        {SIGTERM, SIG_DFL, true, 0},     {SIGHUP, SIG_IGN, true, 1},
    };
    struct sigaction previous[std::size(rows)];
    sigset_t blocked;
    sigset_t previousMask;
    sigemptyset(&blocked);
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        struct sigaction action {};
        action.sa_handler = rows[i].launchers;
        sigaction(rows[i].signal, &action, &previous[i]);
        if (rows[i].blocked) {
            sigaddset(&blocked, rows[i].signal);
        }
    }
    pthread_sigmask(SIG_BLOCK, &blocked, &previousMask);
    for (const auto& row : rows) {
        EXPECT_EQ(RunChild("signal " + std::to_string(row.signal)), row.expected)
            << "signal " << row.signal;
    }
    pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        sigaction(rows[i].signal, &previous[i], nullptr);
    }
}

// A user who may not raise priorities gets the highest class allowed (normal
// at nice 0); lowering is always allowed.
TEST(ProcessTest, PriorityFallsBackWhenRaisingIsNotAllowed) {
    if (geteuid() != 0) {
        EXPECT_EQ(RunChild("class", REALTIME_PRIORITY_CLASS), kNormalIndex);
        EXPECT_EQ(RunChild("class", HIGH_PRIORITY_CLASS), kNormalIndex);
        return;
    }
    const struct {
        DWORD requested;
        int expected;
    } cases[] = {
        {REALTIME_PRIORITY_CLASS, kNormalIndex},
        {HIGH_PRIORITY_CLASS, kNormalIndex},
        {BELOW_NORMAL_PRIORITY_CLASS, 1},
        {IDLE_PRIORITY_CLASS, 0},
    };
    for (const auto& c : cases) {
        const long long code = RunChild("as-nobody " + std::to_string(c.requested));
        if (code == 97 || code == 96) {
            GTEST_SKIP() << "user nobody cannot run the helper here (" << code << ")";
        }
        EXPECT_EQ(code, c.expected) << "class " << c.requested;
    }
}

#endif

}  // namespace
