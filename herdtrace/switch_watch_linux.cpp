// Linux: the kernel's watch over switches (perf_event_open), one event per
// processor herdtrace may run on, opened before it starts PROGRAM. Where
// CAP_PERFMON is had (root, or the grant), each event watches its whole
// processor, and the records of PROGRAM's processes are picked out later.
// Else the events watch herdtrace itself and are inherited by PROGRAM and
// all it starts; the kernel drops them from a process that runs a program
// with more rights (a launcher granted cap_sys_nice, or any program run by
// root), which a watch of the whole processor does not mind. An inherited
// event needs one event per processor (the kernel refuses a ring buffer for
// an inherited event on every processor at once).
#include <linux/capability.h>
#include <linux/perf_event.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <span>

#include "switch_records_linux.h"

namespace herdtrace {

namespace {

// Data pages of each ring buffer: 128 KiB for a watch of herdtrace's own
// processes; for a whole processor's, 4 MiB where the memory the kernel
// lets this user lock allows, else less. A herd of 15 on one processor makes
// some 650 records (20 kB) a second; a busy machine's processor some
// thousands more, and a herdtrace that shares the processor with children
// in the real-time class may wait long for it. Drained every 10 ms.
constexpr std::size_t kOwnRingPages[] = {32};
constexpr std::size_t kWholeRingPages[] = {1024, 256, 64};

#ifndef CAP_PERFMON
constexpr int CAP_PERFMON = 38;
#endif

// Raises CAP_PERFMON into the effective set when it is permitted and not
// yet effective; returns whether it did, so that it can be dropped again.
bool RaisePerfmon(bool raise) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (syscall(SYS_capget, &header, data) != 0) {
        return false;
    }
    const unsigned bit = 1u << (CAP_PERFMON % 32);
    __user_cap_data_struct& word = data[CAP_PERFMON / 32];
    const bool effective = (word.effective & bit) != 0;
    if ((word.permitted & bit) == 0 || effective == raise) {
        return false;
    }
    word.effective = raise ? word.effective | bit : word.effective & ~bit;
    return syscall(SYS_capset, &header, data) == 0;
}

int OpenEvent(int processor, bool wholeProcessor) {
    perf_event_attr attr{};
    attr.size = sizeof attr;
    attr.type = PERF_TYPE_SOFTWARE;
    attr.config = PERF_COUNT_SW_DUMMY;
    attr.sample_type = PERF_SAMPLE_TID | PERF_SAMPLE_TIME | PERF_SAMPLE_CPU;
    attr.sample_id_all = 1;
    attr.context_switch = 1;
    attr.task = 1;  // thread starts and ends
    attr.inherit = wholeProcessor ? 0 : 1;
    attr.use_clockid = 1;
    attr.clockid = CLOCK_MONOTONIC;  // the sampler's clock
    attr.exclude_kernel = 1;         // all a user without the grant may ask
    attr.exclude_hv = 1;
    const pid_t whose = wholeProcessor ? -1 : 0;
    return int(syscall(SYS_perf_event_open, &attr, whose, processor, -1, PERF_FLAG_FD_CLOEXEC));
}

// Maps the event's ring buffer, the largest the kernel grants of `pages`.
unsigned char* MapRing(int event, SwitchWatch& watch, std::span<const std::size_t> pages) {
    const std::size_t page = std::size_t(sysconf(_SC_PAGESIZE));
    for (const std::size_t count : pages) {
        if (watch.ringBytes != 0 && watch.ringBytes != count * page) {
            continue;  // every buffer of a watch has one size
        }
        void* ring =
            mmap(nullptr, page + count * page, PROT_READ | PROT_WRITE, MAP_SHARED, event, 0);
        if (ring != MAP_FAILED) {
            watch.ringBytes = count * page;
            return static_cast<unsigned char*>(ring);
        }
    }
    return nullptr;
}

// Opens an event and its ring buffer for every processor this process may
// run on; false at the first refusal.
bool OpenEvents(SwitchWatch& watch) {
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) {
        return false;
    }
    watch.ringBytes = 0;
    for (int processor = 0; processor < CPU_SETSIZE; ++processor) {
        if (!CPU_ISSET(processor, &allowed)) {
            continue;
        }
        const int event = OpenEvent(processor, watch.wholeProcessors);
        if (event < 0) {
            return false;
        }
        watch.events.push_back(event);
        unsigned char* ring =
            MapRing(event, watch,
                    watch.wholeProcessors ? std::span<const std::size_t>(kWholeRingPages)
                                          : std::span<const std::size_t>(kOwnRingPages));
        if (ring == nullptr) {
            return false;
        }
        watch.rings.push_back(ring);
    }
    return !watch.events.empty();
}

// The records written since the last drain, unwrapped.
void Drain(unsigned char* ring, std::size_t ringBytes, std::vector<unsigned char>& into) {
    auto* control = reinterpret_cast<perf_event_mmap_page*>(ring);
    const unsigned char* data = ring + std::size_t(sysconf(_SC_PAGESIZE));
    const std::uint64_t head = __atomic_load_n(&control->data_head, __ATOMIC_ACQUIRE);
    const std::uint64_t tail = control->data_tail;
    into.clear();
    for (std::uint64_t at = tail; at < head;) {
        const std::size_t offset = std::size_t(at % ringBytes);
        const std::size_t run = std::min<std::size_t>(std::size_t(head - at), ringBytes - offset);
        into.insert(into.end(), data + offset, data + offset + run);
        at += run;
    }
    __atomic_store_n(&control->data_tail, head, __ATOMIC_RELEASE);
}

}  // namespace

bool OpenSwitchWatch(SwitchWatch& watch) {
    const bool raised = RaisePerfmon(true);
    watch.wholeProcessors = true;
    watch.taken.onlyFollowed = true;
    watch.taken.followed = {std::uint32_t(getpid())};
    bool opened = OpenEvents(watch);
    if (!opened) {
        CloseSwitchWatch(watch);
        watch.wholeProcessors = false;
        watch.taken.onlyFollowed = false;
        opened = OpenEvents(watch);
    }
    watch.error = opened ? 0 : errno;
    if (raised) {
        RaisePerfmon(false);
    }
    if (!opened) {
        watch.refusal = std::strerror(watch.error);
        CloseSwitchWatch(watch);
    }
    return opened;
}

void FollowOnlyProgram(SwitchWatch& watch, int program) {
    if (watch.taken.onlyFollowed) {
        DrainSwitchWatch(watch);  // PROGRAM's start, while herdtrace is still followed
        watch.taken.followed.erase(std::uint32_t(getpid()));
        watch.taken.followed.insert(std::uint32_t(program));
    }
}

void DrainSwitchWatch(SwitchWatch& watch) {
    std::vector<unsigned char> bytes;
    SwitchRecords batch;
    for (unsigned char* ring : watch.rings) {
        Drain(ring, watch.ringBytes, bytes);
        ParseRecords(bytes.data(), bytes.size(), batch);
    }
    KeepFollowed(batch, watch.taken);
}

void CloseSwitchWatch(SwitchWatch& watch) {
    const std::size_t page = std::size_t(sysconf(_SC_PAGESIZE));
    for (unsigned char* ring : watch.rings) {
        munmap(ring, page + watch.ringBytes);
    }
    for (const int event : watch.events) {
        close(event);
    }
    watch.rings.clear();
    watch.events.clear();
}

}  // namespace herdtrace
