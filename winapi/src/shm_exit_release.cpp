// The table of the blocks this process holds, released at exit and by the
// handlers of SIGINT and SIGTERM.
#include "shm_exit_release.h"

#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "handles.h"
#include "mapping_cleanup.h"
#include "shm_lifetime.h"
#include "shm_names.h"

namespace winapi_internal {
namespace {

// The holds, readable from a signal handler: fixed arrays, and an atomic
// state per slot. A slot is busy while a thread fills or empties it; that
// thread holds SIGINT and SIGTERM back meanwhile, so a handler never waits
// for the thread it interrupted.
enum SlotState : int { kSlotFree, kSlotBusy, kSlotLive, kSlotReleased };
constexpr int kHoldSlots = 64;
struct HoldSlot {
    std::atomic<int> state{kSlotFree};
    pid_t owner = 0;  // a forked child inherits the table but holds none of it
    int fd = -1;
    char path[kBlockPathCapacity];
};
HoldSlot holdSlots[kHoldSlots];

struct sigaction previousSigint;
struct sigaction previousSigterm;
std::once_flag releaseInstalled;

// The slot's state once no other thread is in the middle of changing it.
int SettledState(const HoldSlot& slot) {
    int state = slot.state.load(std::memory_order_acquire);
    for (int round = 0; state == kSlotBusy && round < 10000; ++round) {
        sched_yield();
        state = slot.state.load(std::memory_order_acquire);
    }
    return state;
}

// Releases every hold this process still has. Async-signal-safe. Holds of one
// name are released one after another, so the last of them removes it.
void ReleaseAllHolds() {
    const pid_t self = getpid();
    for (HoldSlot& slot : holdSlots) {
        // The owner first: a child that shares our memory must not mark our holds.
        int live = kSlotLive;
        if (SettledState(slot) == kSlotLive && slot.owner == self &&
            slot.state.compare_exchange_strong(live, kSlotReleased, std::memory_order_acq_rel)) {
            ReleaseBlock(slot.path, slot.fd);
        }
    }
}

// Releases the holds, then gives the signal to the disposition that was in
// place before ours and delivers it again: the default one ends the process
// and its exit status still shows the signal.
void OnTerminatingSignal(int signal) {
    const int savedErrno = errno;
    ReleaseAllHolds();
    sigaction(signal, signal == SIGINT ? &previousSigint : &previousSigterm, nullptr);
    raise(signal);  // blocked until this handler returns
    errno = savedErrno;
}

// Takes over SIGINT or SIGTERM unless the program ignores it; ignoring
// processes keep running, so their holds must stay.
void CatchTerminatingSignal(int signal, struct sigaction& previous) {
    if (sigaction(signal, nullptr, &previous) != 0 ||
        (!(previous.sa_flags & SA_SIGINFO) && previous.sa_handler == SIG_IGN)) {
        return;
    }
    struct sigaction action {};
    action.sa_handler = OnTerminatingSignal;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    action.sa_flags = SA_RESTART;
    sigaction(signal, &action, nullptr);
}

void InstallRelease() {
    CatchTerminatingSignal(SIGINT, previousSigint);
    CatchTerminatingSignal(SIGTERM, previousSigterm);
    std::atexit(ReleaseAllHolds);
}

sigset_t HoldTerminatingSignals() {
    sigset_t held;
    sigset_t previous;
    sigemptyset(&held);
    sigaddset(&held, SIGINT);
    sigaddset(&held, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &held, &previous);
    return previous;
}

}  // namespace

sigset_t DeferTerminatingSignals() {
    std::call_once(releaseInstalled, InstallRelease);
    return HoldTerminatingSignals();
}

void RestoreSignals(const sigset_t& previous) {
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

int RecordHold(const char* path, int fd) {
    const sigset_t previous = DeferTerminatingSignals();
    int claimed = -1;
    for (int i = 0; i < kHoldSlots && claimed < 0; ++i) {
        int expected = kSlotFree;
        if (holdSlots[i].state.compare_exchange_strong(expected, kSlotBusy,
                                                       std::memory_order_acq_rel)) {
            holdSlots[i].owner = getpid();
            holdSlots[i].fd = fd;
            std::strncpy(holdSlots[i].path, path, sizeof holdSlots[i].path - 1);
            holdSlots[i].path[sizeof holdSlots[i].path - 1] = '\0';
            holdSlots[i].state.store(kSlotLive, std::memory_order_release);
            claimed = i;
        }
    }
    RestoreSignals(previous);
    return claimed;
}

void ReleaseRecordedHold(int slot, const char* path, int fd) {
    const sigset_t previous = HoldTerminatingSignals();
    if (slot < 0) {
        ReleaseBlock(path, fd);
    } else {
        // Released already when a handler that let the program live on ran.
        if (holdSlots[slot].state.exchange(kSlotBusy, std::memory_order_acq_rel) == kSlotLive) {
            ReleaseBlock(path, fd);
        }
        holdSlots[slot].state.store(kSlotFree, std::memory_order_release);
    }
    RestoreSignals(previous);
}

void RemoveCreatedMappingNames() {
    ReleaseAllHolds();
}

}  // namespace winapi_internal
