// The standard streams as handles, and the console calls on them.
//
// A Linux terminal takes bytes in the locale's character set, not UTF-16:
// GetConsoleMode fails for every handle, so callers write encoded bytes with
// WriteFile, and GetConsoleOutputCP names the code page those bytes must be in.
#include <langinfo.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

#include "handles.h"
#include "text_conversion.h"
#include "user_locale.h"

namespace winapi_internal {
namespace {

constexpr UINT kKoi8r = 20866;
constexpr UINT kIso88595 = 28595;

struct StreamObject {
    HandleHeader header;
    int fd;
};

StreamObject gStreams[3] = {
    {{HandleKind::kStandardStream, nullptr}, STDIN_FILENO},
    {{HandleKind::kStandardStream, nullptr}, STDOUT_FILENO},
    {{HandleKind::kStandardStream, nullptr}, STDERR_FILENO},
};

// The descriptor behind a standard-stream handle, or -1.
int FdOf(HANDLE handle) {
    HandleHeader* header = HandleOfKind(handle, HandleKind::kStandardStream);
    return header != nullptr ? reinterpret_cast<StreamObject*>(header)->fd : -1;
}

// Blocks SIGPIPE for the calling thread while it writes, so that a reader
// that has gone away gives EPIPE instead of ending the process.
struct PipeSignalGuard {
    sigset_t pipeOnly;
    sigset_t previous;
    bool wasPending;
};

void BlockPipeSignal(PipeSignalGuard& guard) {
    sigemptyset(&guard.pipeOnly);
    sigaddset(&guard.pipeOnly, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &guard.pipeOnly, &guard.previous);
    sigset_t pending;
    sigpending(&pending);
    guard.wasPending = sigismember(&pending, SIGPIPE) == 1;
}

void RestorePipeSignal(PipeSignalGuard& guard, bool brokenPipe) {
    // Our own write raised the SIGPIPE now pending: take it away before the
    // mask is restored. One that was pending before is not ours to consume.
    if (brokenPipe && !guard.wasPending) {
        const timespec noWait{0, 0};
        while (sigtimedwait(&guard.pipeOnly, nullptr, &noWait) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &guard.previous, nullptr);
}

// Writes all of `size` bytes; a partial write is continued with the rest.
// The count written, and errno set when it is short.
std::size_t WriteAll(int fd, const char* bytes, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t written = write(fd, bytes + done, size - done);
        if (written > 0) {
            done += static_cast<std::size_t>(written);
        } else if (written < 0 && errno == EAGAIN) {
            pollfd ready{fd, POLLOUT, 0};  // a non-blocking descriptor: wait until it takes more
            poll(&ready, 1, -1);
        } else if (written < 0 && errno != EINTR) {
            break;
        }
    }
    return done;
}

UINT CodePageOfCodeset(std::string_view codeset) {
    if (codeset == "UTF-8" || codeset == "utf8") {
        return CP_UTF8;
    }
    if (codeset == "KOI8-R") {
        return kKoi8r;
    }
    if (codeset == "CP866" || codeset == "IBM866") {
        return 866;
    }
    if (codeset == "ISO-8859-5") {
        return kIso88595;
    }
    if (codeset == "CP1251") {
        return 1251;
    }
    return CP_UTF8;
}

// Control characters in a Windows-1251 title would end the escape sequence
// early or start another one: they become '?' (0x98 is the control U+0098).
std::string SafeTitle(std::string_view title) {
    std::string safe(title);
    for (char& c : safe) {
        const auto code = static_cast<unsigned char>(c);
        if (code < 0x20 || code == 0x7F || code == 0x98) {
            c = '?';
        }
    }
    return safe;
}

// A failed read's error number: its errno, except the two that share their
// numbers with Windows' end-of-input errors (ENOSYS, ETOOMANYREFS; neither
// comes from read in practice). Those become EIO, so a caller that takes
// ERROR_HANDLE_EOF or ERROR_BROKEN_PIPE for the end of input never mistakes
// a real failure for it.
DWORD ReadErrorNumber(int error) {
    const auto number = static_cast<DWORD>(error);
    return number == ERROR_HANDLE_EOF || number == ERROR_BROKEN_PIPE ? EIO : number;
}

}  // namespace

UINT LocaleCodePage() {
    EnsureLocale();
    return CodePageOfCodeset(nl_langinfo(CODESET));
}

}  // namespace winapi_internal

using namespace winapi_internal;

HANDLE GetStdHandle(DWORD nStdHandle) {
    // Handles of their own for the process's life: closing one does nothing.
    static const HANDLE streams[3] = {NewHandle(&gStreams[0].header),
                                      NewHandle(&gStreams[1].header),
                                      NewHandle(&gStreams[2].header)};
    switch (nStdHandle) {
        case STD_INPUT_HANDLE:
            return streams[0];
        case STD_OUTPUT_HANDLE:
            return streams[1];
        case STD_ERROR_HANDLE:
            return streams[2];
        default:
            SetLastError(ERROR_INVALID_HANDLE);
            return INVALID_HANDLE_VALUE;
    }
}

DWORD GetFileType(HANDLE hFile) {
    const int fd = FdOf(hFile);
    struct stat info {};
    if (fd < 0 || fstat(fd, &info) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FILE_TYPE_UNKNOWN;
    }
    if (S_ISCHR(info.st_mode)) {
        return FILE_TYPE_CHAR;
    }
    if (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)) {
        return FILE_TYPE_PIPE;
    }
    return FILE_TYPE_DISK;
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, void* lpOverlapped) {
    if (lpNumberOfBytesWritten != nullptr) {
        *lpNumberOfBytesWritten = 0;
    }
    const int fd = FdOf(hFile);
    if (fd < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (lpOverlapped != nullptr || (lpBuffer == nullptr && nNumberOfBytesToWrite != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (nNumberOfBytesToWrite == 0) {
        return TRUE;
    }
    PipeSignalGuard guard{};
    BlockPipeSignal(guard);
    const std::size_t written =
        WriteAll(fd, static_cast<const char*>(lpBuffer), nNumberOfBytesToWrite);
    const int error = errno;
    const bool complete = written == nNumberOfBytesToWrite;
    RestorePipeSignal(guard, !complete && error == EPIPE);
    if (lpNumberOfBytesWritten != nullptr) {
        *lpNumberOfBytesWritten = static_cast<DWORD>(written);
    }
    if (!complete) {
        SetLastError(static_cast<DWORD>(error));
        return FALSE;
    }
    return TRUE;
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, void* lpOverlapped) {
    if (lpNumberOfBytesRead != nullptr) {
        *lpNumberOfBytesRead = 0;
    }
    const int fd = FdOf(hFile);
    if (fd < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (lpOverlapped != nullptr || (lpBuffer == nullptr && nNumberOfBytesToRead != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ssize_t got;
    do {
        got = read(fd, lpBuffer, nNumberOfBytesToRead);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        SetLastError(ReadErrorNumber(errno));
        return FALSE;
    }
    if (lpNumberOfBytesRead != nullptr) {
        *lpNumberOfBytesRead = static_cast<DWORD>(got);  // 0: the end of the input
    }
    return TRUE;
}

BOOL GetConsoleMode(HANDLE, LPDWORD) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

BOOL WriteConsoleW(HANDLE hConsoleOutput, const void* lpBuffer, DWORD nNumberOfCharsToWrite,
                   LPDWORD lpNumberOfCharsWritten, LPVOID) {
    if (lpNumberOfCharsWritten != nullptr) {
        *lpNumberOfCharsWritten = 0;
    }
    if (nNumberOfCharsToWrite == 0) {
        return TRUE;
    }
    if (lpBuffer == nullptr || nNumberOfCharsToWrite > 0x7FFFFFFFu) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const auto* units = static_cast<const WCHAR*>(lpBuffer);
    const int count = static_cast<int>(nNumberOfCharsToWrite);
    const UINT codePage = GetConsoleOutputCP();
    const int size = WideCharToMultiByte(codePage, 0, units, count, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(codePage, 0, units, count, bytes.data(), size, nullptr, nullptr);
    if (!WriteFile(hConsoleOutput, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr,
                   nullptr)) {
        return FALSE;
    }
    if (lpNumberOfCharsWritten != nullptr) {
        *lpNumberOfCharsWritten = nNumberOfCharsToWrite;
    }
    return TRUE;
}

UINT GetConsoleOutputCP() {
    return LocaleCodePage();
}

BOOL SetConsoleTitleA(LPCSTR lpConsoleTitle) {
    if (lpConsoleTitle == nullptr || isatty(STDOUT_FILENO) != 1) {
        return TRUE;
    }
    const std::string title = ConvertText(SafeTitle(lpConsoleTitle), 1251, LocaleCodePage());
    const std::string sequence = "\x1b]0;" + title + "\x07";
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), sequence.data(), static_cast<DWORD>(sequence.size()),
              nullptr, nullptr);
    return TRUE;
}
