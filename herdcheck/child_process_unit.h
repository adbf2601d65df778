// The checker's hold on one child program: start it with the feeder's command
// line and its output captured, see how it ends, measure its processor time,
// end it. One source per platform: child_process_linux.cpp and
// child_process_windows.cpp.
//
// The child gets exactly the command line a feeder gives it (its first word
// is the data set's program name, whatever file is run), an empty standard
// input, and a pipe for its standard output and error that the checker
// drains and discards. It runs in the normal class: a lower one would let
// other work on a busy machine hide a child's spinning, since its share of a
// processor is what the waiting check measures. It ends with the checker,
// however the checker ends.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "verdict_unit.h"

struct ChildProcess {
    std::intptr_t process = -1;  // Linux: the pid; Windows: the process HANDLE
    std::intptr_t thread = -1;   // Windows: the main thread's HANDLE; unused on Linux
    std::intptr_t output = -1;   // the read end of the output pipe (fd or HANDLE)
    bool running = false;
};

// Starts `programPath` (Windows-1251) with `words` (Windows-1251, word 0 the
// program name the child sees). False with the platform's error number in
// `error` when it cannot be started.
bool StartChild(std::string_view programPath, const std::vector<std::string>& words,
                ChildProcess& child, std::uint32_t& error);

// Reads what the child wrote since the last call and discards it; returns
// how many bytes that was.
std::size_t DrainChildOutput(ChildProcess& child);

// How a finished child ended, without waiting. False while it runs.
struct ChildEnd {
    RunEnd end = RunEnd::kExited;
    std::uint32_t exitCode = 0;
    std::string crashName;
};
bool ChildEnded(ChildProcess& child, ChildEnd& how);

// Processor time (user and system) the child has used so far, in seconds.
double ChildCpuSeconds(const ChildProcess& child);

// Ends a running child and waits until it is gone.
void EndChild(ChildProcess& child);

// Ends the child if it still runs and releases everything held for it.
void ReleaseChild(ChildProcess& child);

// Prepares the checker itself: on Windows, a job that ends every child with
// the checker. Call once before the first StartChild.
void PrepareChildren();

// A file name typed by the user (Windows-1251) as the platform's file calls take it.
std::string NativePath(std::string_view path);
