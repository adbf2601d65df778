// The launch of the herd, the fixed wait and the reaping.
#include <cstdint>
#include <string>
#include <string_view>

#include "console_input_unit.h"
#include "cpus_unit.h"
#include "curtime_unit.h"
#include "format_unit.h"
#include "herd_launcher.h"
#include "myProcedure_unit.h"
#include "process_unit.h"
#include "program_lines_unit.h"
#include "win32.h"

namespace {

constexpr std::string_view kChildCommandLine = kHerdChildCommandLine;
constexpr std::string_view kStartFailed = kHerdStartFailedLine;
constexpr std::string_view kTimeIsUp = kHerdTimeUpLine;
constexpr std::string_view kDestroyed = kHerdDestroyedLine;
constexpr std::string_view kEndedNormally = kHerdEndedLine;

// The herd gets this long, however early its elephants finish.
constexpr DWORD kHerdTimeMilliseconds = kHerdWaitMilliseconds;

// Shared by every start: only the size is set, so the child gets the
// launcher's console and default window settings.
STARTUPINFOA StartupInfo{};

void StartElephant(ChildSlot<HerdRecord>& slot) {
    const HerdRecord& row = *slot.params;
    // The weight goes out with two decimals and the locale's separator,
    // which the elephant, running in the same locale, reads back.
    std::string commandLine =
        FormatText(kChildCommandLine, {ChildProgramName, row.number, row.age, row.weight});
    // No application name: the platform searches for the program by the
    // first word of the (writable) command line. The child inherits the
    // launcher's console, environment and current directory. A child that
    // must keep to the herd's processors starts suspended until confined.
    const DWORD_PTR herdProcessors = ChildProcessorMask();
    const DWORD suspended = herdProcessors != 0 ? CREATE_SUSPENDED : 0;
    if (CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE,
                       slot.priorityClass | CreationFlags | suspended, nullptr, nullptr,
                       &StartupInfo, &slot.processInfo)) {
        if (suspended != 0) {
            SetProcessAffinityMask(slot.processInfo.hProcess, herdProcessors);
            ResumeThread(slot.processInfo.hThread);
        }
        slot.state = kStarted;
        ++StartedCount;
    } else {
        PrintLine(kStartFailed, {static_cast<std::int32_t>(GetLastError())});
    }
}

// Asks the child's state once: a child still running, or one whose state
// cannot be read, is ended here, and the time stamp of its line is taken
// after the ending request.
void ReapChild(const ChildSlot<HerdRecord>& slot) {
    if (ChildStillRunning(slot.processInfo)) {
        TerminateProcess(slot.processInfo.hProcess, 0);
        PrintLine(kDestroyed, {CurrentTimeText(), slot.params->number});
    } else {
        PrintLine(kEndedNormally, {CurrentTimeText(), slot.params->number});
    }
}

}  // namespace

void LaunchHerd() {
    StartupInfo.cb = sizeof(STARTUPINFOA);
    for (std::int32_t i = 0; i < ProcessCount; ++i) {
        StartElephant(Slots[i]);
    }
}

void WaitAndReap() {
    Sleep(kHerdTimeMilliseconds);
    PrintLine(kTimeIsUp, {CurrentTimeText()});
    for (std::int32_t i = 0; i < ProcessCount; ++i) {
        if (Slots[i].state != kNotStarted) {
            ReapChild(Slots[i]);
        }
    }
    // One more entry ends the run; blank lines are passed over. An entry
    // that is not a number is left to the launcher's error report.
    ReadInteger(IntegerRules::kSignBeforeHexRejected);
}
