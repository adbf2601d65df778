// Child processes: CreateProcessA and the calls on a process handle, and the
// process's own command line, file name and end.
//
// A process handle holds a pidfd, so exit queries and TerminateProcess can
// never reach a recycled pid. The child is vforked and gets its priority
// class before exec; an exec failure comes back through a close-on-exec
// pipe as the errno that GetLastError then reports.
//
// Exit codes of children that were killed by a signal: by TerminateProcess
// the code given to it; by SIGINT (Ctrl+C) 0xC000013A, which is what a
// Windows console process ended by Ctrl+C reports; by any other signal 128
// plus the signal number, as shells report it.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "layer_private.h"

namespace winapi_internal {
namespace {

constexpr DWORD kErrorInsufficientBuffer = 122;
constexpr DWORD kControlCExit = 0xC000013Au;  // STATUS_CONTROL_C_EXIT

struct ProcessObject {
    HandleHeader header{kHandleMagic, HandleKind::kProcess};
    int pidfd = -1;
    pid_t pid = 0;
    std::mutex lock;  // the monitor queries and ends children from two threads
    bool exited = false;
    DWORD exitCode = STILL_ACTIVE;
    bool terminating = false;
    DWORD terminateCode = 0;
};

// The main thread of a child; its id is the child's pid.
struct ChildThreadObject {
    HandleHeader header{kHandleMagic, HandleKind::kThread};
    pid_t tid = 0;
};

// Which thread objects are children's main threads, so that CloseHandle can
// tell them from the objects of CreateThread.
std::mutex gChildThreadsLock;
std::unordered_set<HandleHeader*>* gChildThreads = new std::unordered_set<HandleHeader*>;

ProcessObject* ProcessOf(HANDLE handle) {
    return reinterpret_cast<ProcessObject*>(HandleOfKind(handle, HandleKind::kProcess));
}

// ---- Command line ------------------------------------------------------------

bool IsSeparator(char c) {
    const auto code = static_cast<unsigned char>(c);
    return code >= 1 && code <= 32;
}

// The programs' own splitting: a word runs up to a character of code 1..32
// outside double quotes; quotes toggle quoting and are dropped; separators and
// an empty pair of quotes between words are skipped.
std::vector<std::string> SplitCommandLine(std::string_view text) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (true) {
        while (i < text.size() && text[i] != '\0') {
            if (IsSeparator(text[i])) {
                ++i;
            } else if (text[i] == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                i += 2;
            } else {
                break;
            }
        }
        if (i >= text.size() || text[i] == '\0') {
            return words;
        }
        std::string word;
        bool quoted = false;
        for (; i < text.size() && text[i] != '\0'; ++i) {
            if (text[i] == '"') {
                quoted = !quoted;
            } else if (IsSeparator(text[i]) && !quoted) {
                break;
            } else {
                word += text[i];
            }
        }
        words.push_back(std::move(word));
    }
}

// ---- Program search ----------------------------------------------------------

std::string ReadLink(const char* path) {
    std::string target(256, '\0');
    while (true) {
        const ssize_t length = readlink(path, target.data(), target.size());
        if (length < 0) {
            return {};
        }
        if (static_cast<std::size_t>(length) < target.size()) {
            target.resize(static_cast<std::size_t>(length));
            return target;
        }
        target.resize(target.size() * 2);
    }
}

bool IsExecutableFile(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           access(path.c_str(), X_OK) == 0;
}

// The folders searched for a program named without a folder, in Windows'
// order: the caller's own folder, the current folder, then PATH.
std::vector<std::string> SearchFolders() {
    std::vector<std::string> folders;
    const std::string self = ReadLink("/proc/self/exe");
    const std::size_t slash = self.rfind('/');
    if (slash != std::string::npos) {
        folders.push_back(slash == 0 ? "/" : self.substr(0, slash));
    }
    folders.emplace_back(".");
    if (const char* path = std::getenv("PATH")) {
        std::string_view rest = path;
        while (true) {
            const std::size_t colon = rest.find(':');
            const std::string_view folder = rest.substr(0, colon);
            folders.emplace_back(folder.empty() ? "." : std::string(folder));
            if (colon == std::string_view::npos) {
                break;
            }
            rest.remove_prefix(colon + 1);
        }
    }
    return folders;
}

// The file to run for `name` (UTF-8), or empty when there is none.
std::string FindProgram(const std::string& name) {
    if (name.find('/') != std::string::npos) {
        return name;  // a path: exec reports what is wrong with it
    }
    for (const std::string& folder : SearchFolders()) {
        std::string candidate = folder;
        if (candidate.back() != '/') {
            candidate += '/';
        }
        candidate += name;
        if (IsExecutableFile(candidate)) {
            return candidate;
        }
    }
    return {};
}

// ---- Starting the child ------------------------------------------------------

// Everything the child needs, prepared before fork: after fork only
// async-signal-safe system calls run, no allocation.
struct ChildPlan {
    const char* path;
    char* const* argv;
    DWORD priorityClass;
    int errorFd;    // write end of the close-on-exec error pipe
    int highestFd;  // for marking descriptors close-on-exec by hand
};

void ResetSignals() {
    // A handler of the launcher must not run in the child before exec. An
    // ignored signal stays ignored (like a Ctrl+C ignored on Windows), except
    // SIGPIPE and SIGCHLD, whose ignoring would break ordinary programs.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal) {
        struct sigaction current {};
        if (signal == SIGKILL || signal == SIGSTOP || sigaction(signal, nullptr, &current) != 0) {
            continue;
        }
        const bool ignored = current.sa_handler == SIG_IGN && (current.sa_flags & SA_SIGINFO) == 0;
        const bool keepIgnored = ignored && signal != SIGPIPE && signal != SIGCHLD;
        if (current.sa_handler != SIG_DFL && !keepIgnored) {
            sigaction(signal, &fallback, nullptr);
        }
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

// Only standard input, output and error pass to the program. They pass as
// they are: where the launcher has one of them closed, the layer's own
// descriptors (the error pipe, a pidfd) may hold its number, and they must
// stay close-on-exec.
void LimitDescriptors(const ChildPlan& plan) {
    // Close-on-exec rather than closed: the error pipe must stay usable.
    if (close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) == 0) {
        return;
    }
    for (int fd = 3; fd <= plan.highestFd; ++fd) {
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
}

[[noreturn]] void RunChild(const ChildPlan& plan) {
    ResetSignals();
    LimitDescriptors(plan);
    if (plan.priorityClass != 0) {
        RaiseNiceRight();
        ApplyPriorityClass(plan.priorityClass);
    }
    DropNiceRight();
    execv(plan.path, plan.argv);
    const int error = errno;
    ssize_t written;
    do {
        written = write(plan.errorFd, &error, sizeof error);
    } while (written < 0 && errno == EINTR);
    _exit(127);
}

int HighestDescriptor() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
        limit.rlim_cur > 65536) {
        return 65535;
    }
    return static_cast<int>(limit.rlim_cur) - 1;
}

void Reap(pid_t pid) {
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

// Forks and execs; the child's pid, or -1 with the errno of the failure
// (fork's, or the exec's as the child reported it).
pid_t StartChild(const std::string& path, std::vector<char*>& argv, DWORD priorityClass) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        return -1;
    }
    const ChildPlan plan{path.c_str(), argv.data(), priorityClass, pipeFds[1], HighestDescriptor()};

    // vfork: the launcher has to wait until the child has reached exec
    // anyway (the error pipe), and vfork spares copying its page tables. The
    // child shares the launcher's memory until then and writes none of it.
    // No signal handler may run in the child before it has reset them.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    const pid_t pid = vfork();
    if (pid == 0) {
        RunChild(plan);
    }
    const int forkError = errno;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    close(pipeFds[1]);
    if (pid < 0) {
        close(pipeFds[0]);
        errno = forkError;
        return -1;
    }

    // The pipe closes at a successful exec; otherwise the child sends errno.
    int childError = 0;
    ssize_t got;
    do {
        got = read(pipeFds[0], &childError, sizeof childError);
    } while (got < 0 && errno == EINTR);
    close(pipeFds[0]);
    if (got == static_cast<ssize_t>(sizeof childError)) {
        Reap(pid);
        errno = childError;
        return -1;
    }
    return pid;
}

HANDLE NewProcessObject(pid_t pid, int pidfd) {
    auto* object = new ProcessObject;
    object->pid = pid;
    object->pidfd = pidfd;
    return object;
}

HANDLE NewChildThreadObject(pid_t pid) {
    auto* object = new ChildThreadObject;
    object->tid = pid;
    std::lock_guard<std::mutex> guard(gChildThreadsLock);
    gChildThreads->insert(&object->header);
    return object;
}

// ---- Exit status ---------------------------------------------------------------

DWORD ExitCodeOf(const siginfo_t& info, const ProcessObject& process) {
    if (info.si_code == CLD_EXITED) {
        return static_cast<DWORD>(info.si_status) & 0xFFu;
    }
    if (process.terminating && info.si_status == SIGKILL) {
        return process.terminateCode;
    }
    if (info.si_status == SIGINT) {
        return kControlCExit;
    }
    return 128u + static_cast<DWORD>(info.si_status);
}

// Reaps the child if it has ended and caches its code. Caller holds the lock.
// False when the child cannot be waited for (someone else reaped it).
bool PollExit(ProcessObject& process) {
    siginfo_t info{};
    int result;
    do {
        result = waitid(P_PIDFD, static_cast<id_t>(process.pidfd), &info, WEXITED | WNOHANG);
    } while (result < 0 && errno == EINTR);
    if (result < 0) {
        return false;
    }
    if (info.si_pid != 0) {
        process.exited = true;
        process.exitCode = ExitCodeOf(info, process);
    }
    return true;
}

// Whether the child has ended, without reaping it. Caller holds the lock.
bool HasEnded(ProcessObject& process) {
    if (process.exited) {
        return true;
    }
    siginfo_t info{};
    int result;
    do {
        result =
            waitid(P_PIDFD, static_cast<id_t>(process.pidfd), &info, WEXITED | WNOHANG | WNOWAIT);
    } while (result < 0 && errno == EINTR);
    return result < 0 || info.si_pid != 0;
}

// ---- The process's own command line ----------------------------------------------

std::string ReadWholeFile(const char* path) {
    std::string content;
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return content;
    }
    char chunk[4096];
    while (true) {
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        content.append(chunk, static_cast<std::size_t>(got));
    }
    close(fd);
    return content;
}

// One argv word in Windows-1251, written so the programs' splitting reads it
// back whole. Their rules cannot express a double quote inside a word, so one
// is dropped; an empty word is written as "" although their splitting skips
// it (nothing can express an empty word).
std::string QuoteWord(std::string_view utf8Word) {
    std::string word;
    for (char c : Utf8ToCp1251(utf8Word)) {
        if (c != '"') {
            word += c;
        }
    }
    bool needsQuotes = word.empty();
    for (char c : word) {
        needsQuotes = needsQuotes || IsSeparator(c);
    }
    return needsQuotes ? '"' + word + '"' : word;
}

std::string BuildCommandLine() {
    const std::string arguments = ReadWholeFile("/proc/self/cmdline");
    std::string line;
    std::size_t start = 0;
    while (start < arguments.size()) {
        std::size_t end = arguments.find('\0', start);
        if (end == std::string::npos) {
            end = arguments.size();
        }
        if (!line.empty()) {
            line += ' ';
        }
        line += QuoteWord(std::string_view(arguments).substr(start, end - start));
        start = end + 1;
    }
    return line;
}

}  // namespace

BOOL CloseProcessObject(HandleHeader* object) {
    auto* process = reinterpret_cast<ProcessObject*>(object);
    // A child that has already ended is reaped now rather than left a zombie
    // for the launcher's lifetime.
    if (!process->exited) {
        PollExit(*process);
    }
    close(process->pidfd);
    process->header.magic = 0;
    delete process;
    return TRUE;
}

bool CloseChildThreadObject(HandleHeader* object) {
    {
        std::lock_guard<std::mutex> guard(gChildThreadsLock);
        if (gChildThreads->erase(object) == 0) {
            return false;
        }
    }
    object->magic = 0;
    delete reinterpret_cast<ChildThreadObject*>(object);
    return true;
}

}  // namespace winapi_internal

using namespace winapi_internal;

BOOL CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine, LPSECURITY_ATTRIBUTES,
                    LPSECURITY_ATTRIBUTES, BOOL, DWORD dwCreationFlags, LPVOID lpEnvironment,
                    LPCSTR lpCurrentDirectory, LPSTARTUPINFOA,
                    LPPROCESS_INFORMATION lpProcessInformation) {
    if (lpApplicationName != nullptr || lpCommandLine == nullptr || lpEnvironment != nullptr ||
        lpCurrentDirectory != nullptr || lpProcessInformation == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<std::string> words = SplitCommandLine(lpCommandLine);
    if (words.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    for (std::string& word : words) {
        word = Cp1251ToUtf8(word);
    }
    const std::string path = FindProgram(words[0]);
    if (path.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    const pid_t pid = StartChild(path, argv, PriorityClassFromFlags(dwCreationFlags));
    if (pid < 0) {
        SetLastError(static_cast<DWORD>(errno));
        return FALSE;
    }
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (pidfd < 0) {
        // Not yet reaped, so the pid is still this child's.
        const int error = errno;
        kill(pid, SIGKILL);
        Reap(pid);
        SetLastError(static_cast<DWORD>(error));
        return FALSE;
    }
    fcntl(pidfd, F_SETFD, FD_CLOEXEC);
    lpProcessInformation->hProcess = NewProcessObject(pid, pidfd);
    lpProcessInformation->hThread = NewChildThreadObject(pid);
    lpProcessInformation->dwProcessId = static_cast<DWORD>(pid);
    lpProcessInformation->dwThreadId = static_cast<DWORD>(pid);
    return TRUE;
}

BOOL GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
    if (lpExitCode == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (hProcess == GetCurrentProcess()) {
        *lpExitCode = STILL_ACTIVE;
        return TRUE;
    }
    ProcessObject* process = ProcessOf(hProcess);
    if (process == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(process->lock);
    if (!process->exited && !PollExit(*process)) {
        // Reaped behind the layer's back (SIGCHLD ignored, or a wait for any
        // child): the child has ended, its code is lost. Report it ended, so
        // a caller that ignores the result does not wait for it forever.
        const int error = errno;
        process->exited = true;
        process->exitCode = process->terminating ? process->terminateCode : 0;
        *lpExitCode = process->exitCode;
        SetLastError(static_cast<DWORD>(error));
        return FALSE;
    }
    *lpExitCode = process->exited ? process->exitCode : STILL_ACTIVE;
    return TRUE;
}

BOOL TerminateProcess(HANDLE hProcess, UINT uExitCode) {
    if (hProcess == GetCurrentProcess()) {
        ExitProcess(uExitCode);
    }
    ProcessObject* process = ProcessOf(hProcess);
    if (process == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(process->lock);
    // Windows refuses to end a process that has already ended.
    if (HasEnded(*process)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (process->terminating) {
        return TRUE;  // already being ended; the first code stands
    }
    if (syscall(SYS_pidfd_send_signal, process->pidfd, SIGKILL, nullptr, 0) != 0) {
        SetLastError(errno == ESRCH ? ERROR_ACCESS_DENIED : static_cast<DWORD>(errno));
        return FALSE;
    }
    process->terminating = true;
    process->terminateCode = uExitCode;
    return TRUE;
}

HANDLE GetCurrentProcess() {
    return INVALID_HANDLE_VALUE;
}  // the pseudo handle, as on Windows

DWORD GetCurrentProcessId() {
    return static_cast<DWORD>(getpid());
}

DWORD GetPriorityClass(HANDLE hProcess) {
    if (hProcess == GetCurrentProcess()) {
        return PriorityClassOf(getpid());
    }
    ProcessObject* process = ProcessOf(hProcess);
    if (process == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    // While the child is not reaped its pid cannot be reused.
    std::lock_guard<std::mutex> guard(process->lock);
    if (process->exited) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    return PriorityClassOf(process->pid);
}

void ExitProcess(UINT uExitCode) {
    // No static destructors, which could race the other threads. Buffered C
    // output is written out, as Windows' C runtime does at process end; only
    // stdout and stderr, since another thread may sit in a read holding the
    // lock of an input stream.
    std::fflush(stdout);
    std::fflush(stderr);
    RemoveCreatedMappingNames();  // as Windows closes the handles of an ending process
    _exit(static_cast<int>(uExitCode));
}

LPSTR GetCommandLineA() {
    static std::once_flag once;
    static std::string* commandLine = nullptr;  // never freed: valid until the process ends
    std::call_once(once, [] { commandLine = new std::string(BuildCommandLine()); });
    return commandLine->data();
}

DWORD GetModuleFileNameA(HANDLE hModule, LPSTR lpFilename, DWORD nSize) {
    if (hModule != nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    const std::string utf8 = ReadLink("/proc/self/exe");
    if (utf8.empty()) {
        SetLastError(static_cast<DWORD>(errno));
        return 0;
    }
    const std::string name = Utf8ToCp1251(utf8);
    if (nSize == 0 || lpFilename == nullptr) {
        SetLastError(kErrorInsufficientBuffer);
        return 0;
    }
    // Windows: a name that does not fit is cut to nSize - 1 characters and
    // the full buffer size is returned with ERROR_INSUFFICIENT_BUFFER.
    if (name.size() >= nSize) {
        std::memcpy(lpFilename, name.data(), nSize - 1);
        lpFilename[nSize - 1] = '\0';
        SetLastError(kErrorInsufficientBuffer);
        return nSize;
    }
    std::memcpy(lpFilename, name.c_str(), name.size() + 1);
    return static_cast<DWORD>(name.size());
}
