// The keeper process: starts the child's program, answers its watched
// calls, ends what it left, and tells the checker.
#include "keeper_linux.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "herdlab_toolkit.h"
#include "keeper_call_watch_linux.h"
#include "keeper_confinement_linux.h"
#include "keeper_news_linux.h"
#include "process_table_linux.h"

namespace {

// How often the keeper looks for ended processes when nothing else wakes it.
constexpr int kKeeperLookMs = 50;
// How long processes the program started may take to end after it.
constexpr int kStragglerGraceMs = 300;

// Waits up to `ms` for a watched call and answers it.
void WatchFor(const KeeperPlan& plan, int listener, int pidfd, int ms) {
    pollfd watched[2] = {{listener, POLLIN, 0}, {pidfd, POLLIN, 0}};
    if (poll(watched, 2, ms) > 0 && (watched[0].revents & POLLIN) != 0) {
        AnswerWatchedCall(plan, listener);
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
        SendKeeperNews(plan.report, KeeperNews::kLeftBehind, left);
    }
    EndEverything(plan.support.namespaces, self);
    SendKeeperNews(plan.report, KeeperNews::kProgramEnded, status);
    _exit(0);
}

// The first process below the keeper (in the namespaces, their first
// process): starts the program and ends with it and what it left.
[[noreturn]] void RunFirstProcess(const KeeperPlan& plan, int listener) {
    int pidPipe[2] = {-1, -1};
    if (chdir(plan.scratch) != 0 || setenv("XDG_RUNTIME_DIR", plan.runtimeFolder, 1) != 0 ||
        pipe2(pidPipe, O_CLOEXEC) != 0) {
        SendKeeperNews(plan.report, KeeperNews::kExecFailed, errno);
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
    request.signals = herdlab_toolkit::ChildSignals::kAllDefault;
    request.beforeExec = ConfineProgram;
    request.beforeExecContext = &start;
    herdlab_toolkit::StartedChild program;
    const std::uint32_t error = herdlab_toolkit::StartChildProcess(request, program);
    close(pidPipe[1]);
    std::int32_t outerPid = 0;
    if (error != 0 || read(pidPipe[0], &outerPid, sizeof outerPid) != sizeof outerPid) {
        SendKeeperNews(plan.report, KeeperNews::kExecFailed, static_cast<std::int32_t>(error));
        _exit(0);
    }
    SendKeeperNews(plan.report, KeeperNews::kStarted, outerPid);
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
    support.landlockAbi = LandlockAbi();
    support.seccomp = CallWatchOffered();
    support.callWatchBuilt = CallWatchBuilt();
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
        RunFirstProcess(plan, plan.support.seccomp ? InstallCallWatch() : -1);
    }
    if (unshare(CLONE_NEWUSER | CLONE_NEWPID | CLONE_NEWNET) != 0 ||
        !MapOwnUser(plan.uid, plan.gid)) {
        SendKeeperNews(plan.report, KeeperNews::kExecFailed, errno);
        _exit(0);
    }
    // After the keeper's own writes: from here on it opens nothing for
    // writing, or it would wait for its own answer.
    const int listener = plan.support.seccomp ? InstallCallWatch() : -1;
    const pid_t first = fork();
    if (first == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (listener >= 0) {
            close(listener);
        }
        RunFirstProcess(plan, -1);
    }
    if (first < 0) {
        SendKeeperNews(plan.report, KeeperNews::kExecFailed, errno);
        _exit(0);
    }
    AnswerCalls(plan, first, listener);
}
