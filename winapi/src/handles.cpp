// CloseHandle: releases the object behind a handle according to its kind.
#include "handles.h"
#include "layer_private.h"

using winapi_internal::HandleHeader;
using winapi_internal::HandleKind;
using winapi_internal::kHandleMagic;

BOOL CloseHandle(HANDLE hObject) {
    // The pseudo handles of GetCurrentProcess() and GetCurrentThread():
    // closing them is allowed and does nothing.
    if (hObject == INVALID_HANDLE_VALUE || hObject == GetCurrentThread()) {
        return TRUE;
    }
    auto* header = static_cast<HandleHeader*>(hObject);
    if (header == nullptr || header->magic != kHandleMagic) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    switch (header->kind) {
        case HandleKind::kProcess:
            return winapi_internal::CloseProcessObject(header);
        case HandleKind::kThread:
            // A child's main thread comes from CreateProcessA, every other
            // thread object from CreateThread.
            if (winapi_internal::CloseChildThreadObject(header)) {
                return TRUE;
            }
            return winapi_internal::CloseThreadObject(header);
        case HandleKind::kMapping:
            return winapi_internal::CloseMappingObject(header);
        case HandleKind::kStandardStream:
            return TRUE;  // static objects: the descriptors stay open
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}
