// Inside the layer: the thread-message wire format, which programs that do
// not use this library may speak too.
//
// A thread's queue is an AF_UNIX datagram socket bound to the file
// "herdlab-msg-<uid>-<tid>" (decimal numbers) in the user's own place for
// named objects (user_place.h). A message is one 24-byte little-endian
// datagram:
//
//     uint32 message, uint32 zero, uint64 wParam, int64 lParam
#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include <cstddef>

#include "herdlab_winapi.h"

namespace winapi_internal {

inline constexpr std::size_t kMessageSize = 24;

struct QueueAddress {
    sockaddr_un address;
    socklen_t length;
};

inline const sockaddr* AddressOf(const QueueAddress& queue) {
    return reinterpret_cast<const sockaddr*>(&queue.address);
}

// The address of thread `threadId`'s queue for the calling process's user;
// false with the Win32 error in `error` when the user has no place for it.
bool QueueAddressOf(DWORD threadId, QueueAddress& queue, DWORD& error);

struct WireMessage {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

void EncodeMessage(const WireMessage& message, unsigned char (&datagram)[kMessageSize]);
WireMessage DecodeMessage(const unsigned char (&datagram)[kMessageSize]);

enum class Received { kMessage, kDropped, kNone, kFailed };

// Receives one datagram from a queue socket, waiting for it when `wait`:
// kMessage with the message; kDropped for a datagram of the wrong size or
// without the credentials of a process of `user`, which is discarded unseen;
// kNone when nothing is there (or a signal interrupted the wait); kFailed
// with errno set.
Received ReceiveMessage(int socketFd, uid_t user, bool wait, WireMessage& message);

}  // namespace winapi_internal
