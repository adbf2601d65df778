// Named shared memory: a block shared with a child under a Windows-1251 name,
// the life of the name, and (on Linux) the object behind it: its name, owner
// and mode, and its removal when the creating process is ended by a signal.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "../named_place.h"
#include "cp1251_unit.h"
#include "ipc_test_support.h"
#include "win32.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#endif

namespace {

// A feeder-style name: a length byte, then Windows-1251 text. The process id
// keeps parallel test runs apart.
std::string BlockName(std::string_view text) {
    const std::string body = std::string(text) + std::to_string(GetCurrentProcessId());
    return static_cast<char>(body.size()) + body;
}

TEST(SharedMemory, ChildWritesWhatParentSees) {
    const std::string name = BlockName("процесс "_cp1251);
    SetLastError(ERROR_ALREADY_EXISTS);  // a fresh block must clear it
    HANDLE block =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 8, name.c_str());
    ASSERT_NE(block, nullptr) << GetLastError();
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    auto* slots = static_cast<unsigned char*>(MapViewOfFile(block, FILE_MAP_ALL_ACCESS, 0, 0, 8));
    ASSERT_NE(slots, nullptr) << GetLastError();
    std::memset(slots, 0, 8);

    PROCESS_INFORMATION child{};
    ASSERT_TRUE(ipc_test::StartChild("ipc-shm-write " + ipc_test::HexOf(name), child));
    EXPECT_EQ(ipc_test::WaitForExit(child), 0u);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(slots[i], i + 1) << "slot " << i;
    }
    EXPECT_TRUE(UnmapViewOfFile(slots));
    EXPECT_FALSE(UnmapViewOfFile(slots));  // a view is unmapped once
    EXPECT_TRUE(CloseHandle(block));
}

TEST(SharedMemory, SecondCreateSharesTheBlockAndCreatorsCloseRemovesTheName) {
    const std::string name = BlockName("Tandy");
    HANDLE created =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 8, name.c_str());
    ASSERT_NE(created, nullptr);
    HANDLE again =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 8, name.c_str());
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    HANDLE opened = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name.c_str());
    ASSERT_NE(opened, nullptr);

    auto* first = static_cast<volatile char*>(MapViewOfFile(created, FILE_MAP_ALL_ACCESS, 0, 0, 8));
    auto* second = static_cast<volatile char*>(MapViewOfFile(opened, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    first[3] = 42;
    EXPECT_EQ(second[3], 42);
    UnmapViewOfFile(const_cast<char*>(first));
    UnmapViewOfFile(const_cast<char*>(second));

    // Closing handles that did not create the block leaves the name.
    CloseHandle(again);
    CloseHandle(opened);
    HANDLE still = OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str());
    EXPECT_NE(still, nullptr);
    CloseHandle(still);

    CloseHandle(created);
    SetLastError(0);
    EXPECT_EQ(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(SharedMemory, NameGoesWithTheCreatorsProcess) {
    const std::string name = BlockName("Hathy");
    PROCESS_INFORMATION child{};
    ASSERT_TRUE(ipc_test::StartChild("ipc-shm-exit " + ipc_test::HexOf(name), child));
    EXPECT_EQ(ipc_test::WaitForExit(child), 0u);
    SetLastError(0);
    EXPECT_EQ(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

// Starts a child that creates the block and marks it with 1..8; returns once
// the marks are visible, holding no handle of its own.
bool StartMarkingHolder(const std::string& name, PROCESS_INFORMATION& child) {
    if (!ipc_test::StartChild("ipc-shm-hold-marked " + ipc_test::HexOf(name), child)) {
        return false;
    }
    for (int waited = 0; waited < 10000; waited += 10) {
        HANDLE block = OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str());
        const auto* slots =
            block ? static_cast<const unsigned char*>(MapViewOfFile(block, FILE_MAP_READ, 0, 0, 8))
                  : nullptr;
        const bool marked = slots != nullptr && slots[7] == 8;
        if (slots != nullptr) {
            UnmapViewOfFile(slots);
        }
        if (block != nullptr) {
            CloseHandle(block);
        }
        if (marked) {
            return true;
        }
        Sleep(10);
    }
    return false;
}

void KillAndWait(PROCESS_INFORMATION& child) {
    TerminateProcess(child.hProcess, 9);
    EXPECT_EQ(ipc_test::WaitForExit(child), 9u);
}

// A holder killed outright takes its name with it: nobody else held it.
TEST(SharedMemory, NameHeldOnlyByAKilledProcessIsGone) {
    const std::string name = BlockName("Killed");
    PROCESS_INFORMATION child{};
    ASSERT_TRUE(StartMarkingHolder(name, child));
    KillAndWait(child);

    SetLastError(0);
    EXPECT_EQ(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

    ASSERT_TRUE(StartMarkingHolder(name, child));
    KillAndWait(child);
    SetLastError(ERROR_ALREADY_EXISTS);
    HANDLE fresh =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 8, name.c_str());
    ASSERT_NE(fresh, nullptr) << GetLastError();
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    const auto* slots =
        static_cast<const unsigned char*>(MapViewOfFile(fresh, FILE_MAP_READ, 0, 0, 8));
    ASSERT_NE(slots, nullptr);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(slots[i], 0) << "slot " << i << " of a fresh block";
    }
    UnmapViewOfFile(slots);
    CloseHandle(fresh);
}

// A name held by two processes outlives the first one's end. It goes with
// the last handle: a view keeps the memory, not the name.
TEST(SharedMemory, NameLivesWhileAnyHandleHoldsIt) {
    const std::string name = BlockName("Shared");
    PROCESS_INFORMATION child{};
    ASSERT_TRUE(StartMarkingHolder(name, child));
    HANDLE ours = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name.c_str());
    ASSERT_NE(ours, nullptr);
    KillAndWait(child);

    HANDLE again = OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str());
    ASSERT_NE(again, nullptr) << "the name died with one of its two holders";
    const auto* slots =
        static_cast<const unsigned char*>(MapViewOfFile(again, FILE_MAP_READ, 0, 0, 8));
    ASSERT_NE(slots, nullptr);
    CloseHandle(ours);
    CloseHandle(again);

    SetLastError(0);
    EXPECT_EQ(OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(slots[0], 1);
    EXPECT_EQ(slots[7], 8);
    UnmapViewOfFile(slots);
}

#ifndef _WIN32

std::string ShmPath(const std::string& escaped) {
    return named_place::BlockFile(escaped);
}

bool Exists(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0;
}

TEST(SharedMemoryLinux, EscapedNameModeAndSize) {
    const std::string pid = std::to_string(getpid());
    const std::string name = "\x05Tandy-" + pid;
    const std::string path = ShmPath("%05Tandy-" + pid);
    const mode_t savedUmask = umask(0277);  // must not weaken or break the block's mode
    HANDLE block =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 100, name.c_str());
    umask(savedUmask);
    ASSERT_NE(block, nullptr) << GetLastError();
    struct stat status;
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    EXPECT_EQ(status.st_size, 100);

    // An existing block is never shrunk, only grown.
    HANDLE smaller =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 8, name.c_str());
    HANDLE larger =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 5000, name.c_str());
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_size, 5000);
    // A view past the end of the block would fault on access: refused.
    EXPECT_EQ(MapViewOfFile(block, FILE_MAP_ALL_ACCESS, 0, 0, 5001), nullptr);
    CloseHandle(smaller);
    CloseHandle(larger);
    CloseHandle(block);
    EXPECT_FALSE(Exists(path));

    const std::string cyrillic(BlockName("процесс 1"_cp1251));
    HANDLE letters =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 8, cyrillic.c_str());
    char lengthByte[4];
    std::snprintf(lengthByte, sizeof lengthByte, "%%%02zX", 9 + pid.size());
    EXPECT_TRUE(Exists(ShmPath(lengthByte + std::string("%EF%F0%EE%F6%E5%F1%F1%201") + pid)));
    CloseHandle(letters);

    const std::string tooLong(NAME_MAX, 'x');
    EXPECT_EQ(
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 8, tooLong.c_str()),
        nullptr);
    EXPECT_NE(GetLastError(), ERROR_SUCCESS);
}

TEST(SharedMemoryLinux, ForeignOrLooseObjectIsRefused) {
    const std::string pid = std::to_string(getpid());
    for (const bool foreignOwner : {false, true}) {
        if (foreignOwner && geteuid() != 0) {
            continue;  // only root can give an object away
        }
        const std::string name = "planted-" + pid;
        named_place::MadeFolder();
        const std::string path = ShmPath(name);
        const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        if (foreignOwner) {
            ASSERT_EQ(fchown(fd, 65534, 65534), 0);
        } else {
            ASSERT_EQ(fchmod(fd, 0666), 0);
        }
        SetLastError(0);
        EXPECT_EQ(
            CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 8, name.c_str()),
            nullptr);
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
        SetLastError(0);
        EXPECT_EQ(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name.c_str()), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
        struct stat status;
        ASSERT_EQ(fstat(fd, &status), 0);
        EXPECT_EQ(status.st_size, 0) << "a refused object must stay untouched";
        close(fd);
        unlink(path.c_str());
    }
}

// The line the child writes to `fd`, up to its '\n'; what came before the
// end when the child ended first.
std::string LineFrom(int fd) {
    std::string line;
    char c = 0;
    while (recv(fd, &c, 1, 0) == 1 && c != '\n') {
        line += c;
    }
    return line;
}

// Runs conformance_child with a role that creates a block and waits for a
// signal; returns the wait status after `signal` once the block exists.
// `survives`: the child lives on after the signal, and its block with it.
// Its standard input and output are a socket to the test (no SIGPIPE here
// when it has ended).
int StatusAfterSignal(const char* role, const std::string& name, int signal,
                      bool survives = false) {
    char self[PATH_MAX] = {};
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string child = std::string(self, static_cast<std::size_t>(length > 0 ? length : 0));
    child = child.substr(0, child.rfind('/') + 1) + "conformance_child";
    const std::string hex = ipc_test::HexOf(name);
    int talk[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, talk), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(talk[1], STDIN_FILENO);
        dup2(talk[1], STDOUT_FILENO);
        execl(child.c_str(), child.c_str(), role, hex.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(talk[1]);
    for (int waited = 0; waited < 2000 && !Exists(ShmPath(name)); ++waited) {
        usleep(5000);
    }
    EXPECT_TRUE(Exists(ShmPath(name)));
    kill(pid, signal);
    if (survives) {
        // The child reads the line only after the signal has been dealt
        // with: an answer means it has lived through it.
        EXPECT_EQ(send(talk[0], "\n", 1, MSG_NOSIGNAL), 1);
        EXPECT_EQ(LineFrom(talk[0]), "alive");
        EXPECT_TRUE(Exists(ShmPath(name)));
    }
    close(talk[0]);  // the end of the surviving child's input
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

TEST(SharedMemoryLinux, NameRemovedWhenCreatorIsEndedBySignal) {
    const std::string name = "signalled-" + std::to_string(getpid());
    for (const int signal : {SIGTERM, SIGINT}) {
        const int status = StatusAfterSignal("ipc-shm-hold", name, signal);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
        EXPECT_FALSE(Exists(ShmPath(name)));
    }
    // A handler of the program's own still runs (it exits with 42).
    int status = StatusAfterSignal("ipc-shm-hold-own-handler", name, SIGTERM);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 42) << status;
    EXPECT_FALSE(Exists(ShmPath(name)));
    // A program that ignores SIGINT keeps running and keeps its block.
    status = StatusAfterSignal("ipc-shm-hold-ignoring-sigint", name, SIGINT, true);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_FALSE(Exists(ShmPath(name)));  // removed at its normal exit
}

#endif  // _WIN32

}  // namespace
