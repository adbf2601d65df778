// toolkit_signal_child: a tool and the program it runs, for the signal state
// a child of StartChildProcess starts with (Linux).
//
//   report           prints the SigBlk and SigIgn lines of its
//                    /proc/self/status: the state it was started with
//   start MODE       as a tool does, sets up signals for itself (handlers for
//                    SIGHUP and SIGINT, SIGPIPE ignored, SIGUSR2 blocked and
//                    SIGUSR1 no longer blocked), then runs "report" on its
//                    own output with MODE (as-inherited or all-default) and
//                    ends with 0, or 1 when it could not
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <fstream>
#include <string>
#include <string_view>

#include "herdlab_toolkit.h"

namespace {

namespace toolkit = herdlab_toolkit;

int Report() {
    std::ifstream status("/proc/self/status");
    std::string text;
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("SigBlk:") || line.starts_with("SigIgn:")) {
            text += line + '\n';
        }
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
}

void Note(int) {}

// What a tool changes for itself, none of which its program should see.
void SetUpOwnSignals() {
    struct sigaction handler {};
    handler.sa_handler = Note;
    sigaction(SIGHUP, &handler, nullptr);
    sigaction(SIGINT, &handler, nullptr);
    signal(SIGPIPE, SIG_IGN);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGUSR2);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    sigemptyset(&set);
    sigaddset(&set, SIGUSR1);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

int StartReport(std::string_view mode) {
    SetUpOwnSignals();
    char self[PATH_MAX] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) {
        return 1;
    }
    toolkit::ChildRequest request;
    request.program = self;
    request.words = {"toolkit_signal_child", "report"};
    request.signals = mode == "as-inherited" ? toolkit::ChildSignals::kAsInherited
                                             : toolkit::ChildSignals::kAllDefault;
    toolkit::StartedChild child;
    if (toolkit::StartChildProcess(request, child) != 0) {
        return 1;
    }
    int status = 0;
    waitpid(static_cast<pid_t>(child.process), &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view role = argc > 1 ? argv[1] : "";
    if (role == "report") {
        return Report();
    }
    if (role == "start" && argc > 2) {
        return StartReport(argv[2]);
    }
    return 2;
}
