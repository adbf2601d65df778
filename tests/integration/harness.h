// Runs the real programs as a user would: console input through a pipe,
// standard output and error captured, exit code and duration measured.
//
// The programs are looked up in the folder given by HERDLAB_BIN_DIR (set by
// the environment), else in the build's own bin folder. With HERDLAB_RUNNER
// set (for example to wine64) the programs are the Windows builds (name +
// ".exe") and run through that runner, in the Wine prefix that WINEPREFIX
// names. Output is decoded as the README says: UTF-8.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace harness {

struct Options {
    std::vector<std::string> arguments;
    std::string locale = "C.UTF-8";  // LC_ALL of the program
    std::string workingDirectory;    // empty: the test's own
    std::string programDirectory;    // empty: the built programs' folder
    // Standard output and error on a pseudo-terminal instead of pipes (Linux
    // build), as in a terminal window: PressKeys can then stop and resume it.
    bool terminal = false;
};

// A started program. Its children stay in its process group, which the
// harness ends when the session is finished, so no test leaves processes
// behind.
struct Session {
    pid_t pid = -1;
    int input = -1;   // write end of the program's standard input
    int output = -1;  // read ends of its standard output and error
    int error = -1;   // -1 on a terminal: both streams go to `output`
    bool onTerminal = false;
    int localeTurn = -1;  // under a runner: see Start
    std::string outputText;
    std::string errorText;
    int exitCode = -1;  // set by Finish; 128 + signal when killed
    bool timedOut = false;
    std::chrono::steady_clock::time_point started;
    double seconds = 0;           // wall time until the program ended
    double processorSeconds = 0;  // its own processor time, and its reaped children's
    // Finish fails the test when a program that ended on its own leaves
    // processes of its group running for longer than kLeftoverGrace.
    bool expectNoLeftovers = true;
};

// Long enough for workers the monitor reprieved, or never reached, to end.
inline constexpr std::chrono::seconds kLeftoverGrace{10};

// Full path of a built program (adds ".exe" under a runner).
std::string ProgramPath(std::string_view name);
bool UnderRunner();  // true when the Windows builds run under Wine

// Under a runner, a program in another locale than C.UTF-8 runs alone until
// Finish: Wine keeps the user's number format in the prefix's registry and
// rewrites it whenever a program starts in another locale, so a herd started
// beside it could write 1,20 where its children read 1.20.
Session Start(std::string_view program, const Options& options = {});
void Send(Session& session, std::string_view text);
void CloseInput(Session& session);

// Keys typed on the program's terminal (Options::terminal) that the terminal
// itself acts on, such as Ctrl+S ("\x13"), which stops all output to it until
// Ctrl+Q ("\x11"): every write of the program and its children then waits.
void PressKeys(Session& session, std::string_view keys);

// Reads output until `text` appears in standard output or the time runs out;
// true when it appeared.
bool WaitForOutput(Session& session, std::string_view text, std::chrono::milliseconds limit);

// True when the program is still running after `period` (reads output meanwhile).
bool StillRunningAfter(Session& session, std::chrono::milliseconds period);

// Polls `condition`, reading output meanwhile, until it holds (true) or
// `limit` has passed (false): for what no line of output announces.
bool WaitUntil(Session& session, const std::function<bool()>& condition,
               std::chrono::milliseconds limit);

// Closes the input if still open, waits for the program's end (kills it and
// sets timedOut past the limit), checks that a program that ended on its own
// left nothing running (see expectNoLeftovers), reads all output, ends the
// process group.
void Finish(Session& session, std::chrono::milliseconds limit);

// Sets or removes an environment variable for the programs started while it
// lives; removes it at the end.
class EnvironmentSetting {
  public:
    EnvironmentSetting(const char* name, const char* value);
    ~EnvironmentSetting();
    EnvironmentSetting(const EnvironmentSetting&) = delete;
    EnvironmentSetting& operator=(const EnvironmentSetting&) = delete;

  private:
    const char* name_;
};

// Start, send all of `input`, close the input, finish.
Session Run(std::string_view program, std::string_view input, const Options& options = {},
            std::chrono::milliseconds limit = std::chrono::seconds(60));

// Lines of a text split at line ends (CR LF or LF), without them.
std::vector<std::string> Lines(std::string_view text);

// True when `line` is a time stamp h:mm:ss.zzz (separator ':'), " - ", then `rest`.
bool IsEventLine(std::string_view line, std::string_view rest);

// True when the locale exists on this machine (e.g. ru_RU.UTF-8).
bool LocaleAvailable(const std::string& locale);

// The line of /proc/PID/stat, or empty text when the process is gone (also
// while it vanishes during the read).
std::string ProcessStat(pid_t pid);

// Names under /dev/shm that herdlab's shared blocks of this user have.
std::vector<std::string> SharedMemoryNames();

// True while some process holds the block of that name (one of
// SharedMemoryNames()): every holder keeps a shared flock on it. A block file
// nobody holds is no name any more; the next lookup of the name removes it.
bool SharedMemoryNameHeld(const std::string& name);

// Processes of the session's process group still alive once the program
// itself has ended (call after StillRunningAfter saw its end, before Finish
// ends the group): children it started and left behind. Zombies do not count;
// processes ending at that moment get up to `grace` to go. Empty under a
// runner, whose own helper processes share the group.
std::vector<pid_t> LeftoverProcesses(const Session& session,
                                     std::chrono::milliseconds grace = std::chrono::seconds(2));

// Live processes (zombies aside) of the session's process group whose
// command line contains `text`, such as the children of one program that
// still run. The command line is taken as its words joined by blanks, with
// no ".exe" (Windows programs under a runner show their own command lines);
// a process that is ending has none any more, and shows its name instead.
std::vector<pid_t> LiveProcessesNamed(const Session& session, std::string_view text);

// Runs that create the feeders' block names take turns with each other
// through one lock file per user, held while this object lives: two runs
// would otherwise share the blocks of one name. Run as root (natively), the
// first one gives the test process a /dev/shm of its own instead, so tests in
// separate processes never meet and need not wait for each other.
struct FeederRunTurn {
    FeederRunTurn();
    ~FeederRunTurn();
    FeederRunTurn(const FeederRunTurn&) = delete;
    FeederRunTurn& operator=(const FeederRunTurn&) = delete;
    int fd = -1;
};

}  // namespace harness
