// taskwarden: the process monitor. It asks how many staged workers to start
// and how long to wait, starts the workers (stageworker) each in its own
// priority class, and when the waiting time is up reports the workers that
// have ended and sends an end request to the others. Its message thread
// (protocol_unit) handles the workers' registrations and answers.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "console_input_unit.h"
#include "cpus_unit.h"
#include "curtime_unit.h"
#include "errors_unit.h"
#include "format_unit.h"
#include "locale_unit.h"
#include "myProcedure_unit.h"
#include "priority_unit.h"
#include "process_table_unit.h"
#include "process_unit.h"
#include "program_lines_unit.h"
#include "protocol_unit.h"
#include "random_unit.h"
#include "win32.h"

namespace {

// ---- Texts and constants ------------------------------------------------------
// Windows-1251. Event lines begin with the time stamp; prompts,
// the heading rule and the start-failure line have none.
constexpr std::string_view kEmptyLine = "";
constexpr char kTitle[] = "Process Monitor";
constexpr std::string_view kMonitorHeading = kMonitorHeadingLine;
constexpr std::string_view kHeadingRule = kMonitorHeadingRule;
constexpr std::string_view kStartOfWork = kMonitorStartLine;
constexpr std::string_view kCountPrompt = kMonitorCountPrompt;
constexpr std::string_view kObservedPrompt = kMonitorObservedPrompt;
constexpr std::string_view kEditHeading = kMonitorEditHeading;
constexpr std::string_view kStage1Prompt = kMonitorStage1Prompt;
constexpr std::string_view kStage2Prompt = kMonitorStage2Prompt;
constexpr std::string_view kPriorityPrompt = kMonitorPriorityPrompt;
constexpr std::string_view kWaitPrompt = kMonitorWaitPrompt;
constexpr std::string_view kStartFailed = kMonitorStartFailedLine;
constexpr std::string_view kTimeIsUp = kMonitorTimeUpLine;
constexpr std::string_view kEndedNormally = kMonitorEndedLine;

// Program, worker number, stage-1 and stage-2 parameters, the id of the
// monitor's message thread.
constexpr std::string_view kChildCommandLine = kMonitorChildCommandLine;

// The program started for every worker, found by the platform's program search.
constexpr std::string_view kChildProgramName = "stageworker";
constexpr DWORD kCreationFlags = CREATE_UNICODE_ENVIRONMENT;

// The waiting time is typed in seconds and slept in milliseconds held in 32
// bits; an entry outside 0..kLongestWaitSeconds is clamped into that range.
constexpr std::int32_t kLongestWaitSeconds = 2147483;

// How long the monitor, told to end, waits for the answers of the workers it
// asked to end. A worker's message thread answers within milliseconds; one in
// the idle class behind busy workers on every processor, or under a
// sanitizer, may take some hundreds. Past this the monitor ends the workers
// that have not answered itself, so that none outlives it unreported.
constexpr DWORD kAnswerWaitMs = 2000;
constexpr DWORD kAnswerPollMs = 10;

constexpr std::int32_t kLowestStageParam = 1;
constexpr std::int32_t kNormalPriorityIndex = 2;  // for a priority number outside 0..5

// ---- Module state -------------------------------------------------------------
std::int32_t ProcessCount = 0;      // 1..kMaxWorkers once read
std::int32_t ObservedNumber = 0;    // observed worker when in 1..ProcessCount
std::int32_t ObservedPriority = 0;  // PriorityIndex of the observed worker
std::int32_t WaitTime = 0;          // seconds as typed; milliseconds after the launch
std::int32_t StartedCount = 0;
bool AskedToEnd[kMaxWorkers] = {};  // running at the reaping pass: sent the end request

STARTUPINFOA StartupInfo{};  // shared by all creations: size, every other field zero

// ---- Steps --------------------------------------------------------------------

bool WorkerObserved() {
    return ObservedNumber >= 1 && ObservedNumber <= ProcessCount;
}

void Greet() {
    SetConsoleTitleA(kTitle);
    Reseed();  // for the workers' priority draws
    PrintLine(kMonitorHeading, {CurrentTimeText()});
    PrintLine(kHeadingRule);
    PrintLine(kStartOfWork, {CurrentTimeText()});
    PrintLine(kEmptyLine);
}

void ReadProcessCount() {
    PrintPrompt(kCountPrompt, {kMaxWorkers});
    ProcessCount = std::clamp(ReadInteger(), 1, kMaxWorkers);
}

// The observed worker's stage parameters and priority; each prompt shows the
// entry's present value, and the number read replaces it.
void EditObservedWorker() {
    ProcessRecord& entry = ProcessTable[ObservedNumber - 1];
    PrintLine(kEmptyLine);
    PrintLine(kEditHeading, {entry.number});
    PrintPrompt(kStage1Prompt, {entry.stage1Param});
    entry.stage1Param = std::max(ReadInteger(), kLowestStageParam);
    PrintPrompt(kStage2Prompt, {entry.stage2Param});
    entry.stage2Param = std::max(ReadInteger(), kLowestStageParam);
    PriorityMenu();
    PrintLine(kEmptyLine);
    PrintPrompt(kPriorityPrompt);
    ObservedPriority = ReadInteger();
    if (ObservedPriority < 0 || ObservedPriority >= kPriorityCount) {
        ObservedPriority = kNormalPriorityIndex;
    }
}

void ReadWaitTime() {
    PrintLine(kEmptyLine);
    PrintPrompt(kWaitPrompt);
    WaitTime = std::clamp(ReadInteger(), 0, kLongestWaitSeconds);
    PrintLine(kEmptyLine);
}

void RunDialogue() {
    Greet();
    ReadProcessCount();
    PrintProcessTable(ProcessCount);
    PrintLine(kEmptyLine);
    PrintPrompt(kObservedPrompt);
    ObservedNumber = ReadInteger();
    if (WorkerObserved()) {
        EditObservedWorker();
    }
    ReadWaitTime();
}

void StartMessaging() {
    RegisterMessages();
    ResetWorkerSlots();
    ThreadIds[0] = StartMessageThread(MonitorMessageThread);
}

void StartWorker(int number) {
    ChildSlot<ProcessRecord>& slot = WorkerSlots[number - 1];
    slot.params = &ProcessTable[number - 1];
    const std::int32_t index = number == ObservedNumber ? ObservedPriority : RandomBelow(2);
    ApplyPriorityIndex(slot.priorityClass, index);
    slot.state = kNotStarted;
    std::string commandLine =
        FormatText(kChildCommandLine,
                   {kChildProgramName, slot.params->number, slot.params->stage1Param,
                    slot.params->stage2Param, static_cast<std::int32_t>(ThreadIds[0].load())});
    // A worker that must keep to the workers' processors starts suspended
    // until confined.
    const DWORD_PTR workerProcessors = ChildProcessorMask();
    const DWORD suspended = workerProcessors != 0 ? CREATE_SUSPENDED : 0;
    if (CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE,
                       kCreationFlags | slot.priorityClass | suspended, nullptr, nullptr,
                       &StartupInfo, &slot.processInfo)) {
        if (suspended != 0) {
            SetProcessAffinityMask(slot.processInfo.hProcess, workerProcessors);
            ResumeThread(slot.processInfo.hThread);
        }
        slot.state = kStarted;  // publishes the filled slot to the message thread
        ++StartedCount;
        return;
    }
    // Taken before printing: a console write may change the last error.
    const DWORD error = GetLastError();
    PrintLine(kEmptyLine);
    PrintLine(kStartFailed, {slot.params->number, static_cast<std::int32_t>(error)});
    PrintLine(kEmptyLine);
}

void StartWorkers() {
    StartupInfo.cb = sizeof(STARTUPINFOA);
    for (int number = 1; number <= ProcessCount; ++number) {
        StartWorker(number);
    }
}

void ReportTimeout() {
    PrintLine(kEmptyLine);
    PrintLine(kTimeIsUp, {CurrentTimeText(), static_cast<double>(WaitTime) / 1000.0});
    PrintLine(kEmptyLine);
}

// Reports the workers that have ended and asks the others to end; their
// answers reach the message thread.
void ReapWorkers() {
    for (int number = 1; number <= ProcessCount; ++number) {
        const ChildSlot<ProcessRecord>& slot = WorkerSlots[number - 1];
        if (slot.state.load() < kStarted) {
            continue;
        }
        // A worker whose state cannot be read gets the end request too: it is
        // harmless to a worker that has gone, and no running worker is ever
        // reported as ended.
        if (ChildStillRunning(slot.processInfo)) {
            AskedToEnd[number - 1] = true;
            PostThreadMessageA(ThreadIds[number].load(), WM_MYUSR1, 0, 0);
            Sleep(0);
        } else {
            PrintLine(kEndedNormally, {CurrentTimeText(), slot.params->number});
        }
    }
}

// True while some worker asked to end neither has had its answer handled nor
// has ended.
bool AnswersOutstanding() {
    for (int number = 1; number <= ProcessCount; ++number) {
        const ChildSlot<ProcessRecord>& slot = WorkerSlots[number - 1];
        if (AskedToEnd[number - 1] && slot.state.load() == kStarted &&
            ChildStillRunning(slot.processInfo)) {
            return true;
        }
    }
    return false;
}

// After the final line: waits up to kAnswerWaitMs for the answers still
// outstanding, then ends every worker asked to end that has not answered (a
// first-stage worker, or one that cannot answer) and reports it ended by
// force. Second-stage workers that answered decide for themselves.
void EndUnansweredWorkers() {
    const DWORD began = GetTickCount();
    while (AnswersOutstanding() && GetTickCount() - began < kAnswerWaitMs) {
        Sleep(kAnswerPollMs);
    }
    for (int number = 1; number <= ProcessCount; ++number) {
        if (AskedToEnd[number - 1] && ChildStillRunning(WorkerSlots[number - 1].processInfo)) {
            EndWorkerAsForced(number);
        }
    }
}

// The monitor's run, step by step.
void RunMonitor() {
    // 1. The dialogue: count, table, observed worker, waiting time.
    RunDialogue();
    // 2. The message thread, before any worker can post to it.
    StartMessaging();
    // 3. The launch; with no worker started there is nothing to wait for.
    WaitTime *= 1000;  // milliseconds from here on; the clamp keeps it in range
    StartWorkers();
    if (StartedCount == 0) {
        return;
    }
    // 4. The wait, then the time-out line.
    Sleep(static_cast<DWORD>(WaitTime));
    ReportTimeout();
    // 5. The reaping pass: ended workers reported, the others asked to end.
    ReapWorkers();
    // 6. The final line; the message thread handles the answers meanwhile.
    SkipLine();
    // 7. No worker asked to end outlives the monitor unanswered.
    EndUnansweredWorkers();
}

}  // namespace

int main() {
    ReadLocaleSettings();
    // The message thread may be at work still: end the process at once, with
    // no static destructors running under its feet.
    ExitProcess(static_cast<UINT>(RunProgram(ReportForm::kStandardError, RunMonitor)));
}
