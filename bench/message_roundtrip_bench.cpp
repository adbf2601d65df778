// A thread message's round trip between two processes: PostThreadMessageA to a
// forked echo process and GetMessageA of its answer, against the same
// ping-pong over raw AF_UNIX datagram sockets bound in the abstract namespace
// (the cheapest way to address a datagram socket). The layer's sockets are
// files in the user's own place, so the lookup of their path counts as the
// layer's cost, as do its checks. Prints the ratio of the two; the layer
// should stay within 1.3 times the raw cost.
#include <benchmark/benchmark.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "win32.h"

namespace {

constexpr UINT kHello = WM_USER + 1;
constexpr UINT kPing = WM_USER + 2;

// Nanoseconds per round trip of each measured run of each benchmark; runs
// too short to measure (the library's first probes) are left out.
constexpr std::int64_t kMeasuredRounds = 1000;
std::vector<double> layerRuns;
std::vector<double> rawRuns;

void Record(std::vector<double>& runs, std::chrono::steady_clock::time_point start,
            std::int64_t rounds) {
    if (rounds >= kMeasuredRounds) {
        const std::chrono::duration<double, std::nano> elapsed =
            std::chrono::steady_clock::now() - start;
        runs.push_back(elapsed.count() / static_cast<double>(rounds));
    }
}

// The median: on a shared machine it is steadier than the mean.
double Median(std::vector<double> runs) {
    if (runs.empty()) {
        return 0;
    }
    std::sort(runs.begin(), runs.end());
    return runs[runs.size() / 2];
}

// Both ends of a ping-pong on one processor: the round trip is then two
// process switches and the work of both sides, instead of depending on
// whether the scheduler happens to wake the other side on an idle processor.
cpu_set_t PinToOneProcessor() {
    cpu_set_t previous;
    sched_getaffinity(0, sizeof previous, &previous);
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(sched_getcpu(), &one);
    sched_setaffinity(0, sizeof one, &one);
    return previous;
}

[[noreturn]] void EchoMessages(DWORD parent) {
    PostThreadMessageA(parent, kHello, 0, static_cast<LPARAM>(GetCurrentThreadId()));
    MSG message{};
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        PostThreadMessageA(parent, message.message, message.wParam, message.lParam);
    }
    _exit(0);
}

void LayerRoundTrip(benchmark::State& state) {
    const DWORD self = GetCurrentThreadId();
    MSG message{};
    PostThreadMessageA(self, kHello, 0, 0);  // gives this thread its queue before the child posts
    GetMessageA(&message, nullptr, 0, 0);
    const cpu_set_t processors = PinToOneProcessor();
    const pid_t child = fork();
    if (child == 0) {
        EchoMessages(self);
    }
    GetMessageA(&message, nullptr, 0, 0);
    const auto echo = static_cast<DWORD>(message.lParam);
    std::int64_t rounds = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        PostThreadMessageA(echo, kPing, static_cast<WPARAM>(rounds), 0);
        GetMessageA(&message, nullptr, 0, 0);
        ++rounds;
    }
    Record(layerRuns, start, rounds);
    PostThreadMessageA(echo, WM_QUIT, 0, 0);
    waitpid(child, nullptr, 0);
    sched_setaffinity(0, sizeof processors, &processors);
}

struct RawSocket {
    int fd;
    sockaddr_un peer;
    socklen_t peerLength;
};

socklen_t AbstractAddress(sockaddr_un& address, const char* role, pid_t owner) {
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    const int length = std::snprintf(address.sun_path + 1, sizeof address.sun_path - 1,
                                     "herdlab-bench-%d-%s", static_cast<int>(owner), role);
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
}

RawSocket OpenRaw(const char* own, const char* peer, pid_t owner) {
    RawSocket raw{};
    raw.fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address;
    const socklen_t length = AbstractAddress(address, own, owner);
    bind(raw.fd, reinterpret_cast<sockaddr*>(&address), length);
    raw.peerLength = AbstractAddress(raw.peer, peer, owner);
    return raw;
}

void SendRaw(const RawSocket& raw, const unsigned char (&datagram)[24]) {
    sendto(raw.fd, datagram, sizeof datagram, MSG_DONTWAIT,
           reinterpret_cast<const sockaddr*>(&raw.peer), raw.peerLength);
}

void RawRoundTrip(benchmark::State& state) {
    const pid_t owner = getpid();
    const RawSocket parent = OpenRaw("ping", "pong", owner);
    const cpu_set_t processors = PinToOneProcessor();
    const pid_t child = fork();
    unsigned char datagram[24] = {};
    if (child == 0) {
        const RawSocket echo = OpenRaw("pong", "ping", owner);
        SendRaw(echo, datagram);  // ready
        while (recv(echo.fd, datagram, sizeof datagram, 0) == sizeof datagram &&
               datagram[0] != 0xFF) {
            SendRaw(echo, datagram);
        }
        _exit(0);
    }
    recv(parent.fd, datagram, sizeof datagram, 0);
    std::int64_t rounds = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        datagram[8] = static_cast<unsigned char>(rounds);
        SendRaw(parent, datagram);
        recv(parent.fd, datagram, sizeof datagram, 0);
        ++rounds;
    }
    Record(rawRuns, start, rounds);
    datagram[0] = 0xFF;  // stop
    SendRaw(parent, datagram);
    waitpid(child, nullptr, 0);
    sched_setaffinity(0, sizeof processors, &processors);
    close(parent.fd);
}

BENCHMARK(LayerRoundTrip)->UseRealTime()->Repetitions(5);
BENCHMARK(RawRoundTrip)->UseRealTime()->Repetitions(5);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const double layer = Median(layerRuns);
    const double raw = Median(rawRuns);
    if (layer > 0 && raw > 0) {
        std::printf("Median round trip: layer %.0f ns, raw %.0f ns, ratio %.2f (target <= 1.3)\n",
                    layer, raw, layer / raw);
    }
    return 0;
}
