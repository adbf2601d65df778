// The socket files of thread queues: binding over stale ones and removing
// them when queues end.
#include "queue_names.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace winapi_internal {
namespace {

// The bound names, for removal at the process's end. A forked child inherits
// the table but none of the names. A queue that finds the table full leaves
// its file to the next binder of the name.
constexpr int kNameSlots = 256;
enum SlotState : int { kSlotFree, kSlotFilling, kSlotLive };
struct NameSlot {
    std::atomic<int> state{kSlotFree};
    pid_t owner = 0;
    char path[sizeof(sockaddr_un::sun_path)];
};
NameSlot nameSlots[kNameSlots];
std::once_flag removalInstalled;

// True when the file at the queue's name is a socket nobody listens on: its
// queue ended without removing it (the process was killed).
bool IsStaleSocket(const QueueAddress& queue) {
    struct stat status;
    if (lstat(queue.address.sun_path, &status) != 0 || !S_ISSOCK(status.st_mode) ||
        status.st_uid != geteuid()) {
        return false;
    }
    const int probe = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0) {
        return false;
    }
    const bool refused =
        connect(probe, AddressOf(queue), queue.length) != 0 && errno == ECONNREFUSED;
    close(probe);
    return refused;
}

// The slot that keeps the name, -1 when the table is full.
int Remember(const QueueAddress& queue) {
    std::call_once(removalInstalled, [] { std::atexit(RemoveQueueNames); });
    for (int i = 0; i < kNameSlots; ++i) {
        int free = kSlotFree;
        if (nameSlots[i].state.compare_exchange_strong(free, kSlotFilling,
                                                       std::memory_order_acq_rel)) {
            nameSlots[i].owner = getpid();
            std::memcpy(nameSlots[i].path, queue.address.sun_path, sizeof nameSlots[i].path);
            nameSlots[i].state.store(kSlotLive, std::memory_order_release);
            return i;
        }
    }
    return -1;
}

}  // namespace

bool BindQueueName(int socketFd, const QueueAddress& queue, int& slot) {
    if (bind(socketFd, AddressOf(queue), queue.length) != 0) {
        if (errno != EADDRINUSE || !IsStaleSocket(queue) || unlink(queue.address.sun_path) != 0 ||
            bind(socketFd, AddressOf(queue), queue.length) != 0) {
            return false;
        }
    }
    slot = Remember(queue);
    return true;
}

void ForgetQueueName(const QueueAddress& queue, int slot) {
    unlink(queue.address.sun_path);
    if (slot >= 0) {
        nameSlots[slot].state.store(kSlotFree, std::memory_order_release);
    }
}

void RemoveQueueNames() {
    const pid_t self = getpid();
    for (NameSlot& slot : nameSlots) {
        if (slot.state.load(std::memory_order_acquire) == kSlotLive && slot.owner == self) {
            unlink(slot.path);
        }
    }
}

}  // namespace winapi_internal
