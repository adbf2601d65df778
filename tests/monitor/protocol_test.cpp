// The protocol's arithmetic and message handling, without the programs.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "a0wait_unit.h"
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

constexpr UINT kProbe = WM_USER + 100;  // opens a receiver's queue; ignored by both sides

// A thread that records the first message other than kProbe it receives.
struct Receiver {
    DWORD threadId = 0;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    std::atomic<bool> done{false};
};

DWORD WINAPI ReceiveOne(LPVOID parameter) {
    auto* receiver = static_cast<Receiver*>(parameter);
    MSG message{};
    while (GetMessageA(&message, nullptr, 0, 0) > 0 && message.message == kProbe) {
    }
    receiver->message = message.message;
    receiver->wParam = message.wParam;
    receiver->lParam = message.lParam;
    receiver->done = true;
    return 0;
}

// Starts the receiver and returns once its queue takes messages.
void StartReceiver(Receiver& receiver) {
    CloseHandle(CreateThread(nullptr, 0, ReceiveOne, &receiver, 0, &receiver.threadId));
    for (int tries = 0; tries < 500; ++tries) {
        if (PostThreadMessageA(receiver.threadId, kProbe, 0, 0)) {
            return;
        }
        Sleep(10);
    }
    FAIL() << "the receiver's queue never opened";
}

bool AwaitReceiver(Receiver& receiver) {
    for (int tries = 0; tries < 500 && !receiver.done; ++tries) {
        Sleep(10);
    }
    return receiver.done;
}

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
        stageFlag = 0;
    }
};

TEST_F(Protocol, MessageIdsAreRegisteredAndDistinct) {
    EXPECT_GE(WM_MYUSR1, 0xC000u);
    EXPECT_GE(WM_MYTERM, 0xC000u);
    EXPECT_GE(WM_MYUSR2, 0xC000u);
    EXPECT_NE(WM_MYUSR1, WM_MYTERM);
    EXPECT_NE(WM_MYUSR1, WM_MYUSR2);
    EXPECT_NE(WM_MYTERM, WM_MYUSR2);
    EXPECT_EQ(WM_MYTERM, RegisterWindowMessageA("WM_MYTERM"));
}

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

TEST_F(Protocol, MonitorIgnoresAnswersForNoStartedWorker) {
    WorkerSlots[2].state = kStarted;
    for (UINT id : {WM_MYUSR1, WM_MYUSR2}) {
        for (WPARAM number : {WPARAM{0}, WPARAM{16}, ~WPARAM{0}, WPARAM{1}}) {
            HandleMonitorMessage(Message(id, number, 0));
        }
    }
    EXPECT_EQ(WorkerSlots[0].state.load(), kNotStarted);  // worker 1 never started
    EXPECT_EQ(WorkerSlots[2].state.load(), kStarted);
    for (int k = 4; k <= kMaxWorkers; ++k) {
        EXPECT_EQ(WorkerSlots[k - 1].state.load(), kNotStarted) << k;
    }
}

TEST_F(Protocol, SecondStageAnswerSendsTheEndOrderToThatWorker) {
    Receiver worker;
    StartReceiver(worker);
    ThreadIds[4] = worker.threadId;
    ThreadIds[5] = 1;  // a neighbour's entry must not be the target
    WorkerSlots[3].state = kStarted;

    HandleMonitorMessage(Message(WM_MYUSR2, 4, 0));

    EXPECT_EQ(WorkerSlots[3].state.load(), kToldToEnd);
    ASSERT_TRUE(AwaitReceiver(worker));
    EXPECT_EQ(worker.message, WM_MYTERM);
    EXPECT_EQ(worker.wParam, 0u);
    EXPECT_EQ(worker.lParam, 0);
}

TEST_F(Protocol, WorkerAnswersTheEndRequestFromItsStage) {
    WorkerParams = {12, 100, 200};
    for (std::int32_t flag : {0, 1}) {
        Receiver monitor;
        StartReceiver(monitor);
        monitorThreadId = monitor.threadId;
        stageFlag = flag;

        HandleWorkerMessage(Message(WM_MYUSR1, 0, 0));

        ASSERT_TRUE(AwaitReceiver(monitor));
        EXPECT_EQ(monitor.message, flag == 0 ? WM_MYUSR1 : WM_MYUSR2);
        EXPECT_EQ(monitor.wParam, 12u);
        EXPECT_EQ(monitor.lParam, 0);
    }
}

TEST_F(Protocol, WorkerNearTheEndOfItsSecondStageIsReprieved) {
    WorkerParams = {3, 100, 5000};
    stageFlag = 1;
    waitStamp = GetTickCount() - 4500;
    waitDuration = 5000;
#ifdef _WIN32
    HandleWorkerMessage(Message(WM_MYTERM, 0, 0));  // returns: the worker carries on
#else
    ::testing::internal::CaptureStdout();
    HandleWorkerMessage(Message(WM_MYTERM, 0, 0));  // returns: the worker carries on
    const std::string printed = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("Процесс  3 - принял сообщение WM_MYTERM."), std::string::npos);
    EXPECT_NE(printed.find("Процесс  3 - получил отсрочку."), std::string::npos) << printed;
    EXPECT_EQ(printed.find("принудительно"), std::string::npos) << printed;
#endif
}

TEST_F(Protocol, WorkerFarFromItsEndEndsItselfWithStatus0) {
    WorkerParams = {3, 100, 5000};
    stageFlag = 1;
    waitStamp = GetTickCount() - 2500;
    waitDuration = 5000;
    EXPECT_EXIT(HandleWorkerMessage(Message(WM_MYTERM, 0, 0)), ::testing::ExitedWithCode(0), "");
}

}  // namespace
