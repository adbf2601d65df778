// Console output: the printers and the priority menu. A line is formatted,
// converted from Windows-1251 once, right before it is written, and goes out
// in one write call together with its line end. Nothing is buffered across
// calls and every call has its own buffers, so two threads may print at once
// without a lock, and lines of the processes that share the console never mix.
#include "myProcedure_unit.h"

#include <climits>
#include <string>

#include "errors_unit.h"
#include "priority_unit.h"
#include "program_lines_unit.h"

namespace {

constexpr UINT kWindows1251 = 1251;

// Windows-1251 to UTF-16; false when the platform cannot convert.
bool ToUtf16(std::string_view text, std::wstring& wide) {
    const int length = static_cast<int>(text.size());
    const int wideLength = MultiByteToWideChar(kWindows1251, 0, text.data(), length, nullptr, 0);
    if (wideLength <= 0) {
        return false;
    }
    wide.resize(static_cast<std::size_t>(wideLength));
    return MultiByteToWideChar(kWindows1251, 0, text.data(), length, wide.data(), wideLength) ==
           wideLength;
}

// UTF-16 to the bytes of code page `codePage`; false when it cannot convert.
bool FromUtf16(const std::wstring& wide, UINT codePage, std::string& bytes) {
    const int wideLength = static_cast<int>(wide.size());
    const int length =
        WideCharToMultiByte(codePage, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
        return false;
    }
    bytes.resize(static_cast<std::size_t>(length));
    return WideCharToMultiByte(codePage, 0, wide.data(), wideLength, bytes.data(), length, nullptr,
                               nullptr) == length;
}

// The platform's error number of a failed call, never 0.
unsigned LastErrorOr(unsigned fallback) {
    const DWORD error = GetLastError();
    return error != 0 ? error : fallback;
}

// The unconvertible or unwritable line gives this number when the platform
// gave none.
constexpr unsigned kWriteFault = 29;  // ERROR_WRITE_FAULT

// Writes all bytes. The first call takes the whole line; only a write that
// the system cut short goes on with the rest, so nothing is lost.
unsigned WriteAll(HANDLE handle, const char* bytes, std::size_t size) {
    while (size > 0) {
        const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(handle, bytes, chunk, &written, nullptr)) {
            return LastErrorOr(kWriteFault);
        }
        if (written == 0) {
            return kWriteFault;
        }
        bytes += written;
        size -= written;
    }
    return 0;
}

unsigned WriteToConsole(HANDLE handle, const std::wstring& wide) {
    const WCHAR* chars = wide.data();
    std::size_t left = wide.size();
    while (left > 0) {
        DWORD written = 0;
        if (!WriteConsoleW(handle, chars, static_cast<DWORD>(left), &written, nullptr)) {
            return LastErrorOr(kWriteFault);
        }
        if (written == 0) {
            return kWriteFault;
        }
        chars += written;
        left -= written;
    }
    return 0;
}

void PrintOrRaise(std::string_view text) {
    const unsigned error = WriteConvertedText(STD_OUTPUT_HANDLE, text);
    if (error != 0) {
        throw EInOutError{IoErrorMessage(error), CodeLocation(&PrintLine)};
    }
}

}  // namespace

unsigned WriteConvertedText(DWORD standardHandle, std::string_view cp1251Text) {
    if (cp1251Text.empty()) {
        return 0;
    }
    if (cp1251Text.size() > INT_MAX / 4) {
        return ERROR_INVALID_PARAMETER;
    }
    const HANDLE handle = GetStdHandle(standardHandle);
    std::wstring wide;
    if (!ToUtf16(cp1251Text, wide)) {
        return LastErrorOr(kWriteFault);
    }
    // A real console takes UTF-16 and shows Russian whatever its code pages.
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode)) {
        return WriteToConsole(handle, wide);
    }
    // Redirected (and every Linux terminal): the console's code page, else UTF-8.
    UINT codePage = GetConsoleOutputCP();
    if (codePage == 0) {
        codePage = CP_UTF8;
    }
    std::string bytes;
    if (!FromUtf16(wide, codePage, bytes)) {
        return LastErrorOr(kWriteFault);
    }
    return WriteAll(handle, bytes.data(), bytes.size());
}

unsigned WriteRawBytes(DWORD standardHandle, std::string_view bytes) {
    return WriteAll(GetStdHandle(standardHandle), bytes.data(), bytes.size());
}

void PrintLine(std::string_view format, std::initializer_list<FormatValue> values) {
    std::string line = FormatText(format, values);
    line += "\r\n";
    PrintOrRaise(line);
}

void PrintPrompt(std::string_view format, std::initializer_list<FormatValue> values) {
    PrintOrRaise(FormatText(format, values));
}

void PriorityMenu() {
    PrintLine(kPriorityMenuHeading);
    for (int i = 0; i < kPriorityCount; ++i) {
        PrintLine(kPriorityMenuRow, {i, kPriorityNames[i]});
    }
}
