// A child's main thread: the second handle CreateProcessA gives, and
// ResumeThread, which lets a child created suspended go on to exec.
#include <mutex>
#include <utility>

#include "process_objects.h"

namespace winapi_internal {
namespace {

void ReleaseChildThreadObject(HandleHeader* object);

// The main thread of a child (its id is the child's pid). A child created
// suspended waits before exec until ResumeThread releases it (`held`).
struct ChildThreadObject {
    HandleHeader header{HandleKind::kChildThread, ReleaseChildThreadObject};
    std::mutex lock;  // ResumeThread may come from two threads at once
    HeldExec held;
};

void ReleaseChildThreadObject(HandleHeader* object) {
    auto* thread = reinterpret_cast<ChildThreadObject*>(object);
    DropHeldExec(thread->held);  // a child never resumed ends unstarted
    delete thread;
}

}  // namespace

HANDLE NewChildThreadObject(const HeldExec& held) {
    auto* object = new ChildThreadObject;
    object->held = held;
    return NewHandle(&object->header);
}

}  // namespace winapi_internal

using namespace winapi_internal;

DWORD ResumeThread(HANDLE hThread) {
    auto* thread =
        reinterpret_cast<ChildThreadObject*>(HandleOfKind(hThread, HandleKind::kChildThread));
    if (thread == nullptr) {
        if (HandleOfKind(hThread, HandleKind::kThread) != nullptr) {
            return 0;  // CreateThread's threads run from their start
        }
        SetLastError(ERROR_INVALID_HANDLE);
        return static_cast<DWORD>(-1);
    }
    HeldExec release;  // only the resume end: the exec's result stays with the handle
    {
        std::lock_guard<std::mutex> guard(thread->lock);
        std::swap(release.resumeFd, thread->held.resumeFd);
    }
    if (release.resumeFd < 0) {
        return 0;  // running already
    }
    ReleaseHeldExec(release);
    return 1;
}
