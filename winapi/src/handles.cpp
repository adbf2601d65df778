// The handle table and CloseHandle, which hands the object behind a handle
// to the release its creator gave it.
#include "handles.h"

#include <cstdint>
#include <mutex>
#include <vector>

namespace winapi_internal {
namespace {

// A handle's value: the generation in the upper 32 bits, the slot number + 1
// in the lower ones, times 4 as Windows' handles are. So no handle is null,
// INVALID_HANDLE_VALUE or a pseudo handle, and generation 0 is never live.
constexpr int kSlotShift = 2;
constexpr int kGenerationShift = 32;

struct HandleSlot {
    HandleHeader* object = nullptr;  // null while free
    std::uint32_t generation = 1;
};

std::mutex tableLock;
// Never destroyed: other threads may still use handles while the process ends.
auto& table = *new std::vector<HandleSlot>;
auto& freeSlots = *new std::vector<std::size_t>;

HANDLE HandleValue(std::size_t slot, std::uint32_t generation) {
    return reinterpret_cast<HANDLE>((std::uintptr_t{generation} << kGenerationShift) |
                                    ((slot + 1) << kSlotShift));
}

// The live slot a handle names, or null. Lock held.
HandleSlot* SlotOf(HANDLE handle) {
    const auto value = reinterpret_cast<std::uintptr_t>(handle);
    const auto generation = static_cast<std::uint32_t>(value >> kGenerationShift);
    const std::uintptr_t low = value & 0xFFFFFFFFu;
    if ((low & ((1u << kSlotShift) - 1)) != 0 || low == 0) {
        return nullptr;
    }
    const std::size_t slot = (low >> kSlotShift) - 1;
    if (slot >= table.size() || table[slot].object == nullptr ||
        table[slot].generation != generation) {
        return nullptr;
    }
    return &table[slot];
}

// Takes the object out of the table unless it lives as long as the process
// (no release). Null for a handle that is not live.
HandleHeader* TakeForClose(HANDLE handle) {
    std::lock_guard<std::mutex> guard(tableLock);
    HandleSlot* slot = SlotOf(handle);
    if (slot == nullptr) {
        return nullptr;
    }
    HandleHeader* object = slot->object;
    if (object->release != nullptr) {
        slot->object = nullptr;
        slot->generation = slot->generation == UINT32_MAX ? 1 : slot->generation + 1;
        freeSlots.push_back(static_cast<std::size_t>(slot - table.data()));
    }
    return object;
}

}  // namespace

HANDLE NewHandle(HandleHeader* object) {
    std::lock_guard<std::mutex> guard(tableLock);
    std::size_t slot;
    if (freeSlots.empty()) {
        slot = table.size();
        table.emplace_back();
    } else {
        slot = freeSlots.back();
        freeSlots.pop_back();
    }
    table[slot].object = object;
    return HandleValue(slot, table[slot].generation);
}

HandleHeader* HandleOfKind(HANDLE handle, HandleKind kind) {
    std::lock_guard<std::mutex> guard(tableLock);
    HandleSlot* slot = SlotOf(handle);
    return slot != nullptr && slot->object->kind == kind ? slot->object : nullptr;
}

}  // namespace winapi_internal

using namespace winapi_internal;

BOOL CloseHandle(HANDLE hObject) {
    // The pseudo handles of GetCurrentProcess() and GetCurrentThread():
    // closing them is allowed and does nothing.
    if (hObject == INVALID_HANDLE_VALUE || hObject == GetCurrentThread()) {
        return TRUE;
    }
    HandleHeader* header = TakeForClose(hObject);
    if (header == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (header->release != nullptr) {
        header->release(header);
    }
    return TRUE;
}
