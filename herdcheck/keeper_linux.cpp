// The keeper process and the confinement of the child's program.
#include "keeper_linux.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "herdlab_toolkit.h"
#include "process_table_linux.h"

#ifdef HERDLAB_HAVE_SECCOMP
#include <linux/seccomp.h>
#include <seccomp.h>
#endif

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

// How often the keeper looks for ended processes when nothing else wakes it.
constexpr int kKeeperLookMs = 50;
// How long processes the program started may take to end after it.
constexpr int kStragglerGraceMs = 300;

void Send(int report, KeeperNews news, std::int32_t value, const char* path = "") {
    KeeperMessage message;
    message.news = news;
    message.value = value;
    std::snprintf(message.path, sizeof message.path, "%s", path);
    [[maybe_unused]] const ssize_t written = write(report, &message, sizeof message);
}

bool WriteSmallFile(const char* path, const std::string& text) {
    const int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    return written;
}

// Inside the new user namespace the checker's user is itself, so files and
// blocks keep their owner and the block names their user number.
bool MapOwnUser(uid_t uid, gid_t gid) {
    return WriteSmallFile("/proc/self/setgroups", "deny") &&
           WriteSmallFile("/proc/self/uid_map",
                          std::to_string(uid) + " " + std::to_string(uid) + " 1") &&
           WriteSmallFile("/proc/self/gid_map",
                          std::to_string(gid) + " " + std::to_string(gid) + " 1");
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

// Writes only in the scratch folder, into its own block and /dev/null; no TCP; no signals or
// abstract sockets beyond its own processes.
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
    if (plan.block[0] != '\0') {
        AllowBeneath(ruleset, plan.block, kFsWriteFile);
    }
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

// The process id as the checker, outside the namespace, sees it: /proc is
// the checker's.
std::int32_t OuterPid() {
    char text[32] = {};
    const ssize_t length = readlink("/proc/self", text, sizeof text - 1);
    return length > 0 ? std::atoi(text) : 0;
}

// What the program's fork does last before exec.
struct ProgramStart {
    const KeeperPlan* plan = nullptr;
    int listener = -1;
    int pidReport = -1;  // write end: the program's process id as the checker sees it
};

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

// ---- The seccomp watch ------------------------------------------------------
#ifdef HERDLAB_HAVE_SECCOMP

// Every socket and every open for writing goes to the keeper.
int InstallWatchFilter() {
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
    if (filter == nullptr) {
        return -1;
    }
    bool added =
        seccomp_rule_add(filter, SCMP_ACT_NOTIFY, SCMP_SYS(socket), 0) == 0 &&
        seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(io_uring_setup), 0) == 0 &&
        seccomp_rule_add(filter, SCMP_ACT_NOTIFY, SCMP_SYS(creat), 0) == 0 &&
        seccomp_rule_add(filter, SCMP_ACT_NOTIFY, SCMP_SYS(mkdir), 0) == 0 &&
        seccomp_rule_add(filter, SCMP_ACT_NOTIFY, SCMP_SYS(mkdirat), 0) == 0;
    for (const scmp_datum_t flag : {O_WRONLY, O_RDWR, O_CREAT}) {
        added = added &&
                seccomp_rule_add(filter, SCMP_ACT_NOTIFY, SCMP_SYS(open), 1,
                                 SCMP_A1(SCMP_CMP_MASKED_EQ, flag, flag)) == 0 &&
                seccomp_rule_add(filter, SCMP_ACT_NOTIFY, SCMP_SYS(openat), 1,
                                 SCMP_A2(SCMP_CMP_MASKED_EQ, flag, flag)) == 0;
    }
    const int listener = added && seccomp_load(filter) == 0 ? seccomp_notify_fd(filter) : -1;
    seccomp_release(filter);
    return listener;
}

// A path from the memory of the process that asked, page by page, so that
// a string ending just before an unmapped page is still read.
std::string PathOfCaller(pid_t pid, std::uint64_t address) {
    std::string path;
    constexpr std::uint64_t kPage = 4096;
    char buffer[kPage];
    while (path.size() < 1024) {
        const std::size_t chunk = kPage - address % kPage;
        iovec local = {buffer, chunk};
        iovec remote = {reinterpret_cast<void*>(address), chunk};
        const ssize_t got = process_vm_readv(pid, &local, 1, &remote, 1, 0);
        if (got <= 0) {
            break;
        }
        const std::size_t length = strnlen(buffer, static_cast<std::size_t>(got));
        path.append(buffer, length);
        if (length < static_cast<std::size_t>(got)) {
            break;
        }
        address += static_cast<std::uint64_t>(got);
    }
    return path;
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

// Whether a write to `path` stays where the child may write. A relative
// path counts from the scratch folder, the child's current folder. The
// block's folder is the one a child's layer makes sure of (it exists).
bool WriteAllowed(const std::string& path, const KeeperPlan& plan) {
    const std::string scratch = plan.scratch;
    const std::string block = plan.block;
    const std::string full = Normalized(path.starts_with("/") ? path : scratch + "/" + path);
    return Beneath(full, scratch) || full == "/dev/null" || SanitizerRuntimeFile(full) ||
           (!block.empty() && (full == block || full == block.substr(0, block.rfind('/'))));
}

// The path argument of a watched call, and the folder it is relative to.
std::uint64_t PathArgument(const seccomp_data& call, bool& relativeToFd) {
    const bool at = call.nr == SCMP_SYS(openat) || call.nr == SCMP_SYS(mkdirat);
    relativeToFd = at && static_cast<int>(call.args[0]) != AT_FDCWD;
    return at ? call.args[1] : call.args[0];
}

void NoteWrite(const KeeperPlan& plan, const seccomp_notif& request) {
    bool relativeToFd = false;
    const std::uint64_t address = PathArgument(request.data, relativeToFd);
    const std::string path = PathOfCaller(static_cast<pid_t>(request.pid), address);
    // Only what can be resolved here is reported; Landlock refuses the rest too.
    if (!path.empty() && !(relativeToFd && !path.starts_with("/")) && !WriteAllowed(path, plan)) {
        Send(plan.report, KeeperNews::kWroteOutside, 0, path.c_str());
    }
}

// Answers one watched call: a socket is refused; an open or a folder is
// noted and left to the kernel, where Landlock decides.
void AnswerCall(const KeeperPlan& plan, int listener) {
    seccomp_notif* request = nullptr;
    seccomp_notif_resp* response = nullptr;
    if (seccomp_notify_alloc(&request, &response) != 0) {
        return;
    }
    if (seccomp_notify_receive(listener, request) == 0) {
        response->id = request->id;
        if (request->data.nr == SCMP_SYS(socket)) {
            const auto family = static_cast<int>(request->data.args[0]);
            if (family == AF_INET || family == AF_INET6 || family == AF_PACKET) {
                Send(plan.report, KeeperNews::kNetworkTried, family);
            }
            response->error = -EACCES;
        } else {
            NoteWrite(plan, *request);
            response->flags = SECCOMP_USER_NOTIF_FLAG_CONTINUE;
        }
        seccomp_notify_respond(listener, response);
    }
    seccomp_notify_free(request, response);
}

bool WatchOffered() {
    return seccomp_api_get() >= 5;  // the notify calls
}

#else  // built without libseccomp: no watch, and the protection line says so

int InstallWatchFilter() {
    return -1;
}
void AnswerCall(const KeeperPlan&, int) {}
bool WatchOffered() {
    return false;
}

#endif

// ---- Supervising ------------------------------------------------------------

// Waits up to `ms` for a watched call and answers it.
void WatchFor(const KeeperPlan& plan, int listener, int pidfd, int ms) {
    pollfd watched[2] = {{listener, POLLIN, 0}, {pidfd, POLLIN, 0}};
    if (poll(watched, 2, ms) > 0 && (watched[0].revents & POLLIN) != 0) {
        AnswerCall(plan, listener);
    }
}

// Reaps every ended child; true once the program itself has ended.
bool ReapEnded(pid_t program, int& programStatus) {
    bool programEnded = false;
    int status = 0;
    pid_t pid;
    while ((pid = waitpid(-1, &status, WNOHANG)) > 0) {
        if (pid == program) {
            programStatus = status;
            programEnded = true;
        }
    }
    return programEnded;
}

bool AnyChildLeft() {
    siginfo_t info = {};
    return waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == 0;
}

// Ends every process below the keeper. In its own process namespace the
// keeper is the first process, and kill(-1) reaches all the others.
void EndEverything(bool ownNamespace, pid_t self) {
    for (int round = 0; round < 100 && AnyChildLeft(); ++round) {
        if (ownNamespace) {
            kill(-1, SIGKILL);
        } else {
            for (pid_t pid : Descendants(self)) {
                kill(pid, SIGKILL);
            }
        }
        int status = 0;
        while (waitpid(-1, &status, WNOHANG) > 0) {
        }
        usleep(1000);
    }
}

[[noreturn]] void Supervise(const KeeperPlan& plan, pid_t program, int listener) {
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, program, 0));
    int status = 0;
    while (!ReapEnded(program, status)) {
        WatchFor(plan, listener, pidfd, kKeeperLookMs);
    }
    // What the program started may still be ending; what remains after a
    // moment was left running.
    const pid_t self = OuterPid();
    for (int waited = 0; waited < kStragglerGraceMs && AnyChildLeft(); waited += 10) {
        WatchFor(plan, listener, -1, 10);
        int ignored = 0;
        ReapEnded(program, ignored);
    }
    const int left = static_cast<int>(Descendants(self).size());
    if (left > 0) {
        Send(plan.report, KeeperNews::kLeftBehind, left);
    }
    EndEverything(plan.support.namespaces, self);
    Send(plan.report, KeeperNews::kProgramEnded, status);
    _exit(0);
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

// The first process below the keeper (in the namespaces, their first
// process): starts the program and ends with it and what it left.
[[noreturn]] void RunFirstProcess(const KeeperPlan& plan, int listener) {
    int pidPipe[2] = {-1, -1};
    if (chdir(plan.scratch) != 0 || pipe2(pidPipe, O_CLOEXEC) != 0) {
        Send(plan.report, KeeperNews::kExecFailed, errno);
        _exit(0);
    }
    ProgramStart start{&plan, listener, pidPipe[1]};
    herdlab_toolkit::ChildRequest request;
    request.program = plan.program;
    for (char* const* word = plan.argv; *word != nullptr; ++word) {
        request.words.emplace_back(*word);
    }
    request.input = plan.input;
    request.output = plan.output;
    request.errorOutput = plan.output;
    request.beforeExec = ConfineProgram;
    request.beforeExecContext = &start;
    herdlab_toolkit::StartedChild program;
    const std::uint32_t error = herdlab_toolkit::StartChildProcess(request, program);
    close(pidPipe[1]);
    std::int32_t outerPid = 0;
    if (error != 0 || read(pidPipe[0], &outerPid, sizeof outerPid) != sizeof outerPid) {
        Send(plan.report, KeeperNews::kExecFailed, static_cast<std::int32_t>(error));
        _exit(0);
    }
    Send(plan.report, KeeperNews::kStarted, outerPid);
    Supervise(plan, static_cast<pid_t>(program.process), listener);
}

// The keeper above the namespaces: answers the watched calls until their
// first process has ended.
[[noreturn]] void AnswerCalls(const KeeperPlan& plan, pid_t first, int listener) {
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, first, 0));
    int status = 0;
    while (waitpid(first, &status, WNOHANG) == 0) {
        WatchFor(plan, listener, pidfd, kKeeperLookMs);
    }
    _exit(0);
}

}  // namespace

SandboxSupport ProbeSandbox() {
    SandboxSupport support;
    support.namespaces = NamespacesWork();
    const long abi = syscall(SYS_landlock_create_ruleset, nullptr, 0, kLandlockVersion);
    support.landlockAbi = abi > 0 ? static_cast<int>(abi) : 0;
    support.seccomp = WatchOffered();
#ifdef HERDLAB_HAVE_SECCOMP
    support.callWatchBuilt = true;
#endif
    return support;
}

[[noreturn]] void RunKeeper(const KeeperPlan& plan) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != plan.checker) {
        _exit(127);  // the checker is gone already
    }
    prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    if (!plan.support.namespaces) {
        prctl(PR_SET_CHILD_SUBREAPER, 1);  // orphans of the program come here
        RunFirstProcess(plan, plan.support.seccomp ? InstallWatchFilter() : -1);
    }
    if (unshare(CLONE_NEWUSER | CLONE_NEWPID | CLONE_NEWNET) != 0 ||
        !MapOwnUser(plan.uid, plan.gid)) {
        Send(plan.report, KeeperNews::kExecFailed, errno);
        _exit(0);
    }
    // After the keeper's own writes: from here on it opens nothing for
    // writing, or it would wait for its own answer.
    const int listener = plan.support.seccomp ? InstallWatchFilter() : -1;
    const pid_t first = fork();
    if (first == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (listener >= 0) {
            close(listener);
        }
        RunFirstProcess(plan, -1);
    }
    if (first < 0) {
        Send(plan.report, KeeperNews::kExecFailed, errno);
        _exit(0);
    }
    AnswerCalls(plan, first, listener);
}
