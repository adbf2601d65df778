// An elephant's parameters: the elephant's own record and the rows of the
// feeders' herd table.
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
