// The feeder's launch, feeding loop, reaping and release.
#include "feeder_unit.h"

#include "cp1251_unit.h"
#include "curtime_unit.h"
#include "format_unit.h"
#include "myProcedure_unit.h"
#include "priority_unit.h"
#include "random_unit.h"

ChildSlot<const ElephantRecord> childSlots[kFeederHerdSize];
HANDLE feedRingHandles[kFeederHerdSize] = {};
unsigned char* feedRingViews[kFeederHerdSize] = {};
std::int32_t remainingRations[kFeederHerdSize] = {};
std::int32_t ringPositions[kFeederHerdSize] = {};
std::int32_t startedCount = 0;
std::int32_t unfinishedCount = 0;
STARTUPINFOA startupInfo = {};

namespace {

// Classes are drawn from the first five: a child never runs in real time.
constexpr std::int32_t kDrawnPriorityClasses = 5;

// The longest pause after a visit is one less than this, in ms.
constexpr std::int32_t kPauseBound = 100;

// No time stamp, like the start-failure line it replaces.
constexpr std::string_view kRingFailureLine =
    "Не удалось создать общую память «%s», ошибка %d"_cp1251;

constexpr double kSecondsPerDay = 86400.0;
constexpr double kMillisecondsPerDay = 86400000.0;

std::int32_t LastErrorNumber() {
    return static_cast<std::int32_t>(GetLastError());
}

// Points the slot at its row, not started yet, in a randomly drawn class.
void PrepareChildSlot(int index) {
    ChildSlot<const ElephantRecord>& slot = childSlots[index];
    slot.params = &kFeederBuild.herd[index];
    slot.state = kNotStarted;
    slot.priorityClass = kPriorityClasses[RandomBelow(kDrawnPriorityClasses)];
}

// Starts child `index` in its class; the class is the only creation flag.
// Prints the build's start-failure line with the error number on failure.
bool StartChild(int index) {
    ChildSlot<const ElephantRecord>& slot = childSlots[index];
    std::string commandLine = ChildCommandLine(*slot.params);
    if (CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, slot.priorityClass,
                       nullptr, nullptr, &startupInfo, &slot.processInfo)) {
        return true;
    }
    PrintLine(kFeederBuild.startFailureLine, {LastErrorNumber()});
    return false;
}

}  // namespace

// ---- Launch -----------------------------------------------------------------

std::string FeedRingName(const ElephantRecord& row) {
    // The name as the table holds it, up to the first zero byte; never past
    // the 16 characters, whatever the length byte claims.
    std::string name(1, static_cast<char>(row.nameLength));
    for (int i = 0; i < kElephantNameLimit && row.nameChars[i] != '\0'; ++i) {
        name += row.nameChars[i];
    }
    return name;
}

std::string ChildCommandLine(const ElephantRecord& row) {
    return FeederChildCommandLine(kFeederBuild.childProgramName, row);
}

bool OpenFeedRing(int index) {
    const ElephantRecord& row = kFeederBuild.herd[index];
    const std::string name = FeedRingName(row);
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
    feedRingHandles[index] = block;
    feedRingViews[index] = static_cast<unsigned char*>(view);
    // Cleared even when another instance of this build already has the block.
    for (int slot = 0; slot < kRingSlots; ++slot) {
        StoreSlot(feedRingViews[index], slot, kEmptySlot);
    }
    return true;
}

std::int32_t LaunchFeederHerd() {
    startedCount = 0;
    for (int index = 0; index < kFeederHerdSize; ++index) {
        PrepareChildSlot(index);
        const bool ringReady = OpenFeedRing(index);
        remainingRations[index] = RationOf(childSlots[index].params->weight);
        ringPositions[index] = 0;
        // Without its block a child would wait for food that can never come.
        if (ringReady && StartChild(index)) {
            childSlots[index].state = kStarted;
            ++startedCount;
        }
    }
    return startedCount;
}

// ---- Feeding ----------------------------------------------------------------

double DayFraction(const SYSTEMTIME& time) {
    const double milliseconds =
        ((time.wHour * 60.0 + time.wMinute) * 60.0 + time.wSecond) * 1000.0 + time.wMilliseconds;
    return milliseconds / kMillisecondsPerDay;
}

double FeedingDeadline(double start) {
    return (start * kSecondsPerDay + kFeedingSeconds) / kSecondsPerDay;
}

bool FeedingTimeUp(double now, double deadline, DWORD nowTick, DWORD startTick) {
    // Unsigned subtraction counts across the 49.7-day wrap of the tick count.
    return now >= deadline || nowTick - startTick >= kFeedingTicks;
}

bool VisitChild(int index) {
    unsigned char* ring = feedRingViews[index];
    if (remainingRations[index] <= 0 || ring == nullptr) {
        return false;
    }
    // No look-ahead: only the slot at the ring position counts.
    const int position = ringPositions[index];
    if (LoadSlot(ring, position) != kEmptySlot) {
        return false;
    }
    StoreSlot(ring, position, kFullSlot);
    if (--remainingRations[index] == 0) {
        --unfinishedCount;
    }
    ringPositions[index] = NextRingPosition(position);
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

void FeedHerd() {
    unfinishedCount = startedCount;
    const double deadline = FeedingDeadline(CurrentDayFraction());
    const DWORD startTick = GetTickCount();
    // Both conditions are tested once per pass, never inside one.
    while (unfinishedCount != 0 &&
           !FeedingTimeUp(CurrentDayFraction(), deadline, GetTickCount(), startTick)) {
        FeedPass();
    }
}

// ---- End --------------------------------------------------------------------

void ReapFeederHerd() {
    for (const ChildSlot<const ElephantRecord>& slot : childSlots) {
        if (slot.state < kStarted) {
            continue;
        }
        // A child we cannot ask about counts as running: ending it is safer
        // than reporting an end that may not have happened.
        DWORD exitCode = STILL_ACTIVE;
        GetExitCodeProcess(slot.processInfo.hProcess, &exitCode);
        if (exitCode == STILL_ACTIVE) {
            TerminateProcess(slot.processInfo.hProcess, 0);
            PrintLine(kFeederBuild.killedLine, {CurrentTimeText(), ElephantName(*slot.params)});
        } else {
            PrintLine(kFeederBuild.endedLine, {CurrentTimeText(), ElephantName(*slot.params)});
        }
    }
}

void ReleaseFeedRings() {
    for (int index = 0; index < kFeederHerdSize; ++index) {
        if (feedRingViews[index] != nullptr) {
            UnmapViewOfFile(feedRingViews[index]);
            feedRingViews[index] = nullptr;
        }
        if (feedRingHandles[index] != nullptr) {
            CloseHandle(feedRingHandles[index]);
            feedRingHandles[index] = nullptr;
        }
    }
}
