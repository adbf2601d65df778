// Thread message queues: the socket, the reader thread that drains it, and
// the list the owning thread takes its messages from.
#include "message_queue.h"

#include "queue_names.h"

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

// What the reader does while its owner is not reading the socket itself.
enum class ReaderState {
    kWatching,  // the socket is armed: the reader drains it as datagrams come
    kLooking,   // the owner read it lately: the reader looks every kLookEveryMs
                // and watches again once the owner does other things
    kAsleep     // the owner reads it: the reader waits for a nudge
};

struct MessageQueue {
    QueueAddress address{};  // the socket file's path, bound by `socketFd`
    int nameSlot = -1;       // see BindQueueName
    int socketFd = -1;
    int nudgeFd = -1;  // an eventfd that wakes the reader to look at its state
    int pollFd = -1;   // the reader's epoll: the socket (one-shot) and nudgeFd
    uid_t user = 0;    // the user in the queue's name: the only accepted sender
    DWORD owner = 0;
    int doneFd = -1;  // an eventfd the reader writes as its last act
    std::mutex lock;
    // Guarded by `lock`:
    std::deque<WireMessage> messages;
    bool ownerReading = false;  // the owner reads the socket; the reader stands aside
    ReaderState readerState = ReaderState::kWatching;
    bool closedToSenders = false;
    bool stopping = false;
    int failure = 0;  // errno of a failed receive
};

namespace {

// How often a reader whose owner read the socket lately looks whether the
// owner does other things now. Until it watches the socket again, the
// kernel's queue takes what comes, and a sender finding it full waits. A
// reader that finds its owner reading at every look for kLooksBeforeSleep
// looks waits for the owner's nudge instead: an idle thread costs no wake-ups.
constexpr int kLookEveryMs = 10;
constexpr int kLooksBeforeSleep = 10;

// The calling thread's queue. A process forked without exec inherits the
// forking thread's pointer; the owner check keeps it from being used there.
thread_local MessageQueue* ownQueue = nullptr;

// Ends a thread's queue with the thread, so that a later thread that gets the
// same id can bind the name, and posts to the ended thread fail.
pthread_key_t queueKey;
pthread_once_t queueKeyOnce = PTHREAD_ONCE_INIT;

// Senders are refused at once while the socket is connected to itself.
void CloseToSenders(MessageQueue& queue) {
    queue.closedToSenders =
        connect(queue.socketFd, AddressOf(queue.address), queue.address.length) == 0;
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
    epoll_event event{armed ? EPOLLIN | EPOLLONESHOT : EPOLLONESHOT, {.fd = queue.socketFd}};
    epoll_ctl(queue.pollFd, EPOLL_CTL_MOD, queue.socketFd, &event);
}

void Nudge(const MessageQueue& queue) {
    const std::uint64_t one = 1;
    (void)!write(queue.nudgeFd, &one, sizeof one);
}

// Decides what the reader does next after a look at the socket or the
// clock. `readingLooks` counts the looks that found the owner reading. Lock
// held.
void ReaderLooks(MessageQueue& queue, bool socketReady, int& readingLooks) {
    if (!queue.ownerReading) {
        DrainSocket(queue);  // messages wait while the owner does other things
        queue.readerState = ReaderState::kWatching;
        SetReaderArmed(queue, queue.failure == 0);
    } else if (socketReady || ++readingLooks >= kLooksBeforeSleep) {
        queue.readerState = ReaderState::kAsleep;  // the owner nudges it when it stops
    }
}

void ReadUntilStopped(MessageQueue& queue) {
    int readingLooks = 0;
    for (;;) {
        int timeout = -1;
        {
            std::lock_guard<std::mutex> guard(queue.lock);
            if (queue.readerState == ReaderState::kLooking) {
                timeout = kLookEveryMs;
            }
        }
        epoll_event events[2];
        const int ready = epoll_wait(queue.pollFd, events, 2, timeout);
        if (ready < 0 && errno != EINTR) {
            return;
        }
        bool socketReady = false;
        for (int i = 0; i < ready; ++i) {
            if (events[i].data.fd == queue.nudgeFd) {
                std::uint64_t count;
                (void)!read(queue.nudgeFd, &count, sizeof count);
                readingLooks = 0;  // woken to look again
            } else {
                socketReady = true;  // the one-shot watch has fired and is disarmed
            }
        }
        std::lock_guard<std::mutex> guard(queue.lock);
        if (queue.stopping) {
            return;
        }
        if (socketReady || ready == 0) {
            ReaderLooks(queue, socketReady, readingLooks);
        }
    }
}

// The reader is detached: the owner's end waits for its last act instead of
// joining it, so a process that ends while a thread's queue is being ended
// leaves no thread unjoined. Nothing of the queue is touched after the write.
void* RunReader(void* argument) {
    auto& queue = *static_cast<MessageQueue*>(argument);
    const int done = queue.doneFd;
    ReadUntilStopped(queue);
    const std::uint64_t one = 1;
    (void)!write(done, &one, sizeof one);
    return nullptr;
}

void CloseQueueFds(MessageQueue& queue) {
    for (int fd : {queue.socketFd, queue.nudgeFd, queue.pollFd, queue.doneFd}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

// Ends the reader, closes the socket (later posts fail) and frees the queue;
// messages not taken are lost, as on Windows.
void EndQueue(void* value) {
    auto* queue = static_cast<MessageQueue*>(value);
    {
        std::lock_guard<std::mutex> guard(queue->lock);
        queue->stopping = true;
    }
    Nudge(*queue);
    std::uint64_t count;
    while (read(queue->doneFd, &count, sizeof count) < 0 && errno == EINTR) {
    }
    ForgetQueueName(queue->address,
                    queue->nameSlot);  // the thread id may come back for another thread
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
    queue.nudgeFd = eventfd(0, EFD_CLOEXEC);
    queue.pollFd = epoll_create1(EPOLL_CLOEXEC);
    queue.doneFd = eventfd(0, EFD_CLOEXEC);
    const int on = 1;
    epoll_event socketEvent{EPOLLIN | EPOLLONESHOT, {.fd = queue.socketFd}};
    epoll_event nudgeEvent{EPOLLIN, {.fd = queue.nudgeFd}};
    return queue.socketFd >= 0 && queue.nudgeFd >= 0 && queue.pollFd >= 0 && queue.doneFd >= 0 &&
           setsockopt(queue.socketFd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) == 0 &&
           BindQueueName(queue.socketFd, queue.address, queue.nameSlot) &&
           epoll_ctl(queue.pollFd, EPOLL_CTL_ADD, queue.socketFd, &socketEvent) == 0 &&
           epoll_ctl(queue.pollFd, EPOLL_CTL_ADD, queue.nudgeFd, &nudgeEvent) == 0;
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
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t reader;
    const int error = pthread_create(&reader, &attributes, RunReader, &queue);
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
    DWORD placeError = ERROR_SUCCESS;
    if (!QueueAddressOf(owner, queue->address, placeError)) {
        delete queue;
        errno = static_cast<int>(placeError);  // GetMessageA reports errno as the Win32 error
        return nullptr;
    }
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
    if (queue.readerState == ReaderState::kWatching) {
        // The reader then waits for nothing but a nudge.
        SetReaderArmed(queue, false);
        queue.readerState = ReaderState::kAsleep;
    }
    guard.unlock();
    Received result;
    do {
        result = ReceiveMessage(queue.socketFd, queue.user, true, message);
    } while (result == Received::kDropped || (result == Received::kNone && errno == EINTR));
    const int error = errno;
    guard.lock();
    queue.ownerReading = false;
    if (queue.readerState == ReaderState::kAsleep) {
        queue.readerState = ReaderState::kLooking;
        Nudge(queue);
    }
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
