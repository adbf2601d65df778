// The checker's children on Windows: CreateProcessA with a pipe for the
// output, GetProcessTimes for the processor time, TerminateProcess to end
// one, and a job that ends them all with the checker.
#include <cstdio>
#include <string>

#include "child_process_unit.h"
#include "win32.h"

namespace {

// Output read per call at most, so that a child writing without pause
// cannot keep the checker in one call.
constexpr DWORD kMostDrainPerCall = 256 * 1024;

// How long a terminated child may take to be gone.
constexpr DWORD kEndWaitMs = 5000;

HANDLE childrenJob = nullptr;

HANDLE HandleOf(std::intptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

double Seconds(const FILETIME& time) {
    ULARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    return static_cast<double>(value.QuadPart) / 1e7;  // 100 ns units
}

// The file to run: as typed, else with ".exe" added, as the console finds it.
std::string ProgramToRun(std::string_view programPath) {
    std::string path(programPath);
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        const std::string withExtension = path + ".exe";
        if (GetFileAttributesA(withExtension.c_str()) != INVALID_FILE_ATTRIBUTES) {
            return withExtension;
        }
    }
    return path;
}

// The words joined by single blanks and not quoted, as the feeder writes them.
std::string CommandLineOf(const std::vector<std::string>& words) {
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

}  // namespace

void PrepareChildren() {
    childrenJob = CreateJobObjectA(nullptr, nullptr);
    if (childrenJob == nullptr) {
        return;
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(childrenJob, JobObjectExtendedLimitInformation, &limits, sizeof limits);
}

std::string NativePath(std::string_view path) {
    return std::string(path);
}

bool StartChild(std::string_view programPath, const std::vector<std::string>& words,
                ChildProcess& child, std::uint32_t& error) {
    SECURITY_ATTRIBUTES inheritable = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) {
        error = GetLastError();
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
    std::string commandLine = CommandLineOf(words);
    const BOOL started =
        CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                       NORMAL_PRIORITY_CLASS | CREATE_SUSPENDED, nullptr, nullptr, &startup, &info);
    error = started ? 0 : GetLastError();
    CloseHandle(writeEnd);
    if (input != INVALID_HANDLE_VALUE) {
        CloseHandle(input);
    }
    if (!started) {
        CloseHandle(readEnd);
        return false;
    }
    if (childrenJob != nullptr) {
        AssignProcessToJobObject(childrenJob, info.hProcess);
    }
    ResumeThread(info.hThread);
    child.process = reinterpret_cast<std::intptr_t>(info.hProcess);
    child.thread = reinterpret_cast<std::intptr_t>(info.hThread);
    child.output = reinterpret_cast<std::intptr_t>(readEnd);
    child.running = true;
    return true;
}

std::size_t DrainChildOutput(ChildProcess& child) {
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
    return true;
}

double ChildCpuSeconds(const ChildProcess& child) {
    FILETIME created;
    FILETIME exited;
    FILETIME kernel;
    FILETIME user;
    // Wine keeps another process's total at an old value and adds to it in
    // lumps; its main thread's time is live, so under Wine that is measured.
    const BOOL measured =
        RunningUnderWine()
            ? GetThreadTimes(HandleOf(child.thread), &created, &exited, &kernel, &user)
            : GetProcessTimes(HandleOf(child.process), &created, &exited, &kernel, &user);
    return measured ? Seconds(kernel) + Seconds(user) : 0.0;
}

void EndChild(ChildProcess& child) {
    if (!child.running) {
        return;
    }
    TerminateProcess(HandleOf(child.process), 1);
    WaitForSingleObject(HandleOf(child.process), kEndWaitMs);
    child.running = false;
}

void ReleaseChild(ChildProcess& child) {
    EndChild(child);
    if (child.output != -1) {
        CloseHandle(HandleOf(child.output));
        child.output = -1;
    }
    if (child.process != -1) {
        CloseHandle(HandleOf(child.process));
        child.process = -1;
    }
    if (child.thread != -1) {
        CloseHandle(HandleOf(child.thread));
        child.thread = -1;
    }
}
