// The checker's side of the keeper's message pipe (keeper_linux.h): taking
// in what the keeper reports about a child, and waiting for the word on its
// start.
#pragma once

#include <cstdint>
#include <string>

#include "child_process_unit.h"
#include "keeper_linux.h"

// "SIGSEGV" and the like; "сигнал N" (Windows-1251) for a number without a name.
std::string SignalName(int signalNumber);

// Reads one message; with `wait`, blocks for it. False at the pipe's end
// (or, without `wait`, when none is there yet).
bool ReadKeeperMessage(int fd, KeeperMessage& message, bool wait);

// Records one message about the child's program in `child`.
void TakeKeeperNews(ChildProcess& child, const KeeperMessage& message);

// Waits on `child.watch` for the keeper's word on the start: true with the
// program's process id in `child.program`, false with the errno of the
// failed start in `error` (0 when the keeper ended without a word). What the
// program does right after its exec may be reported before that word, since
// the keeper answers the program's calls while its first process is still
// on the way to report the start: such news is taken in, never mistaken for
// the word.
bool AwaitKeeperStart(ChildProcess& child, std::uint32_t& error);
