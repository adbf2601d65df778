// The child's confinement before its program runs: namespaces, limits,
// Landlock; and the rule of where it may write.
#include "keeper_confinement_linux.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// ---- Landlock (the system's header may predate the rights used here) ----

struct LandlockRulesetAttr {
    std::uint64_t handledAccessFs = 0;
    std::uint64_t handledAccessNet = 0;
    std::uint64_t scoped = 0;
};
struct __attribute__((packed)) LandlockPathBeneath {
    std::uint64_t allowedAccess = 0;
    std::int32_t parentFd = -1;
};
constexpr unsigned kLandlockVersion = 1u << 0;
constexpr int kLandlockRulePathBeneath = 1;
constexpr std::uint64_t kFsWriteFile = 1ull << 1;
constexpr std::uint64_t kFsWritesAbi1 = 0x1FF2;     // write, remove, make (bits 1, 4-12)
constexpr std::uint64_t kFsRefer = 1ull << 13;      // ABI 2
constexpr std::uint64_t kFsTruncate = 1ull << 14;   // ABI 3
constexpr std::uint64_t kFsIoctlDev = 1ull << 15;   // ABI 5
constexpr std::uint64_t kNetBindAndConnectTcp = 3;  // ABI 4
constexpr std::uint64_t kScopeUnixAndSignal = 3;    // ABI 6

bool WriteSmallFile(const char* path, const std::string& text) {
    const int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    return written;
}

std::uint64_t HandledWrites(int abi) {
    std::uint64_t rights = kFsWritesAbi1;
    rights |= abi >= 2 ? kFsRefer : 0;
    rights |= abi >= 3 ? kFsTruncate : 0;
    rights |= abi >= 5 ? kFsIoctlDev : 0;
    return rights;
}

void AllowBeneath(int ruleset, const char* path, std::uint64_t rights) {
    LandlockPathBeneath rule;
    rule.allowedAccess = rights;
    rule.parentFd = open(path, O_PATH | O_CLOEXEC);
    if (rule.parentFd >= 0) {
        syscall(SYS_landlock_add_rule, ruleset, kLandlockRulePathBeneath, &rule, 0);
        close(rule.parentFd);
    }
}

// Writes only in the scratch folder (its block's place included) and /dev/null; no TCP; no
// signals or abstract sockets beyond its own processes.
bool ConfineWrites(const KeeperPlan& plan) {
    const int abi = plan.support.landlockAbi;
    if (abi == 0) {
        return true;
    }
    LandlockRulesetAttr attr;
    attr.handledAccessFs = HandledWrites(abi);
    attr.handledAccessNet = abi >= 4 ? kNetBindAndConnectTcp : 0;
    attr.scoped = abi >= 6 ? kScopeUnixAndSignal : 0;
    const int ruleset =
        static_cast<int>(syscall(SYS_landlock_create_ruleset, &attr, sizeof attr, 0));
    if (ruleset < 0) {
        return false;
    }
    const std::uint64_t fileWrite = kFsWriteFile | (abi >= 5 ? kFsIoctlDev : 0);
    AllowBeneath(ruleset, plan.scratch, attr.handledAccessFs);
    AllowBeneath(ruleset, "/dev/null", fileWrite);
    const bool confined = syscall(SYS_landlock_restrict_self, ruleset, 0) == 0;
    close(ruleset);
    return confined;
}

void LimitResources(const KeeperPlan& plan) {
    if (kAddressSpaceLimited) {
        const rlimit memory = {kMostChildMemoryBytes, kMostChildMemoryBytes};
        setrlimit(RLIMIT_AS, &memory);
    }
    const rlimit noCore = {0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    // Counted per user namespace: outside one it would count all of the
    // teacher's processes, so there the checker counts instead.
    if (plan.support.namespaces) {
        // The keeper is one of them.
        const rlimit processes = {kMostProcessesAtOnce + 1, kMostProcessesAtOnce + 1};
        setrlimit(RLIMIT_NPROC, &processes);
    }
}

// "a/./b/../c" as "a/c"; ".." above the root stays at the root.
std::string Normalized(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string part = path.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty()) {
                parts.pop_back();
            }
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string joined;
    for (const std::string& part : parts) {
        joined += "/" + part;
    }
    return joined.empty() ? "/" : joined;
}

bool Beneath(const std::string& path, const std::string& folder) {
    return path == folder || path.starts_with(folder + "/");
}

// A file that a sanitizer build's runtime tries to make at every start
// (ThreadSanitizer's "tsan.rodata.PID"): not the child's own doing. Landlock
// refuses it like any other; only the report leaves it out.
bool SanitizerRuntimeFile(const std::string& full) {
    return !kAddressSpaceLimited && full.substr(full.rfind('/') + 1).starts_with("tsan.");
}

// What interpreters try on their own, not the child's doing: Python's cache
// of a module's bytecode beside it (its __pycache__ folder and the files in
// it) unless told not to, and a shell's look for its terminal (bash opens
// /dev/tty for reading and writing at its start). Refused all the same.
bool InterpreterOwnFile(const std::string& full) {
    return full.find("/__pycache__/") != std::string::npos || full.ends_with("/__pycache__") ||
           full == "/dev/tty";
}

}  // namespace

// Inside the new user namespace the checker's user is itself, so files and
// blocks keep their owner and the block names their user number.
bool MapOwnUser(uid_t uid, gid_t gid) {
    return WriteSmallFile("/proc/self/setgroups", "deny") &&
           WriteSmallFile("/proc/self/uid_map",
                          std::to_string(uid) + " " + std::to_string(uid) + " 1") &&
           WriteSmallFile("/proc/self/gid_map",
                          std::to_string(gid) + " " + std::to_string(gid) + " 1");
}

bool NamespacesWork() {
    const uid_t uid = getuid();  // inside, unmapped, it would read as the overflow user
    const gid_t gid = getgid();
    const pid_t probe = fork();
    if (probe == 0) {
        _exit(unshare(CLONE_NEWUSER | CLONE_NEWPID | CLONE_NEWNET) == 0 && MapOwnUser(uid, gid)
                  ? 0
                  : 1);
    }
    int status = 0;
    return probe > 0 && waitpid(probe, &status, 0) == probe && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

int LandlockAbi() {
    const long abi = syscall(SYS_landlock_create_ruleset, nullptr, 0, kLandlockVersion);
    return abi > 0 ? static_cast<int>(abi) : 0;
}

// The process id as the checker, outside the namespace, sees it: /proc is
// the checker's.
std::int32_t OuterPid() {
    char text[32] = {};
    const ssize_t length = readlink("/proc/self", text, sizeof text - 1);
    return length > 0 ? std::atoi(text) : 0;
}

// In the program's fork, right before exec (async-signal-safe calls only).
int ConfineProgram(void* context) {
    const ProgramStart& start = *static_cast<const ProgramStart*>(context);
    if (start.listener >= 0) {
        close(start.listener);  // the program must not answer its own calls
    }
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    LimitResources(*start.plan);
    ConfineWrites(*start.plan);
    const std::int32_t pid = OuterPid();
    return write(start.pidReport, &pid, sizeof pid) == sizeof pid ? 0 : errno;
}

// Whether a write to `path` stays where the child may write, or is one of a
// runtime's own that the report leaves out. A relative path counts from the
// scratch folder, the child's current folder.
bool WriteAllowed(const std::string& path, const KeeperPlan& plan) {
    const std::string scratch = plan.scratch;
    const std::string full = Normalized(path.starts_with("/") ? path : scratch + "/" + path);
    return Beneath(full, scratch) || full == "/dev/null" || SanitizerRuntimeFile(full) ||
           InterpreterOwnFile(full);
}
