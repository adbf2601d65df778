// The herd launcher's table row.
#pragma once

#include <cstdint>

struct HerdRecord {
    std::int32_t number;  // shown in every line about the elephant; its child's name
    std::int32_t age;
    double weight;
};
