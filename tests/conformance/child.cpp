// conformance_child: the program the conformance tests start. argv[1] names
// its role; it answers through its exit code, which both platforms deliver:
//
//   exit N              ends with code N
//   sleep MS            sleeps MS milliseconds, then ends with 0
//   await PATH          ends with 0 once the file PATH exists: runs until the
//                       test says so
//   class               ends with the PriorityIndex (0..5) of its own class,
//                       99 when the class is none of the six
//   words HEX WORD...   compares the words of its command line from word 3 on
//                       with HEX (each word's Windows-1251 bytes in hex, words
//                       separated by '.'): 0 equal, 1 other count, 10+i word i
//                       differs; on Linux 40+i when argv[3+i] is not the word
//                       in UTF-8
//   locale-info TYPE    ends with the first byte of GetLocaleInfoA(TYPE)
//   affinity            ends with the low 8 bits of its own process affinity
//                       mask (processors 0..7), 0 when it cannot be read
//   fds                 (Linux) the number of descriptors open beyond 0, 1, 2
//   signal N            (Linux) how it started with signal N: 0 at its
//                       default, 1 ignored, 2 handled, plus 4 when blocked
//   codepage            (Linux) GetConsoleOutputCP as 1 UTF-8, 2 KOI8-R,
//                       3 866, 4 ISO-8859-5, 5 1251, 0 another
//   as-nobody CLASS     (Linux) becomes user nobody, starts "class" in CLASS
//                       and ends with that child's code
//   class-rights        (Linux) as "class", plus 10 when it holds any
//                       effective capability
//   classes-rights      (Linux) starts "class-rights" once in each of the six
//                       classes and prints "launcher E P children C0 .. C5":
//                       E and P are 1 when CAP_SYS_NICE is in its own
//                       effective and permitted sets, Cn the children's codes
//
// Other roles belong to the thread-message and shared-memory tests.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "child_roles.h"
#include "win32.h"

#ifndef _WIN32
#include <dirent.h>
#include <grp.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#endif

namespace {

constexpr DWORD kClasses[] = {IDLE_PRIORITY_CLASS,   BELOW_NORMAL_PRIORITY_CLASS,
                              NORMAL_PRIORITY_CLASS, ABOVE_NORMAL_PRIORITY_CLASS,
                              HIGH_PRIORITY_CLASS,   REALTIME_PRIORITY_CLASS};

int ReportClass() {
    const DWORD priorityClass = GetPriorityClass(GetCurrentProcess());
    for (int index = 0; index < 6; ++index) {
        if (kClasses[index] == priorityClass) {
            return index;
        }
    }
    return 99;
}

bool IsSeparator(char c) {
    const auto code = static_cast<unsigned char>(c);
    return code >= 1 && code <= 32;
}

// The programs' splitting of a command line.
std::vector<std::string> SplitWords(std::string_view text) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (true) {
        while (i < text.size() && (IsSeparator(text[i]) ||
                                   (text[i] == '"' && i + 1 < text.size() && text[i + 1] == '"'))) {
            i += IsSeparator(text[i]) ? 1 : 2;
        }
        if (i >= text.size()) {
            return words;
        }
        std::string word;
        bool quoted = false;
        for (; i < text.size() && (quoted || !IsSeparator(text[i])); ++i) {
            if (text[i] == '"') {
                quoted = !quoted;
            } else {
                word += text[i];
            }
        }
        words.push_back(word);
    }
}

std::vector<std::string> DecodeHexWords(std::string_view hex) {
    std::vector<std::string> words(1);
    for (std::size_t i = 0; i < hex.size(); ++i) {
        if (hex[i] == '.') {
            words.emplace_back();
        } else if (i + 1 < hex.size()) {
            words.back() +=
                static_cast<char>(std::strtol(std::string(hex.substr(i, 2)).c_str(), nullptr, 16));
            ++i;
        }
    }
    if (hex.empty()) {
        words.clear();
    }
    return words;
}

#ifndef _WIN32
std::string Cp1251ToUtf8(const std::string& text) {
    if (text.empty()) {
        return text;
    }
    std::wstring wide(text.size(), L'\0');
    const int units = MultiByteToWideChar(1251, 0, text.data(), static_cast<int>(text.size()),
                                          wide.data(), static_cast<int>(wide.size()));
    std::string utf8(static_cast<std::size_t>(units) * 3, '\0');
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, utf8.data(),
                                          static_cast<int>(utf8.size()), nullptr, nullptr);
    utf8.resize(static_cast<std::size_t>(bytes));
    return utf8;
}
#endif

int CompareWords(int argc, char** argv) {
    const std::vector<std::string> expected = DecodeHexWords(argc > 2 ? argv[2] : "");
    const std::vector<std::string> words = SplitWords(GetCommandLineA());
    if (words.size() != expected.size() + 3) {
        return 1;
    }
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (words[i + 3] != expected[i]) {
            return 10 + static_cast<int>(i);
        }
    }
#ifndef _WIN32
    if (static_cast<std::size_t>(argc) != expected.size() + 3) {
        return 1;
    }
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (argv[i + 3] != Cp1251ToUtf8(expected[i])) {
            return 40 + static_cast<int>(i);
        }
    }
#endif
    return 0;
}

int ReportLocaleInfo(LCTYPE type) {
    char value[16] = {};
    if (GetLocaleInfoA(LOCALE_USER_DEFAULT, type, value, sizeof value) < 2) {
        return 0;
    }
    return static_cast<unsigned char>(value[0]);
}

#ifndef _WIN32
int ReportSignal(int signal) {
    struct sigaction action {};
    sigset_t blocked;
    if (sigaction(signal, nullptr, &action) != 0 ||
        sigprocmask(SIG_BLOCK, nullptr, &blocked) != 0) {
        return 99;
    }
    const int disposition =
        action.sa_handler == SIG_DFL ? 0 : (action.sa_handler == SIG_IGN ? 1 : 2);
    return disposition + (sigismember(&blocked, signal) == 1 ? 4 : 0);
}

int CountExtraDescriptors() {
    DIR* folder = opendir("/proc/self/fd");
    if (folder == nullptr) {
        return 98;
    }
    int extra = 0;
    while (const dirent* entry = readdir(folder)) {
        const int fd = std::atoi(entry->d_name);
        extra += entry->d_name[0] != '.' && fd > 2 && fd != dirfd(folder) ? 1 : 0;
    }
    closedir(folder);
    return extra;
}

int ReportCodePage() {
    switch (GetConsoleOutputCP()) {
        case CP_UTF8:
            return 1;
        case 20866:
            return 2;
        case 866:
            return 3;
        case 28595:
            return 4;
        case 1251:
            return 5;
        default:
            return 0;
    }
}

// Starts this program with `role` in `priorityClass` and returns its exit
// code (96: no start).
int RunInClass(const char* role, DWORD priorityClass) {
    std::string commandLine = std::string("conformance_child ") + role;
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
    return static_cast<int>(code);
}

// Starts "class" in `priorityClass` as a user who may not raise priorities.
int StartClassAsNobody(DWORD priorityClass) {
    constexpr uid_t kNobody = 65534;
    if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) {
        return 97;
    }
    return RunInClass("class", priorityClass);
}

// A capability set of this process from /proc/self/status ("CapEff" ...);
// all bits set when it cannot be read.
unsigned long long CapabilitySet(const std::string& name) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(name + ":", 0) == 0) {
            return std::stoull(line.substr(name.size() + 1), nullptr, 16);
        }
    }
    return ~0ULL;
}

int ReportClassAndRights() {
    return ReportClass() + (CapabilitySet("CapEff") != 0 ? 10 : 0);
}

int ReportChildrensClassesAndRights() {
    constexpr unsigned long long kSysNice = 1ULL << 23;
    std::string line = "launcher ";
    line += (CapabilitySet("CapEff") & kSysNice) != 0 ? '1' : '0';
    line += (CapabilitySet("CapPrm") & kSysNice) != 0 ? " 1" : " 0";
    line += " children";
    for (DWORD priorityClass : kClasses) {
        line += ' ';
        line += std::to_string(RunInClass("class-rights", priorityClass));
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
    return 0;
}
#endif

}  // namespace

int main(int argc, char** argv) {
    const std::string_view role = argc > 1 ? argv[1] : "";
    const char* argument = argc > 2 ? argv[2] : "0";
    if (role == "exit") {
        return std::atoi(argument);
    }
    if (role == "sleep") {
        Sleep(static_cast<DWORD>(std::atoi(argument)));
        return 0;
    }
    if (role == "await") {
        std::FILE* told = nullptr;
        while ((told = std::fopen(argument, "rb")) == nullptr) {
            Sleep(5);
        }
        std::fclose(told);
        return 0;
    }
    if (role == "class") {
        return ReportClass();
    }
    if (role == "words") {
        return CompareWords(argc, argv);
    }
    if (role == "locale-info") {
        return ReportLocaleInfo(static_cast<LCTYPE>(std::atoi(argument)));
    }
    if (role == "affinity") {
        DWORD_PTR own = 0;
        DWORD_PTR system = 0;
        return GetProcessAffinityMask(GetCurrentProcess(), &own, &system) ? int(own & 0xFF) : 0;
    }
#ifndef _WIN32
    if (role == "fds") {
        return CountExtraDescriptors();
    }
    if (role == "signal") {
        return ReportSignal(std::atoi(argument));
    }
    if (role == "codepage") {
        return ReportCodePage();
    }
    if (role == "as-nobody") {
        return StartClassAsNobody(static_cast<DWORD>(std::atoi(argument)));
    }
    if (role == "class-rights") {
        return ReportClassAndRights();
    }
    if (role == "classes-rights") {
        return ReportChildrensClassesAndRights();
    }
#endif
    const int result = RunIpcRole(argc, argv);
    return result == -1 ? 120 : result;
}
