// Roles of conformance_child for the tests of priority rights (Linux):
//
//   class-rights        ends with the PriorityIndex (0..5) of its own class,
//                       plus 10 when it holds any effective capability
//   classes-rights      starts "class-rights" once in each of the six classes
//                       and prints "launcher E P children C0 C1 C2 C3 C4 C5":
//                       E and P are 1 when CAP_SYS_NICE is in its own
//                       effective and permitted sets, Cn the child's codes
#include "child_roles.h"

#ifdef _WIN32

int RunRightsRole(int, char**) {
    return -1;
}

#else

#include <cstdio>
#include <fstream>
#include <string>
#include <string_view>

#include "win32.h"

namespace {

constexpr DWORD kClasses[] = {IDLE_PRIORITY_CLASS,   BELOW_NORMAL_PRIORITY_CLASS,
                              NORMAL_PRIORITY_CLASS, ABOVE_NORMAL_PRIORITY_CLASS,
                              HIGH_PRIORITY_CLASS,   REALTIME_PRIORITY_CLASS};
constexpr int kSysNice = 23;

// A capability set of this process from /proc/self/status ("CapEff" ...).
unsigned long long CapabilitySet(const std::string& name) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(name + ":", 0) == 0) {
            return std::stoull(line.substr(name.size() + 1), nullptr, 16);
        }
    }
    return ~0ULL;  // unreadable: counts as holding everything
}

int ClassIndex() {
    const DWORD priorityClass = GetPriorityClass(GetCurrentProcess());
    for (int index = 0; index < 6; ++index) {
        if (kClasses[index] == priorityClass) {
            return index;
        }
    }
    return 99;
}

DWORD RunClassRights(DWORD priorityClass) {
    std::string commandLine = "conformance_child class-rights";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, priorityClass,
                        nullptr, nullptr, &startup, &info)) {
        return 96;
    }
    DWORD code = STILL_ACTIVE;
    for (int waited = 0; waited < 10000 && code == STILL_ACTIVE; waited += 5) {
        Sleep(5);
        GetExitCodeProcess(info.hProcess, &code);
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return code;
}

int ReportClassesAndRights() {
    const unsigned long long nice = 1ULL << kSysNice;
    std::string line = "launcher ";
    line += (CapabilitySet("CapEff") & nice) != 0 ? "1" : "0";
    line += (CapabilitySet("CapPrm") & nice) != 0 ? " 1" : " 0";
    line += " children";
    for (DWORD priorityClass : kClasses) {
        line += ' ';
        line += std::to_string(RunClassRights(priorityClass));
    }
    line += "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    return 0;
}

}  // namespace

int RunRightsRole(int argc, char** argv) {
    const std::string_view role = argc > 1 ? argv[1] : "";
    if (role == "class-rights") {
        return ClassIndex() + (CapabilitySet("CapEff") != 0 ? 10 : 0);
    }
    if (role == "classes-rights") {
        return ReportClassesAndRights();
    }
    return -1;
}

#endif
