// herdboss6: eight named elephants, run by tusker6.
#pragma once

#include "cp1251_unit.h"
#include "feeder_unit.h"
#include "program_lines_unit.h"

inline constexpr FeederBuildData kNamedElephantsBuild = {
    "tusker6",
    {
        HerdRow("Tandy", 3, 1.7),
        HerdRow("Aun", 4, 2.2),
        HerdRow("Assam", 40, 5.8),
        HerdRow("Maya", 37, 4.3),
        HerdRow("BakZap", 52, 4.5),
        HerdRow("Hao", 14, 3.2),
        HerdRow("Hathy", 42, 6.9),
        HerdRow("Kitty", 10, 3.0),
    },
    kFeederGreetingLine,
    kElephantFeederStartFailedLine,
    kElephantFeederEndedLine,
    kElephantFeederKilledLine,
};
static_assert(EveryRationExceedsRing(kNamedElephantsBuild));
