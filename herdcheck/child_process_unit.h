// The checker's hold on one child program: start it contained, with the
// feeder's command line and its output captured, see how it ends, measure
// its processor time, end it with everything it started. One source per
// platform: child_process_linux.cpp and child_process_windows.cpp.
//
// The child gets exactly the command line a feeder gives it (its first word
// is the data set's program name, whatever file is run), an empty standard
// input, a scratch folder of its own as its current folder (removed when it
// is released), and a pipe for its standard output and error that the
// checker drains and discards. It runs in the normal class: a lower one
// would let other work on a busy machine hide a child's spinning, since its
// share of a processor is what the waiting check measures. It ends with the
// checker, however the checker ends.
//
// Contained: at most kMostProcessesAtOnce processes and kMostMemoryMegabytes
// of memory, nothing left running after it, and, where the platform offers
// it to an ordinary user, no writes outside its folder and no network. What
// it tried is kept in `harms`; what this machine cannot contain is named by
// ProtectionSummary().
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "containment_unit.h"

struct ChildProcess {
#ifdef _WIN32
    std::intptr_t process = -1;     // the child's process HANDLE
    std::intptr_t mainThread = -1;  // the HANDLE of its main thread
    std::intptr_t job = -1;         // the HANDLE of the job that holds it and all it starts
    std::intptr_t jobEvents = -1;   // the job's completion port, which tells of limits reached
#else
    int keeperPid = -1;   // the keeper's process id; the child runs below it
    int programPid = -1;  // the program's process id, as the checker sees it
    int keeperNews = -1;  // the read end of the keeper's message pipe
    // How the program ended, as the keeper told.
    bool endReported = false;
    RunEnd end = RunEnd::kExited;
    std::uint32_t exitCode = 0;
    std::string crashName;
#endif
    std::intptr_t output = -1;  // the read end of the output pipe (fd or HANDLE)
    std::string scratch;        // its folder (native path)
    bool running = false;
    ContainmentHarms harms;
};

// Prepares the checker itself and finds what the machine can contain. Call
// once before the first StartContainedChild.
void PrepareChildren();

// The protections in force and those missing (Windows-1251), for the
// report's header: "защита: ...".
std::string ProtectionSummary();

// Makes the child's scratch folder (`child.scratch`), where on Linux its
// block is made before it starts (child_block_unit.h). False with the
// platform's error number.
bool MakeChildScratch(ChildProcess& child, std::uint32_t& error);

// Starts `programPath` (Windows-1251) contained in its scratch folder, with
// `words` (Windows-1251, word 0 the program name the child sees). On Linux
// its XDG_RUNTIME_DIR is ChildRuntimeFolder(child.scratch), the place of its
// block. False with the platform's error number in `error` when it cannot be
// started (its scratch folder is removed then).
bool StartContainedChild(std::string_view programPath, const std::vector<std::string>& words,
                         ChildProcess& child, std::uint32_t& error);

// Reads what the child wrote since the last call and discards it; returns
// how many bytes that was. Also takes in what the containment reported.
std::size_t DrainChildOutput(ChildProcess& child);

// How a finished child ended, without waiting. False while it runs.
struct ChildEnd {
    RunEnd end = RunEnd::kExited;
    std::uint32_t exitCode = 0;
    std::string crashName;
};
bool ChildEnded(ChildProcess& child, ChildEnd& how);

// What the child and all it started use now. Looking also records in
// `harms` when they reached the limits of processes or memory.
struct ChildUsage {
    double cpuSeconds = 0;              // user and system, of the child and all it started
    double runQueueSeconds = 0;         // time they were ready to run but got no processor
    double checkerRunQueueSeconds = 0;  // the same of the checker itself
    bool overLimit = false;             // beyond what the platform itself stops: end the child
};
ChildUsage SampleChild(ChildProcess& child);

// Ends the child and everything it started, and waits until they are gone.
void EndChild(ChildProcess& child);

// Ends the child if it still runs and releases everything held for it,
// its scratch folder included.
void ReleaseChild(ChildProcess& child);

// A file name typed by the user (Windows-1251) as the platform's file calls take it.
std::string NativePath(std::string_view path);
