// The base waits: a busy loop that burns a fixed amount of processor work per
// unit, and a sleep that leaves its start and planned length for the worker's
// message thread.
#include "a0wait_unit.h"

#include "win32.h"

std::atomic<std::uint32_t> waitStamp{0};
std::atomic<std::int32_t> waitDuration{0};

namespace {

constexpr int kOuterIterations = 10'000;
constexpr int kInnerIterations = 1'000;

// Makes the optimiser forget what it knows about the loop counter, so it can
// neither remove the empty loop nor compute its end in one step. The counter
// stays in a register: no memory traffic is added to the loop.
inline void KeepIteration(int& counter) {
#if defined(__GNUC__) || defined(__clang__)
    asm volatile("" : "+r"(counter));
#else
    volatile int sink = counter;
    counter = sink;
#endif
}

void SpinOneUnit() {
    for (int j = 0; j < kOuterIterations; ++j) {
        for (int k = 0; k < kInnerIterations; ++k) {
            KeepIteration(k);
        }
    }
}

}  // namespace

void SpinWait(std::int32_t units) {
    for (std::int32_t n = 0; n < units; ++n) {
        SpinOneUnit();
    }
}

void SleepWait(std::int32_t milliseconds) {
    // The stamp goes first: a reader that sees the new duration also sees
    // the new stamp.
    waitStamp.store(GetTickCount());
    waitDuration.store(milliseconds > 0 ? milliseconds : 0);
    if (milliseconds < 0) {
        return;
    }
    Sleep(static_cast<DWORD>(milliseconds));
}
