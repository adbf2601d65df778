// Block names: the escaped object name and the checks on what a name leads to.
#include "shm_names.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace winapi_internal {
namespace {

bool IsPlainNameByte(unsigned char byte) {
    return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
           (byte >= '0' && byte <= '9') || byte == '.' || byte == '_' || byte == '-';
}

}  // namespace

bool MakeBlockPath(const char* name, BlockPath& out, DWORD& error) {
    constexpr char kHex[] = "0123456789ABCDEF";
    out.folder = UserPlace(error);
    if (out.folder == nullptr) {
        return false;
    }
    const int length = std::snprintf(out.path, sizeof out.path, "%s/herdlab-map-%u-", out.folder,
                                     static_cast<unsigned>(getuid()));
    std::size_t used = static_cast<std::size_t>(length);
    const std::size_t limit = kBlockPathCapacity - 1;
    for (const char* p = name; *p != '\0'; ++p) {
        const auto byte = static_cast<unsigned char>(*p);
        const std::size_t needed = IsPlainNameByte(byte) ? 1 : 3;
        if (used + needed > limit) {
            error = ENAMETOOLONG;
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

bool IsOurBlock(int fd) {
    struct stat status;
    return fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_uid == geteuid() &&
           (status.st_mode & 07777) == 0600;
}

bool NamesObject(const char* path, int fd) {
    struct stat named;
    struct stat held;
    return lstat(path, &named) == 0 && fstat(fd, &held) == 0 && named.st_dev == held.st_dev &&
           named.st_ino == held.st_ino;
}

DWORD ErrorOfOpen(int error) {
    return error == EACCES || error == EPERM ? ERROR_ACCESS_DENIED : static_cast<DWORD>(error);
}

}  // namespace winapi_internal
