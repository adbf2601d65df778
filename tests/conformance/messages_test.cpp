// Thread messages: registered ids, posts between threads of two processes,
// posts that must fail, and (on Linux) the datagrams the queue must refuse.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "../named_place.h"
#include "ipc_test_support.h"
#include "win32.h"

#ifndef _WIN32
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <fstream>
#endif

using ipc_test::ReceiveWithin;

namespace {

TEST(RegisterWindowMessage, SameIdInEveryProcessAndCaseInsensitive) {
    const UINT usr1 = RegisterWindowMessageA("WM_MYUSR1");
    const UINT term = RegisterWindowMessageA("WM_MYTERM");
    const UINT usr2 = RegisterWindowMessageA("WM_MYUSR2");
    for (UINT id : {usr1, term, usr2}) {
        EXPECT_GE(id, 0xC000u);
        EXPECT_LE(id, 0xFFFFu);
    }
    EXPECT_NE(usr1, term);
    EXPECT_NE(usr1, usr2);
    EXPECT_NE(term, usr2);
    EXPECT_EQ(RegisterWindowMessageA("wm_MyUsr1"), usr1);

    // Another process registers the lower-case name and compares with our id.
    PROCESS_INFORMATION child{};
    ASSERT_TRUE(ipc_test::StartChild("ipc-register wm_myusr1 " + std::to_string(usr1), child))
        << GetLastError();
    EXPECT_EQ(ipc_test::WaitForExit(child), 0u);
}

TEST(ThreadMessages, EchoedByAnotherProcessInOrder) {
    PROCESS_INFORMATION child{};
    ASSERT_TRUE(ipc_test::StartChild("ipc-echo " + std::to_string(GetCurrentThreadId()), child))
        << GetLastError();
    MSG hello{};
    ASSERT_TRUE(ReceiveWithin(hello));
    ASSERT_EQ(hello.message, ipc_test::kHello);
    const auto echoThread = static_cast<DWORD>(hello.lParam);

    struct Message {
        UINT id;
        WPARAM wParam;
        LPARAM lParam;
    };
    const UINT usr1 = RegisterWindowMessageA("WM_MYUSR1");
    // Fewer than the smallest queue the layer may have (10 datagrams) in flight.
    const Message sent[] = {
        {WM_USER, 7, 12345},
        {usr1, 0, 0},
        {WM_USER + 5, static_cast<WPARAM>(0x1122334455667788ull), -2},
        {usr1 + 1, 15, static_cast<LPARAM>(0x7FFFFFFFFFFFFFFFll)},
        {WM_USER, 1, -1},
        {WM_USER + 1000, 3, 3},
    };
    for (const Message& message : sent) {
        ASSERT_TRUE(PostThreadMessageA(echoThread, message.id, message.wParam, message.lParam))
            << GetLastError();
    }
    for (const Message& expected : sent) {
        MSG received{};
        ASSERT_TRUE(ReceiveWithin(received));
        EXPECT_EQ(received.message, expected.id);
        EXPECT_EQ(received.wParam, expected.wParam);
        EXPECT_EQ(received.lParam, expected.lParam);
        EXPECT_EQ(received.hwnd, nullptr);
    }
    // WM_QUIT ends the child's loop (GetMessageA returns 0); it exits with
    // the number of messages it echoed.
    ASSERT_TRUE(PostThreadMessageA(echoThread, WM_QUIT, 0, 0));
    EXPECT_EQ(ipc_test::WaitForExit(child), static_cast<DWORD>(std::size(sent)));
}

std::atomic<bool> posted{false};
std::atomic<bool> mayEnd{false};

// Posts to itself, which gives it a queue, then ends when allowed.
DWORD WINAPI PostToSelfAndEnd(LPVOID) {
    PostThreadMessageA(GetCurrentThreadId(), WM_USER, 0, 0);
    posted.store(true);
    return 0;
}

// Takes no messages, so it never has a queue.
DWORD WINAPI WaitWithoutMessages(LPVOID) {
    while (!mayEnd.load()) {
        Sleep(1);
    }
    return 0;
}

// A burst of posts to a receiver that is busy between its reads, as a message
// thread printing to a slow console is: every message arrives, in order, as
// fifteen workers answering at once need.
std::atomic<DWORD> burstReceiverId{0};
std::atomic<int> burstReceived{0};
std::atomic<bool> burstInOrder{true};

DWORD WINAPI SlowReceiver(LPVOID) {
    MSG message{};
    PostThreadMessageA(GetCurrentThreadId(), WM_USER, 0, 0);  // creates the queue
    GetMessageA(&message, nullptr, 0, 0);
    burstReceiverId.store(GetCurrentThreadId());
    for (int expected = 0; expected < 40; ++expected) {
        if (GetMessageA(&message, nullptr, 0, 0) <= 0) {
            return 1;
        }
        burstInOrder.store(burstInOrder.load() && message.wParam == WPARAM(expected));
        burstReceived.fetch_add(1);
        Sleep(60);  // a slow console
    }
    return 0;
}

TEST(ThreadMessages, BurstToBusyReceiverArrivesWhole) {
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, SlowReceiver, nullptr, 0, &id);
    ASSERT_NE(thread, nullptr);
    while (burstReceiverId.load() == 0) {
        Sleep(1);
    }
    for (int i = 0; i < 40; ++i) {
        EXPECT_TRUE(PostThreadMessageA(id, WM_USER, WPARAM(i), 0)) << i << ": " << GetLastError();
    }
    for (int waited = 0; burstReceived.load() < 40 && waited < 30000; waited += 10) {
        Sleep(10);
    }
    EXPECT_EQ(burstReceived.load(), 40);
    EXPECT_TRUE(burstInOrder.load());
    CloseHandle(thread);
}

TEST(ThreadMessages, PostWithoutQueueFails) {
    // Wine takes a post to thread 0 and reports an ended thread as error 87;
    // Windows and the layer refuse both with 1444.
    const bool wine = ipc_test::RunningUnderWine();
    SetLastError(0);
    if (!wine) {
        EXPECT_FALSE(PostThreadMessageA(0, WM_USER, 0, 0));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_THREAD_ID);
    }

    DWORD idle = 0;
    HANDLE thread = CreateThread(nullptr, 0, WaitWithoutMessages, nullptr, 0, &idle);
    ASSERT_NE(thread, nullptr);
    SetLastError(0);
    EXPECT_FALSE(PostThreadMessageA(idle, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_THREAD_ID);
    mayEnd.store(true);
    CloseHandle(thread);

    // A thread that had a queue loses it when it ends.
    DWORD ended = 0;
    thread = CreateThread(nullptr, 0, PostToSelfAndEnd, nullptr, 0, &ended);
    ASSERT_NE(thread, nullptr);
    CloseHandle(thread);
    while (!posted.load()) {
        Sleep(1);
    }
    const DWORD endedError = wine ? ERROR_INVALID_PARAMETER : ERROR_INVALID_THREAD_ID;
    DWORD error = 0;
    for (int attempt = 0; attempt < 3000 && error != endedError; ++attempt) {
        Sleep(10);
        error = PostThreadMessageA(ended, WM_USER, 0, 0) ? 0 : GetLastError();
    }
    EXPECT_EQ(error, endedError);
}

// How many datagrams the kernel holds on a socket nobody reads: the posts
// that may still arrive when a queue fills. None on Windows.
DWORD KernelQueueOfASocket() {
    DWORD length = 0;
#ifndef _WIN32
    std::ifstream("/proc/sys/net/unix/max_dgram_qlen") >> length;
#endif
    return length;
}

// A thread that sleeps while 10,000 messages are posted to it, then reads
// them; the queue of a thread is Windows' 10,000 messages, whatever it does.
constexpr DWORD kQueueLimit = 10000;
std::atomic<DWORD> sleeperId{0};
std::atomic<bool> sleeperMayRead{false};
std::atomic<DWORD> sleeperRead{0};
std::atomic<bool> sleeperInOrder{true};
constexpr UINT kPostedAfterRoom = WM_USER + 1;

DWORD WINAPI SleepThenRead(LPVOID) {
    MSG message{};
    PostThreadMessageA(GetCurrentThreadId(), WM_USER, 0, 0);  // creates the queue
    GetMessageA(&message, nullptr, 0, 0);
    sleeperId.store(GetCurrentThreadId());
    while (!sleeperMayRead.load()) {
        Sleep(5);
    }
    // Every posted message, up to the one posted after the reading began.
    for (DWORD index = 0;; ++index) {
        if (GetMessageA(&message, nullptr, 0, 0) <= 0) {
            return 1;
        }
        const DWORD expected = index < kQueueLimit ? index : kQueueLimit;
        sleeperInOrder.store(sleeperInOrder.load() && message.wParam == expected);
        sleeperRead.fetch_add(1);
        if (message.message == kPostedAfterRoom) {
            return 0;
        }
    }
}

TEST(ThreadMessages, QueueOfASleepingThreadTakesTenThousandThenRefuses) {
    HANDLE thread = CreateThread(nullptr, 0, SleepThenRead, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    while (sleeperId.load() == 0) {
        Sleep(1);
    }
    const DWORD id = sleeperId.load();
    DWORD accepted = 0;
    while (accepted < kQueueLimit && PostThreadMessageA(id, WM_USER, accepted, 0)) {
        ++accepted;
    }
    EXPECT_EQ(accepted, kQueueLimit) << GetLastError();
    // Posts on their way until the queue has taken in the 10,000 may be taken
    // on Linux; then the next one is refused. Wine sets no limit.
    DWORD onTheirWay = 0;
    if (!ipc_test::RunningUnderWine()) {
        const DWORD most = KernelQueueOfASocket();
        SetLastError(0);
        while (onTheirWay <= most && PostThreadMessageA(id, WM_USER, kQueueLimit, 0)) {
            ++onTheirWay;
            Sleep(1);
        }
        EXPECT_LE(onTheirWay, most);
        EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_QUOTA);
    }

    sleeperMayRead.store(true);
    for (int waited = 0; sleeperRead.load() == 0 && waited < 30000; waited += 5) {
        Sleep(5);
    }
    // With room again the queue takes posts again.
    bool postedAfterRoom = false;
    for (int attempt = 0; attempt < 3000 && !postedAfterRoom; ++attempt) {
        postedAfterRoom = PostThreadMessageA(id, kPostedAfterRoom, kQueueLimit, 0) != FALSE;
        if (!postedAfterRoom) {
            Sleep(10);
        }
    }
    EXPECT_TRUE(postedAfterRoom) << GetLastError();
    const DWORD all = kQueueLimit + onTheirWay + 1;
    for (int waited = 0; sleeperRead.load() < all && waited < 30000; waited += 10) {
        Sleep(10);
    }
    EXPECT_EQ(sleeperRead.load(), all);
    EXPECT_TRUE(sleeperInOrder.load());
    CloseHandle(thread);
}

#ifndef _WIN32

TEST(RegisterWindowMessageLinux, IdsAreFnv1aOfUpperCasedName) {
    // Foreign programs compute the same ids; these values pin the formula.
    EXPECT_EQ(RegisterWindowMessageA("WM_MYUSR1"), 0xC1F5u);
    EXPECT_EQ(RegisterWindowMessageA("WM_MYTERM"), 0xC39Eu);
    EXPECT_EQ(RegisterWindowMessageA("wm_myusr2"), 0xFD3Cu);
    SetLastError(0);
    EXPECT_EQ(RegisterWindowMessageA(""), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

// Posts to the calling thread itself while it reads nothing: the queue takes
// 10,000 messages and the posts already on their way when it filled (at most
// the kernel's datagram queue), then refuses with 1816 without waiting.
TEST(ThreadMessagesLinux, FullQueueFailsWithoutBlockingAndKeepsOrder) {
    DWORD posted = 0;
    while (posted < 100000 && PostThreadMessageA(GetCurrentThreadId(), WM_USER, posted, 0)) {
        ++posted;
    }
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_QUOTA);
    unsigned kernelQueue = 10;
    if (FILE* limit = std::fopen("/proc/sys/net/unix/max_dgram_qlen", "r")) {
        EXPECT_EQ(std::fscanf(limit, "%u", &kernelQueue), 1);
        std::fclose(limit);
    }
    EXPECT_GE(posted, 10000u);
    EXPECT_LE(posted, 10000u + kernelQueue + 1);
    for (DWORD i = 0; i < posted; ++i) {
        MSG message{};
        ASSERT_EQ(GetMessageA(&message, nullptr, 0, 0), TRUE);  // all are there: no wait
        ASSERT_EQ(message.wParam, i);
    }
}

// The calling thread's queue address, where a foreign program sends raw bytes.
struct RawTarget {
    sockaddr_un address{};
    socklen_t length = 0;
};

RawTarget OwnQueueAddress() {
    RawTarget target;
    target.address.sun_family = AF_UNIX;
    const int nameLength =
        std::snprintf(target.address.sun_path, sizeof target.address.sun_path, "%s",
                      named_place::QueueSocket(GetCurrentThreadId()).c_str());
    target.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + nameLength);
    return target;
}

bool SendRaw(const RawTarget& target, const void* bytes, std::size_t length) {
    const int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
    const bool sent =
        sendto(fd, bytes, length, 0, reinterpret_cast<const sockaddr*>(&target.address),
               target.length) == static_cast<ssize_t>(length);
    close(fd);
    return sent;
}

TEST(ThreadMessagesLinux, QueueTakesOnlyWellFormedDatagramsOfItsUser) {
    // The first post gives this thread its queue.
    ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), WM_USER + 1, 0, 0));
    const RawTarget self = OwnQueueAddress();
    unsigned char oversized[4096] = {0x00, 0x04};
    EXPECT_TRUE(SendRaw(self, oversized, 23));
    EXPECT_TRUE(SendRaw(self, oversized, 25));
    EXPECT_TRUE(SendRaw(self, oversized, sizeof oversized));
    if (geteuid() == 0) {
        // A process switched to another user, speaking the format correctly,
        // cannot even reach the queue in the user's own place.
        const pid_t sender = fork();
        if (sender == 0) {
            const bool switched =
                setresgid(65534, 65534, 65534) == 0 && setresuid(65534, 65534, 65534) == 0;
            _exit(switched && SendRaw(self, oversized, 24) ? 0 : 1);
        }
        int status = 0;
        waitpid(sender, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
    }
    // The wire format: uint32 message, uint32 zero, uint64 wParam, int64 lParam,
    // little-endian.
    const unsigned char wellFormed[24] = {0x34, 0x12, 0,    0,    0,    0,    0,    0,
                                          0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11,
                                          0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_TRUE(SendRaw(self, wellFormed, sizeof wellFormed));

    MSG message{};
    ASSERT_TRUE(ReceiveWithin(message));
    EXPECT_EQ(message.message, WM_USER + 1);
    ASSERT_TRUE(ReceiveWithin(message));
    EXPECT_EQ(message.message, 0x1234u);
    EXPECT_EQ(message.wParam, static_cast<WPARAM>(0x1122334455667788ull));
    EXPECT_EQ(message.lParam, -2);
}

#endif  // _WIN32

}  // namespace
