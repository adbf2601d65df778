// Windows: the state of every thread of the followed processes as the
// system's process list gives it to any user (NtQuerySystemInformation),
// read at each sample: how many threads run, how many are ready (could run,
// wait for a processor), and their switches so far.
#pragma once

#include <map>
#include <vector>

#include "win32.h"

namespace herdtrace {

struct ThreadStates {
    bool listed = false;  // false: not in the list (it has ended)
    // False when every thread shows the state of a thread not yet started,
    // as Wine (8.0) shows all of them: the list then tells no states.
    bool told = false;
    int running = 0;
    int ready = 0;
    long long switches = 0;
};

// Fills `states` for the processes it holds (their ids) from the system's
// list now; false where the system does not give it. `buffer` is kept
// between calls so that the list is not allocated anew at each sample.
bool ReadThreadStates(std::map<DWORD, ThreadStates>& states, std::vector<unsigned char>& buffer);

}  // namespace herdtrace
