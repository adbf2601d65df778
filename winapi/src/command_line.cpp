// Command lines: a child's split into argv for exec, the program search, and
// the process's own command line and file name (GetCommandLineA,
// GetModuleFileNameA).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "command_line.h"
#include "text_conversion.h"

namespace winapi_internal {
namespace {

// ---- Command line ------------------------------------------------------------

bool IsSeparator(char c) {
    const auto code = static_cast<unsigned char>(c);
    return code >= 1 && code <= 32;
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view text) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (true) {
        while (i < text.size() && text[i] != '\0') {
            if (IsSeparator(text[i])) {
                ++i;
            } else if (text[i] == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                i += 2;
            } else {
                break;
            }
        }
        if (i >= text.size() || text[i] == '\0') {
            return words;
        }
        std::string word;
        bool quoted = false;
        for (; i < text.size() && text[i] != '\0'; ++i) {
            if (text[i] == '"') {
                quoted = !quoted;
            } else if (IsSeparator(text[i]) && !quoted) {
                break;
            } else {
                word += text[i];
            }
        }
        words.push_back(std::move(word));
    }
}

// ---- Program search ----------------------------------------------------------
namespace {

std::string ReadLink(const char* path) {
    std::string target(256, '\0');
    while (true) {
        const ssize_t length = readlink(path, target.data(), target.size());
        if (length < 0) {
            return {};
        }
        if (static_cast<std::size_t>(length) < target.size()) {
            target.resize(static_cast<std::size_t>(length));
            return target;
        }
        target.resize(target.size() * 2);
    }
}

bool IsExecutableFile(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           access(path.c_str(), X_OK) == 0;
}

// The folders searched for a program named without a folder, in Windows'
// order: the caller's own folder, the current folder, then PATH.
std::vector<std::string> SearchFolders() {
    std::vector<std::string> folders;
    const std::string self = ReadLink("/proc/self/exe");
    const std::size_t slash = self.rfind('/');
    if (slash != std::string::npos) {
        folders.push_back(slash == 0 ? "/" : self.substr(0, slash));
    }
    folders.emplace_back(".");
    if (const char* path = std::getenv("PATH")) {
        std::string_view rest = path;
        while (true) {
            const std::size_t colon = rest.find(':');
            const std::string_view folder = rest.substr(0, colon);
            folders.emplace_back(folder.empty() ? "." : std::string(folder));
            if (colon == std::string_view::npos) {
                break;
            }
            rest.remove_prefix(colon + 1);
        }
    }
    return folders;
}

}  // namespace

std::string FindProgram(const std::string& name) {
    if (name.find('/') != std::string::npos) {
        return name;  // a path: exec reports what is wrong with it
    }
    for (const std::string& folder : SearchFolders()) {
        std::string candidate = folder;
        if (candidate.back() != '/') {
            candidate += '/';
        }
        candidate += name;
        if (IsExecutableFile(candidate)) {
            return candidate;
        }
    }
    return {};
}

// ---- The process's own command line ----------------------------------------------
namespace {

std::string ReadWholeFile(const char* path) {
    std::string content;
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return content;
    }
    char chunk[4096];
    while (true) {
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        content.append(chunk, static_cast<std::size_t>(got));
    }
    close(fd);
    return content;
}

// One argv word in Windows-1251, written so the programs' splitting reads it
// back whole. Their rules cannot express a double quote inside a word, so one
// is dropped; an empty word is written as "" although their splitting skips
// it (nothing can express an empty word).
std::string QuoteWord(std::string_view utf8Word) {
    std::string word;
    for (char c : Utf8ToCp1251(utf8Word)) {
        if (c != '"') {
            word += c;
        }
    }
    bool needsQuotes = word.empty();
    for (char c : word) {
        needsQuotes = needsQuotes || IsSeparator(c);
    }
    return needsQuotes ? '"' + word + '"' : word;
}

std::string BuildCommandLine() {
    const std::string arguments = ReadWholeFile("/proc/self/cmdline");
    std::string line;
    std::size_t start = 0;
    while (start < arguments.size()) {
        std::size_t end = arguments.find('\0', start);
        if (end == std::string::npos) {
            end = arguments.size();
        }
        if (!line.empty()) {
            line += ' ';
        }
        line += QuoteWord(std::string_view(arguments).substr(start, end - start));
        start = end + 1;
    }
    return line;
}
}  // namespace
}  // namespace winapi_internal

using namespace winapi_internal;

LPSTR GetCommandLineA() {
    static std::once_flag once;
    static std::string* commandLine = nullptr;  // never freed: valid until the process ends
    std::call_once(once, [] { commandLine = new std::string(BuildCommandLine()); });
    return commandLine->data();
}

DWORD GetModuleFileNameA(HANDLE hModule, LPSTR lpFilename, DWORD nSize) {
    if (hModule != nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    const std::string utf8 = ReadLink("/proc/self/exe");
    if (utf8.empty()) {
        SetLastError(static_cast<DWORD>(errno));
        return 0;
    }
    const std::string name = Utf8ToCp1251(utf8);
    if (nSize == 0 || lpFilename == nullptr) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    // Windows: a name that does not fit is cut to nSize - 1 characters and
    // the full buffer size is returned with ERROR_INSUFFICIENT_BUFFER.
    if (name.size() >= nSize) {
        std::memcpy(lpFilename, name.data(), nSize - 1);
        lpFilename[nSize - 1] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    std::memcpy(lpFilename, name.c_str(), name.size() + 1);
    return static_cast<DWORD>(name.size());
}
