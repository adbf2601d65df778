// A named block's life as a feeder gives it to a child: CreateFileMappingA
// of a fresh name, a view, the view unmapped and the handle closed (which
// removes the name), against the same on a raw POSIX shared-memory object
// (shm_open, ftruncate, mmap, munmap, close, shm_unlink) in the same run.
// The layer also holds a lock on the block, checks its owner and mode and
// publishes it only once it is sized; the ratio shows what that costs.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "win32.h"

namespace {

constexpr int kBlocks = 8;  // a feeder's herd
constexpr DWORD kBlockSize = 8;
constexpr int kAlternatingRounds = 400;

double gLayerSeconds = 0;
double gRawSeconds = 0;

double Seconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

std::string Name(int block) {
    // Built by appending: GCC 12's -Wrestrict misfires on "literal" + string.
    std::string name = "bench-block-";
    name += std::to_string(getpid());
    name += '-';
    name += std::to_string(block);
    return name;
}

// The same block's name for shm_open.
std::string PosixName(int block) {
    std::string name = "/";
    name += Name(block);
    return name;
}

bool RoundWithLayer() {
    HANDLE handles[kBlocks] = {};
    void* views[kBlocks] = {};
    bool made = true;
    for (int i = 0; i < kBlocks; ++i) {
        handles[i] = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        kBlockSize, Name(i).c_str());
        views[i] = handles[i] != nullptr
                       ? MapViewOfFile(handles[i], FILE_MAP_ALL_ACCESS, 0, 0, kBlockSize)
                       : nullptr;
        made = made && views[i] != nullptr;
    }
    for (int i = 0; i < kBlocks; ++i) {
        if (views[i] != nullptr) {
            UnmapViewOfFile(views[i]);
        }
        if (handles[i] != nullptr) {
            CloseHandle(handles[i]);
        }
    }
    return made;
}

void RoundRaw() {
    int fds[kBlocks];
    void* views[kBlocks];
    for (int i = 0; i < kBlocks; ++i) {
        const std::string name = PosixName(i);
        fds[i] = shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (ftruncate(fds[i], kBlockSize) != 0) {
            views[i] = MAP_FAILED;
            continue;
        }
        views[i] = mmap(nullptr, kBlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, fds[i], 0);
    }
    for (int i = 0; i < kBlocks; ++i) {
        if (views[i] != MAP_FAILED) {
            munmap(views[i], kBlockSize);
        }
        close(fds[i]);
        shm_unlink(PosixName(i).c_str());
    }
}

void Alternating(benchmark::State& state) {
    for (auto _ : state) {
        const double start = Seconds();
        RoundRaw();
        const double middle = Seconds();
        if (!RoundWithLayer()) {
            state.SkipWithError("CreateFileMappingA failed");
            return;
        }
        gRawSeconds += middle - start;
        gLayerSeconds += Seconds() - middle;
    }
}

BENCHMARK(Alternating)
    ->Iterations(kAlternatingRounds)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (gRawSeconds <= 0) {
        return 0;
    }
    std::printf("8 blocks, alternating rounds: layer %.1f us, raw shm %.1f us, ratio %.2f\n",
                gLayerSeconds / kAlternatingRounds * 1e6, gRawSeconds / kAlternatingRounds * 1e6,
                gLayerSeconds / gRawSeconds);
    return 0;
}
