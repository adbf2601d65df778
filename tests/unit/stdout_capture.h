// Test helper (POSIX): redirects file descriptor 1 into a pipe that a reader
// thread drains, so what the program writes to standard output can be
// compared byte for byte, however much is written.
#pragma once

#ifndef _WIN32
#include <unistd.h>

#include <string>
#include <thread>

struct StdoutCapture {
    int savedOutput = -1;
    int readEnd = -1;
    std::string bytes;
    std::thread reader;
};

inline void StartCapture(StdoutCapture& capture) {
    int ends[2];
    if (pipe(ends) != 0) {
        return;
    }
    capture.readEnd = ends[0];
    capture.savedOutput = dup(1);
    dup2(ends[1], 1);
    close(ends[1]);
    capture.reader = std::thread([&capture] {
        char block[4096];
        ssize_t count = 0;
        while ((count = read(capture.readEnd, block, sizeof block)) > 0) {
            capture.bytes.append(block, static_cast<std::size_t>(count));
        }
    });
}

// Restores standard output and returns everything written meanwhile.
inline std::string StopCapture(StdoutCapture& capture) {
    dup2(capture.savedOutput, 1);  // closes the pipe's last write end: the reader sees its end
    close(capture.savedOutput);
    capture.reader.join();
    close(capture.readEnd);
    return capture.bytes;
}
#endif
