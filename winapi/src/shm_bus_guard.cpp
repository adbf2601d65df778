// The SIGBUS guard over the views of named blocks.
#include "shm_bus_guard.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <mutex>

namespace winapi_internal {
namespace {

// The table is read from the signal handler: fixed size, atomic fields.
struct GuardedView {
    std::atomic<std::uintptr_t> start{0};
    std::atomic<std::size_t> length{0};
};
constexpr int kGuardedViews = 64;
GuardedView guardedViews[kGuardedViews];
std::uintptr_t pageSize = 4096;  // set before the handler is installed
struct sigaction previousSigbus;
std::once_flag busGuardInstalled;

// Maps a private zero page over the page of `address` when it lies in a
// guarded view. Async-signal-safe.
bool ReplaceVanishedPage(std::uintptr_t address) {
    for (const GuardedView& view : guardedViews) {
        const std::uintptr_t start = view.start.load(std::memory_order_acquire);
        const std::size_t length = view.length.load(std::memory_order_acquire);
        if (start != 0 && address >= start && address - start < length) {
            void* page = reinterpret_cast<void*>(address & ~(pageSize - 1));
            return mmap(page, pageSize, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED;
        }
    }
    return false;
}

void OnBusError(int signal, siginfo_t* info, void* context) {
    const int savedErrno = errno;
    if (info != nullptr && ReplaceVanishedPage(reinterpret_cast<std::uintptr_t>(info->si_addr))) {
        errno = savedErrno;
        return;  // the faulting access is retried on the new page
    }
    // Not a view of ours: the disposition before ours decides.
    if ((previousSigbus.sa_flags & SA_SIGINFO) != 0) {
        previousSigbus.sa_sigaction(signal, info, context);
    } else if (previousSigbus.sa_handler != SIG_DFL && previousSigbus.sa_handler != SIG_IGN) {
        previousSigbus.sa_handler(signal);
    } else {
        sigaction(SIGBUS, &previousSigbus, nullptr);  // the retried access ends the process
    }
    errno = savedErrno;
}

void InstallBusGuard() {
    pageSize = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO;
    sigaction(SIGBUS, &action, &previousSigbus);
}

}  // namespace

void GuardView(void* address, std::size_t length) {
    std::call_once(busGuardInstalled, InstallBusGuard);
    for (GuardedView& view : guardedViews) {
        std::uintptr_t free = 0;
        if (view.start.compare_exchange_strong(free, reinterpret_cast<std::uintptr_t>(address),
                                               std::memory_order_acq_rel)) {
            view.length.store(length, std::memory_order_release);
            return;
        }
    }
    // More views than the table holds: the extra ones stay unguarded.
}

void UnguardView(const void* address) {
    for (GuardedView& view : guardedViews) {
        if (view.start.load(std::memory_order_acquire) ==
            reinterpret_cast<std::uintptr_t>(address)) {
            view.length.store(0, std::memory_order_release);
            view.start.store(0, std::memory_order_release);
            return;
        }
    }
}

}  // namespace winapi_internal
