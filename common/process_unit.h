// A launcher's record of one child, the one rule by which every launcher
// tells a running child from an ended one, and the worker's parameter record
// that the monitor's table and the worker share.
#pragma once

#include <atomic>
#include <cstdint>

#include "win32.h"

// Values of ChildSlot::state.
inline constexpr std::int32_t kNotStarted = -1;
inline constexpr std::int32_t kStarted = 0;

// One child of a launcher, in table order. `Row` is the launcher's table row.
// `state` is atomic because the monitor's message thread changes it.
template <typename Row>
struct ChildSlot {
    Row* params = nullptr;
    PROCESS_INFORMATION processInfo{};
    DWORD priorityClass = 0;
    std::atomic<std::int32_t> state{0};
};

// True while the child runs, and also when its exit code cannot be read: a
// child whose state is unknown is ended by its launcher and reported as such,
// never reported as having finished on its own while it may still run.
bool ChildStillRunning(const PROCESS_INFORMATION& child);

// A staged worker's parameters: the monitor's table row and the worker's own
// record.
struct ProcessRecord {
    std::int32_t number;
    std::int32_t stage1Param;  // ms: the first stage lasts a random time below this
    std::int32_t stage2Param;  // ms: the second stage lasts exactly this
};
