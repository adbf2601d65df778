// The feeder's launch, feeding loop, reaping and release.
#include "feeder_unit.h"

#include "cp1251_unit.h"
#include "cpus_unit.h"
#include "curtime_unit.h"
#include "format_unit.h"
#include "myProcedure_unit.h"
#include "priority_unit.h"
#include "random_unit.h"

// ---- Module state -------------------------------------------------------------
ChildSlot<const ElephantRecord> ChildSlots[kFeederHerdSize];
HANDLE FeedRingHandles[kFeederHerdSize] = {};
unsigned char* FeedRingViews[kFeederHerdSize] = {};
std::int32_t RemainingRations[kFeederHerdSize] = {};
std::int32_t RingPositions[kFeederHerdSize] = {};
std::int32_t StartedCount = 0;
STARTUPINFOA StartupInfo = {};

namespace {

// Classes are drawn from the first five: a child never runs in real time.
constexpr std::int32_t kDrawnPriorityClasses = 5;

// The longest pause after a visit is one less than this, in ms.
constexpr std::int32_t kPauseBound = 100;

constexpr double kSecondsPerDay = 86400.0;
constexpr double kMillisecondsPerDay = 86400000.0;

std::int32_t LastErrorNumber() {
    return static_cast<std::int32_t>(GetLastError());
}

// Points the slot at its row, not started yet, in a randomly drawn class.
void PrepareChildSlot(int index) {
    ChildSlot<const ElephantRecord>& slot = ChildSlots[index];
    slot.params = &kFeederBuild.herd[index];
    slot.state = kNotStarted;
    slot.priorityClass = kPriorityClasses[RandomBelow(kDrawnPriorityClasses)];
}

// Starts child `index` in its class, suspended first while it is confined
// to the children's processors. Prints the build's start-failure line with
// the error number on failure.
bool StartFeederChild(int index) {
    ChildSlot<const ElephantRecord>& slot = ChildSlots[index];
    std::string commandLine = FeederChildCommandLine(kFeederBuild.childProgramName, *slot.params);
    const DWORD_PTR childProcessors = ChildProcessorMask();
    const DWORD suspended = childProcessors != 0 ? CREATE_SUSPENDED : 0;
    if (CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE,
                       slot.priorityClass | suspended, nullptr, nullptr, &StartupInfo,
                       &slot.processInfo)) {
        if (suspended != 0) {
            SetProcessAffinityMask(slot.processInfo.hProcess, childProcessors);
            ResumeThread(slot.processInfo.hThread);
        }
        return true;
    }
    PrintLine(kFeederBuild.startFailureLine, {LastErrorNumber()});
    return false;
}

}  // namespace

// ---- Launch -----------------------------------------------------------------

bool OpenFeedRing(int index) {
    const ElephantRecord& row = kFeederBuild.herd[index];
    const std::string name = FeedRingName(ElephantName(row));
    HANDLE block = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kRingSlots,
                                      name.c_str());
    if (block == nullptr) {
        PrintLine(kRingFailureLine, {ElephantName(row), LastErrorNumber()});
        return false;
    }
    void* view = MapViewOfFile(block, FILE_MAP_ALL_ACCESS, 0, 0, kRingSlots);
    if (view == nullptr) {
        const std::int32_t error = LastErrorNumber();
        CloseHandle(block);
        PrintLine(kRingFailureLine, {ElephantName(row), error});
        return false;
    }
    FeedRingHandles[index] = block;
    FeedRingViews[index] = static_cast<unsigned char*>(view);
    // Cleared even when another instance of this build already has the block.
    for (int slot = 0; slot < kRingSlots; ++slot) {
        StoreSlot(FeedRingViews[index], slot, kEmptySlot);
    }
    return true;
}

std::int32_t LaunchFeederHerd() {
    StartedCount = 0;
    for (int index = 0; index < kFeederHerdSize; ++index) {
        PrepareChildSlot(index);
        const bool ringReady = OpenFeedRing(index);
        RemainingRations[index] = RationOf(ChildSlots[index].params->weight);
        RingPositions[index] = 0;
        // Without its block a child would wait for food that can never come.
        if (ringReady && StartFeederChild(index)) {
            ChildSlots[index].state = kStarted;
            ++StartedCount;
        }
    }
    return StartedCount;
}

// ---- Feeding ----------------------------------------------------------------

double DayFraction(const SYSTEMTIME& time) {
    const double milliseconds =
        ((time.wHour * 60.0 + time.wMinute) * 60.0 + time.wSecond) * 1000.0 + time.wMilliseconds;
    return milliseconds / kMillisecondsPerDay;
}

double FeedingDeadline(double start) {
    return (start * kSecondsPerDay + kFeedingMilliseconds / 1000.0) / kSecondsPerDay;
}

bool FeedingTimeUp(double now, double deadline, DWORD nowTick, DWORD startTick) {
    // Unsigned subtraction counts across the 49.7-day wrap of the tick count.
    return now >= deadline || nowTick - startTick >= kFeedingMilliseconds;
}

bool VisitChild(int index) {
    unsigned char* ring = FeedRingViews[index];
    if (RemainingRations[index] <= 0 || ring == nullptr) {
        return false;
    }
    // No look-ahead: only the slot at the ring position counts.
    const int position = RingPositions[index];
    if (LoadSlot(ring, position) != kEmptySlot) {
        return false;
    }
    StoreSlot(ring, position, kFullSlot);
    --RemainingRations[index];
    RingPositions[index] = NextRingPosition(position);
    return true;
}

void FeedPass() {
    for (int index = 0; index < kFeederHerdSize; ++index) {
        VisitChild(index);
        Sleep(static_cast<DWORD>(RandomBelow(kPauseBound)));
    }
}

namespace {

double CurrentDayFraction() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return DayFraction(now);
}

}  // namespace

std::int32_t UnfinishedCount() {
    std::int32_t unfinished = 0;
    for (int index = 0; index < kFeederHerdSize; ++index) {
        if (ChildSlots[index].state >= kStarted && RemainingRations[index] > 0) {
            ++unfinished;
        }
    }
    return unfinished;
}

void FeedHerd() {
    const double deadline = FeedingDeadline(CurrentDayFraction());
    const DWORD startTick = GetTickCount();
    // Both conditions are tested once per pass, never inside one.
    while (UnfinishedCount() != 0 &&
           !FeedingTimeUp(CurrentDayFraction(), deadline, GetTickCount(), startTick)) {
        FeedPass();
    }
}

// ---- End --------------------------------------------------------------------

void ReapFeederHerd() {
    for (const ChildSlot<const ElephantRecord>& slot : ChildSlots) {
        if (slot.state < kStarted) {
            continue;
        }
        if (ChildStillRunning(slot.processInfo)) {
            TerminateProcess(slot.processInfo.hProcess, 0);
            PrintLine(kFeederBuild.killedLine, {CurrentTimeText(), ElephantName(*slot.params)});
        } else {
            PrintLine(kFeederBuild.endedLine, {CurrentTimeText(), ElephantName(*slot.params)});
        }
    }
}

void ReleaseFeedRings() {
    for (int index = 0; index < kFeederHerdSize; ++index) {
        if (FeedRingViews[index] != nullptr) {
            UnmapViewOfFile(FeedRingViews[index]);
            FeedRingViews[index] = nullptr;
        }
        if (FeedRingHandles[index] != nullptr) {
            CloseHandle(FeedRingHandles[index]);
            FeedRingHandles[index] = nullptr;
        }
    }
}
