// Where the Linux layer keeps this user's thread queues and named blocks,
// found as a program that does not use the layer finds it:
// $XDG_RUNTIME_DIR/herdlab when XDG_RUNTIME_DIR is an absolute path, else
// $HOME/.herdlab. Tests that plant or watch names use these paths.
#pragma once

#ifndef _WIN32

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace named_place {

inline std::string Folder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        return std::string(runtime) + "/herdlab";
    }
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.herdlab";
}

// The folder, made (mode 0700) when a test plants a name before any program
// of the layer has run.
inline std::string MadeFolder() {
    const std::string folder = Folder();
    mkdir(folder.c_str(), 0700);
    return folder;
}

// A block's file from its escaped name ("%05Tandy").
inline std::string BlockFile(const std::string& escapedName) {
    return Folder() + "/herdlab-map-" + std::to_string(getuid()) + "-" + escapedName;
}

// The file name prefix of this user's blocks inside the folder.
inline std::string BlockPrefix() {
    return "herdlab-map-" + std::to_string(getuid()) + "-";
}

// The socket file of thread `threadId`'s queue.
inline std::string QueueSocket(unsigned threadId) {
    return Folder() + "/herdlab-msg-" + std::to_string(getuid()) + "-" + std::to_string(threadId);
}

}  // namespace named_place

#endif
