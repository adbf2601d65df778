// Named shared memory: CreateFileMappingA, OpenFileMappingA, MapViewOfFile,
// UnmapViewOfFile and the mapping handle.
//
// A named block is the POSIX shared-memory object
// "/herdlab-map-<uid>-<escaped name>": every byte of the Windows-1251 name
// outside [A-Za-z0-9._-] is written as "%XX" (upper-case hex), so the block of
// "\x05Tandy" is "/herdlab-map-<uid>-%05Tandy". Programs that do not use this
// library find the blocks by that name. An object that is not owned by the
// user or whose mode is not 0600 is refused and never used.
//
// On Windows a named block disappears with its last handle, at the latest when
// the processes end. Here the process that created a name removes it: when it
// closes the handle, when it exits, and when SIGINT or SIGTERM ends it.
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "handles.h"

namespace winapi_internal {
namespace {

// Where glibc keeps the shared-memory objects; the signal handler unlinks the
// files there directly, since shm_unlink is not async-signal-safe.
constexpr char kShmDirectory[] = "/dev/shm";
constexpr std::size_t kShmDirectoryLength = sizeof kShmDirectory - 1;
// "/dev/shm" + "/" + a file name of at most NAME_MAX bytes + the terminator.
constexpr std::size_t kPathCapacity = kShmDirectoryLength + 1 + NAME_MAX + 1;

// A block's file path; the object's shm name starts after the directory.
struct BlockPath {
    char path[kPathCapacity];
    const char* ShmName() const { return path + kShmDirectoryLength; }
};

// The names this process created, readable from a signal handler: fixed
// arrays, and an atomic state per slot. A slot is busy while a thread fills
// it and creates the name, or removes the name and empties it; that thread
// holds SIGINT and SIGTERM back meanwhile, so a handler never waits for the
// thread it interrupted.
enum SlotState : int { kSlotFree, kSlotBusy, kSlotLive, kSlotUnlinked };
constexpr int kCleanupSlots = 64;
struct CleanupSlot {
    std::atomic<int> state{kSlotFree};
    pid_t owner = 0;  // a forked child inherits the table but owns none of its names
    char path[kPathCapacity];
};
CleanupSlot cleanupSlots[kCleanupSlots];

struct sigaction previousSigint;
struct sigaction previousSigterm;
std::once_flag cleanupInstalled;

struct MappingObject {
    HandleHeader header{kHandleMagic, HandleKind::kMapping};
    int fd = -1;
    bool writable = false;
    bool created = false;  // this handle created the name and removes it on close
    int cleanupSlot = -1;  // the name's slot in cleanupSlots, -1 when it has none
    BlockPath name;
};

// The views mapped by MapViewOfFile, for UnmapViewOfFile to know their sizes.
struct View {
    void* address;
    std::size_t length;
};
std::mutex viewsLock;
std::vector<View> views;

// Another process may shrink a block under our views (ftruncate, or shm_open
// with O_TRUNC; the feeders' children are foreign programs), which Windows
// never allows. An access to a page past the new end then raises SIGBUS and
// would end the process with its children and names left behind. The views
// are therefore guarded: such a fault puts a private zero page in place of the
// vanished one, and the process goes on with a block that is no longer shared.
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

bool IsPlainNameByte(unsigned char byte) {
    return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
           (byte >= '0' && byte <= '9') || byte == '.' || byte == '_' || byte == '-';
}

// Builds the block's path from a Windows-1251 name; false with errno
// ENAMETOOLONG when the file name would not fit NAME_MAX.
bool MakeBlockPath(const char* name, BlockPath& out) {
    constexpr char kHex[] = "0123456789ABCDEF";
    int length = std::snprintf(out.path, sizeof out.path, "%s/herdlab-map-%u-", kShmDirectory,
                               static_cast<unsigned>(getuid()));
    std::size_t used = static_cast<std::size_t>(length);
    const std::size_t limit = kPathCapacity - 1;
    for (const char* p = name; *p != '\0'; ++p) {
        const auto byte = static_cast<unsigned char>(*p);
        const std::size_t needed = IsPlainNameByte(byte) ? 1 : 3;
        if (used + needed > limit) {
            errno = ENAMETOOLONG;
            return false;
        }
        if (needed == 1) {
            out.path[used++] = static_cast<char>(byte);
        } else {
            out.path[used++] = '%';
            out.path[used++] = kHex[byte >> 4];
            out.path[used++] = kHex[byte & 0x0F];
        }
    }
    out.path[used] = '\0';
    return true;
}

// The slot's state once no other thread is in the middle of changing it.
int SettledState(const CleanupSlot& slot) {
    int state = slot.state.load(std::memory_order_acquire);
    for (int round = 0; state == kSlotBusy && round < 10000; ++round) {
        sched_yield();
        state = slot.state.load(std::memory_order_acquire);
    }
    return state;
}

// Removes every name this process created and still holds. Async-signal-safe.
void UnlinkCreatedNames() {
    const pid_t self = getpid();
    for (CleanupSlot& slot : cleanupSlots) {
        // The owner first: a child that shares our memory must not mark our names.
        int live = kSlotLive;
        if (SettledState(slot) == kSlotLive && slot.owner == self &&
            slot.state.compare_exchange_strong(live, kSlotUnlinked, std::memory_order_acq_rel)) {
            unlink(slot.path);
        }
    }
}

}  // namespace

void RemoveCreatedMappingNames() {
    UnlinkCreatedNames();
}

namespace {

// Removes the names, then gives the signal to the disposition that was in
// place before ours and delivers it again: the default one ends the process
// and its exit status still shows the signal.
void OnTerminatingSignal(int signal) {
    const int savedErrno = errno;
    UnlinkCreatedNames();
    sigaction(signal, signal == SIGINT ? &previousSigint : &previousSigterm, nullptr);
    raise(signal);  // blocked until this handler returns
    errno = savedErrno;
}

// Takes over SIGINT or SIGTERM unless the program ignores it; ignoring
// processes keep running, so their names must stay.
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

void InstallCleanup() {
    CatchTerminatingSignal(SIGINT, previousSigint);
    CatchTerminatingSignal(SIGTERM, previousSigterm);
    std::atexit(UnlinkCreatedNames);
}

// Claims a slot for a name about to be created; -1 when all are taken (the
// name is then removed only by CloseHandle).
int ClaimCleanupSlot(const BlockPath& name) {
    std::call_once(cleanupInstalled, InstallCleanup);
    for (int i = 0; i < kCleanupSlots; ++i) {
        int expected = kSlotFree;
        if (cleanupSlots[i].state.compare_exchange_strong(expected, kSlotBusy,
                                                          std::memory_order_acq_rel)) {
            cleanupSlots[i].owner = getpid();
            std::memcpy(cleanupSlots[i].path, name.path, sizeof name.path);
            return i;
        }
    }
    return -1;
}

void SetCleanupSlot(int slot, int state) {
    if (slot >= 0) {
        cleanupSlots[slot].state.store(state, std::memory_order_release);
    }
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

void RestoreSignals(const sigset_t& previous) {
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

// Removes a name this process created, unless a signal handler that let the
// program live on has removed it already. Call with the signals held.
void RemoveCreatedName(int slot, const BlockPath& name) {
    if (slot < 0) {
        shm_unlink(name.ShmName());
        return;
    }
    if (cleanupSlots[slot].state.exchange(kSlotBusy, std::memory_order_acq_rel) == kSlotLive) {
        shm_unlink(name.ShmName());
    }
    SetCleanupSlot(slot, kSlotFree);
}

// A found object may be used only when it is a plain file of our own user with
// mode 0600; anything else may have been planted by someone else.
bool IsOurBlock(int fd) {
    struct stat status;
    return fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_uid == geteuid() &&
           (status.st_mode & 07777) == 0600;
}

DWORD ErrorOfOpen(int error) {
    return error == EACCES || error == EPERM ? ERROR_ACCESS_DENIED : static_cast<DWORD>(error);
}

// Grows the object to `size` bytes; an object that is larger stays as it is.
bool EnsureSize(int fd, std::uint64_t size) {
    struct stat status;
    if (fstat(fd, &status) != 0) {
        return false;
    }
    return static_cast<std::uint64_t>(status.st_size) >= size ||
           ftruncate(fd, static_cast<off_t>(size)) == 0;
}

MappingObject* NewMapping(int fd, bool writable, bool created, int slot, const BlockPath& name) {
    auto* object = new (std::nothrow) MappingObject;
    if (object != nullptr) {
        object->fd = fd;
        object->writable = writable;
        object->created = created;
        object->cleanupSlot = slot;
        object->name = name;
    }
    return object;
}

// Creates the object exclusively. Returns the descriptor, or -1 with errno
// (EEXIST when the name is taken).
int CreateExclusive(const BlockPath& name, std::uint64_t size) {
    const int fd = shm_open(name.ShmName(), O_RDWR | O_CREAT | O_EXCL, 0600);
    if (fd < 0) {
        return -1;
    }
    // The umask may have cut the mode; openers insist on exactly 0600.
    if (fchmod(fd, 0600) != 0 || !EnsureSize(fd, size)) {
        const int error = errno;
        shm_unlink(name.ShmName());
        close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

// Opens an existing object of ours. Returns the descriptor, or -1 with the
// Win32 error in `error`.
int OpenExisting(const BlockPath& name, bool writable, DWORD& error) {
    const int fd = shm_open(name.ShmName(), writable ? O_RDWR : O_RDONLY, 0);
    if (fd < 0) {
        error = ErrorOfOpen(errno);
        return -1;
    }
    if (!IsOurBlock(fd)) {
        close(fd);
        error = ERROR_ACCESS_DENIED;
        return -1;
    }
    return fd;
}

HANDLE CreateNamedBlock(const BlockPath& name, std::uint64_t size) {
    // A name removed between a failed exclusive create and the open is tried again.
    for (int attempt = 0; attempt < 8; ++attempt) {
        sigset_t previous = HoldTerminatingSignals();
        const int slot = ClaimCleanupSlot(name);
        int fd = CreateExclusive(name, size);
        const int createError = errno;
        SetCleanupSlot(slot, fd >= 0 ? kSlotLive : kSlotFree);
        RestoreSignals(previous);
        if (fd >= 0) {
            if (MappingObject* object = NewMapping(fd, true, true, slot, name)) {
                SetLastError(ERROR_SUCCESS);
                return &object->header;
            }
            previous = HoldTerminatingSignals();
            RemoveCreatedName(slot, name);
            RestoreSignals(previous);
            close(fd);
            SetLastError(static_cast<DWORD>(ENOMEM));
            return nullptr;
        }
        if (createError != EEXIST) {
            SetLastError(ErrorOfOpen(createError));
            return nullptr;
        }
        DWORD error = 0;
        fd = OpenExisting(name, true, error);
        if (fd < 0 && error == ERROR_FILE_NOT_FOUND) {
            continue;
        }
        if (fd < 0) {
            SetLastError(error);
            return nullptr;
        }
        if (!EnsureSize(fd, size)) {
            SetLastError(static_cast<DWORD>(errno));
            close(fd);
            return nullptr;
        }
        if (MappingObject* object = NewMapping(fd, true, false, -1, name)) {
            SetLastError(ERROR_ALREADY_EXISTS);
            return &object->header;
        }
        close(fd);
        SetLastError(static_cast<DWORD>(ENOMEM));
        return nullptr;
    }
    SetLastError(ERROR_ACCESS_DENIED);  // the name keeps appearing and vanishing
    return nullptr;
}

MappingObject* MappingOf(HANDLE handle) {
    return reinterpret_cast<MappingObject*>(HandleOfKind(handle, HandleKind::kMapping));
}

void RememberView(void* address, std::size_t length) {
    std::lock_guard<std::mutex> guard(viewsLock);
    views.push_back(View{address, length});
    GuardView(address, length);
}

// The length of the view at `address`, forgotten from now on; 0 when there is
// no such view.
std::size_t ForgetView(const void* address) {
    std::lock_guard<std::mutex> guard(viewsLock);
    for (std::size_t i = 0; i < views.size(); ++i) {
        if (views[i].address == address) {
            UnguardView(address);
            const std::size_t length = views[i].length;
            views[i] = views.back();
            views.pop_back();
            return length;
        }
    }
    return 0;
}

}  // namespace

BOOL CloseMappingObject(HandleHeader* object) {
    auto* mapping = reinterpret_cast<MappingObject*>(object);
    if (mapping->created) {
        const sigset_t previous = HoldTerminatingSignals();
        RemoveCreatedName(mapping->cleanupSlot, mapping->name);
        RestoreSignals(previous);
    }
    close(mapping->fd);  // views stay valid until they are unmapped, as on Windows
    mapping->header.magic = 0;
    delete mapping;
    return TRUE;
}

}  // namespace winapi_internal

using namespace winapi_internal;

// Creates or opens the named block of at least the requested size; an existing
// block is never shrunk. On success GetLastError is ERROR_ALREADY_EXISTS when
// the block existed, else 0. Only blocks backed by memory
// (INVALID_HANDLE_VALUE), PAGE_READWRITE, a size above 0 and a name are
// supported: anything else gives NULL and ERROR_INVALID_PARAMETER.
HANDLE CreateFileMappingA(HANDLE hFile, LPSECURITY_ATTRIBUTES /*lpFileMappingAttributes*/,
                          DWORD flProtect, DWORD dwMaximumSizeHigh, DWORD dwMaximumSizeLow,
                          LPCSTR lpName) {
    const std::uint64_t size = (std::uint64_t{dwMaximumSizeHigh} << 32) | dwMaximumSizeLow;
    if (hFile != INVALID_HANDLE_VALUE || flProtect != PAGE_READWRITE || size == 0 ||
        size > static_cast<std::uint64_t>(INT64_MAX) || lpName == nullptr || *lpName == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    BlockPath name;
    if (!MakeBlockPath(lpName, name)) {
        SetLastError(static_cast<DWORD>(errno));
        return nullptr;
    }
    return CreateNamedBlock(name, size);
}

// Opens an existing block: NULL with ERROR_FILE_NOT_FOUND when there is none,
// ERROR_ACCESS_DENIED when it belongs to someone else or has another mode.
HANDLE OpenFileMappingA(DWORD dwDesiredAccess, BOOL /*bInheritHandle*/, LPCSTR lpName) {
    if (lpName == nullptr || *lpName == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    BlockPath name;
    if (!MakeBlockPath(lpName, name)) {
        SetLastError(static_cast<DWORD>(errno));
        return nullptr;
    }
    const bool writable = (dwDesiredAccess & FILE_MAP_WRITE) != 0;
    DWORD error = 0;
    const int fd = OpenExisting(name, writable, error);
    if (fd < 0) {
        SetLastError(error);
        return nullptr;
    }
    MappingObject* object = NewMapping(fd, writable, false, -1, name);
    if (object == nullptr) {
        close(fd);
        SetLastError(static_cast<DWORD>(ENOMEM));
        return nullptr;
    }
    return &object->header;
}

// Maps dwNumberOfBytesToMap bytes (0: up to the end of the block) from the
// offset, which must be a multiple of 64 KiB as on Windows. FILE_MAP_WRITE
// (and FILE_MAP_ALL_ACCESS) give a read-write view, FILE_MAP_READ a read-only
// one. A view reaching past the end of the block is refused
// (ERROR_ACCESS_DENIED) rather than left to fault on access.
LPVOID MapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess, DWORD dwFileOffsetHigh,
                     DWORD dwFileOffsetLow, SIZE_T dwNumberOfBytesToMap) {
    MappingObject* mapping = MappingOf(hFileMappingObject);
    if (mapping == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    const bool write = (dwDesiredAccess & FILE_MAP_WRITE) != 0;
    const bool read = (dwDesiredAccess & FILE_MAP_READ) != 0;
    const std::uint64_t offset = (std::uint64_t{dwFileOffsetHigh} << 32) | dwFileOffsetLow;
    if ((!write && !read) || offset % 0x10000 != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (write && !mapping->writable) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    struct stat status;
    if (fstat(mapping->fd, &status) != 0) {
        SetLastError(static_cast<DWORD>(errno));
        return nullptr;
    }
    const auto blockSize = static_cast<std::uint64_t>(status.st_size);
    const std::uint64_t length = dwNumberOfBytesToMap != 0 ? dwNumberOfBytesToMap
                                 : offset < blockSize      ? blockSize - offset
                                                           : 0;
    if (length == 0 || offset >= blockSize || length > blockSize - offset) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    void* view = mmap(nullptr, length, write ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED,
                      mapping->fd, static_cast<off_t>(offset));
    if (view == MAP_FAILED) {
        SetLastError(ErrorOfOpen(errno));
        return nullptr;
    }
    RememberView(view, length);
    return view;
}

// FALSE with ERROR_INVALID_PARAMETER for an address that MapViewOfFile did not
// return or that was unmapped already.
BOOL UnmapViewOfFile(LPCVOID lpBaseAddress) {
    const std::size_t length = ForgetView(lpBaseAddress);
    if (length == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    munmap(const_cast<void*>(lpBaseAddress), length);
    return TRUE;
}
