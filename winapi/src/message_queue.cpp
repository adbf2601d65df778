// Thread message queues: the socket, the reader thread that drains it, and
// the list the owning thread takes its messages from.
#include "message_queue.h"

#include <pthread.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <deque>
#include <mutex>
#include <new>

namespace winapi_internal {

struct MessageQueue {
    int socketFd = -1;
    int stopFd = -1;  // an eventfd that tells the reader to end
    int pollFd = -1;  // the reader's epoll: the socket (one-shot) and stopFd
    uid_t user = 0;   // the user in the queue's name: the only accepted sender
    DWORD owner = 0;
    pthread_t reader{};
    std::mutex lock;
    // Guarded by `lock`:
    std::deque<WireMessage> messages;
    bool ownerReading = false;  // the owner reads the socket; the reader stands aside
    bool readerArmed = false;   // the socket is armed in pollFd
    bool closedToSenders = false;
    int failure = 0;  // errno of a failed receive
};

namespace {

// The calling thread's queue. A process forked without exec inherits the
// forking thread's pointer; the owner check keeps it from being used there.
thread_local MessageQueue* ownQueue = nullptr;

// Ends a thread's queue with the thread, so that a later thread that gets the
// same id can bind the name, and posts to the ended thread fail.
pthread_key_t queueKey;
pthread_once_t queueKeyOnce = PTHREAD_ONCE_INIT;

// Senders are refused at once while the socket is connected to itself.
void CloseToSenders(MessageQueue& queue) {
    const QueueAddress own = QueueAddressOf(queue.owner);
    queue.closedToSenders =
        connect(queue.socketFd, reinterpret_cast<const sockaddr*>(&own.address), own.length) == 0;
}

// Moves every datagram waiting on the socket into the list. Lock held.
void DrainSocket(MessageQueue& queue) {
    for (;;) {
        WireMessage message;
        const Received result = ReceiveMessage(queue.socketFd, queue.user, false, message);
        if (result == Received::kMessage) {
            queue.messages.push_back(message);
            // Closed at once: senders keep refilling the socket while it drains.
            if (!queue.closedToSenders && queue.messages.size() >= kQueueLimit) {
                CloseToSenders(queue);
            }
        } else if (result == Received::kFailed) {
            queue.failure = errno;
            break;
        } else if (result == Received::kNone) {
            break;
        }
    }
}

// Lets senders in again once there is room. Disconnecting drops whatever the
// socket still holds, so it is drained first; while closed nothing new came.
// Lock held.
void ReopenWhenRoom(MessageQueue& queue) {
    if (!queue.closedToSenders || queue.messages.size() >= kQueueLimit) {
        return;
    }
    DrainSocket(queue);
    if (queue.messages.size() < kQueueLimit) {
        sockaddr unspecified{};
        unspecified.sa_family = AF_UNSPEC;
        connect(queue.socketFd, &unspecified, sizeof unspecified);
        queue.closedToSenders = false;
    }
}

// Arms or disarms the reader's one-shot watch of the socket. Lock held.
void SetReaderArmed(MessageQueue& queue, bool armed) {
    epoll_event event{};
    event.events = armed ? EPOLLIN | EPOLLONESHOT : EPOLLONESHOT;
    event.data.fd = queue.socketFd;
    epoll_ctl(queue.pollFd, EPOLL_CTL_MOD, queue.socketFd, &event);
    queue.readerArmed = armed;
}

void* RunReader(void* argument) {
    auto& queue = *static_cast<MessageQueue*>(argument);
    for (;;) {
        epoll_event events[2];
        const int ready = epoll_wait(queue.pollFd, events, 2, -1);
        if (ready < 0 && errno != EINTR) {
            return nullptr;
        }
        for (int i = 0; i < ready; ++i) {
            if (events[i].data.fd == queue.stopFd) {
                return nullptr;
            }
        }
        std::lock_guard<std::mutex> guard(queue.lock);
        queue.readerArmed = false;  // the one-shot watch has fired
        if (!queue.ownerReading) {
            DrainSocket(queue);
            if (queue.failure == 0) {
                SetReaderArmed(queue, true);
            }
        }
    }
}

void CloseQueueFds(MessageQueue& queue) {
    for (int fd : {queue.socketFd, queue.stopFd, queue.pollFd}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

// Ends the reader, closes the socket (later posts fail) and frees the queue;
// messages not taken are lost, as on Windows.
void EndQueue(void* value) {
    auto* queue = static_cast<MessageQueue*>(value);
    const std::uint64_t one = 1;
    if (write(queue->stopFd, &one, sizeof one) == sizeof one) {
        pthread_join(queue->reader, nullptr);
    }
    CloseQueueFds(*queue);
    delete queue;
}

void CreateQueueKey() {
    pthread_key_create(&queueKey, EndQueue);
}

// The socket bound to the owner's name, the stop event and the reader's epoll
// with both in it. False with errno set.
bool OpenQueueFds(MessageQueue& queue) {
    queue.socketFd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    queue.stopFd = eventfd(0, EFD_CLOEXEC);
    queue.pollFd = epoll_create1(EPOLL_CLOEXEC);
    if (queue.socketFd < 0 || queue.stopFd < 0 || queue.pollFd < 0) {
        return false;
    }
    const int on = 1;
    const QueueAddress own = QueueAddressOf(queue.owner);
    epoll_event socketEvent{};
    socketEvent.events = EPOLLIN | EPOLLONESHOT;
    socketEvent.data.fd = queue.socketFd;
    epoll_event stopEvent{};
    stopEvent.events = EPOLLIN;
    stopEvent.data.fd = queue.stopFd;
    queue.readerArmed = true;
    return setsockopt(queue.socketFd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) == 0 &&
           bind(queue.socketFd, reinterpret_cast<const sockaddr*>(&own.address), own.length) == 0 &&
           epoll_ctl(queue.pollFd, EPOLL_CTL_ADD, queue.socketFd, &socketEvent) == 0 &&
           epoll_ctl(queue.pollFd, EPOLL_CTL_ADD, queue.stopFd, &stopEvent) == 0;
}

// Starts the reader with every signal blocked: signals are for the program's
// own threads.
int StartReader(MessageQueue& queue) {
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 64 * 1024);
    const int error = pthread_create(&queue.reader, &attributes, RunReader, &queue);
    pthread_attr_destroy(&attributes);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return error;
}

MessageQueue* CreateQueue(DWORD owner) {
    auto* queue = new (std::nothrow) MessageQueue;
    if (queue == nullptr) {
        errno = ENOMEM;
        return nullptr;
    }
    queue->owner = owner;
    queue->user = getuid();
    int error = OpenQueueFds(*queue) ? StartReader(*queue) : errno;
    if (error != 0) {
        CloseQueueFds(*queue);
        delete queue;
        errno = error;
        return nullptr;
    }
    return queue;
}

// Waits on the socket itself for the next message while the list is empty:
// the reader stands aside meanwhile, so this thread is the only one reading
// and the datagram it gets is the next message. False with errno set.
bool ReceiveAsOwner(MessageQueue& queue, std::unique_lock<std::mutex>& guard,
                    WireMessage& message) {
    queue.ownerReading = true;
    if (queue.readerArmed) {
        SetReaderArmed(queue, false);
    }
    guard.unlock();
    Received result;
    do {
        result = ReceiveMessage(queue.socketFd, queue.user, true, message);
    } while (result == Received::kDropped || (result == Received::kNone && errno == EINTR));
    const int error = errno;
    guard.lock();
    queue.ownerReading = false;
    // From here on the reader takes what arrives, including anything already
    // waiting: arming a one-shot watch reports a socket that is ready.
    SetReaderArmed(queue, true);
    errno = error;
    return result == Received::kMessage;
}

}  // namespace

MessageQueue* OwnMessageQueue() {
    const DWORD self = GetCurrentThreadId();
    if (ownQueue != nullptr && ownQueue->owner == self) {
        return ownQueue;
    }
    if (ownQueue != nullptr) {
        // Inherited through fork: the reader does not exist here and the lock
        // may have been held at the fork. Only the descriptors are ours to close.
        CloseQueueFds(*ownQueue);
        ownQueue = nullptr;
        pthread_setspecific(queueKey, nullptr);
    }
    pthread_once(&queueKeyOnce, CreateQueueKey);
    ownQueue = CreateQueue(self);
    if (ownQueue != nullptr) {
        pthread_setspecific(queueKey, ownQueue);
    }
    return ownQueue;
}

bool TakeMessage(MessageQueue* queue, WireMessage& message) {
    std::unique_lock<std::mutex> guard(queue->lock);
    if (queue->messages.empty()) {
        if (queue->failure != 0) {
            errno = queue->failure;
            return false;
        }
        return ReceiveAsOwner(*queue, guard, message);
    }
    message = queue->messages.front();
    queue->messages.pop_front();
    ReopenWhenRoom(*queue);
    return true;
}

}  // namespace winapi_internal
