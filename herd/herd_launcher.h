// The herd launcher's state and the steps of its run. The state lives for
// the whole run; the dialogue fills it and the launch and reaping use it.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "herd_unit.h"
#include "process_unit.h"
#include "win32.h"

// The herd, a copy of the built-in table; the dialogue may edit one row.
extern std::array<HerdRecord, kHerdSize> HerdTable;

// One slot per row; only the first ProcessCount are prepared and used.
extern std::array<ChildSlot<HerdRecord>, kHerdSize> Slots;

// Launcher settings.
extern const std::string_view ChildProgramName;  // started for every elephant
extern const DWORD CreationFlags;                // OR-ed into every child's flags
extern std::int32_t StartedCount;                // children started successfully
extern std::int32_t ProcessCount;                // elephants taking part, 1..15

// Greeting, count, listing with a random class per elephant, one optional edit.
void RunDialogue();

// Starts one child per prepared slot, in table order, without pause.
void LaunchHerd();

// The fixed wait, the time-out line, the report in table order and the
// final entry. Only called when at least one child started.
void WaitAndReap();
