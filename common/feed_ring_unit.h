// The FeedRing: the 8-byte shared block through which a feeder hands one child
// its portions, and everything both sides must agree on to use it.
//
//   byte 0..7  slot 0..7; 0 = empty, 1 = one portion placed by the feeder.
//
// The feeder turns a slot from 0 to 1 only, the child from 1 to 0 only, both
// in ring order; the value of a slot alone says whose move it is, so no lock
// is needed. Slots are read and written as atomic bytes on both sides, so no
// side keeps a stale copy of a slot in a register.
#pragma once

#include <atomic>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "elephant_unit.h"
#include "format_unit.h"
#include "program_lines_unit.h"

inline constexpr int kRingSlots = 8;
inline constexpr unsigned char kEmptySlot = 0;
inline constexpr unsigned char kFullSlot = 1;

// atomic_ref on the mapped bytes needs no alignment beyond a byte's.
static_assert(std::atomic_ref<unsigned char>::required_alignment == 1);

inline unsigned char LoadSlot(unsigned char* ring, int slot) {
    return std::atomic_ref<unsigned char>(ring[slot]).load(std::memory_order_acquire);
}

inline void StoreSlot(unsigned char* ring, int slot, unsigned char value) {
    std::atomic_ref<unsigned char>(ring[slot]).store(value, std::memory_order_release);
}

// The ring position after `position`: 0..7, then 0 again.
constexpr int NextRingPosition(int position) {
    return position == kRingSlots - 1 ? 0 : position + 1;
}

// The ration: 5 x weight x weight portions, rounded up to a whole number (a
// product that is already whole stays as it is: weight 3.0 gives 45). Both
// sides compute it from the same weight. A weight of 0 or NaN gives 0; a
// product beyond the 32-bit range is capped.
constexpr std::int32_t RationOf(double weight) {
    const double product = 5.0 * weight * weight;
    if (!(product > 0.0)) {
        return 0;
    }
    constexpr auto kMostPortions = std::numeric_limits<std::int32_t>::max();
    if (product >= static_cast<double>(kMostPortions)) {
        return kMostPortions;
    }
    const auto whole = static_cast<std::int32_t>(product);  // the whole part: product > 0
    return product > static_cast<double>(whole) ? whole + 1 : whole;
}

// The block's name for a child's name text (Windows-1251, at most 16
// characters): one byte holding the name's length, then its characters. This is the name a foreign
// child passes to OpenFileMappingA; the feeder builds the same bytes from its table.
inline std::string FeedRingName(std::string_view name) {
    std::string blockName(1, static_cast<char>(static_cast<unsigned char>(name.size())));
    blockName.append(name);
    return blockName;
}

// The child's command line (kFeederChildCommandLine): program, name, age and
// weight with two decimals and the locale's separator), unquoted, so a name
// with a blank reaches the child as two words: "tusker6 Tandy 3 1.70".
inline std::string FeederChildCommandLine(std::string_view program, const ElephantRecord& row) {
    return FormatText(kFeederChildCommandLine, {program, ElephantName(row), row.age, row.weight});
}
