// Process handles: CreateProcessA and the calls on a process handle, and the
// process's own id, priority and end. The command line is read in
// command_line.cpp, the child started in spawn.cpp; its main thread's handle
// is in child_thread.cpp, the processors it may use in process_affinity.cpp.
//
// Exit codes of children that were killed by a signal: by TerminateProcess
// the code given to it; by SIGINT (Ctrl+C) 0xC000013A, which is what a
// Windows console process ended by Ctrl+C reports; by any other signal 128
// plus the signal number, as shells report it.
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "command_line.h"
#include "mapping_cleanup.h"
#include "priority_classes.h"
#include "process_objects.h"
#include "queue_names.h"
#include "text_conversion.h"

namespace winapi_internal {
namespace {

constexpr DWORD kControlCExit = 0xC000013Au;  // STATUS_CONTROL_C_EXIT

HANDLE NewProcessObject(pid_t pid, int pidfd) {
    auto* object = new ProcessObject;
    object->pid = pid;
    object->pidfd = pidfd;
    return NewHandle(&object->header);
}

// The child's words in UTF-8 and its program's file, from a command line in
// Windows-1251. ERROR_SUCCESS, or the error CreateProcessA fails with.
DWORD ReadChildCommand(LPCSTR commandLine, std::vector<std::string>& words, std::string& path) {
    words = SplitCommandLine(commandLine);
    if (words.empty()) {
        return ERROR_INVALID_PARAMETER;
    }
    for (std::string& word : words) {
        word = Cp1251ToUtf8(word);
    }
    path = FindProgram(words[0]);
    return path.empty() ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
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

}  // namespace

void ReleaseProcessObject(HandleHeader* object) {
    auto* process = reinterpret_cast<ProcessObject*>(object);
    // A child that has already ended is reaped now rather than left a zombie
    // for the launcher's lifetime.
    if (!process->exited) {
        PollExit(*process);
    }
    close(process->pidfd);
    delete process;
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
    std::vector<std::string> words;
    std::string path;
    if (const DWORD error = ReadChildCommand(lpCommandLine, words, path); error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    HeldExec held;
    const bool suspended = (dwCreationFlags & CREATE_SUSPENDED) != 0;
    const pid_t pid = SpawnProgram(path, argv, PriorityClassFromFlags(dwCreationFlags),
                                   suspended ? &held : nullptr);
    if (pid < 0) {
        SetLastError(static_cast<DWORD>(errno));
        return FALSE;
    }
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (pidfd < 0) {
        // Not yet reaped, so the pid is still this child's.
        const int error = errno;
        kill(pid, SIGKILL);
        DropHeldExec(held);
        Reap(pid);
        SetLastError(static_cast<DWORD>(error));
        return FALSE;
    }
    fcntl(pidfd, F_SETFD, FD_CLOEXEC);
    lpProcessInformation->hProcess = NewProcessObject(pid, pidfd);
    lpProcessInformation->hThread = NewChildThreadObject(held);
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
    RemoveQueueNames();
    _exit(static_cast<int>(uExitCode));
}
