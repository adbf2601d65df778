// The process's pseudo-random generator: a linear congruential generator on
// one 32-bit state. Only the main thread draws, but the state is atomic so
// that a second drawing thread could never corrupt it.
#include "random_unit.h"

#include <atomic>

#include "win32.h"

namespace {

std::atomic<std::uint32_t> state{0};

constexpr std::uint32_t kMultiplier = 134775813u;

std::uint32_t MillisecondsSinceUtcMidnight() {
    SYSTEMTIME now{};
    GetSystemTime(&now);
    return ((now.wHour * 60u + now.wMinute) * 60u + now.wSecond) * 1000u + now.wMilliseconds;
}

std::uint32_t PerformanceCounterLow() {
    LARGE_INTEGER counter{};
    if (QueryPerformanceCounter(&counter)) {
        return static_cast<std::uint32_t>(counter.QuadPart);
    }
    return GetTickCount();
}

// Advances the state once and returns the new state.
std::uint32_t NextState() {
    std::uint32_t current = state.load(std::memory_order_relaxed);
    std::uint32_t next = 0;
    do {
        next = current * kMultiplier + 1u;
    } while (!state.compare_exchange_weak(current, next, std::memory_order_relaxed));
    return next;
}

}  // namespace

void Reseed(SeedSource source) {
    const std::uint32_t seed = source == SeedSource::kUtcTimeOfDay ? MillisecondsSinceUtcMidnight()
                                                                   : PerformanceCounterLow();
    state.store(seed, std::memory_order_relaxed);
}

std::int32_t RandomBelow(std::int32_t n) {
    const std::uint32_t next = NextState();
    if (n <= 0) {
        return 0;
    }
    // Scaling the full 32-bit state keeps the draw uniform and uses the
    // generator's better high bits.
    return static_cast<std::int32_t>(
        (static_cast<std::uint64_t>(next) * static_cast<std::uint32_t>(n)) >> 32);
}

void SetRandomState(std::uint32_t value) {
    state.store(value, std::memory_order_relaxed);
}

std::uint32_t RandomState() {
    return state.load(std::memory_order_relaxed);
}
