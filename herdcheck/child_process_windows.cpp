// The checker's children on Windows: started suspended through the tools'
// platform service and put into a job object of its own before they run,
// with a pipe for the output. The job limits the processes and memory of the
// child and all it starts, tells through a completion port when a limit was
// reached, and ends them all when it is closed, with the child or with the
// checker.
#include <cstdio>
#include <filesystem>
#include <string>

#include "child_process_unit.h"
#include "cp1251_unit.h"
#include "format_unit.h"
#include "handles_windows.h"
#include "herdlab_toolkit.h"
#include "win32.h"

namespace {

// Output read per call at most, so that a child writing without pause
// cannot keep the checker in one call.
constexpr DWORD kMostDrainPerCall = 256 * 1024;

// How long a terminated child may take to be gone.
constexpr DWORD kEndWaitMs = 5000;

std::intptr_t ValueOf(HANDLE handle) {
    return reinterpret_cast<std::intptr_t>(handle);
}

// The file to run: as typed, else with ".exe" added, as the console finds it.
// Made absolute, since the child runs in its scratch folder.
std::string ProgramToRun(std::string_view programPath) {
    std::string path(programPath);
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        const std::string withExtension = path + ".exe";
        if (GetFileAttributesA(withExtension.c_str()) != INVALID_FILE_ATTRIBUTES) {
            path = withExtension;
        }
    }
    char full[MAX_PATH] = {};
    const DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    return length > 0 && length < sizeof full ? std::string(full, length) : path;
}

// The words joined by single blanks and not quoted, as the feeder writes them.
std::string JoinedWords(const std::vector<std::string>& words) {
    std::string line;
    for (const std::string& word : words) {
        line += line.empty() ? "" : " ";
        line += word;
    }
    return line;
}

bool IsCrashCode(DWORD code) {
    return (code & 0xC0000000u) == 0xC0000000u;
}

std::string CrashName(DWORD code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(code));
    return text;
}

// A scratch folder of the child's own under the user's temporary folder.
bool MakeScratch(std::string& folder) {
    char temp[MAX_PATH] = {};
    const DWORD length = GetTempPathA(sizeof temp, temp);
    if (length == 0 || length >= sizeof temp) {
        return false;
    }
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[MAX_PATH + 64];
        std::snprintf(name, sizeof name, "%sherdcheck-%lu-%u", temp,
                      static_cast<unsigned long>(GetCurrentProcessId()), ++counter);
        if (CreateDirectoryA(name, nullptr)) {
            folder = name;
            return true;
        }
    }
    return false;
}

// A job of the child's own: at most kMostProcessesAtOnce processes and
// kMostMemoryMegabytes of committed memory together, all ended when the
// job's last handle closes, and its limit events sent to a completion port.
HANDLE CreateChildJob(HANDLE& events) {
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    if (job == nullptr) {
        return nullptr;
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE |
                                              JOB_OBJECT_LIMIT_ACTIVE_PROCESS |
                                              JOB_OBJECT_LIMIT_JOB_MEMORY;
    limits.BasicLimitInformation.ActiveProcessLimit = kMostProcessesAtOnce;
    limits.JobMemoryLimit = static_cast<SIZE_T>(kMostMemoryMegabytes) * 1024 * 1024;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    events = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
    if (events != nullptr) {
        JOBOBJECT_ASSOCIATE_COMPLETION_PORT port = {job, events};
        SetInformationJobObject(job, JobObjectAssociateCompletionPortInformation, &port,
                                sizeof port);
    }
    return job;
}

// The child starts in the checker's current folder: `folder` for the
// moment (the program's path is absolute by now). The platform's error
// number, 0 when it started.
std::uint32_t StartInFolder(const herdlab_toolkit::ChildRequest& request, const std::string& folder,
                            herdlab_toolkit::StartedChild& started) {
    char ownFolder[MAX_PATH] = {};
    const DWORD ownLength = GetCurrentDirectoryA(sizeof ownFolder, ownFolder);
    SetCurrentDirectoryA(folder.c_str());
    const std::uint32_t error = herdlab_toolkit::StartChildProcess(request, started);
    if (ownLength > 0 && ownLength < sizeof ownFolder) {
        SetCurrentDirectoryA(ownFolder);
    }
    return error;
}

// Takes in the job's limit events.
void TakeJobEvents(ChildProcess& child) {
    if (child.jobEvents == -1) {
        return;
    }
    DWORD message = 0;
    ULONG_PTR key = 0;
    LPOVERLAPPED detail = nullptr;
    while (GetQueuedCompletionStatus(HandleOf(child.jobEvents), &message, &key, &detail, 0)) {
        child.harms.processLimitReached |= message == JOB_OBJECT_MSG_ACTIVE_PROCESS_LIMIT;
        child.harms.memoryLimitReached |= message == JOB_OBJECT_MSG_JOB_MEMORY_LIMIT ||
                                          message == JOB_OBJECT_MSG_PROCESS_MEMORY_LIMIT;
    }
}

DWORD ActiveProcesses(const ChildProcess& child) {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting = {};
    return QueryInformationJobObject(HandleOf(child.job), JobObjectBasicAccountingInformation,
                                     &accounting, sizeof accounting, nullptr)
               ? accounting.ActiveProcesses
               : 0;
}

void CloseAndForget(std::intptr_t& handle) {
    if (handle != -1) {
        CloseHandle(HandleOf(handle));
        handle = -1;
    }
}

}  // namespace

// An interpreter's own caches beside the program are not the child's doing:
// Python writes none when its children inherit this.
void PrepareChildren() {
    SetEnvironmentVariableA("PYTHONDONTWRITEBYTECODE", "1");
}

std::string ProtectionSummary() {
    return FormatText(
        "защита: до %d процессов и %d МБ памяти вместе, ничего не остаётся после проверки; "
        "не хватает: запись вне своей папки и сеть не ограничены"_cp1251,
        {kMostProcessesAtOnce, kMostMemoryMegabytes});
}

std::string NativePath(std::string_view path) {
    return std::string(path);
}

bool MakeChildScratch(ChildProcess& child, std::uint32_t& error) {
    if (MakeScratch(child.scratch)) {
        return true;
    }
    error = GetLastError();
    return false;
}

bool StartContainedChild(std::string_view programPath, const std::vector<std::string>& words,
                         ChildProcess& child, std::uint32_t& error) {
    SECURITY_ATTRIBUTES inheritable = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) {
        error = GetLastError();
        ReleaseChild(child);
        return false;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    child.output = ValueOf(readEnd);
    HANDLE input = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               &inheritable, OPEN_EXISTING, 0, nullptr);
    herdlab_toolkit::ChildRequest request;
    request.program = ProgramToRun(programPath);
    request.commandLine = JoinedWords(words);
    request.input = input == INVALID_HANDLE_VALUE ? herdlab_toolkit::kNoHandle : ValueOf(input);
    request.output = ValueOf(writeEnd);
    request.errorOutput = ValueOf(writeEnd);
    request.windowsCreationFlags = NORMAL_PRIORITY_CLASS;
    request.suspended = true;  // into its job before it can start anything
    herdlab_toolkit::StartedChild started;
    error = StartInFolder(request, child.scratch, started);
    CloseHandle(writeEnd);
    if (input != INVALID_HANDLE_VALUE) {
        CloseHandle(input);
    }
    if (error != 0) {
        ReleaseChild(child);
        return false;
    }
    HANDLE events = nullptr;
    HANDLE job = CreateChildJob(events);
    child.job = job != nullptr ? ValueOf(job) : -1;
    child.jobEvents = events != nullptr ? ValueOf(events) : -1;
    if (job != nullptr) {
        AssignProcessToJobObject(job, HandleOf(started.process));
    }
    herdlab_toolkit::ResumeChildProcess(started);
    child.process = started.process;
    child.mainThread = started.thread;
    child.running = true;
    return true;
}

std::size_t DrainChildOutput(ChildProcess& child) {
    TakeJobEvents(child);
    if (child.output == -1) {
        return 0;
    }
    char buffer[16384];
    std::size_t total = 0;
    while (total < kMostDrainPerCall) {
        DWORD available = 0;
        if (!PeekNamedPipe(HandleOf(child.output), nullptr, 0, nullptr, &available, nullptr) ||
            available == 0) {
            break;
        }
        DWORD got = 0;
        if (!ReadFile(HandleOf(child.output), buffer, sizeof buffer, &got, nullptr) || got == 0) {
            break;
        }
        total += got;
    }
    return total;
}

// When the child has ended, what it started and left running is counted
// and ended with its job.
bool ChildEnded(ChildProcess& child, ChildEnd& how) {
    if (!child.running || WaitForSingleObject(HandleOf(child.process), 0) != WAIT_OBJECT_0) {
        return false;
    }
    child.running = false;
    DWORD code = 0;
    GetExitCodeProcess(HandleOf(child.process), &code);
    if (IsCrashCode(code)) {
        how.end = RunEnd::kCrashed;
        how.crashName = CrashName(code);
    } else {
        how.end = RunEnd::kExited;
        how.exitCode = code;
    }
    if (child.job != -1) {
        child.harms.leftBehind = static_cast<int>(ActiveProcesses(child));
        TerminateJobObject(HandleOf(child.job), 1);
    }
    TakeJobEvents(child);
    return true;
}

// The child's own processor time (under Wine its main thread's: see the toolkit).
ChildUsage SampleChild(ChildProcess& child) {
    ChildUsage usage;
    herdlab_toolkit::StartedChild started;
    started.process = child.process;
    started.thread = child.mainThread;
    const herdlab_toolkit::ProcessorReading reading =
        herdlab_toolkit::ReadProcessorTime(herdlab_toolkit::WatchChild(started));
    usage.cpuSeconds = reading.valid ? reading.milliseconds / 1000.0 : 0.0;
    TakeJobEvents(child);
    return usage;
}

void EndChild(ChildProcess& child) {
    if (!child.running) {
        return;
    }
    if (child.job != -1) {
        TerminateJobObject(HandleOf(child.job), 1);
    }
    TerminateProcess(HandleOf(child.process), 1);
    WaitForSingleObject(HandleOf(child.process), kEndWaitMs);
    child.running = false;
}

void ReleaseChild(ChildProcess& child) {
    EndChild(child);
    for (std::intptr_t* handle :
         {&child.output, &child.process, &child.mainThread, &child.job, &child.jobEvents}) {
        CloseAndForget(*handle);
    }
    if (!child.scratch.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(child.scratch, ignored);
        child.scratch.clear();
    }
}
