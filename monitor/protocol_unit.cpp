// Both sides of the monitor-worker protocol; see protocol_unit.h.
#include "protocol_unit.h"
#include "program_lines_unit.h"

#include "a0wait_unit.h"
#include "curtime_unit.h"
#include "errors_unit.h"
#include "myProcedure_unit.h"

UINT WM_MYUSR1 = 0;
UINT WM_MYTERM = 0;
UINT WM_MYUSR2 = 0;

std::atomic<DWORD> ThreadIds[kMaxWorkers + 1];
ChildSlot<ProcessRecord> WorkerSlots[kMaxWorkers];

ProcessRecord WorkerParams{};
DWORD monitorThreadId = 0;
std::atomic<std::int32_t> stageFlag{0};

namespace {

constexpr std::string_view kForcedEndLine = kWorkerForcedEndLine;

// The slot of a message's worker number, or null for a number outside
// 1..kMaxWorkers (only a foreign or broken sender posts one).
ChildSlot<ProcessRecord>* SlotOfNumber(WPARAM number) {
    if (number < 1 || number > static_cast<WPARAM>(kMaxWorkers)) {
        return nullptr;
    }
    return &WorkerSlots[number - 1];
}

// Receives messages until GetMessageA returns 0 (the quit message nobody
// posts), so in practice until the process ends. An error return (-1) is
// handled like a message; the message is cleared before each call so that a
// failed call never replays the previous message.
void RunMessageLoop(void (*handle)(const MSG&)) {
    for (;;) {
        MSG message{};
        if (GetMessageA(&message, nullptr, 0, 0) == 0) {
            return;
        }
        try {
            handle(message);
        } catch (const EInOutError& error) {
            // The console is gone (e.g. standard output closed). An exception
            // may not leave a thread procedure, so end the program here with
            // the report the main thread would give.
            ExitProcess(static_cast<UINT>(ReportUnhandledError(
                ReportForm::kStandardError, "EInOutError", error.location, error.message)));
        }
        Sleep(0);
    }
}

// ---- Monitor ------------------------------------------------------------------

void RecordRegistration(WPARAM number, LPARAM workerThreadId) {
    if (SlotOfNumber(number) == nullptr) {
        return;
    }
    ThreadIds[number] = static_cast<DWORD>(workerThreadId);
}

// The worker answered from its first stage: the monitor ends it itself.
void EndFirstStageWorker(WPARAM number) {
    if (SlotOfNumber(number) != nullptr) {
        EndWorkerAsForced(static_cast<int>(number));
    }
}

// The worker answered from its second stage: it decides for itself.
void OrderSecondStageWorkerToEnd(WPARAM number) {
    ChildSlot<ProcessRecord>* slot = SlotOfNumber(number);
    if (slot == nullptr || slot->state.load() < kStarted) {
        return;
    }
    slot->state = kToldToEnd;
    PostThreadMessageA(ThreadIds[number].load(), WM_MYTERM, 0, 0);
}

// ---- Worker -------------------------------------------------------------------

void AnswerEndRequest() {
    const UINT answer = stageFlag.load() == 0 ? WM_MYUSR1 : WM_MYUSR2;
    PostThreadMessageA(monitorThreadId, answer, static_cast<WPARAM>(WorkerParams.number), 0);
}

void ObeyEndOrder() {
    const DWORD now = GetTickCount();
    // Duration before stamp: SleepWait writes the stamp first, so a new
    // duration comes with its new stamp.
    const std::int32_t duration = waitDuration.load();
    const std::uint32_t factor = WaitFactor(now, waitStamp.load(), duration);
    const std::int32_t number = WorkerParams.number;
    PrintLine(kWorkerEndOrderLine, {CurrentTimeText(), number});
    PrintLine(kWorkerWaitFactorLine,
              {CurrentTimeText(), number, static_cast<std::int32_t>(factor)});
    if (!EarnsReprieve(stageFlag.load(), factor)) {
        PrintLine(kForcedEndLine, {CurrentTimeText(), number});
        ExitProcess(0);  // ends the main thread's wait too
    }
    PrintLine(kWorkerReprieveLine, {CurrentTimeText(), number});
}

}  // namespace

void RegisterMessages() {
    WM_MYUSR1 = RegisterWindowMessageA("WM_MYUSR1");
    WM_MYTERM = RegisterWindowMessageA("WM_MYTERM");
    WM_MYUSR2 = RegisterWindowMessageA("WM_MYUSR2");
}

DWORD StartMessageThread(LPTHREAD_START_ROUTINE procedure) {
    DWORD threadId = 0;
    CreateThread(nullptr, 0, procedure, nullptr, 0, &threadId);
    Sleep(0);
    return threadId;
}

std::uint32_t WaitFactor(DWORD now, DWORD stamp, std::int32_t duration) {
    const std::uint32_t elapsed = now - stamp;  // unsigned: right across a wrap
    const std::int64_t difference =
        static_cast<std::int64_t>(elapsed) - static_cast<std::int64_t>(duration);
    return static_cast<std::uint32_t>(difference < 0 ? -difference : difference);
}

bool EarnsReprieve(std::int32_t flag, std::uint32_t waitFactor) {
    return flag != 0 && waitFactor <= kReprieveLimit;
}

void ResetWorkerSlots() {
    for (ChildSlot<ProcessRecord>& slot : WorkerSlots) {
        slot.state = kNotStarted;
    }
}

bool EndWorkerAsForced(int number) {
    ChildSlot<ProcessRecord>& slot = WorkerSlots[number - 1];
    std::int32_t started = kStarted;
    if (!slot.state.compare_exchange_strong(started, kEndedByMonitor)) {
        return false;
    }
    TerminateProcess(slot.processInfo.hProcess, 0);
    PrintLine(kForcedEndLine, {CurrentTimeText(), number});
    return true;
}

void HandleMonitorMessage(const MSG& message) {
    if (message.message == WM_USER) {
        RecordRegistration(message.wParam, message.lParam);
    } else if (message.message == WM_MYUSR1) {
        EndFirstStageWorker(message.wParam);
    } else if (message.message == WM_MYUSR2) {
        OrderSecondStageWorkerToEnd(message.wParam);
    }
}

DWORD WINAPI MonitorMessageThread(LPVOID) {
    RunMessageLoop(HandleMonitorMessage);
    return 0;
}

void HandleWorkerMessage(const MSG& message) {
    if (message.message == WM_MYUSR1) {
        AnswerEndRequest();
    } else if (message.message == WM_MYTERM) {
        ObeyEndOrder();
    }
}

DWORD WINAPI WorkerMessageThread(LPVOID) {
    RunMessageLoop(HandleWorkerMessage);
    return 0;
}
