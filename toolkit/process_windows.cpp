// Windows: a child by CreateProcessA, its failure from GetLastError;
// processor time from GetProcessTimes.
#include "herdlab_toolkit.h"
#include "win32.h"

namespace herdlab_toolkit {

namespace {

HANDLE HandleOf(NativeHandle value) {
    return reinterpret_cast<HANDLE>(value);
}

NativeHandle NativeOf(HANDLE handle) {
    return reinterpret_cast<NativeHandle>(handle);
}

// The handle the child gets at `which`: the one asked for, or ours.
HANDLE StandardHandle(NativeHandle asked, DWORD which) {
    HANDLE handle = asked == kNoHandle ? GetStdHandle(which) : HandleOf(asked);
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
        SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }
    return handle;
}

// One word as the command-line splitting of the C runtime reads it back:
// quoted when it holds a blank or a quote or is empty, with the backslashes
// before a quote doubled.
void AppendQuoted(std::string& line, const std::string& word) {
    if (!word.empty() && word.find_first_of(" \t\"") == std::string::npos) {
        line += word;
        return;
    }
    line += '"';
    std::size_t backslashes = 0;
    for (const char c : word) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        line.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, '\\');
    line += '"';
}

std::string QuotedCommandLine(const std::vector<std::string>& words) {
    std::string line;
    for (const std::string& word : words) {
        if (!line.empty()) {
            line += ' ';
        }
        AppendQuoted(line, word);
    }
    return line;
}

double Milliseconds(const FILETIME& time) {  // units of 100 ns
    return double((ULONGLONG(time.dwHighDateTime) << 32) | time.dwLowDateTime) / 1e4;
}

bool RunningUnderWine() {
    static const bool underWine =
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    return underWine;
}

}  // namespace

std::uint32_t StartChildProcess(const ChildRequest& request, StartedChild& child) {
    STARTUPINFOA startup{};
    startup.cb = sizeof(STARTUPINFOA);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = StandardHandle(request.input, STD_INPUT_HANDLE);
    startup.hStdOutput = StandardHandle(request.output, STD_OUTPUT_HANDLE);
    startup.hStdError = StandardHandle(request.errorOutput, STD_ERROR_HANDLE);
    std::string line =
        request.commandLine.empty() ? QuotedCommandLine(request.words) : request.commandLine;
    const DWORD flags = request.windowsCreationFlags | (request.suspended ? CREATE_SUSPENDED : 0);
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(request.program.empty() ? nullptr : request.program.c_str(), line.data(),
                        nullptr, nullptr, TRUE, flags, nullptr, nullptr, &startup, &info)) {
        return GetLastError();
    }
    child.id = info.dwProcessId;
    child.process = NativeOf(info.hProcess);
    child.thread = NativeOf(info.hThread);
    return 0;
}

void ResumeChildProcess(const StartedChild& child) {
    ResumeThread(HandleOf(child.thread));
}

bool OpenProcessWatch(unsigned long id, ProcessWatch& watch) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, DWORD(id));
    watch.id = id;
    watch.process = process == nullptr ? kNoHandle : NativeOf(process);
    watch.ownsHandles = true;
    return process != nullptr;
}

ProcessWatch WatchChild(const StartedChild& child) {
    ProcessWatch watch;
    watch.id = child.id;
    watch.process = child.process;
    watch.thread = child.thread;
    watch.ownsHandles = false;
    return watch;
}

void CloseProcessWatch(ProcessWatch& watch) {
    if (watch.ownsHandles && watch.process != kNoHandle) {
        CloseHandle(HandleOf(watch.process));
    }
    watch.process = kNoHandle;
    watch.thread = kNoHandle;
}

ProcessorReading ReadProcessorTime(const ProcessWatch& watch) {
    ProcessorReading reading;
    FILETIME created, exited, kernel, user;
    const bool threadOnly = watch.thread != kNoHandle && RunningUnderWine();
    reading.valid =
        watch.process != kNoHandle &&
        (threadOnly ? GetThreadTimes(HandleOf(watch.thread), &created, &exited, &kernel, &user)
                    : GetProcessTimes(HandleOf(watch.process), &created, &exited, &kernel, &user));
    if (reading.valid) {
        reading.milliseconds = Milliseconds(kernel) + Milliseconds(user);
        reading.ended = WaitForSingleObject(HandleOf(watch.process), 0) == WAIT_OBJECT_0;
    }
    return reading;
}

}  // namespace herdlab_toolkit
