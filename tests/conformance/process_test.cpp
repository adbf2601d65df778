// Child processes: start, priority class, exit codes, termination, the
// command line a child receives, and what a failed start leaves behind.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
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
#include <sys/stat.h>
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

#ifndef _WIN32
// Children of this process, started by any of its threads, that have ended
// but were never reaped.
int CountZombieChildren() {
    int zombies = 0;
    DIR* tasks = opendir("/proc/self/task");
    while (const dirent* task = tasks != nullptr ? readdir(tasks) : nullptr) {
        std::ifstream children(std::string("/proc/self/task/") + task->d_name + "/children");
        std::string pid;
        while (children >> pid) {
            std::ifstream stat("/proc/" + pid + "/stat");
            std::string line;
            std::getline(stat, line);
            const std::size_t close = line.rfind(')');
            zombies += close != std::string::npos && line.compare(close + 2, 1, "Z") == 0 ? 1 : 0;
        }
    }
    if (tasks != nullptr) {
        closedir(tasks);
    }
    return zombies;
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

TEST(ProcessTest, ExitCodeIsStillActiveWhileRunningThenTheChildsOwn) {
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(StartChild("sleep 400", 0, info));
    EXPECT_NE(info.dwProcessId, 0u);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(AwaitExit(info.hProcess), 0u);
    // Asked again after the child is gone: the same code.
    ASSERT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ(code, 0u);
    Release(info);

    EXPECT_EQ(RunChild("exit 7"), 7);
    EXPECT_EQ(RunChild("exit 200"), 200);
}

TEST(ProcessTest, TerminatedChildReportsTheGivenCode) {
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(StartChild("sleep 30000", 0, info));
    EXPECT_TRUE(TerminateProcess(info.hProcess, 42));
    EXPECT_EQ(AwaitExit(info.hProcess, 5000), 42u);
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
    Sleep(500);  // ended, but its code not yet asked for
    SetLastError(0);
    const BOOL terminated = TerminateProcess(info.hProcess, 0);
    if (!UnderWine()) {
        EXPECT_FALSE(terminated);
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    }
    EXPECT_EQ(AwaitExit(info.hProcess), 3u);
    Release(info);
}

// The monitor asks and ends its workers from its main and its message thread.
TEST(ProcessTest, QueriesAndTerminationFromTwoThreadsAgree) {
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(StartChild("sleep 30000", 0, info));
    std::atomic<DWORD> seenByWatcher{STILL_ACTIVE};
    std::thread watcher([&] { seenByWatcher = AwaitExit(info.hProcess, 5000); });
    Sleep(20);
    EXPECT_TRUE(TerminateProcess(info.hProcess, 9));
    EXPECT_EQ(AwaitExit(info.hProcess, 5000), 9u);
    watcher.join();
    EXPECT_EQ(seenByWatcher.load(), 9u);
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

TEST(ProcessTest, MissingProgramFailsWithFileNotFound) {
#ifndef _WIN32
    const int zombiesBefore = CountZombieChildren();
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
    Sleep(100);  // a child left unreaped has surely ended by now
    EXPECT_EQ(CountZombieChildren(), zombiesBefore);
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
// child that tried is reaped.
TEST(ProcessTest, ExecFailureGivesItsErrnoAndLeavesNoZombie) {
    char path[] = "/tmp/herdlab_not_a_program_XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "\x01\x02garbage\n", 10), 10);
    close(fd);
    chmod(path, 0755);
    const int zombiesBefore = CountZombieChildren();

    std::string commandLine = std::string(path) + " 1";
    STARTUPINFOA startup{};
    PROCESS_INFORMATION info{};
    SetLastError(0);
    EXPECT_FALSE(CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                nullptr, &startup, &info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ENOEXEC));
    Sleep(100);  // a child left unreaped has surely ended by now
    EXPECT_EQ(CountZombieChildren(), zombiesBefore);
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
TEST(ProcessTest, StartWorksWithStandardStreamsClosed) {
    std::fflush(nullptr);
    const int savedInput = dup(STDIN_FILENO);
    const int savedError = dup(STDERR_FILENO);
    close(STDIN_FILENO);
    close(STDERR_FILENO);
    PROCESS_INFORMATION info{};
    const auto before = std::chrono::steady_clock::now();
    const bool started = StartChild("sleep 3000", 0, info);
    const auto took = std::chrono::steady_clock::now() - before;
    dup2(savedInput, STDIN_FILENO);
    dup2(savedError, STDERR_FILENO);
    close(savedInput);
    close(savedError);
    ASSERT_TRUE(started);
    EXPECT_LT(took, std::chrono::milliseconds(1500));
    TerminateProcess(info.hProcess, 0);
    AwaitExit(info.hProcess);
    Release(info);
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
