// The checker's children on Windows: CreateProcessA, created suspended and
// put into a job object of its own before it runs, with a pipe for the
// output. The job limits the processes and memory of the child and all it
// starts, gives their processor time, tells through a completion port when
// a limit was reached, and ends them all when it is closed, with the child
// or with the checker.
#include <cstdio>
#include <filesystem>
#include <string>

#include "child_process_unit.h"
#include "cp1251_unit.h"
#include "format_unit.h"
#include "win32.h"

namespace {

// Output read per call at most, so that a child writing without pause
// cannot keep the checker in one call.
constexpr DWORD kMostDrainPerCall = 256 * 1024;

// How long a terminated child may take to be gone.
constexpr DWORD kEndWaitMs = 5000;

HANDLE HandleOf(std::intptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

std::intptr_t ValueOf(HANDLE handle) {
    return reinterpret_cast<std::intptr_t>(handle);
}

double Seconds(const LARGE_INTEGER& time) {
    return static_cast<double>(time.QuadPart) / 1e7;  // 100 ns units
}

double Seconds(const FILETIME& time) {
    ULARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    return static_cast<double>(value.QuadPart) / 1e7;
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

bool RunningUnderWine() {
    static const bool underWine =
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    return underWine;
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

// Takes in the job's limit events.
void TakeJobEvents(ChildProcess& child) {
    if (child.events == -1) {
        return;
    }
    DWORD message = 0;
    ULONG_PTR key = 0;
    LPOVERLAPPED detail = nullptr;
    while (GetQueuedCompletionStatus(HandleOf(child.events), &message, &key, &detail, 0)) {
        child.harms.processLimitReached |= message == JOB_OBJECT_MSG_ACTIVE_PROCESS_LIMIT;
        child.harms.memoryLimitReached |= message == JOB_OBJECT_MSG_JOB_MEMORY_LIMIT ||
                                          message == JOB_OBJECT_MSG_PROCESS_MEMORY_LIMIT;
    }
}

DWORD ActiveProcesses(const ChildProcess& child) {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting = {};
    return QueryInformationJobObject(HandleOf(child.watch), JobObjectBasicAccountingInformation,
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

void PrepareChildren() {}

std::string ProtectionSummary() {
    return FormatText(
        "защита: до %d процессов и %d МБ памяти вместе, ничего не остаётся после проверки; "
        "не хватает: запись вне своей папки и сеть не ограничены"_cp1251,
        {kMostProcessesAtOnce, kMostMemoryMegabytes});
}

std::string NativePath(std::string_view path) {
    return std::string(path);
}

bool StartContainedChild(std::string_view programPath, const std::vector<std::string>& words,
                         ChildProcess& child, std::uint32_t& error) {
    SECURITY_ATTRIBUTES inheritable = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!MakeScratch(child.scratch) || !CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) {
        error = GetLastError();
        ReleaseChild(child);
        return false;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    HANDLE input = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               &inheritable, OPEN_EXISTING, 0, nullptr);

    STARTUPINFOA startup = {};
    startup.cb = sizeof(STARTUPINFOA);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input == INVALID_HANDLE_VALUE ? nullptr : input;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION info = {};
    const std::string path = ProgramToRun(programPath);
    std::string commandLine = JoinedWords(words);
    const BOOL started = CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                        NORMAL_PRIORITY_CLASS | CREATE_SUSPENDED, nullptr,
                                        child.scratch.c_str(), &startup, &info);
    error = started ? 0 : GetLastError();
    CloseHandle(writeEnd);
    if (input != INVALID_HANDLE_VALUE) {
        CloseHandle(input);
    }
    child.output = ValueOf(readEnd);
    if (!started) {
        ReleaseChild(child);
        return false;
    }
    HANDLE events = nullptr;
    HANDLE job = CreateChildJob(events);
    child.watch = job != nullptr ? ValueOf(job) : -1;
    child.events = events != nullptr ? ValueOf(events) : -1;
    if (job != nullptr) {
        AssignProcessToJobObject(job, info.hProcess);
    }
    ResumeThread(info.hThread);
    child.process = ValueOf(info.hProcess);
    child.program = ValueOf(info.hThread);
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
    if (child.watch != -1) {
        child.harms.leftBehind = static_cast<int>(ActiveProcesses(child));
        TerminateJobObject(HandleOf(child.watch), 1);
    }
    TakeJobEvents(child);
    return true;
}

ChildUsage SampleChild(ChildProcess& child) {
    ChildUsage usage;
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting = {};
    FILETIME created;
    FILETIME exited;
    FILETIME kernel;
    FILETIME user;
    // Wine keeps another process's total at an old value and adds to it in
    // lumps; its main thread's time is live, so under Wine that is measured.
    if (RunningUnderWine()) {
        if (GetThreadTimes(HandleOf(child.program), &created, &exited, &kernel, &user)) {
            usage.cpuSeconds = Seconds(kernel) + Seconds(user);
        }
    } else if (child.watch != -1 &&
               QueryInformationJobObject(HandleOf(child.watch), JobObjectBasicAccountingInformation,
                                         &accounting, sizeof accounting, nullptr)) {
        usage.cpuSeconds = Seconds(accounting.TotalKernelTime) + Seconds(accounting.TotalUserTime);
    } else if (GetProcessTimes(HandleOf(child.process), &created, &exited, &kernel, &user)) {
        usage.cpuSeconds = Seconds(kernel) + Seconds(user);
    }
    TakeJobEvents(child);
    return usage;
}

void EndChild(ChildProcess& child) {
    if (!child.running) {
        return;
    }
    if (child.watch != -1) {
        TerminateJobObject(HandleOf(child.watch), 1);
    }
    TerminateProcess(HandleOf(child.process), 1);
    WaitForSingleObject(HandleOf(child.process), kEndWaitMs);
    child.running = false;
}

void ReleaseChild(ChildProcess& child) {
    EndChild(child);
    for (std::intptr_t* handle :
         {&child.output, &child.process, &child.program, &child.watch, &child.events}) {
        CloseAndForget(*handle);
    }
    if (!child.scratch.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(child.scratch, ignored);
        child.scratch.clear();
    }
}
