// An elephant's parameters: the elephant's own record and the rows of the
// feeders' herd table; and how an elephant's age and weight turn into work.
#pragma once

#include <cstdint>
#include <string_view>

inline constexpr int kElephantNameLimit = 16;

// The name is held as a length byte followed by its Windows-1251 characters;
// the bytes after the last character are zero. The feeders name each
// shared block by these bytes, length byte included.
struct ElephantRecord {
    std::uint8_t nameLength = 0;
    char nameChars[kElephantNameLimit] = {};
    std::int32_t age = 0;
    double weight = 0.0;
};

// Stores at most the first 16 characters of `name`, zero-filling the rest.
void SetElephantName(ElephantRecord& record, std::string_view name);

// The name's characters, without the length byte.
std::string_view ElephantName(const ElephantRecord& record);

// The bound of the elephant's random search, 120 - 2 x age. An age above 60
// would make it negative: such an elephant finds water at once (0). A very
// young (negative) age is clamped to the int32 range instead of overflowing.
std::int32_t SearchBound(std::int32_t age);

// Busy units the elephant drinks: weight x 5, rounded once to the nearest
// whole number, an exact half to the even neighbour. The product is formed
// exactly; rounding it to a double first would turn 4.3 (just below 4.3) into
// 21.5 and so 22 units. A weight of 0 or below, or NaN, gives 0; a product
// beyond the int32 range gives 2147483647 (the launcher ends such an
// elephant at its deadline anyway).
std::int32_t DrinkingUnits(double weight);
