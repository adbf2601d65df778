// Inside the layer: the one shared-memory service the process code needs.
#pragma once

namespace winapi_internal {

// Lets go of every shared-memory block this process holds, removing the names
// no other process holds; called when the process ends without running exit
// handlers (shm_exit_release.cpp).
void RemoveCreatedMappingNames();

}  // namespace winapi_internal
