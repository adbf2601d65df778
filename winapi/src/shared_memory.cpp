// Named shared memory: CreateFileMappingA, OpenFileMappingA, MapViewOfFile,
// UnmapViewOfFile and the mapping handle. Names are in shm_names.h, their
// lifetime in shm_lifetime.h, the release at the process's end in
// shm_exit_release.h and the guard of the views in shm_bus_guard.h.
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <mutex>
#include <new>
#include <vector>

#include "handles.h"
#include "shm_bus_guard.h"
#include "shm_exit_release.h"
#include "shm_lifetime.h"
#include "shm_names.h"

namespace winapi_internal {
namespace {

// A held block. As on Windows the name goes with the last handle; views keep
// the memory, not the name. (The hold is released explicitly on close: a
// mapping keeps the open file, and with it the lock, after the descriptor is
// closed.)
void ReleaseMappingObject(HandleHeader* object);

struct MappingObject {
    HandleHeader header{HandleKind::kMapping, ReleaseMappingObject};
    int fd = -1;
    bool writable = false;
    int holdSlot = -1;  // the hold's slot in the table released at the process's end
    BlockPath name;
};

// The views mapped by MapViewOfFile, for UnmapViewOfFile to know their sizes.
struct View {
    void* address;
    std::size_t length;
};
std::mutex viewsLock;
std::vector<View> views;

HANDLE NewMapping(int fd, bool writable, const BlockPath& name) {
    auto* object = new (std::nothrow) MappingObject;
    if (object == nullptr) {
        ReleaseBlock(name.path, fd);
        close(fd);
        SetLastError(static_cast<DWORD>(ENOMEM));
        return nullptr;
    }
    object->fd = fd;
    object->writable = writable;
    object->name = name;
    object->holdSlot = RecordHold(name.path, fd);
    return NewHandle(&object->header);
}

MappingObject* MappingOf(HANDLE handle) {
    return reinterpret_cast<MappingObject*>(HandleOfKind(handle, HandleKind::kMapping));
}

void RememberView(void* address, std::size_t length) {
    std::lock_guard<std::mutex> guard(viewsLock);
    views.push_back(View{address, length});
    GuardView(address, length);
}

// The view at `address`, forgotten from now on; length 0 when there is no
// such view.
View ForgetView(const void* address) {
    std::lock_guard<std::mutex> guard(viewsLock);
    for (std::size_t i = 0; i < views.size(); ++i) {
        if (views[i].address == address) {
            UnguardView(address);
            const View view = views[i];
            views[i] = views.back();
            views.pop_back();
            return view;
        }
    }
    return View{nullptr, 0};
}

// Checks the arguments of CreateFileMappingA and OpenFileMappingA's name.
bool BlockPathOf(LPCSTR name, BlockPath& path) {
    if (name == nullptr || *name == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    DWORD error = ERROR_SUCCESS;
    if (!MakeBlockPath(name, path, error)) {
        SetLastError(error);
        return false;
    }
    return true;
}

void ReleaseMappingObject(HandleHeader* object) {
    auto* mapping = reinterpret_cast<MappingObject*>(object);
    ReleaseRecordedHold(mapping->holdSlot, mapping->name.path, mapping->fd);
    close(mapping->fd);  // views stay valid until they are unmapped, as on Windows
    delete mapping;
}

}  // namespace
}  // namespace winapi_internal

using namespace winapi_internal;

HANDLE CreateFileMappingA(HANDLE hFile, LPSECURITY_ATTRIBUTES /*lpFileMappingAttributes*/,
                          DWORD flProtect, DWORD dwMaximumSizeHigh, DWORD dwMaximumSizeLow,
                          LPCSTR lpName) {
    const std::uint64_t size = (std::uint64_t{dwMaximumSizeHigh} << 32) | dwMaximumSizeLow;
    if (hFile != INVALID_HANDLE_VALUE || flProtect != PAGE_READWRITE || size == 0 ||
        size > static_cast<std::uint64_t>(INT64_MAX)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    BlockPath name;
    if (!BlockPathOf(lpName, name)) {
        return nullptr;
    }
    bool existed = false;
    DWORD error = 0;
    const sigset_t previous = DeferTerminatingSignals();
    const int fd = HoldBlock(name, size, existed, error);
    HANDLE handle = fd >= 0 ? NewMapping(fd, true, name) : nullptr;
    RestoreSignals(previous);
    if (fd < 0) {
        SetLastError(error);
    } else if (handle != nullptr) {
        SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    }
    return handle;
}

HANDLE OpenFileMappingA(DWORD dwDesiredAccess, BOOL /*bInheritHandle*/, LPCSTR lpName) {
    BlockPath name;
    if (!BlockPathOf(lpName, name)) {
        return nullptr;
    }
    const bool writable = (dwDesiredAccess & FILE_MAP_WRITE) != 0;
    DWORD error = 0;
    const sigset_t previous = DeferTerminatingSignals();
    const int fd = HoldExistingBlock(name, writable, error);
    HANDLE handle = fd >= 0 ? NewMapping(fd, writable, name) : nullptr;
    RestoreSignals(previous);
    if (fd < 0) {
        SetLastError(error);
    }
    return handle;
}

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

BOOL UnmapViewOfFile(LPCVOID lpBaseAddress) {
    const View view = ForgetView(lpBaseAddress);
    if (view.length == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    munmap(view.address, view.length);
    return TRUE;
}
