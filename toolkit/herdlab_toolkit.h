// The platform service of the teacher's tools (herdtrace, herdcheck): starting
// a child with its start failure reported back, reading a process's
// processor time and children, the code-page conversions, the class words.
//
// The course programs do not use it: they call Win32 at their call sites.
// The tools call it instead of each keeping a copy. What differs between the
// platforms lives in process_linux.cpp and process_windows.cpp; the text
// services are portable (they go through MultiByteToWideChar, on Linux the
// layer's, so there is one Windows-1251 table).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace herdlab_toolkit {

// ---- Text ----------------------------------------------------------------------

inline constexpr unsigned kCodePage1251 = 1251;
inline constexpr unsigned kCodePage866 = 866;

// Text of an 8-bit code page (1251 or 866) in UTF-8. Every byte has a
// character, so nothing is lost.
std::string Utf8FromCodePage(std::string_view bytes, unsigned codePage);
std::string Utf8FromCp1251(std::string_view cp1251Text);

// UTF-8 in Windows-1251; a character the code page lacks, or a malformed
// sequence, becomes '?'.
std::string Cp1251FromUtf8(std::string_view utf8);

// Length (1..4) of the well-formed UTF-8 sequence that starts at `at`; 0
// when none does (a stray byte, a cut or overlong sequence, a surrogate,
// beyond U+10FFFF).
std::size_t Utf8SequenceLength(std::string_view bytes, std::size_t at);

// True when all of `bytes` is well-formed UTF-8. With `cutEndAllowed`, a
// last sequence cut short by the end (a transcript cut off mid-character)
// still counts as UTF-8.
bool IsUtf8(std::string_view bytes, bool cutEndAllowed = false);

// The encodings a console transcript of the programs comes in: UTF-8 (Linux,
// a redirected Windows console), the Windows ANSI or the OEM code page.
enum class TextEncoding { kUtf8, kWindows1251, kCp866 };

// Valid UTF-8 is taken as UTF-8; other text as Windows-1251 or code page 866,
// whichever its bytes of Russian letters fit better.
TextEncoding GuessEncoding(std::string_view bytes);

// The text in UTF-8. Bytes the code page lacks become U+FFFD.
std::string ToUtf8(std::string_view bytes, TextEncoding encoding);

// ---- Class words ---------------------------------------------------------------

inline constexpr int kClassCount = 6;

// The Russian word of the priority class with index 0 (idle) .. 5 (real
// time) in UTF-8: the course programs' own table, converted.
std::string_view ClassWord(int index);

// The index 0..5 of a class word (UTF-8), -1 for any other text.
int ClassIndexOfWord(std::string_view utf8);

// ---- Child processes -----------------------------------------------------------

// A file descriptor or pid (Linux), a HANDLE (Windows).
using NativeHandle = std::intptr_t;
inline constexpr NativeHandle kNoHandle = -1;

// Linux: the signal state the child's program starts with.
enum class ChildSignals {
    // What this process was given at its start (read before any static
    // initialiser of the program's own runs): the signals it found ignored
    // stay ignored, every other is at its default, the mask is the one it
    // found. A program under a tool starts as it would without the tool,
    // not with what the tool set up for itself (its handlers, an ignored
    // SIGPIPE).
    kAsInherited,
    // Every signal at its default, none blocked.
    kAllDefault,
};

struct ChildRequest {
    // The file to run. Linux: a name without '/' is looked for on PATH.
    // Windows: CreateProcess's application name; empty: the command line's
    // first word, looked for as Windows does.
    std::string program;
    // The command line's words, word 0 the name the child sees, in the
    // platform's text encoding (Linux: UTF-8; Windows: the ANSI code page).
    std::vector<std::string> words;
    // Windows: the command line exactly as given; empty: the words, each
    // quoted where it needs to be so that it splits back the same.
    std::string commandLine;
    // The child's standard handles; kNoHandle: it shares ours.
    NativeHandle input = kNoHandle;
    NativeHandle output = kNoHandle;
    NativeHandle errorOutput = kNoHandle;
    // Linux: the child's signals at exec.
    ChildSignals signals = ChildSignals::kAsInherited;
    // Linux: called in the child after fork, once its signals are set and its
    // standard handles in place, right before exec
    // (rlimits, Landlock, seccomp, namespaces). Only async-signal-safe calls:
    // the parent may have threads. Returns 0 to go on, or an errno that ends
    // the child and becomes the start's failure.
    int (*beforeExec)(void* context) = nullptr;
    void* beforeExecContext = nullptr;
    // Windows: creation flags added to the call (a priority class, ...), and
    // whether the child's main thread waits for ResumeChildProcess (so the caller
    // can put it into a job object before it can start anything).
    std::uint32_t windowsCreationFlags = 0;
    bool suspended = false;
};

struct StartedChild {
    unsigned long id = 0;              // the process id
    NativeHandle process = kNoHandle;  // Linux: the pid; Windows: the process HANDLE
    NativeHandle thread = kNoHandle;   // Windows: the main thread's HANDLE
};

// Starts a child. Returns 0, or the platform's error number (errno,
// GetLastError) of the failure; on Linux a failed exec (ENOENT = 2 for a
// missing program) or a failed beforeExec is reported back through a
// close-on-exec pipe, and such a child is already reaped. Every other
// descriptor and handle of ours stays ours (Linux: close-on-exec is
// assumed; Windows: only the three standard handles are made inheritable).
std::uint32_t StartChildProcess(const ChildRequest& request, StartedChild& child);

#ifdef _WIN32
// Lets the main thread of a child started suspended run.
void ResumeChildProcess(const StartedChild& child);
#endif

// ---- Files -----------------------------------------------------------------------

// Replaces the file at `path` with `content` whole, so that a reader (a
// browser reloading it) finds the old file or the new one, never a part: the
// content goes into a file of its own in the same folder, which then takes
// the path's place. On Windows that move is retried for a moment while a
// reader holds the old file open without letting it be replaced. False when
// the file could not be written or replaced; the old one is then unchanged.
bool ReplaceFileWhole(const std::string& path, const std::string& content);

// ---- Processor time and children -------------------------------------------------

#ifndef _WIN32
// What the scheduler counted for a thread or a process (Linux: schedstat):
// time on a processor, time runnable in a run queue waiting for one, and
// the times it was put on one.
struct SchedulerTotals {
    double runningMilliseconds = 0;
    double readyMilliseconds = 0;
    long long timeslices = 0;
};

// One thread of a watched process and its last totals.
struct ThreadWatch {
    unsigned long id = 0;
    int schedstatFile = -1;  // /proc/PID/task/TID/schedstat
    SchedulerTotals last;
};
#endif

// A process opened for repeated reading. Linux: its /proc files, kept open
// and re-read in place; Windows: a process handle (and the main thread's
// where known).
struct ProcessWatch {
    unsigned long id = 0;
#ifdef _WIN32
    NativeHandle process = kNoHandle;  // the process HANDLE
    NativeHandle thread = kNoHandle;   // the main thread's HANDLE where known
    bool ownsHandles = true;           // false for handles the caller holds
#else
    NativeHandle statFile = kNoHandle;      // /proc/ID/stat
    NativeHandle childrenFile = kNoHandle;  // /proc/ID/task/ID/children where the kernel has it
    NativeHandle taskFolder = kNoHandle;    // /proc/ID/task, listed when threads come or go
    std::vector<ThreadWatch> threads;       // each thread's schedstat, kept open
    SchedulerTotals ended;                  // the totals of threads that have ended
#endif
};

// Opens process `id`; false when it is gone or may not be read.
bool OpenProcessWatch(unsigned long id, ProcessWatch& watch);

// A watch over a child we started. On Windows it borrows the child's
// handles, which the caller keeps and closes; its main thread is known.
ProcessWatch WatchChild(const StartedChild& child);

// Lets go of what the watch opened (every watch, WatchChild's included).
void CloseProcessWatch(ProcessWatch& watch);

struct ProcessorReading {
    bool valid = false;       // false: the process is gone (reaped) or unreadable
    bool ended = false;       // it has ended and its time is final (Linux: a zombie)
    double milliseconds = 0;  // user and system time of all its threads
    int threads = 0;          // Linux: its threads now
    int processor = -1;       // Linux: the processor it last ran on
};

// Windows under Wine: Wine updates another process's total only in lumps,
// so where the watch knows the main thread, that thread's time is read.
ProcessorReading ReadProcessorTime(const ProcessWatch& watch);

#ifndef _WIN32
// The children the process has now; false when the kernel offers no
// children file (then AllParents() tells who is whose).
bool ReadChildIds(const ProcessWatch& watch, std::vector<unsigned long>& children);

// The scheduler's totals of all the process's threads, those that have
// ended included (from their last reading); false when the process is gone. Each thread's schedstat
// file is kept open and read in place; the thread list is read again when `listThreads` is set (the
// caller's sign that threads came or went) and on the first call.
bool ReadSchedulerTotals(ProcessWatch& watch, bool listThreads, SchedulerTotals& totals);

// Every process of the system with its parent: (id, parent id).
std::vector<std::pair<unsigned long, unsigned long>> AllParents();

// The words of process `id`'s command line (as its argv was at exec; a
// fresh child shows its parent's until it has run exec). Empty when the
// process is gone.
std::vector<std::string> ProcessWords(unsigned long id);
#endif

}  // namespace herdlab_toolkit
