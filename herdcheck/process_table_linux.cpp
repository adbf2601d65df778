// Reading the process table from /proc.
#include "process_table_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {

struct ProcessRow {
    pid_t pid = 0;
    pid_t parent = 0;
    unsigned long long ticks = 0;        // utime + stime
    unsigned long long reapedTicks = 0;  // cutime + cstime
    unsigned long long virtualBytes = 0;
    unsigned long long residentPages = 0;
};

// Reads a small /proc file whole; empty when the process is gone.
std::string ReadSmallFile(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    char buffer[1024];
    const ssize_t got = read(fd, buffer, sizeof buffer - 1);
    close(fd);
    return got > 0 ? std::string(buffer, static_cast<std::size_t>(got)) : std::string();
}

// /proc/PID/stat: after the name in parentheses, field 4 is the parent,
// 14-17 the times in clock ticks, 23 and 24 the address space and the
// resident pages.
bool ReadRow(pid_t pid, ProcessRow& row) {
    const std::string line = ReadSmallFile("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t nameEnd = line.rfind(')');
    if (nameEnd == std::string::npos) {
        return false;
    }
    unsigned long long fields[25] = {};
    const char* cursor = line.c_str() + nameEnd + 2;  // at field 3, the state
    for (int field = 3; field <= 24 && *cursor != '\0'; ++field) {
        char* end = nullptr;
        fields[field] = field == 3 ? 0 : std::strtoull(cursor, &end, 10);
        cursor = std::strchr(cursor, ' ');
        if (cursor == nullptr) {
            break;
        }
        ++cursor;
    }
    row.pid = pid;
    row.parent = static_cast<pid_t>(fields[4]);
    row.ticks = fields[14] + fields[15];
    row.reapedTicks = fields[16] + fields[17];
    row.virtualBytes = fields[23];
    row.residentPages = fields[24];
    return true;
}

std::vector<ProcessRow> ReadWholeTable() {
    std::vector<ProcessRow> rows;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        return rows;
    }
    while (const dirent* entry = readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        ProcessRow row;
        if (pid > 0 && *end == '\0' && ReadRow(static_cast<pid_t>(pid), row)) {
            rows.push_back(row);
        }
    }
    closedir(proc);
    return rows;
}

// The table, read again only when the last reading is older than
// kTableFreshMs: the lanes look at their children every few milliseconds,
// and a reading reads every process of the machine.
constexpr long kTableFreshMs = 25;

const std::vector<ProcessRow>& ReadTable() {
    static std::vector<ProcessRow> table;
    static timespec readAt = {};
    timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long ageMs =
        (now.tv_sec - readAt.tv_sec) * 1000 + (now.tv_nsec - readAt.tv_nsec) / 1000000;
    if (table.empty() || ageMs >= kTableFreshMs) {
        table = ReadWholeTable();
        readAt = now;
    }
    return table;
}

// The rows of `table` below `root`, found generation by generation.
std::vector<ProcessRow> RowsBelow(const std::vector<ProcessRow>& table, pid_t root,
                                  ProcessRow* rootRow) {
    std::vector<pid_t> parents = {root};
    std::vector<ProcessRow> below;
    for (std::size_t next = 0; next < parents.size(); ++next) {
        for (const ProcessRow& row : table) {
            if (row.parent == parents[next] && row.pid != root) {
                below.push_back(row);
                parents.push_back(row.pid);
            }
            if (rootRow != nullptr && row.pid == root) {
                *rootRow = row;
            }
        }
    }
    return below;
}

}  // namespace

// Nanoseconds spent waiting on a run queue: the second field of schedstat.
double RunQueueSeconds(pid_t pid) {
    const std::string text = ReadSmallFile("/proc/" + std::to_string(pid) + "/schedstat");
    const char* space = std::strchr(text.c_str(), ' ');
    return space == nullptr ? 0.0 : std::strtod(space + 1, nullptr) / 1e9;
}

std::vector<pid_t> Descendants(pid_t root) {
    std::vector<pid_t> pids;
    for (const ProcessRow& row :
         RowsBelow(ReadWholeTable(), root, nullptr)) {  // fresh: to end them
        pids.push_back(row.pid);
    }
    return pids;
}

TreeUsage UsageBelow(pid_t root) {
    static const double ticksPerSecond = static_cast<double>(sysconf(_SC_CLK_TCK));
    static const unsigned long long pageBytes =
        static_cast<unsigned long long>(sysconf(_SC_PAGESIZE));
    ProcessRow rootRow;
    TreeUsage usage;
    unsigned long long ticks = 0;
    for (const ProcessRow& row : RowsBelow(ReadTable(), root, &rootRow)) {
        ++usage.processes;
        ticks += row.ticks + row.reapedTicks;
        usage.runQueueSeconds += RunQueueSeconds(row.pid);
        usage.residentBytes += row.residentPages * pageBytes;
        usage.largestVirtualBytes =
            std::max<std::uint64_t>(usage.largestVirtualBytes, row.virtualBytes);
    }
    usage.cpuSeconds = static_cast<double>(ticks + rootRow.reapedTicks) / ticksPerSecond;
    return usage;
}
