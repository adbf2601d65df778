// Another local user (nobody) taking the names of this user's thread queues
// and named blocks first: the Linux layer keeps them in a place of the user's
// own, so the squatter neither stops nor receives anything. Setting another
// user's folders up needs root; the tests skip elsewhere.
#ifndef _WIN32

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ipc_test_support.h"
#include "win32.h"

// Named, not anonymous: the test files are compiled a few at a time as one.
namespace squatting_test {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;
constexpr int kSquattedIds = 200;

std::string ChildProgram() {
    char self[PATH_MAX] = {};
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    const std::string own(self, static_cast<std::size_t>(length > 0 ? length : 0));
    return own.substr(0, own.rfind('/') + 1) + "conformance_child";
}

// conformance_child ipc-named-objects with only the given environment.
int NamedObjectsChild(const std::vector<std::string>& environment, const std::string& name) {
    const std::string program = ChildProgram();
    const std::string hex = ipc_test::HexOf(name);
    std::vector<char*> envp;
    for (const std::string& entry : environment) {
        envp.push_back(const_cast<char*>(entry.c_str()));
    }
    envp.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        execle(program.c_str(), program.c_str(), "ipc-named-objects", hex.c_str(),
               static_cast<char*>(nullptr), envp.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void MakeFolder(const fs::path& path, mode_t mode, uid_t owner) {
    fs::create_directories(path);
    ASSERT_EQ(chmod(path.c_str(), mode), 0) << path;
    ASSERT_EQ(chown(path.c_str(), owner, owner), 0) << path;
}

struct Owner {
    uid_t uid;
    mode_t mode;
};

Owner OwnerOf(const fs::path& path) {
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0) {
        return Owner{static_cast<uid_t>(-1), 0};
    }
    return Owner{status.st_uid, status.st_mode & 07777};
}

bool CanRunAsRoot() {
    return geteuid() == 0 && access(ChildProgram().c_str(), X_OK) == 0;
}

// One run per row, in a fresh folder: XDG_RUNTIME_DIR is <root>/run, HOME is
// <root>/home; `taken` folders belong to nobody and must come out unchanged.
TEST(SquattingLinux, PlaceTakenOrOpenToOthersIsRefusedAndLeftAlone) {
    if (!CanRunAsRoot()) {
        GTEST_SKIP() << "needs root to give folders to another user";
    }
    struct Row {
        const char* what;
        bool runtimeSet, homeSet;
        mode_t runMode;       // the XDG_RUNTIME_DIR folder itself
        uid_t runPlaceOwner;  // <run>/herdlab, made before the run unless 0
        mode_t runPlaceMode;
        uid_t homePlaceOwner;   // <home>/.herdlab, likewise
        int status;             // of ipc-named-objects
        const char* placeUsed;  // made by the run, ours and 0700
    };
    const Row rows[] = {
        {"own runtime folder", true, true, 0700, 0, 0, 0, 0, "run/herdlab"},
        {"shared sticky runtime folder", true, true, 01777, 0, 0, 0, 0, "run/herdlab"},
        {"runtime place taken", true, true, 0700, kNobody, 0700, 0, 0, "home/.herdlab"},
        {"runtime place open to all", true, true, 0700, 1, 0777, 0, 0, "home/.herdlab"},
        {"runtime folder writable by all", true, true, 0777, 0, 0, 0, 0, "home/.herdlab"},
        {"no runtime folder", false, true, 0700, 0, 0, 0, 0, "home/.herdlab"},
        {"both places taken", true, true, 0700, kNobody, 0700, kNobody, 100 + ERROR_ACCESS_DENIED,
         nullptr},
        {"no place named", false, false, 0700, 0, 0, 0, 100 + ERROR_PATH_NOT_FOUND, nullptr},
    };
    const fs::path base = fs::temp_directory_path() / ("herdlab-squat-" + std::to_string(getpid()));
    int index = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const fs::path root = base / std::to_string(index++);
        MakeFolder(root / "run", row.runMode, 0);
        MakeFolder(root / "home", 0700, 0);
        // Owner 1 stands for root's own folder that is open to all.
        if (row.runPlaceOwner != 0) {
            MakeFolder(root / "run/herdlab", row.runPlaceMode,
                       row.runPlaceOwner == 1 ? 0 : row.runPlaceOwner);
        }
        if (row.homePlaceOwner != 0) {
            MakeFolder(root / "home/.herdlab", 0700, row.homePlaceOwner);
        }
        std::vector<std::string> environment;
        if (row.runtimeSet) {
            environment.push_back("XDG_RUNTIME_DIR=" + (root / "run").string());
        }
        if (row.homeSet) {
            environment.push_back("HOME=" + (root / "home").string());
        }
        EXPECT_EQ(NamedObjectsChild(environment, "squat-" + std::to_string(getpid())), row.status);
        if (row.placeUsed != nullptr) {
            const Owner used = OwnerOf(root / row.placeUsed);
            EXPECT_EQ(used.uid, 0u);
            EXPECT_EQ(used.mode, 0700u);
        }
        if (row.runPlaceOwner != 0) {
            const Owner left = OwnerOf(root / "run/herdlab");
            EXPECT_EQ(left.uid, row.runPlaceOwner == 1 ? 0 : row.runPlaceOwner);
            EXPECT_EQ(left.mode, row.runPlaceMode);
            EXPECT_TRUE(fs::is_empty(root / "run/herdlab"));
        }
    }
    fs::remove_all(base);
}

// Nobody, beforehand, binds the abstract socket names of this thread and of
// the next kSquattedIds thread ids and creates the block's /dev/shm name: the
// fixed names of a layer without a place of its own. The owner's queue and
// block work all the same, a peer process reaches both, and nothing arrives
// at the squatter's sockets. Exit status: the datagrams it received.
class Squatter {
  public:
    explicit Squatter(const std::string& shmFile) {
        std::ifstream("/proc/sys/kernel/ns_last_pid") >> lastPid_;
        int ready[2];
        int stop[2];
        if (pipe(ready) != 0 || pipe(stop) != 0) {
            return;
        }
        const DWORD self = GetCurrentThreadId();
        const uid_t owner = getuid();
        pid_ = fork();
        if (pid_ == 0) {
            close(ready[0]);
            close(stop[1]);
            _exit(Squat(shmFile.c_str(), owner, self, ready[1], stop[0]));
        }
        close(ready[1]);
        close(stop[0]);
        stop_ = stop[1];
        char byte = 0;
        squatting_ = read(ready[0], &byte, 1) == 1;
        close(ready[0]);
    }
    bool squatting() const { return squatting_; }
    // Ends the squat: the count of datagrams that reached it.
    int Received() {
        close(stop_);
        int status = 0;
        waitpid(pid_, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

  private:
    // In the forked child: only async-signal-safe calls.
    int Squat(const char* shmFile, uid_t owner, DWORD self, int ready, int stop) {
        if (setgroups(0, nullptr) != 0 || setresgid(kNobody, kNobody, kNobody) != 0 ||
            setresuid(kNobody, kNobody, kNobody) != 0) {
            return 200;
        }
        const int block = open(shmFile, O_RDWR | O_CREAT | O_EXCL, 0600);
        int sockets[kSquattedIds + 1];
        int bound = 0;
        for (int i = 0; i <= kSquattedIds; ++i) {
            const unsigned id = i == 0 ? self : static_cast<unsigned>(lastPid_ + i);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            const int used = std::snprintf(address.sun_path + 1, sizeof address.sun_path - 1,
                                           "herdlab-msg-%u-%u", static_cast<unsigned>(owner), id);
            sockets[i] = socket(AF_UNIX, SOCK_DGRAM, 0);
            bound += bind(sockets[i], reinterpret_cast<const sockaddr*>(&address),
                          static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + used)) == 0;
        }
        if (block < 0 || bound == 0) {
            return 201;
        }
        (void)!write(ready, "r", 1);
        char byte;
        (void)!read(stop, &byte, 1);  // until the test closes its end
        int received = 0;
        for (int i = 0; i <= kSquattedIds; ++i) {
            char datagram[64];
            while (recv(sockets[i], datagram, sizeof datagram, MSG_DONTWAIT) >= 0) {
                ++received;
            }
        }
        unlink(shmFile);
        return received;
    }

    long lastPid_ = 0;
    pid_t pid_ = -1;
    int stop_ = -1;
    bool squatting_ = false;
};

TEST(SquattingLinux, NamesTakenByAnotherUserStillWorkAndTheSquatterGetsNothing) {
    if (!CanRunAsRoot()) {
        GTEST_SKIP() << "needs root to act as another user";
    }
    const std::string name = "squatted-" + std::to_string(getpid());
    Squatter squatter("/dev/shm/herdlab-map-" + std::to_string(getuid()) + "-" + name);
    ASSERT_TRUE(squatter.squatting());

    HANDLE block =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 8, name.c_str());
    ASSERT_NE(block, nullptr) << GetLastError();
    const auto* slots =
        static_cast<const unsigned char*>(MapViewOfFile(block, FILE_MAP_READ, 0, 0, 8));
    PROCESS_INFORMATION writer{};
    ASSERT_TRUE(ipc_test::StartChild("ipc-shm-write " + ipc_test::HexOf(name), writer));
    EXPECT_EQ(ipc_test::WaitForExit(writer), 0u);
    EXPECT_EQ(slots[7], 8);

    PROCESS_INFORMATION echo{};
    ASSERT_TRUE(ipc_test::StartChild("ipc-echo " + std::to_string(GetCurrentThreadId()), echo));
    MSG message{};
    ASSERT_TRUE(ipc_test::ReceiveWithin(message));
    ASSERT_EQ(message.message, ipc_test::kHello);
    const auto peer = static_cast<DWORD>(message.lParam);
    ASSERT_TRUE(PostThreadMessageA(peer, WM_USER, 5, 6));
    ASSERT_TRUE(ipc_test::ReceiveWithin(message));
    EXPECT_EQ(message.wParam, 5u);
    PostThreadMessageA(peer, WM_QUIT, 0, 0);
    EXPECT_EQ(ipc_test::WaitForExit(echo), 1u);

    UnmapViewOfFile(slots);
    CloseHandle(block);
    EXPECT_EQ(squatter.Received(), 0);
}

}  // namespace squatting_test

#endif  // _WIN32
