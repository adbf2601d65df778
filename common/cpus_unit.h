// HERDLAB_CPUS: the processors a launcher's children run on.
//
// Priority classes only decide who runs when more children are runnable than
// there are processors. With HERDLAB_CPUS=n (1..64) every child a launcher
// starts is confined to the first n processors the launcher itself may use,
// from its first instruction on (it is created suspended, confined, then
// resumed), so a herd competes the same way on any machine. The launcher
// keeps all of its own processors: its deadline stays punctual even while a
// real-time child holds the children's only processor.
#pragma once

#include <cstdint>

#include "win32.h"

// The first `count` processors of `allowed`, lowest numbers first; all of
// them when it has no more.
DWORD_PTR FirstProcessors(DWORD_PTR allowed, std::int32_t count);

// The processors for every child of this launcher, or 0 when its children
// are not confined: HERDLAB_CPUS unset, empty or not a number 1..64, or the
// launcher's own processors unreadable. Read at the first call.
DWORD_PTR ChildProcessorMask();
