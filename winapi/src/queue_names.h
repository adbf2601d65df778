// Inside the layer: the socket files that name thread queues.
//
// A queue's socket file stays in the user's place after its socket is closed,
// so the layer removes it when the queue ends: with its thread, and for every
// queue still open when the process exits (exit, ExitProcess). A process
// killed outright leaves its files behind; the next queue bound to such a
// name removes the stale file first, when nothing listens on it any more
// (only files of the user's own place, so only the user's own).
#pragma once

#include "message_wire.h"

namespace winapi_internal {

// Binds `socketFd` to the queue's name, removing a stale socket file of that
// name first; `slot` keeps it for the removal at the process's end. False
// with errno set (EADDRINUSE: a live queue has the name).
bool BindQueueName(int socketFd, const QueueAddress& queue, int& slot);

// Removes the socket file of a queue that ends.
void ForgetQueueName(const QueueAddress& queue, int slot);

// Removes the socket files of the queues this process still has; for the
// process's end.
void RemoveQueueNames();

}  // namespace winapi_internal
