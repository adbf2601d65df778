// Windows: a file replaced whole by MoveFileExW over the old one. A browser
// reading the old file may hold it open without FILE_SHARE_DELETE; the move
// then fails until it lets go, a few milliseconds later.
#include <string>

#include "herdlab_toolkit.h"
#include "win32.h"

namespace herdlab_toolkit {

namespace {

// How long a reader may keep the move waiting: a frame that cannot be
// placed by then is left, and the next one tries again.
constexpr int kMoveAttempts = 20;
constexpr DWORD kMoveRetryMilliseconds = 10;

// A path as the command line gave it (the ANSI code page) in UTF-16.
std::wstring WidePath(const std::string& path) {
    const int length = MultiByteToWideChar(CP_ACP, 0, path.data(), int(path.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, path.data(), int(path.size()), wide.data(), length);
    return wide;
}

bool WriteNewFile(const std::wstring& path, const std::string& content) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD wrote = 0;
    const bool written = WriteFile(file, content.data(), DWORD(content.size()), &wrote, nullptr) &&
                         wrote == content.size();
    return CloseHandle(file) && written;
}

// True for the failures of a move that a reader of the old file causes.
bool HeldByReader(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
           error == ERROR_LOCK_VIOLATION;
}

}  // namespace

bool ReplaceFileWhole(const std::string& path, const std::string& content) {
    const std::wstring target = WidePath(path);
    const std::wstring temporary = target + L".new-" + std::to_wstring(GetCurrentProcessId());
    if (WriteNewFile(temporary, content)) {
        for (int attempt = 0; attempt < kMoveAttempts; ++attempt) {
            if (MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
                return true;
            }
            if (!HeldByReader(GetLastError())) {
                break;
            }
            Sleep(kMoveRetryMilliseconds);
        }
    }
    DeleteFileW(temporary.c_str());
    return false;
}

}  // namespace herdlab_toolkit
