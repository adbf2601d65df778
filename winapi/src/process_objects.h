// Inside the layer: the objects behind the two handles CreateProcessA gives,
// the child process (process.cpp) and its main thread (child_thread.cpp).
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <mutex>

#include "handles.h"
#include "spawn.h"

namespace winapi_internal {

void ReleaseProcessObject(HandleHeader* object);

// A child; its handle holds a pidfd, so exit queries and TerminateProcess can
// never reach a recycled pid.
struct ProcessObject {
    HandleHeader header{HandleKind::kProcess, ReleaseProcessObject};
    int pidfd = -1;
    pid_t pid = 0;
    std::mutex lock;  // the monitor queries and ends children from two threads
    bool exited = false;
    DWORD exitCode = STILL_ACTIVE;
    bool terminating = false;
    DWORD terminateCode = 0;
};

inline ProcessObject* ProcessOf(HANDLE handle) {
    return reinterpret_cast<ProcessObject*>(HandleOfKind(handle, HandleKind::kProcess));
}

// Calls use(pid) for GetCurrentProcess() or a child not yet reaped, holding
// the child's lock so that no wait can reap it and free its pid meanwhile.
// FALSE with ERROR_INVALID_HANDLE for anything else, ERROR_ACCESS_DENIED for
// a reaped child.
template <typename Use>
BOOL WithProcessId(HANDLE handle, Use use) {
    if (handle == GetCurrentProcess()) {
        return use(getpid());
    }
    ProcessObject* process = ProcessOf(handle);
    if (process == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(process->lock);
    if (process->exited) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return use(process->pid);
}

// The handle of a child's main thread; `held` is the hold of a child created
// suspended, empty for one that runs already.
HANDLE NewChildThreadObject(const HeldExec& held);

}  // namespace winapi_internal
