// The calling thread's last error, as Win32 keeps it: each thread has its own.
#include "herdlab_winapi.h"

namespace {

thread_local DWORD tLastError = ERROR_SUCCESS;

}  // namespace

DWORD GetLastError() {
    return tLastError;
}

void SetLastError(DWORD error) {
    tLastError = error;
}
