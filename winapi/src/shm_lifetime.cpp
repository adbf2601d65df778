// The life of a block's name: shared flocks held by every holder, the last
// holder's removal of the name, and the removal of names nobody holds.
#include "shm_lifetime.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

namespace winapi_internal {
namespace {

// A name that keeps vanishing and reappearing under our hands is given up
// after this many lookups.
constexpr int kLookups = 8;

// How long the last but one holder waits for the others' end: 10 x 5 ms.
constexpr int kReleaseAttempts = 10;
constexpr long kReleasePauseNs = 5'000'000;

bool LockShared(int fd) {
    while (flock(fd, LOCK_SH) != 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return true;
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

// Makes a new zeroed, held object of `size` bytes and links it under the
// name. Until the link it has no name, so a crash before it leaves nothing
// behind. -1 with ERROR_ALREADY_EXISTS when another process published first.
int PublishNewBlock(const BlockPath& name, std::uint64_t size, DWORD& error) {
    const int fd = open(name.folder, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = ErrorOfOpen(errno);
        return -1;
    }
    // The umask may have cut the mode; openers insist on exactly 0600.
    if (fchmod(fd, 0600) != 0 || ftruncate(fd, static_cast<off_t>(size)) != 0 || !LockShared(fd)) {
        error = static_cast<DWORD>(errno);
        close(fd);
        return -1;
    }
    char self[32];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    if (linkat(AT_FDCWD, self, AT_FDCWD, name.path, AT_SYMLINK_FOLLOW) != 0) {
        error = errno == EEXIST ? ERROR_ALREADY_EXISTS : ErrorOfOpen(errno);
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

int HoldExistingBlock(const BlockPath& name, bool writable, DWORD& error) {
    for (int lookup = 0; lookup < kLookups; ++lookup) {
        const int fd = open(name.path, (writable ? O_RDWR : O_RDONLY) | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            error = ErrorOfOpen(errno);
            return -1;
        }
        if (!IsOurBlock(fd)) {
            close(fd);
            error = ERROR_ACCESS_DENIED;
            return -1;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            // Nobody holds it: its last holder ended without letting go.
            if (NamesObject(name.path, fd)) {
                unlink(name.path);
            }
            close(fd);
            error = ERROR_FILE_NOT_FOUND;
            return -1;
        }
        if (!LockShared(fd)) {
            error = static_cast<DWORD>(errno);
            close(fd);
            return -1;
        }
        if (NamesObject(name.path, fd)) {
            return fd;
        }
        close(fd);  // removed or replaced while we waited for the lock: look again
    }
    error = ERROR_ACCESS_DENIED;
    return -1;
}

int HoldBlock(const BlockPath& name, std::uint64_t size, bool& existed, DWORD& error) {
    for (int lookup = 0; lookup < kLookups; ++lookup) {
        int fd = HoldExistingBlock(name, true, error);
        if (fd >= 0) {
            if (!EnsureSize(fd, size)) {
                error = static_cast<DWORD>(errno);
                ReleaseBlock(name.path, fd);
                close(fd);
                return -1;
            }
            existed = true;
            return fd;
        }
        if (error != ERROR_FILE_NOT_FOUND) {
            return -1;
        }
        fd = PublishNewBlock(name, size, error);
        if (fd >= 0) {
            existed = false;
            return fd;
        }
        if (error != ERROR_ALREADY_EXISTS) {
            return -1;
        }
    }
    error = ERROR_ACCESS_DENIED;
    return -1;
}

void ReleaseBlock(const char* path, int fd) {
    // A failed attempt drops our shared lock as well; we are letting go anyway.
    // The other holders may be processes ended a moment ago (a launcher ends
    // its children, then closes its blocks): they get a short while to go, so
    // that the file goes with the name and not only at the next lookup.
    for (int attempt = 0; attempt < kReleaseAttempts; ++attempt) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            if (NamesObject(path, fd)) {
                unlink(path);
            }
            break;
        }
        const timespec pause{0, kReleasePauseNs};
        nanosleep(&pause, nullptr);
    }
    flock(fd, LOCK_UN);
}

}  // namespace winapi_internal
