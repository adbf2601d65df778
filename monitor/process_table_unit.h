// The monitor's built-in table of workers and its printed form.
#pragma once

#include "process_unit.h"
#include "protocol_unit.h"

// Worker k's parameters are entry k - 1. The dialogue may change the entry of
// the observed worker, on the main thread before any other thread exists.
extern ProcessRecord ProcessTable[kMaxWorkers];

// Prints the heading and the first `count` entries (none for count <= 0, at
// most all of them), each value ending under the last letter of its title.
void PrintProcessTable(int count);
