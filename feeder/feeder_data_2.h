// herdboss2: eight numbered processes, run by tusker2. Each name holds a
// blank, so a child receives it as two words.
#pragma once

#include "cp1251_unit.h"
#include "feeder_unit.h"
#include "program_lines_unit.h"

inline constexpr FeederBuildData kNumberedProcessesBuild = {
    "tusker2",
    {
        HerdRow("процесс 1"_cp1251, 3, 1.7),
        HerdRow("процесс 2"_cp1251, 4, 2.2),
        HerdRow("процесс 3"_cp1251, 40, 5.8),
        HerdRow("процесс 4"_cp1251, 37, 4.3),
        HerdRow("процесс 5"_cp1251, 52, 4.5),
        HerdRow("процесс 6"_cp1251, 14, 3.2),
        HerdRow("процесс 7"_cp1251, 42, 6.9),
        HerdRow("процесс 8"_cp1251, 10, 3.0),
    },
    kFeederGreetingLine,
    kProcessFeederStartFailedLine,
    kProcessFeederEndedLine,
    kProcessFeederKilledLine,
};
static_assert(EveryRationExceedsRing(kNumberedProcessesBuild));
