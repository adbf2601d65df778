// Linux: PROGRAM runs with its standard output on a pseudo-terminal when
// ours is a terminal (so it prints exactly what it prints on a terminal:
// title escape, a line at a time), on a pipe otherwise. Its output is passed
// through and kept, signals forwarded, and its descendants sampled
// (process_sampler_linux.cpp) until they have all ended. Where the kernel
// lets herdtrace watch their switches (switch_watch_linux.cpp), the states
// come from that record, else from the samples.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "herdlab_toolkit.h"
#include "process_sampler_linux.h"
#include "switch_records_linux.h"
#include "tracer.h"

namespace herdtrace {

namespace {

namespace toolkit = herdlab_toolkit;

// After PROGRAM has ended, its children still writing get this long.
constexpr Millis kLeftoverGrace = 5000;

// A signal caught and not yet forwarded; 0 for none.
std::atomic<int> pendingSignal{0};

// The handler only notes the signal; the main loop forwards it, outside
// the handler, to PROGRAM and its descendants.
void NoteSignal(int signal) {
    pendingSignal.store(signal);
}

// The descriptor PROGRAM writes to, and the one we read: a pseudo-terminal
// that passes bytes unchanged (no line-end translation), or a pipe.
bool OpenOutputChannel(int& ours, int& theirs) {
    if (isatty(STDOUT_FILENO)) {
        ours = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (ours >= 0 && grantpt(ours) == 0 && unlockpt(ours) == 0) {
            theirs = open(ptsname(ours), O_RDWR | O_NOCTTY | O_CLOEXEC);
            if (theirs >= 0) {
                termios settings{};
                tcgetattr(theirs, &settings);
                cfmakeraw(&settings);
                tcsetattr(theirs, TCSANOW, &settings);
                winsize size{};
                if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0) {
                    ioctl(theirs, TIOCSWINSZ, &size);
                }
                return true;
            }
        }
        if (ours >= 0) {
            close(ours);
        }
    }
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        return false;
    }
    ours = ends[0];
    theirs = ends[1];
    return true;
}

// A bare program name is looked for beside herdtrace first, as Windows looks
// in the starting program's folder, then on PATH.
std::string ProgramFile(const std::string& name) {
    if (name.find('/') != std::string::npos) {
        return name;
    }
    char self[4096] = {};
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length > 0) {
        std::string beside(self, static_cast<std::size_t>(length));
        beside = beside.substr(0, beside.rfind('/') + 1) + name;
        if (access(beside.c_str(), X_OK) == 0) {
            return beside;
        }
    }
    return name;
}

// Starts PROGRAM with the output channel as its standard output; the
// platform's error number when it cannot be started.
std::uint32_t StartProgram(const std::vector<std::string>& command, int output, pid_t& pid) {
    toolkit::ChildRequest request;
    request.program = ProgramFile(command[0]);
    request.words = command;
    request.output = output;
    toolkit::StartedChild child;
    const std::uint32_t error = toolkit::StartChildProcess(request, child);
    pid = error == 0 ? static_cast<pid_t>(child.process) : -1;
    return error;
}

// Passes what is readable now to our standard output and keeps a copy.
// Returns the bytes read: 0 at the end of the output, -1 when nothing is
// there yet.
ssize_t PassOutput(int fd, std::string& copy, bool& echo) {
    char buffer[4096];
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
        return -1;
    }
    if (got <= 0) {
        return 0;  // end of a pipe, or EIO once no terminal end is open
    }
    copy.append(buffer, static_cast<std::size_t>(got));
    for (ssize_t done = 0; echo && done < got;) {
        const ssize_t wrote =
            write(STDOUT_FILENO, buffer + done, static_cast<std::size_t>(got - done));
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            echo = false;  // our reader went away; keep collecting for the picture
        }
        done += wrote > 0 ? wrote : 0;
    }
    return got;
}

// PROGRAM's exit code as a shell reports it: 128 + the signal that ended it.
int ExitCodeOf(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : 1;
}

// Ctrl+C, a closed terminal and SIGTERM are forwarded, not obeyed, so the
// picture is still drawn; a reader that goes away must not end herdtrace.
void CatchSignals() {
    struct sigaction action {};
    action.sa_handler = NoteSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(signal, &action, nullptr);
    }
    ::signal(SIGPIPE, SIG_IGN);
}

// PROGRAM's run as it is followed.
struct Following {
    int output = -1;  // our end of PROGRAM's output channel
    bool outputOpen = true;
    bool echo = true;  // false once our own reader has gone
    bool programEnded = false;
    Millis endedAt = 0;  // monotonic
    Millis nextSample = 0;
    Millis nextProgress = 0;
    SwitchWatch* switches = nullptr;  // the exact record of the states, where open
};

// What would make the states exact, when the kernel refused the watch.
std::string ExactHint(const SwitchWatch& watch) {
    if ((watch.error == EACCES || watch.error == EPERM || watch.error == 0) && geteuid() != 0) {
        return "точно: от имени root или после sudo scripts/allow-priorities.sh";
    }
    return "точно: ядро не дает записей переключений (perf_event_open: " + watch.refusal + ")";
}

// A watch inherited from herdtrace is dropped by the kernel from a process
// that gains rights as it runs its program: PROGRAM when its file carries a
// capability (a launcher granted the classes), and under root every
// program of a launcher that has lowered its own rights. The states would
// then be missing, not exact.
bool InheritedWatchWouldBeDropped(const SwitchWatch& watch, const std::string& program) {
    return !watch.wholeProcessors &&
           (geteuid() == 0 ||
            getxattr(ProgramFile(program).c_str(), "security.capability", nullptr, 0) > 0);
}

// Opens the record of every switch, before PROGRAM starts, so that it and
// all it starts are in it; says why not where refused.
void ChooseStates(StateChoice choice, const std::string& program, SwitchWatch& watch,
                  Sampler& sampler, TracedRun& run) {
    bool exact = choice != StateChoice::kSampled && OpenSwitchWatch(watch);
    if (exact && InheritedWatchWouldBeDropped(watch, program)) {
        CloseSwitchWatch(watch);
        watch.refusal = std::strerror(EACCES);
        exact = false;
    }
    sampler.sampleStates = !exact || choice == StateChoice::kBoth;
    run.stateSource = exact ? StateSource::kExact : StateSource::kSampled;
    if (!exact && choice != StateChoice::kSampled) {
        run.exactHint = ExactHint(watch);
    }
}

// Opens the output channel and starts PROGRAM on it; false with the reason
// in the run when either fails.
bool StartTraced(const std::vector<std::string>& command, Sampler& sampler, TracedRun& run,
                 int& output) {
    int theirs = -1;
    if (!OpenOutputChannel(output, theirs)) {
        run.startError = std::strerror(errno);
        return false;
    }
    sampler.clockOffset = LocalTimeOfDay() - MonotonicMillis();
    run.start = MonotonicMillis() + sampler.clockOffset;
    const std::uint32_t error = StartProgram(command, theirs, sampler.program);
    close(theirs);
    if (error != 0) {
        run.startError = std::strerror(int(error));
        close(output);
        return false;
    }
    run.started = true;
    OpenWatched(sampler.watched, sampler.program, {}, run.start);
    return true;
}

// Reaps whatever has ended: PROGRAM, and descendants that became ours.
void ReapEnded(const Sampler& sampler, TracedRun& run, Following& following) {
    int status = 0;
    pid_t ended;
    while ((ended = waitpid(-1, &status, WNOHANG)) > 0) {
        if (ended == sampler.program) {
            run.exitCode = ExitCodeOf(status);
            run.end = MonotonicMillis() + sampler.clockOffset;
            following.programEnded = true;
            following.endedAt = MonotonicMillis();
        }
    }
}

// The run as far as it has gone: the output so far and every descendant
// with its readings so far, and its states so far where the switches are
// recorded.
TracedRun SoFar(const Sampler& sampler, const TracedRun& run, const SwitchWatch* switches) {
    TracedRun soFar = run;
    for (const auto& [pid, entry] : sampler.watched) {
        if (pid != sampler.program) {
            soFar.processes.push_back(entry.record);
        }
    }
    if (switches != nullptr) {
        soFar.lostRecords = switches->taken.lost;
        const double now = double(MonotonicMillis() + sampler.clockOffset);
        GiveStates(switches->taken, double(sampler.clockOffset), now, soFar.processes);
    }
    return soFar;
}

// Samples, passes output through and forwards signals until PROGRAM has
// ended and its children have ended, closed the output or had their grace.
void Follow(Sampler& sampler, TracedRun& run, Following& following,
            const ProgressReport& progress) {
    following.nextSample = MonotonicMillis();
    for (;;) {
        const Millis now = MonotonicMillis();
        if (now >= following.nextSample) {
            Sample(sampler);
            if (following.switches != nullptr) {
                DrainSwitchWatch(*following.switches);
            }
            following.nextSample = std::max(following.nextSample + kSampleInterval, now + 1);
        }
        if (progress && now >= following.nextProgress) {
            progress(SoFar(sampler, run, following.switches));
            following.nextProgress = now + kProgressInterval;
        }
        if (const int signal = pendingSignal.exchange(0)) {
            ForwardSignal(sampler, signal);  // as a terminal sends it to the whole job
        }
        ReapEnded(sampler, run, following);
        if (following.programEnded && (!following.outputOpen || !AnyDescendantAlive(sampler) ||
                                       MonotonicMillis() - following.endedAt > kLeftoverGrace)) {
            return;
        }
        pollfd wait{following.output, POLLIN, 0};
        const int timeout =
            static_cast<int>(std::max<Millis>(following.nextSample - MonotonicMillis(), 0));
        if (following.outputOpen && poll(&wait, 1, timeout) > 0) {
            following.outputOpen = PassOutput(following.output, run.output, following.echo) != 0;
        } else if (!following.outputOpen) {
            poll(nullptr, 0, timeout);
        }
    }
}

// Takes what the last writers left in the channel and hands over the
// descendants' records.
void CloseRun(Sampler& sampler, TracedRun& run, Following& following) {
    fcntl(following.output, F_SETFL, O_NONBLOCK);
    while (following.outputOpen && PassOutput(following.output, run.output, following.echo) > 0) {
    }
    close(following.output);
    for (auto& [pid, entry] : sampler.watched) {
        toolkit::CloseProcessWatch(entry.watch);
        if (pid != sampler.program) {
            run.processes.push_back(std::move(entry.record));
        }
    }
    if (SwitchWatch* switches = following.switches) {
        DrainSwitchWatch(*switches);
        CloseSwitchWatch(*switches);
        run.lostRecords = switches->taken.lost;
        const double end = double(MonotonicMillis() + sampler.clockOffset);
        GiveStates(std::move(switches->taken), double(sampler.clockOffset), end, run.processes);
    }
}

}  // namespace

Millis LocalTimeOfDay() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm fields{};
    localtime_r(&now.tv_sec, &fields);
    return ((Millis{fields.tm_hour} * 60 + fields.tm_min) * 60 + fields.tm_sec) * 1000 +
           now.tv_nsec / 1'000'000;
}

void WriteUserText(const std::string& utf8, bool error) {
    const int fd = error ? STDERR_FILENO : STDOUT_FILENO;
    for (std::size_t done = 0; done < utf8.size();) {
        const ssize_t wrote = write(fd, utf8.data() + done, utf8.size() - done);
        if (wrote <= 0 && errno != EINTR) {
            return;
        }
        done += wrote > 0 ? static_cast<std::size_t>(wrote) : 0;
    }
}

TracedRun RunTraced(const std::vector<std::string>& command, StateChoice states,
                    const ProgressReport& progress) {
    TracedRun run;
    // Children of a launcher that ends first become ours, so they are still
    // followed and their ends collected.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    CatchSignals();
    Sampler sampler;
    Following following;
    SwitchWatch switches;
    ChooseStates(states, command[0], switches, sampler, run);
    following.switches = run.stateSource == StateSource::kExact ? &switches : nullptr;
    if (StartTraced(command, sampler, run, following.output)) {
        FollowOnlyProgram(switches, sampler.program);
        Follow(sampler, run, following, progress);
        CloseRun(sampler, run, following);
    }
    CloseSwitchWatch(switches);
    return run;
}

}  // namespace herdtrace
