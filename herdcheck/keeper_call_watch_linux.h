// The keeper's watch of the child's calls (keeper_linux.h): a seccomp
// filter hands the keeper every socket the child asks for and every file or
// folder it opens or makes for writing. The keeper refuses the sockets,
// leaves the rest to the kernel (where Landlock decides), and tells the
// checker what the child tried. Built only with libseccomp; without it
// there is no watch, and the protection line names it missing.
#pragma once

#include "keeper_linux.h"

// Whether this herdcheck was built with the watch.
bool CallWatchBuilt();

// Whether the machine offers what the watch needs (a filter whose calls a
// supervisor answers); false where it was not built.
bool CallWatchOffered();

// Installs the filter on the calling process and all it will start; returns
// the descriptor on which the watched calls arrive, -1 without the watch.
int InstallCallWatch();

// Receives one watched call on `listener` and answers it, reporting an
// attempt beyond the child's limits to `plan.report`.
void AnswerWatchedCall(const KeeperPlan& plan, int listener);
