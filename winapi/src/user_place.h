// Inside the layer: the user's own place for named objects.
//
// Thread queues (socket files) and named blocks (files) live in one folder
// that only their user can create, enter or read, as Windows keeps them per
// session: a fixed name in a shared folder (/tmp, /dev/shm, the abstract
// socket namespace) could be taken first by any local user. The choices, in
// this order:
//   1. $XDG_RUNTIME_DIR/herdlab when XDG_RUNTIME_DIR is an absolute path (the
//      login manager makes that folder, mode 0700, for the user alone);
//   2. $HOME/.herdlab when HOME is an absolute path (su, cron and setpriv
//      leave XDG_RUNTIME_DIR unset).
// A choice is made with mode 0700 when missing. It is used only when it is a
// real folder (not a link) of the user with no access for group or others,
// and its parent belongs to the user or to root and is writable by nobody
// else unless sticky, so no one else can put another folder in its place.
// A refused folder is never changed or removed: the layer goes on to its next
// choice. Programs that do not use this library find the place the same way.
#pragma once

#include <cstddef>

#include "herdlab_winapi.h"

namespace winapi_internal {

// The longest place path the layer uses: a queue's socket path (the place,
// "/herdlab-msg-<uid>-<tid>") must fit sockaddr_un's 108 bytes. A longer
// choice is refused.
inline constexpr std::size_t kPlaceCapacity = 72;

// The place's path, found once per process; null when the user has none,
// with the Win32 error in `error` (ERROR_ACCESS_DENIED when some choice was
// refused, else ERROR_PATH_NOT_FOUND). The first failure also says on
// standard error which choices were refused and why.
const char* UserPlace(DWORD& error);

}  // namespace winapi_internal
