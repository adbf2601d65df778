// The monitor's built-in table of workers and its printed form.
#include "process_table_unit.h"

#include <algorithm>

#include "myProcedure_unit.h"
#include "program_lines_unit.h"

ProcessRecord ProcessTable[kMaxWorkers] = {
    {1, 3300, 2300},  {2, 2250, 3250},  {3, 3500, 4500},  {4, 4120, 5120},  {5, 3310, 2250},
    {6, 2050, 2600},  {7, 5150, 3169},  {8, 2240, 4269},  {9, 3400, 5369},  {10, 2120, 2069},
    {11, 3210, 3169}, {12, 4150, 2269}, {13, 3110, 3369}, {14, 2400, 4069}, {15, 6300, 3130},
};

void PrintProcessTable(int count) {
    PrintLine(kProcessTableHeading);
    const int shown = std::min(count, kMaxWorkers);
    for (int i = 0; i < shown; ++i) {
        const ProcessRecord& entry = ProcessTable[i];
        PrintLine(kProcessTableRow, {entry.number, entry.stage1Param, entry.stage2Param});
    }
}
