// Thread messages: RegisterWindowMessageA, PostThreadMessageA, GetMessageA.
//
// A thread's message queue is an AF_UNIX datagram socket bound in the
// abstract namespace to "herdlab-msg-<uid>-<tid>" (decimal numbers). A message
// is one 24-byte little-endian datagram:
//
//     uint32 message, uint32 zero, uint64 wParam, int64 lParam
//
// Programs that do not use this library may speak the same format. A thread
// gets its queue at its first GetMessageA or PostThreadMessageA (on Windows,
// too, a thread gets its queue at its first call into the window manager), and
// the queue goes away when the thread or its process ends.
#include <pthread.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "herdlab_winapi.h"

namespace {

constexpr std::size_t kMessageSize = 24;

// The calling thread's queue socket, and the thread it was created for: a
// process forked without exec inherits the forking thread's copy, which must
// not be used from the new process.
thread_local int queueFd = -1;
thread_local DWORD queueOwner = 0;
thread_local uid_t queueUser = 0;  // the user in the queue's name: the only accepted sender

// Closes a thread's queue when the thread ends, so that a later thread that
// gets the same id can bind the name, and posts to the ended thread fail.
pthread_key_t queueKey;
pthread_once_t queueKeyOnce = PTHREAD_ONCE_INIT;

// One unbound socket sends every post of the process.
std::atomic<int> sendingFd{-1};

struct QueueAddress {
    sockaddr_un address;
    socklen_t length;
};

QueueAddress QueueAddressOf(DWORD threadId) {
    QueueAddress queue{};
    queue.address.sun_family = AF_UNIX;
    // Abstract namespace: a leading zero byte, then the name without a terminator.
    const int length =
        std::snprintf(queue.address.sun_path + 1, sizeof(queue.address.sun_path) - 1,
                      "herdlab-msg-%u-%u", static_cast<unsigned>(getuid()), threadId);
    queue.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
    return queue;
}

void CloseQueueAtThreadEnd(void* value) {
    close(static_cast<int>(reinterpret_cast<std::intptr_t>(value)) - 1);
}

void CreateQueueKey() {
    pthread_key_create(&queueKey, CloseQueueAtThreadEnd);
}

// The calling thread's queue socket, created on first use; -1 with errno set
// when it cannot be created.
int OwnQueue() {
    const DWORD self = GetCurrentThreadId();
    if (queueFd >= 0 && queueOwner == self) {
        return queueFd;
    }
    if (queueFd >= 0) {  // inherited through fork: the socket belongs to the parent's thread
        close(queueFd);
        queueFd = -1;
        pthread_setspecific(queueKey, nullptr);  // nothing of ours to close at thread end
    }
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    const int on = 1;
    const QueueAddress own = QueueAddressOf(self);
    if (setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0 ||
        bind(fd, reinterpret_cast<const sockaddr*>(&own.address), own.length) != 0) {
        const int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    pthread_once(&queueKeyOnce, CreateQueueKey);
    pthread_setspecific(queueKey, reinterpret_cast<void*>(static_cast<std::intptr_t>(fd) + 1));
    queueFd = fd;
    queueOwner = self;
    queueUser = getuid();
    return fd;
}

// The process-wide sending socket; the first caller creates it and a caller
// that loses the race closes its own.
int SendingSocket() {
    int fd = sendingFd.load(std::memory_order_acquire);
    if (fd >= 0) {
        return fd;
    }
    const int created = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (created < 0) {
        return -1;
    }
    if (sendingFd.compare_exchange_strong(fd, created, std::memory_order_acq_rel)) {
        return created;
    }
    close(created);
    return fd;
}

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

// True when the datagram carries the credentials of a process of our own user.
bool FromOwnUser(msghdr* header) {
    for (cmsghdr* part = CMSG_FIRSTHDR(header); part != nullptr; part = CMSG_NXTHDR(header, part)) {
        if (part->cmsg_level == SOL_SOCKET && part->cmsg_type == SCM_CREDENTIALS &&
            part->cmsg_len >= CMSG_LEN(sizeof(ucred))) {
            ucred sender;
            std::memcpy(&sender, CMSG_DATA(part), sizeof sender);
            return sender.uid == queueUser;
        }
    }
    return false;  // no credentials: not a sender we can vouch for
}

// Waits for the next acceptable datagram. Returns false with errno set when
// the receive fails.
bool ReceiveMessage(int fd, unsigned char (&datagram)[kMessageSize]) {
    for (;;) {
        union {
            cmsghdr align;
            char bytes[CMSG_SPACE(sizeof(ucred))];
        } control;
        iovec data{datagram, kMessageSize};
        msghdr header{};
        header.msg_iov = &data;
        header.msg_iovlen = 1;
        header.msg_control = control.bytes;
        header.msg_controllen = sizeof control.bytes;
        // MSG_TRUNC: the result is the datagram's real length, so an oversized
        // one is recognised and dropped. Descriptors a sender may attach do not
        // fit into `control` and are discarded by the kernel.
        const ssize_t length = recvmsg(fd, &header, MSG_TRUNC | MSG_CMSG_CLOEXEC);
        if (length < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (length == static_cast<ssize_t>(kMessageSize) && FromOwnUser(&header)) {
            return true;
        }
    }
}

}  // namespace

// 0xC000 | (FNV-1a-32 of the ASCII-upper-cased name & 0x3FFF): every process
// gets the same id for the same name without any shared state.
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

// At most 50 ms of retries while the receiver's queue is full.
constexpr int kFullQueueRetries = 50;

// Never waits for the receiver, only up to 50 ms for room in a full queue.
// FALSE with ERROR_INVALID_THREAD_ID when no queue is bound for idThread,
// ERROR_NOT_ENOUGH_QUOTA when its queue stays full.
BOOL PostThreadMessageA(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (idThread == 0) {
        SetLastError(ERROR_INVALID_THREAD_ID);
        return FALSE;
    }
    OwnQueue();  // like Windows, a thread that posts has a queue afterwards; failure is harmless
    const int fd = SendingSocket();
    if (fd < 0) {
        SetLastError(static_cast<DWORD>(errno));
        return FALSE;
    }
    unsigned char datagram[kMessageSize] = {};
    PutLittleEndian(datagram, Msg, 4);  // bytes 4..7 stay zero
    PutLittleEndian(datagram + 8, wParam, 8);
    PutLittleEndian(datagram + 16, static_cast<std::uint64_t>(lParam), 8);
    const QueueAddress target = QueueAddressOf(idThread);
    ssize_t sent;
    // Linux queues only a few datagrams per socket (net.unix.max_dgram_qlen,
    // 10 by default) where Windows keeps 10,000 messages, so fifteen workers
    // registering at once could overflow a busy receiver. A full queue gets a
    // short, bounded grace period to drain before the post fails.
    int fullQueueRetries = kFullQueueRetries;
    for (;;) {
        sent = sendto(fd, datagram, kMessageSize, MSG_DONTWAIT | MSG_NOSIGNAL,
                      reinterpret_cast<const sockaddr*>(&target.address), target.length);
        if (sent >= 0 || errno == EINTR) {
            if (sent >= 0) {
                break;
            }
            continue;
        }
        if ((errno != EAGAIN && errno != EWOULDBLOCK) || fullQueueRetries-- == 0) {
            break;
        }
        const timespec pause{0, 1'000'000};  // 1 ms
        nanosleep(&pause, nullptr);
    }
    if (sent >= 0) {  // a datagram goes whole or not at all
        return TRUE;
    }
    if (errno == ECONNREFUSED || errno == ENOENT) {
        SetLastError(ERROR_INVALID_THREAD_ID);
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
        SetLastError(ERROR_NOT_ENOUGH_QUOTA);
    } else {
        SetLastError(static_cast<DWORD>(errno));
    }
    return FALSE;
}

// Blocks until a message arrives for the calling thread. The layer has no
// windows: hWnd and the message range are ignored, every message is taken in
// arrival order. Returns 0 for WM_QUIT, -1 when the queue cannot be created or
// read (GetLastError gives the errno), TRUE otherwise. Datagrams of the wrong
// size or from another user are dropped unseen.
BOOL GetMessageA(LPMSG lpMsg, HWND /*hWnd*/, UINT /*wMsgFilterMin*/, UINT /*wMsgFilterMax*/) {
    if (lpMsg == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    const int fd = OwnQueue();
    if (fd < 0) {
        const int error = errno;
        // Message loops call again at once after -1: keep a loop whose queue
        // cannot be created from spinning.
        usleep(100000);
        SetLastError(static_cast<DWORD>(error));
        return -1;
    }
    unsigned char datagram[kMessageSize];
    if (!ReceiveMessage(fd, datagram)) {
        SetLastError(static_cast<DWORD>(errno));
        return -1;
    }
    lpMsg->hwnd = nullptr;
    lpMsg->message = static_cast<UINT>(GetLittleEndian(datagram, 4));
    lpMsg->wParam = static_cast<WPARAM>(GetLittleEndian(datagram + 8, 8));
    lpMsg->lParam = static_cast<LPARAM>(GetLittleEndian(datagram + 16, 8));
    lpMsg->time = GetTickCount();
    lpMsg->pt = POINT{0, 0};
    return lpMsg->message == WM_QUIT ? 0 : TRUE;
}
