// The launchers' reading of a child's state at the reaping pass.
#include "process_unit.h"

bool ChildStillRunning(const PROCESS_INFORMATION& child) {
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(child.hProcess, &exitCode)) {
        return true;
    }
    return exitCode == STILL_ACTIVE;
}
