// The keeper: a small process of the checker's own between the checker and
// each child it checks, on Linux. It is the child's parent and, where the
// machine allows unprivileged user namespaces, the first process of the
// child's own process and network namespaces: so everything the child
// starts ends with it, and the child has no network interface but a
// loopback that is down. Before the child's program runs, the keeper's fork
// of it limits processes and memory, confines its writes to its scratch
// folder with Landlock, and a seccomp filter hands the keeper every socket
// the child asks for and every file it opens for writing. The keeper refuses
// the sockets, and notes what the child tried, for the checker's report.
//
// The keeper tells the checker what happens through a pipe of messages.
#pragma once

#include <sys/types.h>

#include <cstdint>

#include "verdict_unit.h"

// What the machine offers; probed once by the checker.
struct SandboxSupport {
    bool namespaces = false;  // unprivileged user, process and network namespaces
    int landlockAbi = 0;      // 0: none
    bool seccomp = false;     // a filter whose calls a supervisor answers
};
SandboxSupport ProbeSandbox();

inline constexpr std::uint64_t kMostChildMemoryBytes =
    static_cast<std::uint64_t>(kMostMemoryMegabytes) * 1024 * 1024;

enum class KeeperNews : std::int32_t {
    kStarted,       // value: the program's process id as the checker sees it
    kExecFailed,    // value: errno of the failed start
    kNetworkTried,  // value: the address family of the socket refused
    kWroteOutside,  // path: a file the child opened for writing outside its folder
    kLeftBehind,    // value: processes still running when the program had ended
    kProgramEnded,  // value: the program's wait status
};

// One message; smaller than PIPE_BUF, so written and read whole.
struct KeeperMessage {
    KeeperNews news = KeeperNews::kStarted;
    std::int32_t value = 0;
    char path[248] = {};
};

struct KeeperPlan {
    const char* program = nullptr;  // absolute path
    char* const* argv = nullptr;
    int input = -1;                 // the child's standard input
    int output = -1;                // its standard output and error
    int report = -1;                // write end of the message pipe (close-on-exec)
    const char* scratch = nullptr;  // the child's own folder, its current folder
    const char* blocks = nullptr;   // the folder of the shared blocks (the user's own place)
    SandboxSupport support;
    uid_t uid = 0;  // the checker's user, mapped to itself inside the namespace
    gid_t gid = 0;
};

// Runs in the process the checker has just created (with the namespaces
// when the plan has them); never returns.
[[noreturn]] void RunKeeper(const KeeperPlan& plan);
