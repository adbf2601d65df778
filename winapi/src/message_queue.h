// Inside the layer: a thread's message queue.
//
// The kernel keeps only net.unix.max_dgram_qlen (often 10) datagrams on a
// socket, where a Windows queue holds 10,000 messages whatever its thread is
// doing. So each queue has a small reader thread that moves datagrams from
// the socket into the queue's own list. While the owning thread waits in
// GetMessageA it reads the socket itself, and the reader stands aside: a
// message then costs no more thread switches or system calls than a bare
// datagram. Within 10 ms of the owner's leaving GetMessageA the reader
// watches the socket again; until then the kernel's queue holds what comes.
//
// When the list holds kQueueLimit messages the queue closes its socket to
// senders (it connects the socket to itself, which makes the kernel refuse
// every other sender with EPERM at once) and opens it again once the owner
// has taken a message. Datagrams already on their way when it closes, at most
// the kernel's own queue, are still taken.
#pragma once

#include <cstddef>

#include "message_wire.h"

namespace winapi_internal {

inline constexpr std::size_t kQueueLimit = 10000;

struct MessageQueue;

// The calling thread's queue, created on first use; it ends with the thread.
// Null with errno set when it cannot be created.
MessageQueue* OwnMessageQueue();

// Waits for the next message of `queue`, which must be the calling thread's.
// Returns false with errno set when the queue fails.
bool TakeMessage(MessageQueue* queue, WireMessage& message);

}  // namespace winapi_internal
