// The keeper's message pipe (keeper_linux.h): what the keeper tells the
// checker about a child, one fixed-size message at a time, the keeper's
// sending and the checker's taking in, and its waiting for the word on the
// start.
#pragma once

#include <cstdint>
#include <string>

struct ChildProcess;

enum class KeeperNews : std::int32_t {
    kStarted,       // value: the program's process id as the checker sees it
    kExecFailed,    // value: errno of the failed start
    kNetworkTried,  // value: the address family of the socket refused
    kWroteOutside,  // path: a file the child opened for writing outside its folder
    kLeftBehind,    // value: processes still running when the program had ended
    kProgramEnded,  // value: the program's wait status
};

// One message; smaller than PIPE_BUF, so written and read whole.
struct KeeperMessage {
    KeeperNews news = KeeperNews::kStarted;
    std::int32_t value = 0;
    char path[248] = {};
};

// The keeper's side: writes one message to `report`, the pipe's write end.
void SendKeeperNews(int report, KeeperNews news, std::int32_t value, const char* path = "");

// "SIGSEGV" and the like; "сигнал N" (Windows-1251) for a number without a name.
std::string SignalName(int signalNumber);

// Reads one message; with `wait`, blocks for it. False at the pipe's end
// (or, without `wait`, when none is there yet).
bool ReadKeeperMessage(int fd, KeeperMessage& message, bool wait);

// Records one message about the child's program in `child`.
void TakeKeeperNews(ChildProcess& child, const KeeperMessage& message);

// Waits on `child.keeperNews` for the keeper's word on the start: true with
// the program's process id in `child.programPid`, false with the errno of
// the failed start in `error` (0 when the keeper ended without a word). What
// the program does right after its exec may be reported before that word,
// since the keeper answers the program's calls while its first process is
// still on the way to report the start: such news is taken in, never
// mistaken for the word.
bool AwaitKeeperStart(ChildProcess& child, std::uint32_t& error);
