// Inside the layer: the one shared-memory service the process code needs.
#pragma once

namespace winapi_internal {

// Removes the names of the shared-memory blocks this process created; called
// when the process ends without running exit handlers (shared_memory.cpp).
void RemoveCreatedMappingNames();

}  // namespace winapi_internal
