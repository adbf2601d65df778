// Windows: PROGRAM runs in a job object, so every process it starts, however
// deep, belongs to the job; the job's process list and GetProcessTimes give
// each one's processor time, and the system's process list the state of
// each of their threads at each sample (thread_states_windows.cpp), from
// which the time each was ready is counted. PROGRAM reads our standard input and writes its
// standard output into a pipe that a reader thread passes to ours unchanged
// (the bytes are already in the console's code page).
#include "win32.h"
// After windows.h, which it needs.
#include <mmsystem.h>

#include <cstddef>
#include <map>
#include <vector>

#include "herdlab_toolkit.h"
#include "thread_states_windows.h"
#include "tracer.h"

namespace herdtrace {

namespace {

// After PROGRAM has ended, its children still writing get this long.
constexpr Millis kLeftoverGrace = 5000;
// The most processes of the job followed at a time.
constexpr DWORD kMostProcesses = 256;

BOOL WINAPI OnConsoleControl(DWORD event) {
    // Ctrl+C and Ctrl+Break reach every process of the console, PROGRAM and
    // its children included, and end them; herdtrace stays to draw what it
    // has once PROGRAM has ended.
    return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
}

namespace toolkit = herdlab_toolkit;

// A process of the job, and what has been read of it.
struct Watched {
    toolkit::ProcessWatch watch;
    TracedProcess record;
    double readyMilliseconds = 0;  // counted from the states sampled so far
    Millis statesRead = kNoTime;   // when they were last sampled
};

// PROGRAM's output pipe, and what came through it.
struct OutputCopy {
    HANDLE pipe = nullptr;
    SRWLOCK lock = SRWLOCK_INIT;  // over text while the reader runs
    std::string text;
};

// The reader thread: PROGRAM's output to ours, and a copy for the picture,
// until the last writer closes the pipe.
DWORD WINAPI PassOutput(LPVOID parameter) {
    auto* copy = static_cast<OutputCopy*>(parameter);
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(copy->pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        AcquireSRWLockExclusive(&copy->lock);
        copy->text.append(buffer, got);
        ReleaseSRWLockExclusive(&copy->lock);
        DWORD wrote = 0;
        WriteFile(out, buffer, got, &wrote, nullptr);
    }
    return 0;
}

// The local time of day by the tick count, which never jumps.
Millis Now(Millis offset) {
    return Millis(GetTickCount64()) + offset;
}

// Adds processes new to the job and reads every watched one's times.
void Sample(HANDLE job, DWORD program, std::map<DWORD, Watched>& watched, Millis now) {
    // The list is a header and then as many ids as fit; the ids are read
    // through a pointer into the buffer, not past the header's one-element
    // array, which the optimiser would take at its word.
    alignas(JOBOBJECT_BASIC_PROCESS_ID_LIST) unsigned char
        buffer[sizeof(JOBOBJECT_BASIC_PROCESS_ID_LIST) + kMostProcesses * sizeof(ULONG_PTR)] = {};
    auto* header = reinterpret_cast<JOBOBJECT_BASIC_PROCESS_ID_LIST*>(buffer);
    const auto* ids = reinterpret_cast<const ULONG_PTR*>(
        buffer + offsetof(JOBOBJECT_BASIC_PROCESS_ID_LIST, ProcessIdList));
    header->NumberOfAssignedProcesses = kMostProcesses;
    if (QueryInformationJobObject(job, JobObjectBasicProcessIdList, buffer, sizeof buffer,
                                  nullptr)) {
        for (DWORD i = 0; i < header->NumberOfProcessIdsInList && i < kMostProcesses; ++i) {
            const auto id = static_cast<DWORD>(ids[i]);
            if (id == program || watched.count(id) != 0) {
                continue;
            }
            Watched entry;
            toolkit::OpenProcessWatch(id, entry.watch);
            entry.record.id = id;
            entry.record.firstSeen = now;
            watched.emplace(id, entry);
        }
    }
    for (auto& [id, entry] : watched) {
        const toolkit::ProcessorReading reading = toolkit::ReadProcessorTime(entry.watch);
        if (reading.valid) {
            entry.record.readings.push_back(CpuReading{now, reading.milliseconds});
        }
        if (reading.ended) {
            toolkit::CloseProcessWatch(entry.watch);  // its times are final
        }
    }
}

// Adds to each process read at `now` the time it was ready since its last
// sample: the system gives each thread's state, not its times, so a thread
// found ready counts as ready over the interval before. Where the list
// tells no states (Wine), the readings keep to the processor time.
void SampleStates(std::map<DWORD, Watched>& watched, std::vector<unsigned char>& list, Millis now) {
    std::map<DWORD, ThreadStates> states;
    for (const auto& [id, entry] : watched) {
        if (!entry.record.readings.empty() && entry.record.readings.back().time == now) {
            states[id];
        }
    }
    if (states.empty() || !ReadThreadStates(states, list)) {
        return;
    }
    for (const auto& [id, threads] : states) {
        Watched& entry = watched[id];
        if (!threads.listed || !threads.told) {
            continue;
        }
        const Millis passed = entry.statesRead == kNoTime ? 0 : now - entry.statesRead;
        entry.readyMilliseconds += double(threads.ready) * double(passed);
        entry.statesRead = now;
        CpuReading& reading = entry.record.readings.back();
        reading.readyMilliseconds = entry.readyMilliseconds;
        reading.switches = threads.switches;
    }
}

// True while some process of the job still runs.
bool AnyActive(HANDLE job) {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
    return QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting,
                                     sizeof accounting, nullptr) &&
           accounting.ActiveProcesses > 0;
}

// Why PROGRAM could not be started, by the platform's error number.
std::string ErrorText(DWORD error) {
    return "ошибка " + std::to_string(error);
}

// PROGRAM in its job, and what is followed of it.
struct Traced {
    HANDLE job = nullptr;
    OutputCopy output;
    toolkit::StartedChild program;
    Millis offset = 0;  // local time of day minus the tick count
    std::map<DWORD, Watched> watched;
    std::vector<unsigned char> processList;  // the system's, read at each sample
};

// Starts PROGRAM suspended, with its output into our pipe, and lets it run
// once it is in the job, so not even its first child escapes. False with the
// reason in the run when it cannot be started.
bool StartInJob(const std::vector<std::string>& command, Traced& traced, TracedRun& run) {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE childOutput = nullptr;
    traced.job = CreateJobObjectA(nullptr, nullptr);
    if (traced.job == nullptr || !CreatePipe(&traced.output.pipe, &childOutput, &inheritable, 0)) {
        run.startError = ErrorText(GetLastError());
        return false;
    }
    SetHandleInformation(traced.output.pipe, HANDLE_FLAG_INHERIT, 0);
    toolkit::ChildRequest request;
    request.words = command;
    request.input = toolkit::NativeHandle(GetStdHandle(STD_INPUT_HANDLE));
    request.output = toolkit::NativeHandle(childOutput);
    request.suspended = true;
    traced.offset = LocalTimeOfDay() - Millis(GetTickCount64());
    run.start = Now(traced.offset);
    const std::uint32_t error = toolkit::StartChildProcess(request, traced.program);
    CloseHandle(childOutput);
    if (error != 0) {
        run.startError = ErrorText(error);
        CloseHandle(traced.output.pipe);
        CloseHandle(traced.job);
        return false;
    }
    AssignProcessToJobObject(traced.job, HANDLE(traced.program.process));
    toolkit::ResumeChildProcess(traced.program);
    run.started = true;
    return true;
}

// The run as far as it has gone: the output so far and every process of
// the job with its readings so far.
TracedRun SoFar(Traced& traced, const TracedRun& run) {
    TracedRun soFar = run;
    AcquireSRWLockShared(&traced.output.lock);
    soFar.output = traced.output.text;
    ReleaseSRWLockShared(&traced.output.lock);
    for (const auto& [id, entry] : traced.watched) {
        soFar.processes.push_back(entry.record);
    }
    return soFar;
}

// Samples the job until PROGRAM has ended and its children have ended,
// closed the output or had their grace.
void Follow(Traced& traced, HANDLE reader, TracedRun& run, const ProgressReport& progress) {
    Millis endedAt = 0;
    bool programEnded = false;
    Millis nextProgress = 0;
    for (;;) {
        const Millis now = Now(traced.offset);
        Sample(traced.job, DWORD(traced.program.id), traced.watched, now);
        SampleStates(traced.watched, traced.processList, now);
        if (progress && now >= nextProgress) {
            progress(SoFar(traced, run));
            nextProgress = now + kProgressInterval;
        }
        if (!programEnded &&
            WaitForSingleObject(HANDLE(traced.program.process), 0) == WAIT_OBJECT_0) {
            programEnded = true;
            endedAt = Now(traced.offset);
            run.end = endedAt;
        }
        if (programEnded &&
            (!AnyActive(traced.job) || WaitForSingleObject(reader, 0) == WAIT_OBJECT_0 ||
             Now(traced.offset) - endedAt > kLeftoverGrace)) {
            return;
        }
        Sleep(DWORD(kSampleInterval));
    }
}

// Collects the exit code, the output and the records, and lets go of it all.
void CloseRun(Traced& traced, HANDLE reader, TracedRun& run) {
    DWORD exitCode = 0;
    GetExitCodeProcess(HANDLE(traced.program.process), &exitCode);
    run.exitCode = int(exitCode);
    // Children that outlived the grace may still hold the pipe open.
    if (WaitForSingleObject(reader, 1000) != WAIT_OBJECT_0) {
        CancelSynchronousIo(reader);
        WaitForSingleObject(reader, 1000);
    }
    run.output = traced.output.text;
    for (auto& [id, entry] : traced.watched) {
        toolkit::CloseProcessWatch(entry.watch);
        run.processes.push_back(entry.record);
    }
    for (HANDLE handle : {reader, traced.output.pipe, HANDLE(traced.program.process),
                          HANDLE(traced.program.thread), traced.job}) {
        CloseHandle(handle);
    }
}

}  // namespace

Millis LocalTimeOfDay() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return ((Millis{now.wHour} * 60 + now.wMinute) * 60 + now.wSecond) * 1000 + now.wMilliseconds;
}

void WriteUserText(const std::string& utf8, bool error) {
    HANDLE out = GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    DWORD wrote = 0;
    if (GetConsoleMode(out, &mode)) {
        const int length =
            MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
        std::wstring wide(static_cast<std::size_t>(length), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), wide.data(), length);
        WriteConsoleW(out, wide.data(), DWORD(wide.size()), &wrote, nullptr);
        return;
    }
    WriteFile(out, utf8.data(), DWORD(utf8.size()), &wrote, nullptr);
}

TracedRun RunTraced(const std::vector<std::string>& command, StateChoice /*states*/,
                    const ProgressReport& progress) {
    TracedRun run;
    run.stateSource = StateSource::kSampled;
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    timeBeginPeriod(1);  // a 10 ms sampling interval needs a finer timer than 15.6 ms
    Traced traced;
    if (StartInJob(command, traced, run)) {
        HANDLE reader = CreateThread(nullptr, 0, PassOutput, &traced.output, 0, nullptr);
        Follow(traced, reader, run, progress);
        CloseRun(traced, reader, run);
    }
    timeEndPeriod(1);
    return run;
}

}  // namespace herdtrace
