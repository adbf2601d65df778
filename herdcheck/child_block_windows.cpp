// The child's block on Windows: the session's mapping of that name, which
// every program of the session may also open.
#include "child_block_unit.h"
#include "feed_ring_unit.h"
#include "handles_windows.h"
#include "win32.h"

bool CreateChildBlock(const std::string& /*scratch*/, const std::string& name, ChildBlock& block,
                      std::uint32_t& error) {
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        kRingSlots, name.c_str());
    error = GetLastError();
    if (mapping != nullptr && error == ERROR_ALREADY_EXISTS) {
        CloseHandle(mapping);  // another program's: never shared, given up at once
        return false;
    }
    if (mapping == nullptr) {
        return false;
    }
    void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, kRingSlots);
    if (view == nullptr) {
        error = GetLastError();
        CloseHandle(mapping);
        return false;
    }
    block.handle = reinterpret_cast<std::intptr_t>(mapping);
    block.ring = static_cast<unsigned char*>(view);
    block.name = name;
    for (int slot = 0; slot < kRingSlots; ++slot) {
        StoreSlot(block.ring, slot, kEmptySlot);
    }
    return true;
}

// The name outlives the checker's handle and the ended child's only while
// another program holds it.
bool ReleaseChildBlock(ChildBlock& block) {
    if (block.ring != nullptr) {
        UnmapViewOfFile(block.ring);
        block.ring = nullptr;
    }
    if (block.handle == -1) {
        return false;
    }
    CloseHandle(HandleOf(block.handle));
    block.handle = -1;
    HANDLE other = OpenFileMappingA(FILE_MAP_READ, FALSE, block.name.c_str());
    if (other == nullptr) {
        return false;
    }
    CloseHandle(other);
    return true;
}
