// Linux: a child by fork and exec with an error pipe; processor time and
// children from /proc.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "child_start.h"
#include "herdlab_toolkit.h"

namespace herdlab_toolkit {

namespace {

// Puts `from` at `to` in the child, open across exec. dup2 onto itself
// would leave close-on-exec set, so that case clears the flag instead.
bool PlaceHandle(NativeHandle from, int to) {
    if (from == kNoHandle) {
        return true;
    }
    const int fd = static_cast<int>(from);
    if (fd == to) {
        return fcntl(fd, F_SETFD, 0) == 0;
    }
    return dup2(fd, to) == to;
}

// The signal state this process was given at its start, for kAsInherited.
// Read by a constructor that runs ahead of every static initialiser of the
// program's own (101 is the first priority left to programs), so nothing the
// tool sets up for itself is in it.
herdlab_child_start::SignalState inheritedSignals;

__attribute__((constructor(101))) void KeepInheritedSignals() {
    inheritedSignals = herdlab_child_start::CurrentSignalState();
}

// The child's step between fork and exec, once its signals are set:
// async-signal-safe calls only.
int PrepareChild(const void* context) {
    const ChildRequest& request = *static_cast<const ChildRequest*>(context);
    if (!PlaceHandle(request.input, STDIN_FILENO) || !PlaceHandle(request.output, STDOUT_FILENO) ||
        !PlaceHandle(request.errorOutput, STDERR_FILENO)) {
        return errno;
    }
    return request.beforeExec != nullptr ? request.beforeExec(request.beforeExecContext) : 0;
}

// All of a /proc file, read again from its start through a kept descriptor.
// A /proc file hands over all it has to a read that asks for more, so a
// short read is its end: one system call per small file, read at every
// sample.
std::string ReadFrom(int fd) {
    std::string text;
    char buffer[4096];
    for (off_t offset = 0;;) {
        const ssize_t got = pread(fd, buffer, sizeof buffer, offset);
        if (got <= 0) {
            return text;
        }
        text.append(buffer, std::size_t(got));
        offset += got;
        if (std::size_t(got) < sizeof buffer) {
            return text;
        }
    }
}

std::string ReadProcFile(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    std::string text = ReadFrom(fd);
    close(fd);
    return text;
}

std::string ProcPath(unsigned long id) {
    return "/proc/" + std::to_string(id);
}

}  // namespace

std::uint32_t StartChildProcess(const ChildRequest& request, StartedChild& child) {
    std::vector<char*> argv;
    for (const std::string& word : request.words) {
        argv.push_back(const_cast<char*>(word.c_str()));
    }
    argv.push_back(nullptr);
    herdlab_child_start::ChildStart start;
    start.program = request.program.c_str();
    start.argv = argv.data();
    start.searchPath = true;
    const bool asInherited = request.signals == ChildSignals::kAsInherited;
    start.signals = asInherited ? herdlab_child_start::ChildSignals::kAsGiven
                                : herdlab_child_start::ChildSignals::kAllDefault;
    start.given = &inheritedSignals;
    start.prepare = PrepareChild;
    start.context = &request;
    const pid_t pid = herdlab_child_start::StartChild(start);
    if (pid < 0) {
        return std::uint32_t(errno);
    }
    child.id = static_cast<unsigned long>(pid);
    child.process = pid;
    child.thread = kNoHandle;
    return 0;
}

bool OpenProcessWatch(unsigned long id, ProcessWatch& watch) {
    const std::string base = ProcPath(id);
    watch.id = id;
    watch.statFile = open((base + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
    const std::string task = base + "/task/" + std::to_string(id) + "/children";
    watch.childrenFile = watch.statFile < 0 ? kNoHandle : open(task.c_str(), O_RDONLY | O_CLOEXEC);
    watch.taskFolder = watch.statFile < 0
                           ? kNoHandle
                           : open((base + "/task").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    watch.threads.clear();
    watch.ended = {};
    return watch.statFile >= 0;
}

ProcessWatch WatchChild(const StartedChild& child) {
    ProcessWatch watch;
    OpenProcessWatch(child.id, watch);
    return watch;
}

void CloseProcessWatch(ProcessWatch& watch) {
    for (NativeHandle* fd : {&watch.statFile, &watch.childrenFile, &watch.taskFolder}) {
        if (*fd >= 0) {
            close(static_cast<int>(*fd));
        }
        *fd = kNoHandle;
    }
    for (ThreadWatch& thread : watch.threads) {
        close(thread.schedstatFile);
    }
    watch.threads.clear();
}

ProcessorReading ReadProcessorTime(const ProcessWatch& watch) {
    static const double tickMillis = 1000.0 / double(sysconf(_SC_CLK_TCK));
    ProcessorReading reading;
    const std::string stat = watch.statFile < 0 ? std::string() : ReadFrom(int(watch.statFile));
    // The name in parentheses may hold anything, ')' included: the fields
    // start after the last ')'. Then: state ppid pgrp session tty tpgid
    // flags minflt cminflt majflt cmajflt utime stime ..., field 20 the
    // number of threads, field 39 the processor it last ran on.
    const std::size_t nameEnd = stat.rfind(')');
    if (nameEnd == std::string::npos || nameEnd + 3 >= stat.size()) {
        return reading;
    }
    const char state = stat[nameEnd + 2];
    char* next = const_cast<char*>(stat.c_str() + nameEnd + 3);
    long long values[36] = {};  // fields 4 to 39
    for (long long& value : values) {
        value = std::strtoll(next, &next, 10);
    }
    reading.valid = true;
    reading.ended = state == 'Z' || state == 'X';
    reading.milliseconds = double(values[10] + values[11]) * tickMillis;
    reading.threads = int(values[16]);
    reading.processor = int(values[35]);
    return reading;
}

bool ReadChildIds(const ProcessWatch& watch, std::vector<unsigned long>& children) {
    children.clear();
    if (watch.childrenFile < 0) {
        return false;
    }
    const std::string list = ReadFrom(int(watch.childrenFile));
    char* next = const_cast<char*>(list.c_str());
    while (const unsigned long child = std::strtoul(next, &next, 10)) {
        children.push_back(child);
    }
    return true;
}

namespace {

// A thread's schedstat: ns on a processor, ns waiting in a run queue,
// timeslices. False when the thread is gone.
bool ReadThreadTotals(const ThreadWatch& thread, SchedulerTotals& totals) {
    char text[128];
    const ssize_t got = pread(thread.schedstatFile, text, sizeof text - 1, 0);
    if (got <= 0) {
        return false;
    }
    text[got] = '\0';
    char* next = text;
    totals.runningMilliseconds = double(std::strtoull(next, &next, 10)) / 1e6;
    totals.readyMilliseconds = double(std::strtoull(next, &next, 10)) / 1e6;
    totals.timeslices = std::strtoll(next, &next, 10);
    return true;
}

void AddTotals(SchedulerTotals& sum, const SchedulerTotals& more) {
    sum.runningMilliseconds += more.runningMilliseconds;
    sum.readyMilliseconds += more.readyMilliseconds;
    sum.timeslices += more.timeslices;
}

// The thread ids in /proc/PID/task now, read through the kept descriptor.
std::vector<unsigned long> ListThreads(int taskFolder) {
    std::vector<unsigned long> ids;
    alignas(8) char buffer[4096];
    lseek(taskFolder, 0, SEEK_SET);
    long got;
    while ((got = syscall(SYS_getdents64, taskFolder, buffer, sizeof buffer)) > 0) {
        for (long at = 0; at < got;) {
            // struct linux_dirent64: ino (8), off (8), reclen (2), type (1), name
            unsigned short length;
            std::memcpy(&length, buffer + at + 16, sizeof length);
            if (const unsigned long id = std::strtoul(buffer + at + 19, nullptr, 10)) {
                ids.push_back(id);
            }
            at += length;
        }
    }
    return ids;
}

// Opens the threads that are new, and moves those that are gone into the
// ended totals.
void ListAgain(ProcessWatch& watch) {
    const std::vector<unsigned long> now = ListThreads(int(watch.taskFolder));
    std::erase_if(watch.threads, [&](ThreadWatch& thread) {
        if (std::find(now.begin(), now.end(), thread.id) != now.end()) {
            return false;
        }
        AddTotals(watch.ended, thread.last);
        close(thread.schedstatFile);
        return true;
    });
    const std::string base = ProcPath(watch.id) + "/task/";
    for (const unsigned long id : now) {
        const bool known = std::any_of(watch.threads.begin(), watch.threads.end(),
                                       [&](const ThreadWatch& thread) { return thread.id == id; });
        if (!known) {
            ThreadWatch thread;
            thread.id = id;
            thread.schedstatFile =
                open((base + std::to_string(id) + "/schedstat").c_str(), O_RDONLY | O_CLOEXEC);
            if (thread.schedstatFile >= 0) {
                watch.threads.push_back(thread);
            }
        }
    }
}

}  // namespace

bool ReadSchedulerTotals(ProcessWatch& watch, bool listThreads, SchedulerTotals& totals) {
    if (watch.taskFolder < 0) {
        return false;
    }
    if (listThreads || watch.threads.empty()) {
        ListAgain(watch);
    }
    totals = watch.ended;
    bool anyRead = false;
    for (ThreadWatch& thread : watch.threads) {
        // A thread that ended since its last reading keeps that reading.
        if (ReadThreadTotals(thread, thread.last)) {
            anyRead = true;
        }
        AddTotals(totals, thread.last);
    }
    return anyRead;
}

std::vector<std::pair<unsigned long, unsigned long>> AllParents() {
    std::vector<std::pair<unsigned long, unsigned long>> found;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        return found;
    }
    while (const dirent* entry = readdir(proc)) {
        const unsigned long id = std::strtoul(entry->d_name, nullptr, 10);
        const std::string stat = id == 0 ? std::string() : ReadProcFile(ProcPath(id) + "/stat");
        const std::size_t nameEnd = stat.rfind(')');
        if (nameEnd != std::string::npos && nameEnd + 4 < stat.size()) {
            found.emplace_back(id, std::strtoul(stat.c_str() + nameEnd + 4, nullptr, 10));
        }
    }
    closedir(proc);
    return found;
}

std::vector<std::string> ProcessWords(unsigned long id) {
    const std::string line = ReadProcFile(ProcPath(id) + "/cmdline");
    std::vector<std::string> words;
    for (std::size_t at = 0; at < line.size();) {
        const std::size_t end = std::min(line.find('\0', at), line.size());
        words.push_back(line.substr(at, end - at));
        at = end + 1;
    }
    return words;
}

}  // namespace herdlab_toolkit
