// The feeders' two data sets: the herd of each build and the texts in which
// the builds differ. herdboss2 and herdboss6 are one program built with one
// of them each; the teacher's tools read them too (the children's order, the
// names of their blocks), so they live here and not in the feeder program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "cp1251_unit.h"
#include "elephant_unit.h"
#include "feed_ring_unit.h"
#include "program_lines_unit.h"

inline constexpr int kFeederHerdSize = 8;

// Everything in which the two builds differ.
struct FeederBuildData {
    std::string_view childProgramName;
    ElephantRecord herd[kFeederHerdSize];  // the FeederHerdTable
    std::string_view greetingLine;         // %s: time stamp
    std::string_view startFailureLine;     // %d: the platform's error number
    std::string_view endedLine;            // %s: time stamp, %s: name
    std::string_view killedLine;           // %s: time stamp, %s: name
};

// A herd row as the table holds it: the name as a length byte and at most 16
// characters, every byte after them zero; the block name is read from it.
constexpr ElephantRecord HerdRow(std::string_view name, std::int32_t age, double weight) {
    ElephantRecord row{};
    const std::size_t length =
        name.size() < kElephantNameLimit ? name.size() : std::size_t{kElephantNameLimit};
    row.nameLength = static_cast<std::uint8_t>(length);
    for (std::size_t i = 0; i < length; ++i) {
        row.nameChars[i] = name[i];
    }
    row.age = age;
    row.weight = weight;
    return row;
}

// Every ration of the build exceeds the ring. A child that never started gets
// eight portions and no more, so its ration never runs out and it never
// counts as fed; both data sets are asserted to keep this.
constexpr bool EveryRationExceedsRing(const FeederBuildData& build) {
    for (const ElephantRecord& row : build.herd) {
        if (RationOf(row.weight) <= kRingSlots) {
            return false;
        }
    }
    return true;
}

// herdboss2: eight numbered processes, run by tusker2. Each name holds a
// blank, so a child receives it as two words.
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

// herdboss6: eight named elephants, run by tusker6.
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
