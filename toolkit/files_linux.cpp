// Linux: a file replaced whole by rename(2), which swaps the name over to
// the new file at once; a reader that has the old one open keeps reading it.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "herdlab_toolkit.h"

namespace herdlab_toolkit {

namespace {

bool WriteAll(int fd, const std::string& content) {
    for (std::size_t done = 0; done < content.size();) {
        const ssize_t wrote = write(fd, content.data() + done, content.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

}  // namespace

bool ReplaceFileWhole(const std::string& path, const std::string& content) {
    // Beside the target, so the rename stays within one file system.
    const std::string temporary = path + ".new-" + std::to_string(getpid());
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        return false;
    }
    const bool written = WriteAll(fd, content);
    if (close(fd) != 0 || !written || rename(temporary.c_str(), path.c_str()) != 0) {
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace herdlab_toolkit
