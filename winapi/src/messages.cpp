// Thread messages: RegisterWindowMessageA, PostThreadMessageA, GetMessageA,
// and the wire format of message_wire.h. The queues are in message_queue.cpp.
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "message_queue.h"
#include "message_wire.h"
#include "user_place.h"

namespace winapi_internal {
namespace {

void PutLittleEndian(unsigned char* out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

std::uint64_t GetLittleEndian(const unsigned char* in, int bytes) {
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        value = (value << 8) | in[i];
    }
    return value;
}

// True when the datagram carries the credentials of a process of `user`.
bool FromUser(msghdr* header, uid_t user) {
    for (cmsghdr* part = CMSG_FIRSTHDR(header); part != nullptr; part = CMSG_NXTHDR(header, part)) {
        if (part->cmsg_level == SOL_SOCKET && part->cmsg_type == SCM_CREDENTIALS &&
            part->cmsg_len >= CMSG_LEN(sizeof(ucred))) {
            ucred sender;
            std::memcpy(&sender, CMSG_DATA(part), sizeof sender);
            return sender.uid == user;
        }
    }
    return false;  // no credentials: not a sender we can vouch for
}

}  // namespace

bool QueueAddressOf(DWORD threadId, QueueAddress& queue, DWORD& error) {
    // Asked once: a post should cost one system call.
    static const uid_t user = getuid();
    const char* place = UserPlace(error);
    if (place == nullptr) {
        return false;
    }
    queue = QueueAddress{};
    queue.address.sun_family = AF_UNIX;
    // The place is short enough for every thread id (kPlaceCapacity).
    const int length =
        std::snprintf(queue.address.sun_path, sizeof queue.address.sun_path, "%s/herdlab-msg-%u-%u",
                      place, static_cast<unsigned>(user), threadId);
    queue.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length + 1);
    return true;
}

void EncodeMessage(const WireMessage& message, unsigned char (&datagram)[kMessageSize]) {
    PutLittleEndian(datagram, message.message, 4);
    PutLittleEndian(datagram + 4, 0, 4);
    PutLittleEndian(datagram + 8, message.wParam, 8);
    PutLittleEndian(datagram + 16, static_cast<std::uint64_t>(message.lParam), 8);
}

WireMessage DecodeMessage(const unsigned char (&datagram)[kMessageSize]) {
    return WireMessage{static_cast<UINT>(GetLittleEndian(datagram, 4)),
                       static_cast<WPARAM>(GetLittleEndian(datagram + 8, 8)),
                       static_cast<LPARAM>(GetLittleEndian(datagram + 16, 8))};
}

Received ReceiveMessage(int socketFd, uid_t user, bool wait, WireMessage& message) {
    union {
        cmsghdr align;
        char bytes[CMSG_SPACE(sizeof(ucred))];
    } control;
    unsigned char datagram[kMessageSize];
    iovec data{datagram, kMessageSize};
    msghdr header{};
    header.msg_iov = &data;
    header.msg_iovlen = 1;
    header.msg_control = control.bytes;
    header.msg_controllen = sizeof control.bytes;
    // MSG_TRUNC: the result is the datagram's real length, so an oversized one
    // is recognised. Descriptors a sender may attach do not fit into
    // `control` and are discarded by the kernel.
    const ssize_t length =
        recvmsg(socketFd, &header, (wait ? 0 : MSG_DONTWAIT) | MSG_TRUNC | MSG_CMSG_CLOEXEC);
    if (length < 0) {
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? Received::kNone
                                                                         : Received::kFailed;
    }
    if (length != static_cast<ssize_t>(kMessageSize) || !FromUser(&header, user)) {
        return Received::kDropped;
    }
    message = DecodeMessage(datagram);
    return Received::kMessage;
}

namespace {

// How long a post waits for a receiving process whose reader is not running
// (the process is stopped, or a foreign receiver does not drain its socket).
constexpr suseconds_t kStalledReceiverWaitUs = 100'000;

// Posts go through sockets connected to their target's queue, one per
// target, kept per posting thread for its last kConnectedTargets targets: the
// path of a queue's socket file is then looked up once, at the connect, not
// at every post (which would cost a round trip a fifth more).
constexpr int kConnectedTargets = 8;

struct ConnectedTarget {
    DWORD thread = 0;
    int fd = -1;
};

struct ConnectedTargets {
    ConnectedTarget targets[kConnectedTargets];
    int next = 0;  // the slot replaced next: the oldest connect
    ConnectedTargets() = default;
    ConnectedTargets(const ConnectedTargets&) = delete;
    ConnectedTargets& operator=(const ConnectedTargets&) = delete;
    ~ConnectedTargets() {
        for (const ConnectedTarget& target : targets) {
            if (target.fd >= 0) {
                close(target.fd);
            }
        }
    }
};

thread_local ConnectedTargets connectedTargets;

// A new socket connected to thread `threadId`'s queue, or -1 with errno set
// (ENOENT, ECONNREFUSED: no queue; EPERM: the queue is closed to senders).
int ConnectTo(DWORD threadId) {
    QueueAddress target;
    DWORD placeError = ERROR_SUCCESS;
    if (!QueueAddressOf(threadId, target, placeError)) {
        errno = ENOENT;  // no place: no thread has a queue
        return -1;
    }
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    const timeval wait{0, kStalledReceiverWaitUs};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
    while (connect(fd, AddressOf(target), target.length) != 0) {
        if (errno != EINTR) {
            const int error = errno;
            close(fd);
            errno = error;
            return -1;
        }
    }
    return fd;
}

// The calling thread's socket connected to `threadId`'s queue, connected now
// when there is none; -1 with errno set.
ConnectedTarget* TargetSocket(DWORD threadId) {
    for (ConnectedTarget& target : connectedTargets.targets) {
        if (target.thread == threadId && target.fd >= 0) {
            return &target;
        }
    }
    const int fd = ConnectTo(threadId);
    if (fd < 0) {
        return nullptr;
    }
    ConnectedTarget& slot = connectedTargets.targets[connectedTargets.next];
    connectedTargets.next = (connectedTargets.next + 1) % kConnectedTargets;
    if (slot.fd >= 0) {
        close(slot.fd);
    }
    slot = ConnectedTarget{threadId, fd};
    return &slot;
}

void Forget(ConnectedTarget& target) {
    close(target.fd);
    target = ConnectedTarget{};
}

// Sends the datagram whole or not at all; false with errno set.
bool SendWhole(int fd, const unsigned char (&datagram)[kMessageSize]) {
    for (;;) {
        if (send(fd, datagram, kMessageSize, MSG_NOSIGNAL) >= 0) {
            return true;
        }
        if (errno != EINTR) {
            return false;
        }
    }
}

// The Win32 error for a failed send.
DWORD ErrorOfSend(int error) {
    switch (error) {
        case ECONNREFUSED:
        case ENOTCONN:
        case ENOENT:
            return ERROR_INVALID_THREAD_ID;  // no queue bound under that name
        case EPERM:                          // the queue holds its 10,000 messages and refuses more
        case EAGAIN:                         // the receiving process has not drained its socket
            return ERROR_NOT_ENOUGH_QUOTA;
        default:
            return static_cast<DWORD>(error);
    }
}

}  // namespace

}  // namespace winapi_internal

using namespace winapi_internal;

UINT RegisterWindowMessageA(LPCSTR lpString) {
    if (lpString == nullptr || *lpString == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::uint32_t hash = 2166136261u;
    for (const char* p = lpString; *p != '\0'; ++p) {
        auto byte = static_cast<unsigned char>(*p);
        if (byte >= 'a' && byte <= 'z') {
            byte = static_cast<unsigned char>(byte - 'a' + 'A');
        }
        hash ^= byte;
        hash *= 16777619u;
    }
    return 0xC000u | (hash & 0x3FFFu);
}

BOOL PostThreadMessageA(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (idThread == 0) {
        SetLastError(ERROR_INVALID_THREAD_ID);
        return FALSE;
    }
    OwnMessageQueue();  // like Windows, a thread that posts has a queue afterwards
    unsigned char datagram[kMessageSize];
    EncodeMessage(WireMessage{Msg, wParam, lParam}, datagram);
    // A socket connected earlier may lead to a queue that has ended since
    // (its thread ended; the id may have a new queue now): connect once more.
    for (int attempt = 0; attempt < 2; ++attempt) {
        ConnectedTarget* target = TargetSocket(idThread);
        if (target == nullptr) {
            break;
        }
        if (SendWhole(target->fd, datagram)) {
            return TRUE;
        }
        const int error = errno;
        if (error != ECONNREFUSED && error != ENOTCONN) {
            errno = error;
            break;
        }
        Forget(*target);
        errno = ECONNREFUSED;
    }
    SetLastError(ErrorOfSend(errno));
    return FALSE;
}

BOOL GetMessageA(LPMSG lpMsg, HWND /*hWnd*/, UINT /*wMsgFilterMin*/, UINT /*wMsgFilterMax*/) {
    if (lpMsg == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    MessageQueue* queue = OwnMessageQueue();
    if (queue == nullptr) {
        const int error = errno;
        // Message loops call again at once after -1: keep a loop whose queue
        // cannot be created from spinning.
        usleep(100000);
        SetLastError(static_cast<DWORD>(error));
        return -1;
    }
    WireMessage message;
    if (!TakeMessage(queue, message)) {
        SetLastError(static_cast<DWORD>(errno));
        return -1;
    }
    lpMsg->hwnd = nullptr;
    lpMsg->message = message.message;
    lpMsg->wParam = message.wParam;
    lpMsg->lParam = message.lParam;
    lpMsg->time = GetTickCount();
    lpMsg->pt = POINT{0, 0};
    return lpMsg->message == WM_QUIT ? 0 : TRUE;
}
