// The child's block on Linux: the file the layer would make for the name, in
// the child's own place for named objects inside its scratch folder. Made
// the way the layer publishes a block (mode 0600, sized, held by a shared
// flock) before the child starts, so the child's OpenFileMappingA finds it
// live; removed with the scratch folder.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "child_block_unit.h"
#include "feed_ring_unit.h"

namespace {

// The longest place the layer takes (its thread queues are sockets, whose
// addresses are short): the place is "<runtime folder>/herdlab".
constexpr std::size_t kMostPlaceLength = 72;
// What a scratch folder adds to its parent: "/herdcheck-XXXXXX".
constexpr std::size_t kScratchNameLength = 17;
constexpr char kRuntimeName[] = "/.runtime";
constexpr char kPlaceName[] = "/herdlab";

// The block's file name as the layer escapes it: each byte of the
// Windows-1251 name outside [A-Za-z0-9._-] as %XX.
std::string BlockFileName(const std::string& name) {
    constexpr char kHex[] = "0123456789ABCDEF";
    std::string file = "herdlab-map-" + std::to_string(getuid()) + "-";
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                           (byte >= '0' && byte <= '9') || byte == '.' || byte == '_' ||
                           byte == '-';
        if (plain) {
            file += c;
        } else {
            file += {'%', kHex[byte >> 4], kHex[byte & 0x0F]};
        }
    }
    return file;
}

// The runtime folder and the place in it, each the user's alone, as the
// layer requires of them.
bool MakePlace(const std::string& scratch, std::string& place) {
    const std::string runtime = ChildRuntimeFolder(scratch);
    place = runtime + kPlaceName;
    return mkdir(runtime.c_str(), 0700) == 0 && mkdir(place.c_str(), 0700) == 0;
}

int MakeBlockFile(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return -1;
    }
    if (fchmod(fd, 0600) != 0 || ftruncate(fd, kRingSlots) != 0 || flock(fd, LOCK_SH) != 0) {
        const int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

}  // namespace

std::string ChildRuntimeFolder(const std::string& scratch) {
    return scratch + kRuntimeName;
}

std::string ScratchParent() {
    const char* temp = std::getenv("TMPDIR");
    const std::size_t added = kScratchNameLength + sizeof kRuntimeName - 1 + sizeof kPlaceName - 1;
    if (temp != nullptr && temp[0] == '/' && std::string(temp).size() + added <= kMostPlaceLength) {
        return temp;
    }
    return "/tmp";
}

bool CreateChildBlock(const std::string& scratch, const std::string& name, ChildBlock& block,
                      std::uint32_t& error) {
    std::string place;
    const int fd =
        MakePlace(scratch, place) ? MakeBlockFile(place + "/" + BlockFileName(name)) : -1;
    void* view =
        fd >= 0 ? mmap(nullptr, kRingSlots, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0) : MAP_FAILED;
    if (view == MAP_FAILED) {
        error = static_cast<std::uint32_t>(errno);
        if (fd >= 0) {
            close(fd);
        }
        return false;
    }
    block.handle = fd;
    block.ring = static_cast<unsigned char*>(view);
    block.name = name;
    return true;  // a new file is zeroed: every slot empty
}

// Every holder of a block keeps a shared flock on it: with the child gone, an
// exclusive lock fails only while another program holds it.
bool ReleaseChildBlock(ChildBlock& block) {
    bool heldElsewhere = false;
    if (block.ring != nullptr) {
        munmap(block.ring, kRingSlots);
        block.ring = nullptr;
    }
    if (block.handle >= 0) {
        const int fd = static_cast<int>(block.handle);
        heldElsewhere = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
        close(fd);
        block.handle = -1;
    }
    return heldElsewhere;
}
