// stageworker: the monitor's staged worker. It reads its number, its two stage
// parameters and the monitor's message-thread id from the command line,
// registers its own message thread with the monitor, and runs a first stage
// of random length below its first parameter and a second stage of exactly
// its second parameter. Its message thread (protocol_unit) answers the
// monitor's end request and decides on the end order. Started by hand with
// any thread id it simply runs both stages.
#include <cstdint>
#include <string_view>

#include "a0wait_unit.h"
#include "a1wait_unit.h"
#include "command_line_unit.h"
#include "curtime_unit.h"
#include "errors_unit.h"
#include "locale_unit.h"
#include "myProcedure_unit.h"
#include "number_text_unit.h"
#include "priority_unit.h"
#include "program_lines_unit.h"
#include "protocol_unit.h"
#include "win32.h"

namespace {

// ---- Texts and constants ------------------------------------------------------
// Windows-1251; every line is an event line.
constexpr std::string_view kStarted = kWorkerStartedLine;
constexpr std::string_view kFirstStageStarts = kWorkerFirstStageLine;
constexpr std::string_view kFirstStageDone = kWorkerFirstDoneLine;
constexpr std::string_view kSecondStageStarts = kWorkerSecondStageLine;
constexpr std::string_view kSecondStageDone = kWorkerSecondDoneLine;

// ---- Module state -------------------------------------------------------------
DWORD messageThreadId = 0;
std::string_view priorityName;  // empty when the class has no name

// ---- Steps --------------------------------------------------------------------

// Arguments 1..4; a missing or non-integer one raises EConvertError before
// anything is printed or posted.
void ReadArguments() {
    WorkerParams.number = TextToInteger(CommandArgument(1));
    WorkerParams.stage1Param = TextToInteger(CommandArgument(2));
    WorkerParams.stage2Param = TextToInteger(CommandArgument(3));
    // Written as a signed number by the monitor; the same 32 bits come back.
    monitorThreadId = static_cast<DWORD>(TextToInteger(CommandArgument(4)));
}

// Tells the monitor where to send the end request. The post fails without
// effect when no monitor listens (a worker started by hand).
void RegisterWithMonitor() {
    PostThreadMessageA(monitorThreadId, WM_USER, static_cast<WPARAM>(WorkerParams.number),
                       static_cast<LPARAM>(messageThreadId));
}

void RunFirstStage() {
    PrintLine(kFirstStageStarts,
              {CurrentTimeText(), WorkerParams.number, WorkerParams.stage1Param});
    RandomSleepWait(WorkerParams.stage1Param);
    stageFlag = 1;  // from now on an end request is answered from the second stage
    PrintLine(kFirstStageDone, {CurrentTimeText(), WorkerParams.number});
}

void RunSecondStage() {
    PrintLine(kSecondStageStarts,
              {CurrentTimeText(), WorkerParams.number, WorkerParams.stage2Param});
    SleepWait(WorkerParams.stage2Param);
    PrintLine(kSecondStageDone, {CurrentTimeText(), WorkerParams.number});
}

// The worker's run, step by step.
void RunWorker() {
    // 1. The command line; a bad argument ends the run before anything else.
    ReadArguments();
    // 2. The messages and the message thread, then the registration with the
    //    monitor, which needs that thread's id.
    RegisterMessages();
    messageThreadId = StartMessageThread(WorkerMessageThread);
    RegisterWithMonitor();
    // 3. The start line with the class the worker really runs in.
    priorityName = OwnPriorityName();
    PrintLine(kStarted, {CurrentTimeText(), WorkerParams.number, priorityName});
    // 4. The two stages.
    RunFirstStage();
    RunSecondStage();
}

}  // namespace

int main() {
    ReadLocaleSettings();
    // The message thread may be at work still: end the process at once, with
    // no static destructors running under its feet.
    ExitProcess(static_cast<UINT>(RunProgram(ReportForm::kStandardError, RunWorker)));
}
