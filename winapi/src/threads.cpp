// Threads: CreateThread, GetCurrentThreadId and the thread handle.
//
// A thread is a detached POSIX thread; its id is the kernel's thread id, the
// number other processes post thread messages to. The handle only names the
// thread: closing it neither waits for nor ends the thread.
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <new>

#include "handles.h"

namespace winapi_internal {
namespace {

void ReleaseThreadObject(HandleHeader* object);

struct ThreadObject {
    HandleHeader header{HandleKind::kThread, ReleaseThreadObject};
    DWORD threadId = 0;
};

void ReleaseThreadObject(HandleHeader* object) {
    delete reinterpret_cast<ThreadObject*>(object);
}

// Handed from CreateThread to the new thread. Both sides hold a reference and
// the last to let go frees it, so neither touches it after the other is done.
struct ThreadStart {
    LPTHREAD_START_ROUTINE procedure;
    LPVOID parameter;
    std::atomic<DWORD> threadId{0};  // set by the new thread: the handshake
    std::atomic<int> references{2};
};

void ReleaseStart(ThreadStart* start) {
    if (start->references.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        delete start;
    }
}

void* RunThread(void* argument) {
    auto* start = static_cast<ThreadStart*>(argument);
    const LPTHREAD_START_ROUTINE procedure = start->procedure;
    const LPVOID parameter = start->parameter;
    start->threadId.store(GetCurrentThreadId(), std::memory_order_release);
    start->threadId.notify_one();
    ReleaseStart(start);
    procedure(parameter);  // a thread's exit code is not kept: nothing in the layer asks for it
    return nullptr;
}

// Waits until the new thread has published its id.
DWORD AwaitThreadId(ThreadStart* start) {
    DWORD id = start->threadId.load(std::memory_order_acquire);
    while (id == 0) {
        start->threadId.wait(0, std::memory_order_acquire);
        id = start->threadId.load(std::memory_order_acquire);
    }
    return id;
}

// Starts the detached thread; returns 0 or the errno of the failure.
int StartDetached(SIZE_T stackSize, ThreadStart* start) {
    pthread_attr_t attributes;
    int error = pthread_attr_init(&attributes);
    if (error != 0) {
        return error;
    }
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    if (stackSize != 0) {  // 0 is the default size; a size the system refuses is ignored
        pthread_attr_setstacksize(&attributes, std::max<SIZE_T>(stackSize, PTHREAD_STACK_MIN));
    }
    pthread_t thread;
    error = pthread_create(&thread, &attributes, RunThread, start);
    pthread_attr_destroy(&attributes);
    return error;
}

}  // namespace
}  // namespace winapi_internal

using namespace winapi_internal;

HANDLE CreateThread(LPSECURITY_ATTRIBUTES /*lpThreadAttributes*/, SIZE_T dwStackSize,
                    LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                    DWORD dwCreationFlags, LPDWORD lpThreadId) {
    if (lpStartAddress == nullptr || dwCreationFlags != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto* object = new (std::nothrow) ThreadObject;
    auto* start = new (std::nothrow) ThreadStart{lpStartAddress, lpParameter};
    if (object == nullptr || start == nullptr) {
        delete object;
        delete start;
        SetLastError(static_cast<DWORD>(ENOMEM));
        return nullptr;
    }
    const int error = StartDetached(dwStackSize, start);
    if (error != 0) {
        delete object;
        delete start;
        SetLastError(static_cast<DWORD>(error));
        return nullptr;
    }
    object->threadId = AwaitThreadId(start);
    ReleaseStart(start);
    if (lpThreadId != nullptr) {
        *lpThreadId = object->threadId;
    }
    return NewHandle(&object->header);
}

namespace {

// The id is asked for on every post and receive; a system call each time
// would be a noticeable part of a message's cost. The child of a fork runs
// on a new thread id, so the forking thread's copy is forgotten there.
thread_local DWORD cachedThreadId = 0;

void ForgetThreadIdInChild() {
    cachedThreadId = 0;
}

}  // namespace

DWORD GetCurrentThreadId() {
    if (cachedThreadId == 0) {
        static const int forkHandler = pthread_atfork(nullptr, nullptr, ForgetThreadIdInChild);
        (void)forkHandler;
        cachedThreadId = static_cast<DWORD>(gettid());
    }
    return cachedThreadId;
}
