// The herd launcher's table row and its built-in herd.
#pragma once

#include <array>
#include <cstdint>

struct HerdRecord {
    std::int32_t number;  // shown in every line about the elephant; its child's name
    std::int32_t age;
    double weight;
};

inline constexpr int kHerdSize = 15;

// The herd as it is built into the launcher; the launcher works on a copy,
// which its dialogue may change in one row.
inline constexpr std::array<HerdRecord, kHerdSize> kBuiltInHerd = {{
    {1, 3, 1.7},
    {2, 4, 1.2},
    {3, 40, 4.8},
    {4, 37, 4.3},
    {5, 52, 4.5},
    {6, 14, 3.2},
    {7, 42, 6.9},
    {8, 10, 7.0},
    {9, 18, 4.0},
    {10, 48, 10.0},
    {11, 40, 6.9},
    {12, 58, 15.0},
    {13, 43, 14.0},
    {14, 20, 6.0},
    {15, 1, 3.0},
}};
