// The checker's children on Linux: each runs under a keeper process of its
// own (keeper_linux.h), which reports through a pipe; the checker reads the
// children's processor time and memory from /proc and ends a child with
// everything below its keeper.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "child_block_unit.h"
#include "child_process_unit.h"
#include "cp1251_unit.h"
#include "format_unit.h"
#include "herdlab_toolkit.h"
#include "keeper_linux.h"
#include "keeper_news_linux.h"
#include "process_table_linux.h"
#include "win32.h"

namespace {

// Output read per call at most, so that a child writing without pause
// cannot keep the checker in one call.
constexpr std::size_t kMostDrainPerCall = 256 * 1024;

SandboxSupport sandbox;

// A name without a folder runs from the current folder when it is there,
// else from PATH, as a teacher typing it in the children's folder expects.
// Made absolute, since the child runs in its scratch folder.
std::string ProgramToRun(std::string_view programPath) {
    const std::string path = NativePath(programPath);
    struct stat status {};
    if (path.find('/') != std::string::npos || stat(path.c_str(), &status) == 0) {
        return std::filesystem::absolute(path).string();
    }
    const char* searched = std::getenv("PATH");
    std::string folders = searched != nullptr ? searched : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
        const std::size_t end = std::min(folders.find(':', start), folders.size());
        const std::string candidate =
            (end > start ? folders.substr(start, end - start) : std::string(".")) + "/" + path;
        if (access(candidate.c_str(), X_OK) == 0) {
            return std::filesystem::absolute(candidate).string();
        }
        start = end + 1;
    }
    return path;  // exec then reports that it is not there
}

void CloseAll(std::initializer_list<int> fds) {
    for (int fd : fds) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

// A scratch folder of the child's own, readable only by the teacher.
bool MakeScratch(std::string& folder) {
    std::string pattern = ScratchParent() + "/herdcheck-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        return false;
    }
    folder = pattern;
    return true;
}

pid_t StartKeeper(const KeeperPlan& plan) {
    const pid_t keeper = fork();
    if (keeper == 0) {
        RunKeeper(plan);
    }
    return keeper;
}

// The program's argv: `words` in UTF-8, kept in `utf8Words`, and a null.
std::vector<char*> ArgvOf(const std::vector<std::string>& words,
                          std::vector<std::string>& utf8Words) {
    for (const std::string& word : words) {
        utf8Words.push_back(herdlab_toolkit::Utf8FromCp1251(word));
    }
    std::vector<char*> argv;
    for (std::string& word : utf8Words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    return argv;
}

void TakeAllNews(ChildProcess& child) {
    KeeperMessage message;
    while (child.keeperNews >= 0 && ReadKeeperMessage(child.keeperNews, message, false)) {
        TakeKeeperNews(child, message);
    }
}

// Ends the keeper and everything below it, and reaps the keeper.
void EndKeeperTree(pid_t keeper) {
    for (int round = 0; round < 100; ++round) {
        const std::vector<pid_t> below = Descendants(keeper);
        if (below.empty()) {
            break;
        }
        for (pid_t pid : below) {
            kill(pid, SIGKILL);
        }
        usleep(1000);
    }
    kill(keeper, SIGKILL);
    while (waitpid(keeper, nullptr, 0) < 0 && errno == EINTR) {
    }
}

// What the machine, or this build of the checker, cannot contain.
std::string NamedGaps(const SandboxSupport& support) {
    std::vector<std::string_view> gaps;
    if (!support.namespaces) {
        gaps.push_back(
            "нет пространств имён: сеть по UDP открыта, процессы ищутся по родителям"_cp1251);
    }
    if (support.landlockAbi == 0) {
        gaps.push_back("нет Landlock: запись вне папки не запрещена"_cp1251);
    } else if (support.landlockAbi < 4 && !support.namespaces) {
        gaps.push_back("Landlock без сети"_cp1251);
    }
    if (!support.callWatchBuilt) {
        gaps.push_back(
            "нет слежения за вызовами (herdcheck собран без libseccomp): попытки сети и записи не видны"_cp1251);
    } else if (!support.seccomp) {
        gaps.push_back("нет seccomp: попытки сети и записи не видны"_cp1251);
    }
    std::string text;
    for (std::string_view gap : gaps) {
        text += text.empty() ? "" : "; ";
        text += gap;
    }
    return text;
}

}  // namespace

void PrepareChildren() {
    // A child that closes its pipe early must not end the checker.
    signal(SIGPIPE, SIG_IGN);
    // An interpreter's own caches beside the program are not the child's
    // doing: Python writes none when its children inherit this.
    setenv("PYTHONDONTWRITEBYTECODE", "1", 1);
    sandbox = ProbeSandbox();
}

std::string ProtectionLine(const SandboxSupport& support) {
    std::string text = FormatText(
        kAddressSpaceLimited
            ? "защита: до %d процессов, до %d МБ памяти на процесс, ничего не остаётся после проверки"_cp1251
            : "защита: до %d процессов, до %d МБ памяти в сумме, ничего не остаётся после проверки"_cp1251,
        {kMostProcessesAtOnce, kMostMemoryMegabytes});
    if (support.landlockAbi > 0) {
        text += ", запись только в свою папку"_cp1251;
    }
    if (support.namespaces || (support.seccomp && support.callWatchBuilt)) {
        text += ", без сети"_cp1251;
    }
    const std::string gaps = NamedGaps(support);
    if (!gaps.empty()) {
        text += "; не хватает: "_cp1251;
        text += gaps;
    }
    return text;
}

std::string ProtectionSummary() {
    return ProtectionLine(sandbox);
}

std::string NativePath(std::string_view path) {
    return herdlab_toolkit::Utf8FromCp1251(path);
}

bool MakeChildScratch(ChildProcess& child, std::uint32_t& error) {
    if (MakeScratch(child.scratch)) {
        return true;
    }
    error = static_cast<std::uint32_t>(errno);
    return false;
}

bool StartContainedChild(std::string_view programPath, const std::vector<std::string>& words,
                         ChildProcess& child, std::uint32_t& error) {
    const std::string path = ProgramToRun(programPath);
    const std::string runtime = ChildRuntimeFolder(child.scratch);
    std::vector<std::string> utf8Words;
    std::vector<char*> argv = ArgvOf(words, utf8Words);
    int outputPipe[2] = {-1, -1};
    int newsPipe[2] = {-1, -1};
    const int input = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (input < 0 || pipe2(outputPipe, O_CLOEXEC) != 0 || pipe2(newsPipe, O_CLOEXEC) != 0) {
        error = static_cast<std::uint32_t>(errno);
        CloseAll({input, outputPipe[0], outputPipe[1], newsPipe[0], newsPipe[1]});
        ReleaseChild(child);
        return false;
    }
    KeeperPlan plan;
    plan.program = path.c_str();
    plan.argv = argv.data();
    plan.input = input;
    plan.output = outputPipe[1];
    plan.report = newsPipe[1];
    plan.scratch = child.scratch.c_str();
    plan.runtimeFolder = runtime.c_str();
    plan.support = sandbox;
    plan.uid = getuid();
    plan.gid = getgid();
    plan.checker = getpid();
    const pid_t keeper = StartKeeper(plan);
    const int forkError = errno;
    CloseAll({input, outputPipe[1], newsPipe[1]});
    child.keeperPid = keeper;
    child.output = outputPipe[0];
    child.keeperNews = newsPipe[0];
    if (keeper < 0 || !AwaitKeeperStart(child, error)) {
        if (keeper < 0) {
            error = static_cast<std::uint32_t>(forkError);
        } else {
            EndKeeperTree(keeper);  // what it may have started is ended, not waited for
        }
        child.keeperPid = -1;
        ReleaseChild(child);
        return false;
    }
    fcntl(outputPipe[0], F_SETFL, O_NONBLOCK);
    child.running = true;
    return true;
}

std::size_t DrainChildOutput(ChildProcess& child) {
    TakeAllNews(child);
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

// The keeper ends once the program has ended and nothing it started runs.
bool ChildEnded(ChildProcess& child, ChildEnd& how) {
    if (!child.running) {
        return false;
    }
    int status = 0;
    pid_t result;
    do {
        result = waitpid(child.keeperPid, &status, WNOHANG);
    } while (result < 0 && errno == EINTR);
    if (result != child.keeperPid) {
        return false;
    }
    child.running = false;
    TakeAllNews(child);
    if (!child.endReported) {  // the keeper itself was ended
        child.end = RunEnd::kCrashed;
        child.crashName = WIFSIGNALED(status) ? SignalName(WTERMSIG(status)) : "keeper";
    }
    how.end = child.end;
    how.exitCode = child.exitCode;
    how.crashName = child.crashName;
    return true;
}

ChildUsage SampleChild(ChildProcess& child) {
    ChildUsage usage;
    if (!child.running) {
        return usage;
    }
    const TreeUsage tree = UsageBelow(child.keeperPid);
    usage.cpuSeconds = tree.cpuSeconds;
    usage.runQueueSeconds = tree.runQueueSeconds;
    usage.checkerRunQueueSeconds = RunQueueSeconds(getpid());
    // The kernel's own limits hold them just below the line (and a process's
    // address space also holds what it has not touched yet); the checker
    // also watches the sums, which no kernel limit of an ordinary user covers.
    child.harms.processLimitReached |= tree.processes >= kMostProcessesAtOnce;
    child.harms.memoryLimitReached |=
        (kAddressSpaceLimited && tree.largestVirtualBytes >= kMostChildMemoryBytes / 8 * 7) ||
        tree.residentBytes > kMostChildMemoryBytes;
    usage.overLimit =
        tree.processes > kMostProcessesAtOnce || tree.residentBytes > kMostChildMemoryBytes;
    return usage;
}

void EndChild(ChildProcess& child) {
    if (!child.running) {
        return;
    }
    EndKeeperTree(child.keeperPid);
    child.running = false;
}

void ReleaseChild(ChildProcess& child) {
    EndChild(child);
    CloseAll({static_cast<int>(child.output), child.keeperNews});
    child.output = -1;
    child.keeperNews = -1;
    if (!child.scratch.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(child.scratch, ignored);
        child.scratch.clear();
    }
}
