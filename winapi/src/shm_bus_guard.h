// Inside the layer: views that survive their block being shrunk.
//
// Another process may shrink a block under our views (ftruncate, or shm_open
// with O_TRUNC; the feeders' children are foreign programs), which Windows
// never allows. An access to a page past the new end then raises SIGBUS and
// would end the process with its children and names left behind. Guarded
// views instead get a private zero page in place of the vanished one, and the
// process goes on with a block that is no longer shared.
#pragma once

#include <cstddef>

namespace winapi_internal {

// Guards the view at `address`; installs the SIGBUS handler on first use.
// Views beyond the table's 64 stay unguarded.
void GuardView(void* address, std::size_t length);

// Stops guarding the view at `address` (before it is unmapped).
void UnguardView(const void* address);

}  // namespace winapi_internal
