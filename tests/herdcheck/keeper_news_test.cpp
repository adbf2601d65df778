// The checker's reading of its keepers' messages (Linux): the word on a
// child's start is found whatever the keeper reported before it.
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "child_process_unit.h"
#include "keeper_news_linux.h"

namespace {

KeeperMessage Message(KeeperNews news, std::int32_t value, const char* path = "") {
    KeeperMessage message;
    message.news = news;
    message.value = value;
    std::snprintf(message.path, sizeof message.path, "%s", path);
    return message;
}

// What the checker made of the messages, as one line.
std::string StartSeen(const std::vector<KeeperMessage>& messages) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
        return "no pipe";
    }
    for (const KeeperMessage& message : messages) {
        [[maybe_unused]] const ssize_t written = write(pipeEnds[1], &message, sizeof message);
    }
    close(pipeEnds[1]);
    ChildProcess child;
    child.keeperNews = pipeEnds[0];
    std::uint32_t error = 12345;
    const bool started = AwaitKeeperStart(child, error);
    close(pipeEnds[0]);
    return (started ? "started " + std::to_string(child.programPid)
                    : "error " + std::to_string(error)) +
           " network '" + child.harms.networkTried + "' wrote '" + child.harms.wroteOutside + "'";
}

TEST(KeeperNews, TheWordOnTheStartIsFoundBehindNewsOfWhatTheProgramDid) {
    const KeeperMessage net4 = Message(KeeperNews::kNetworkTried, AF_INET);
    const KeeperMessage net6 = Message(KeeperNews::kNetworkTried, AF_INET6);
    const KeeperMessage wrote = Message(KeeperNews::kWroteOutside, 0, "/tmp/x.txt");
    const KeeperMessage started = Message(KeeperNews::kStarted, 4321);
    const KeeperMessage failed = Message(KeeperNews::kExecFailed, ENOENT);
    const struct {
        std::vector<KeeperMessage> messages;  // then the pipe ends
        std::string seen;
    } cases[] = {
        // The program may act before its first process has reported the start.
        {{net4, started}, "started 4321 network 'AF_INET' wrote ''"},
        {{wrote, net6, started}, "started 4321 network 'AF_INET6' wrote '/tmp/x.txt'"},
        {{started}, "started 4321 network '' wrote ''"},
        {{failed}, "error 2 network '' wrote ''"},
        {{}, "error 0 network '' wrote ''"},  // the keeper ended without a word
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StartSeen(c.messages), c.seen);
    }
}

}  // namespace
