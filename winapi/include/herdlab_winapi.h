// The subset of Win32 that herdlab's programs call, provided on Linux.
//
// On Windows the programs include <windows.h> (through common/win32.h); on
// Linux they include this header instead and link the `winapi` library. The
// names, types, constants and behaviour follow the Win32 functions of the same
// names as far as the programs rely on them. The layer knows nothing about the
// programs that use it.
//
// The process's "ANSI" code page is Windows-1251, as on a Russian Windows:
// command lines given to CreateProcessA and returned by GetCommandLineA, and
// shared-memory names, are Windows-1251 bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#define WINAPI
#define CALLBACK

// ---- Basic types (sizes as on 64-bit Windows) --------------------------------
using BOOL = int;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using LONG = std::int32_t;
using ULONG_PTR = std::uintptr_t;
using SIZE_T = std::size_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LPVOID = void*;
using LPCVOID = const void*;
using LPSTR = char*;
using LPCSTR = const char*;
using LPWSTR = wchar_t*;
using WCHAR = wchar_t;  // 32 bits on Linux; the layer stores UTF-16 code units in it
using LPCWSTR = const wchar_t*;
using LPBOOL = BOOL*;
using LPDWORD = DWORD*;
using HANDLE = void*;
using HWND = void*;
using LCID = DWORD;
using LCTYPE = DWORD;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)))
#define INFINITE 0xFFFFFFFFu

union LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    };
    std::int64_t QuadPart;
};

struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};

struct SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
};
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

// ---- Errors --------------------------------------------------------------------
// Error numbers are errno values where Linux has the condition (ENOENT = 2 is
// also Windows' ERROR_FILE_NOT_FOUND), and the Windows numbers below for the
// conditions the programs or tests look at by number.
#define ERROR_SUCCESS 0u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_ALREADY_EXISTS 183u
#define ERROR_INVALID_THREAD_ID 1444u
#define ERROR_NOT_ENOUGH_QUOTA 1816u

DWORD GetLastError();
void SetLastError(DWORD error);

// ---- Processes -----------------------------------------------------------------
#define STILL_ACTIVE 259u

#define IDLE_PRIORITY_CLASS 0x00000040u
#define BELOW_NORMAL_PRIORITY_CLASS 0x00004000u
#define NORMAL_PRIORITY_CLASS 0x00000020u
#define ABOVE_NORMAL_PRIORITY_CLASS 0x00008000u
#define HIGH_PRIORITY_CLASS 0x00000080u
#define REALTIME_PRIORITY_CLASS 0x00000100u
#define CREATE_UNICODE_ENVIRONMENT 0x00000400u

struct STARTUPINFOA {
    DWORD cb;
    LPSTR lpReserved;
    LPSTR lpDesktop;
    LPSTR lpTitle;
    DWORD dwX;
    DWORD dwY;
    DWORD dwXSize;
    DWORD dwYSize;
    DWORD dwXCountChars;
    DWORD dwYCountChars;
    DWORD dwFillAttribute;
    DWORD dwFlags;
    WORD wShowWindow;
    WORD cbReserved2;
    BYTE* lpReserved2;
    HANDLE hStdInput;
    HANDLE hStdOutput;
    HANDLE hStdError;
};
using LPSTARTUPINFOA = STARTUPINFOA*;

struct PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
};
using LPPROCESS_INFORMATION = PROCESS_INFORMATION*;

// Starts a child. lpApplicationName must be null; the first word of the
// command line names the program, searched in the caller's own directory, the
// current directory and PATH. The priority class in dwCreationFlags is applied
// in the child before it runs the program. Only null environment and current
// directory are supported (the child inherits both). Returns FALSE with the
// errno of the failed exec (2 for a missing program) in GetLastError.
BOOL CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine,
                    LPSECURITY_ATTRIBUTES lpProcessAttributes,
                    LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles,
                    DWORD dwCreationFlags, LPVOID lpEnvironment, LPCSTR lpCurrentDirectory,
                    LPSTARTUPINFOA lpStartupInfo, LPPROCESS_INFORMATION lpProcessInformation);
BOOL GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode);
BOOL TerminateProcess(HANDLE hProcess, UINT uExitCode);
HANDLE GetCurrentProcess();
DWORD GetCurrentProcessId();
DWORD GetPriorityClass(HANDLE hProcess);
[[noreturn]] void ExitProcess(UINT uExitCode);
BOOL CloseHandle(HANDLE hObject);
LPSTR GetCommandLineA();
DWORD GetModuleFileNameA(HANDLE hModule, LPSTR lpFilename, DWORD nSize);

// ---- Threads and time ----------------------------------------------------------
using LPTHREAD_START_ROUTINE = DWORD (*)(LPVOID);
// Starts lpStartAddress(lpParameter) at once on a new thread and returns a
// handle that only names it: closing the handle neither waits for nor ends
// the thread. The new thread's id (the kernel's thread id) is in *lpThreadId
// when the call returns. dwStackSize 0 is the default size; a size the system
// refuses is raised to its minimum. NULL with ERROR_INVALID_PARAMETER for no
// start routine or any creation flag (suspended start is not supported), else
// the errno of the failed start. Differs from Windows: security attributes
// are ignored and the thread's exit code is not kept.
HANDLE CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
                    LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                    DWORD dwCreationFlags, LPDWORD lpThreadId);
// The calling thread's id: the kernel's thread id, the number other processes
// post thread messages to. As Windows.
DWORD GetCurrentThreadId();
// A pseudo handle that stands for the calling thread wherever it is used;
// GetThreadTimes accepts it, and closing it does nothing.
HANDLE GetCurrentThread();

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
using LPFILETIME = FILETIME*;

// The calling thread's processor time in units of 100 ns, for
// GetCurrentThread()'s handle only (any other handle fails with
// ERROR_INVALID_HANDLE). Linux's thread CPU clock does not split kernel from
// user time: the whole of it is returned as user time and kernel time is 0,
// so callers add the two as they must on Windows too. Unlike Windows, which
// advances the figures by clock ticks, the value is exact to the nanosecond
// clock. Creation and exit times are not kept and are returned as 0.
BOOL GetThreadTimes(HANDLE hThread, LPFILETIME lpCreationTime, LPFILETIME lpExitTime,
                    LPFILETIME lpKernelTime, LPFILETIME lpUserTime);
void Sleep(DWORD dwMilliseconds);
DWORD GetTickCount();
void GetLocalTime(SYSTEMTIME* lpSystemTime);
void GetSystemTime(SYSTEMTIME* lpSystemTime);
BOOL QueryPerformanceCounter(LARGE_INTEGER* lpPerformanceCount);
BOOL QueryPerformanceFrequency(LARGE_INTEGER* lpFrequency);

// ---- Thread messages -----------------------------------------------------------
// A thread's queue is an AF_UNIX datagram socket bound in the abstract
// namespace to "herdlab-msg-<uid>-<tid>"; a message is one 24-byte
// little-endian datagram: uint32 message, uint32 zero, uint64 wParam, int64
// lParam. Programs that do not use this library may speak it. A thread gets
// its queue at its first GetMessageA or PostThreadMessageA and loses it, with
// the messages it did not take, when it ends. As on Windows a queue holds
// 10,000 messages whatever its thread is doing: a reader thread of the
// receiving process moves datagrams into the queue as they arrive.
#define WM_QUIT 0x0012u
#define WM_USER 0x0400u

struct POINT {
    LONG x;
    LONG y;
};

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};
using LPMSG = MSG*;

// Returns 0xC000 | (FNV-1a-32 of the ASCII-upper-cased name & 0x3FFF): the
// same id in every process, without any shared state. 0 with
// ERROR_INVALID_PARAMETER for a null or empty name. Differs from Windows:
// two names may share an id (programs check that theirs do not).
UINT RegisterWindowMessageA(LPCSTR lpString);
// Puts the message at the end of thread idThread's queue and returns TRUE at
// once; messages from one thread arrive in the order posted. FALSE with
// ERROR_INVALID_THREAD_ID when the thread has no queue (thread 0, an ended
// thread, a thread that never asked for messages), ERROR_NOT_ENOUGH_QUOTA when
// its queue holds 10,000 messages. Differs from Windows: posts already on
// their way when a queue fills (at most net.unix.max_dgram_qlen + 1) are still
// taken. A post finding the receiver's socket full waits for room: up to
// 10 ms when more than net.unix.max_dgram_qlen messages come within 10 ms of
// the receiving thread's last GetMessageA, up to 100 ms for a receiving
// process that does not run (stopped, or a foreign receiver that does not
// read), then fails with ERROR_NOT_ENOUGH_QUOTA.
BOOL PostThreadMessageA(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam);
// Waits for the calling thread's next message and fills *lpMsg (hwnd null,
// time the tick count at receipt, pt 0,0). Returns 0 for WM_QUIT, TRUE for
// any other message, -1 with ERROR_INVALID_PARAMETER for a null lpMsg or the
// errno when the queue cannot be created or read. Datagrams from other users
// or of the wrong size are dropped unseen. Differs from Windows: there are no
// windows, so hWnd and the filter range are ignored and every message is
// taken in arrival order.
BOOL GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax);

// ---- Named shared memory -------------------------------------------------------
// A named block is the POSIX shared-memory object
// "/herdlab-map-<uid>-<name>", each name byte outside [A-Za-z0-9._-] written
// as "%XX"; objects not owned by the user or not mode 0600 are refused
// (ERROR_ACCESS_DENIED), never used, resized or removed. Only named,
// memory-backed (INVALID_HANDLE_VALUE), PAGE_READWRITE blocks are supported.
//
// Lifetime as Windows: a name lives while some process holds a handle to its
// block, and ends with the last one, however that process ends (SIGKILL
// included); views keep the memory, not the name. Every holder keeps a shared
// flock on the object; the last to let go removes the name (CloseHandle of a
// block other processes hold gives them up to 50 ms to end first). A name nobody holds any more
// (its last holder was killed) counts as gone and is removed by the next process that looks it up.
// Programs that do not use this library must hold the same lock (flock(fd, LOCK_SH)) while they use
// a block, or it may be taken for gone. Programs read and write shared bytes with
// std::atomic_ref<unsigned char>, which works the same on Windows.
#define PAGE_READWRITE 0x04u
#define FILE_MAP_WRITE 0x0002u
#define FILE_MAP_READ 0x0004u
#define FILE_MAP_ALL_ACCESS 0x000F001Fu

// Opens the live block of that name, grown to the requested size when it is
// smaller (never shrunk), or creates a new zeroed one; returns a handle with
// read-write access. GetLastError is then ERROR_ALREADY_EXISTS when the block
// was live, else 0. NULL with ERROR_INVALID_PARAMETER for a file handle other
// than INVALID_HANDLE_VALUE, another protection, size 0 or no name;
// ERROR_ACCESS_DENIED for a refused object; ENAMETOOLONG for a name longer
// than the file system takes; else the errno. Security attributes are
// ignored. Differs from Windows: unnamed blocks and file-backed blocks are not
// supported, and a block's size grows to the largest request.
HANDLE CreateFileMappingA(HANDLE hFile, LPSECURITY_ATTRIBUTES lpFileMappingAttributes,
                          DWORD flProtect, DWORD dwMaximumSizeHigh, DWORD dwMaximumSizeLow,
                          LPCSTR lpName);
// Opens the live block of that name; FILE_MAP_WRITE (or FILE_MAP_ALL_ACCESS)
// in dwDesiredAccess asks for read-write access, else read-only. NULL with
// ERROR_FILE_NOT_FOUND when there is none (or only one nobody holds),
// ERROR_ACCESS_DENIED for a refused object, ERROR_INVALID_PARAMETER for no
// name. bInheritHandle is ignored (handles are never inherited). As Windows
// otherwise.
HANDLE OpenFileMappingA(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCSTR lpName);
// Maps dwNumberOfBytesToMap bytes (0: up to the end of the block) from the
// offset, which must be a multiple of 64 KiB as on Windows. FILE_MAP_WRITE
// (and FILE_MAP_ALL_ACCESS) give a read-write view, FILE_MAP_READ a
// read-only one. Returns the view's address; NULL with ERROR_INVALID_HANDLE
// for a handle that is not a live mapping handle, ERROR_INVALID_PARAMETER for
// no access or an unaligned offset, ERROR_ACCESS_DENIED for a write view of a
// read-only handle or a view reaching past the block's end (Windows maps it
// and faults on access). The view stays valid after its handle is closed,
// as on Windows. Should another program shrink the block, the lost pages of
// the view read as zeros and are no longer shared, where Windows forbids the
// shrinking.
LPVOID MapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess, DWORD dwFileOffsetHigh,
                     DWORD dwFileOffsetLow, SIZE_T dwNumberOfBytesToMap);
// Unmaps a view MapViewOfFile returned. FALSE with ERROR_INVALID_PARAMETER for an address that is
// not the start of a mapped view (unmapped already included). As Windows.
BOOL UnmapViewOfFile(LPCVOID lpBaseAddress);

// ---- Console, files and text ---------------------------------------------------
#define STD_INPUT_HANDLE (static_cast<DWORD>(-10))
#define STD_OUTPUT_HANDLE (static_cast<DWORD>(-11))
#define STD_ERROR_HANDLE (static_cast<DWORD>(-12))

#define FILE_TYPE_UNKNOWN 0x0000u
#define FILE_TYPE_DISK 0x0001u
#define FILE_TYPE_CHAR 0x0002u
#define FILE_TYPE_PIPE 0x0003u

HANDLE GetStdHandle(DWORD nStdHandle);
DWORD GetFileType(HANDLE hFile);
// Writes all bytes in one write call where the system allows it (a pipe
// takes up to 4096 bytes at once).
BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, void* lpOverlapped);
BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, void* lpOverlapped);
// A terminal on Linux takes bytes, not UTF-16: GetConsoleMode fails for every
// handle, so callers write encoded bytes with WriteFile.
BOOL GetConsoleMode(HANDLE hConsoleHandle, LPDWORD lpMode);
BOOL WriteConsoleW(HANDLE hConsoleOutput, const void* lpBuffer, DWORD nNumberOfCharsToWrite,
                   LPDWORD lpNumberOfCharsWritten, LPVOID lpReserved);
// The code page that text written to standard output must be in: the
// locale's codeset (65001 for UTF-8, 20866 KOI8-R, 866, 28595 ISO-8859-5,
// 1251), 65001 when the locale names none of these.
UINT GetConsoleOutputCP();
// Sets the terminal's title with an escape sequence when standard output is a
// terminal; otherwise does nothing and succeeds.
BOOL SetConsoleTitleA(LPCSTR lpConsoleTitle);

// Code pages: 1251, 866, 20866, 28595 and CP_UTF8. WCHAR holds UTF-16 code
// units; every character these code pages know lies in the BMP.
#define CP_ACP 0u
#define CP_UTF8 65001u
int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar);
int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                        LPBOOL lpUsedDefaultChar);

// ---- Locale ------------------------------------------------------------------
// The first call sets the C library's locale from the environment
// (setlocale(LC_ALL, "")); the separators then come from that locale.
#define LOCALE_USER_DEFAULT 0x0400u
#define LOCALE_SDECIMAL 0x0000000Eu
#define LOCALE_STIME 0x0000001Eu
int GetLocaleInfoA(LCID Locale, LCTYPE LCType, LPSTR lpLCData, int cchData);
