// The keeper's messages: written by the keeper, read by the checker.
#include "keeper_news_linux.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "child_process_unit.h"
#include "cp1251_unit.h"
#include "format_unit.h"
#include "herdlab_toolkit.h"

namespace {

std::string FamilyName(int family) {
    switch (family) {
        case AF_INET:
            return "AF_INET";
        case AF_INET6:
            return "AF_INET6";
        case AF_PACKET:
            return "AF_PACKET";
        default:
            return std::to_string(family);
    }
}

}  // namespace

void SendKeeperNews(int report, KeeperNews news, std::int32_t value, const char* path) {
    KeeperMessage message;
    message.news = news;
    message.value = value;
    std::snprintf(message.path, sizeof message.path, "%s", path);
    [[maybe_unused]] const ssize_t written = write(report, &message, sizeof message);
}

std::string SignalName(int signalNumber) {
    if (const char* name = sigabbrev_np(signalNumber)) {
        return std::string("SIG") + name;
    }
    return FormatText("сигнал %d"_cp1251, {signalNumber});
}

bool ReadKeeperMessage(int fd, KeeperMessage& message, bool wait) {
    if (!wait) {
        pollfd ready = {fd, POLLIN, 0};
        if (poll(&ready, 1, 0) <= 0) {
            return false;
        }
    }
    ssize_t got;
    do {
        got = read(fd, &message, sizeof message);
    } while (got < 0 && errno == EINTR);
    return got == static_cast<ssize_t>(sizeof message);
}

void TakeKeeperNews(ChildProcess& child, const KeeperMessage& message) {
    switch (message.news) {
        case KeeperNews::kNetworkTried:
            if (child.harms.networkTried.empty()) {
                child.harms.networkTried = FamilyName(message.value);
            }
            break;
        case KeeperNews::kWroteOutside:
            if (child.harms.wroteOutside.empty()) {
                child.harms.wroteOutside = herdlab_toolkit::Cp1251FromUtf8(message.path);
            }
            break;
        case KeeperNews::kLeftBehind:
            child.harms.leftBehind = message.value;
            break;
        case KeeperNews::kProgramEnded:
            child.endReported = true;
            child.end = WIFSIGNALED(message.value) ? RunEnd::kCrashed : RunEnd::kExited;
            child.exitCode = WIFEXITED(message.value) ? WEXITSTATUS(message.value) : 0;
            child.crashName = WIFSIGNALED(message.value) ? SignalName(WTERMSIG(message.value)) : "";
            break;
        case KeeperNews::kStarted:
        case KeeperNews::kExecFailed:
            break;
    }
}

bool AwaitKeeperStart(ChildProcess& child, std::uint32_t& error) {
    KeeperMessage message;
    while (ReadKeeperMessage(child.keeperNews, message, true)) {
        if (message.news == KeeperNews::kStarted) {
            child.programPid = message.value;
            return true;
        }
        if (message.news == KeeperNews::kExecFailed) {
            error = static_cast<std::uint32_t>(message.value);
            return false;
        }
        TakeKeeperNews(child, message);
    }
    error = 0;
    return false;
}
