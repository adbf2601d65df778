// The processes below one process, read from /proc: how many there are,
// the processor time they have used, their memory and how long they waited
// for a processor. The kernel here keeps no list of a process's children,
// so the table is read whole and the tree found through the parents.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <vector>

struct TreeUsage {
    int processes = 0;                      // below the root, the root not counted
    double cpuSeconds = 0;                  // theirs, and that of the ones the root reaped
    double runQueueSeconds = 0;             // time they were ready to run but had no processor
    std::uint64_t residentBytes = 0;        // their resident memory, summed
    std::uint64_t largestVirtualBytes = 0;  // the address space of the largest one
};

// Every process below `root` (children, their children, ...).
std::vector<pid_t> Descendants(pid_t root);

// How long `pid` has waited for a processor while ready to run.
double RunQueueSeconds(pid_t pid);

// What the processes below `root` use now (as of a reading of the table at
// most 25 ms old, shared by all the children watched).
TreeUsage UsageBelow(pid_t root);
