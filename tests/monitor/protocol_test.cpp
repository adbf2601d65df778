// The protocol's arithmetic and message handling, without the programs.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>

#include "process_unit.h"
#include "protocol_unit.h"
#include "win32.h"

namespace {

// ---- Wait factor and the reprieve ----------------------------------------------

TEST(WaitFactor, IsTheTimeLeftOfThePlannedWait) {
    // A 5000 ms wait that began 4500 ms ago has 500 ms left; one that began
    // 2500 ms ago has 2500 ms left.
    EXPECT_EQ(WaitFactor(10'500, 6'000, 5'000), 500u);
    EXPECT_EQ(WaitFactor(8'500, 6'000, 5'000), 2'500u);
    EXPECT_EQ(WaitFactor(6'000, 6'000, 0), 0u);
}

TEST(WaitFactor, AnOverrunCountsAsDistanceFromTheEnd) {
    EXPECT_EQ(WaitFactor(11'030, 6'000, 5'000), 30u);
}

TEST(WaitFactor, StaysRightAcrossAWrapOfTheTickCounter) {
    // Stamp 256 ms before the wrap, now 256 ms after it: 512 ms elapsed.
    EXPECT_EQ(WaitFactor(0x0000'0100u, 0xFFFF'FF00u, 2'000), 1'488u);
    EXPECT_EQ(WaitFactor(0x0000'0100u, 0xFFFF'FF00u, 12), 500u);
}

TEST(WaitFactor, ExtremeOperandsDoNotOverflow) {
    EXPECT_EQ(WaitFactor(0xFFFF'FFFFu, 0, 0), 0xFFFF'FFFFu);
    EXPECT_EQ(WaitFactor(0, 0, INT32_MAX), static_cast<std::uint32_t>(INT32_MAX));
    EXPECT_EQ(WaitFactor(0xFFFF'FFFFu, 0, INT32_MAX), 0x8000'0000u);
}

TEST(Reprieve, OnlyASecondStageWithinOneSecondOfItsEnd) {
    EXPECT_TRUE(EarnsReprieve(1, 1000));
    EXPECT_FALSE(EarnsReprieve(1, 1001));
    EXPECT_TRUE(EarnsReprieve(1, 0));
    EXPECT_FALSE(EarnsReprieve(0, 0));
    EXPECT_FALSE(EarnsReprieve(1, 0xFFFF'FFFFu));  // unsigned: never a negative factor
}

// ---- Message handling ---------------------------------------------------------

MSG Message(UINT id, WPARAM wParam, LPARAM lParam) {
    MSG message{};
    message.message = id;
    message.wParam = wParam;
    message.lParam = lParam;
    return message;
}

class Protocol : public ::testing::Test {
  protected:
    void SetUp() override {
        RegisterMessages();
        ResetWorkerSlots();
        for (std::atomic<DWORD>& id : ThreadIds) {
            id = 0;
        }
    }
};

TEST_F(Protocol, MonitorRecordsRegistrationsOfWorkers1To15Only) {
    HandleMonitorMessage(Message(WM_USER, 1, 0x1234));
    HandleMonitorMessage(Message(WM_USER, 15, 0x0FED'CBA9));
    EXPECT_EQ(ThreadIds[1].load(), 0x1234u);
    EXPECT_EQ(ThreadIds[15].load(), 0x0FED'CBA9u);

    ThreadIds[0] = 77;  // the monitor's own thread id may never be overwritten
    for (WPARAM number : {WPARAM{0}, WPARAM{16}, ~WPARAM{0}}) {
        HandleMonitorMessage(Message(WM_USER, number, 0x5555));
    }
    EXPECT_EQ(ThreadIds[0].load(), 77u);
    for (int k = 2; k <= 14; ++k) {
        EXPECT_EQ(ThreadIds[k].load(), 0u) << k;
    }
}

// Answers for numbers outside 1..15 or for workers that never started touch
// nothing; a second-stage answer of a started worker marks its own slot.
TEST_F(Protocol, MonitorActsOnlyOnAnswersOfStartedWorkers) {
    WorkerSlots[2].state = kStarted;
    for (UINT id : {WM_MYUSR1, WM_MYUSR2}) {
        for (WPARAM number : {WPARAM{0}, WPARAM{16}, ~WPARAM{0}, WPARAM{1}}) {
            HandleMonitorMessage(Message(id, number, 0));
        }
    }
    EXPECT_EQ(WorkerSlots[0].state.load(), kNotStarted);  // worker 1 never started
    EXPECT_EQ(WorkerSlots[2].state.load(), kStarted);
    HandleMonitorMessage(Message(WM_MYUSR2, 3, 0));  // worker 3 has not registered: post lost
    EXPECT_EQ(WorkerSlots[2].state.load(), kToldToEnd);
    for (int k = 4; k <= kMaxWorkers; ++k) {
        EXPECT_EQ(WorkerSlots[k - 1].state.load(), kNotStarted) << k;
    }
}

}  // namespace
