// Inside the layer: the thread-message wire format, which programs that do
// not use this library may speak too.
//
// A thread's queue is an AF_UNIX datagram socket bound in the abstract
// namespace to "herdlab-msg-<uid>-<tid>" (decimal numbers). A message is one
// 24-byte little-endian datagram:
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

// The address of thread `threadId`'s queue for the calling process's user.
QueueAddress QueueAddressOf(DWORD threadId);

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
