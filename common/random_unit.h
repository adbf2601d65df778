// Pseudo-random numbers: one 32-bit state per process.
#pragma once

#include <cstdint>

enum class SeedSource {
    kPerformanceCounter,  // low 32 bits of QueryPerformanceCounter, else GetTickCount
    kUtcTimeOfDay,        // milliseconds since midnight UTC (GetSystemTime); the herd launcher
};

void Reseed(SeedSource source = SeedSource::kPerformanceCounter);

// 0 <= r < n, uniform, advancing the state once; 0 for n <= 0.
std::int32_t RandomBelow(std::int32_t n);

// The state itself, for tests that need a known sequence.
void SetRandomState(std::uint32_t state);
std::uint32_t RandomState();
