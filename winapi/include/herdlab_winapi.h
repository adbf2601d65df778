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
using DWORD_PTR = std::uintptr_t;
using PDWORD_PTR = DWORD_PTR*;
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
// conditions the programs or tests look at by number. Code written for
// Windows can test these names on both platforms.
#define ERROR_SUCCESS 0u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_PATH_NOT_FOUND 3u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_HANDLE_EOF 38u  // never reported by the layer: see ReadFile
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_BROKEN_PIPE 109u  // never reported by the layer: see ReadFile
#define ERROR_INSUFFICIENT_BUFFER 122u
#define ERROR_ALREADY_EXISTS 183u
#define ERROR_INVALID_FLAGS 1004u
#define ERROR_INVALID_THREAD_ID 1444u
#define ERROR_NOT_ENOUGH_QUOTA 1816u

// The calling thread's last error, as Windows: set by a failing call, left
// alone by most succeeding ones, so read it right after the failure.
DWORD GetLastError();
// Sets the calling thread's last error, as Windows.
void SetLastError(DWORD error);

// ---- Processes -----------------------------------------------------------------
#define STILL_ACTIVE 259u

#define IDLE_PRIORITY_CLASS 0x00000040u
#define BELOW_NORMAL_PRIORITY_CLASS 0x00004000u
#define NORMAL_PRIORITY_CLASS 0x00000020u
#define ABOVE_NORMAL_PRIORITY_CLASS 0x00008000u
#define HIGH_PRIORITY_CLASS 0x00000080u
#define REALTIME_PRIORITY_CLASS 0x00000100u
#define CREATE_SUSPENDED 0x00000004u
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

// Starts a child process. The first word of lpCommandLine (Windows-1251,
// split by the programs' own rules and passed as UTF-8 argv) names the
// program, searched in the caller's own folder, the current folder, then
// PATH, as Windows. The child inherits standard input, output and error and
// the environment and current directory, nothing else, and stays in the
// caller's session and process group. The priority class in dwCreationFlags
// is applied in the child before exec (the lowest class wins when several are
// given; a class beyond the user's rights falls to the highest one allowed).
// With CREATE_SUSPENDED the child stops just before exec, already in its
// class, until ResumeThread(hThread): whatever is done to it meanwhile holds
// from its program's first instruction on. Other flags are ignored. Fills
// *lpProcessInformation (process and thread ids are both the pid) and
// returns TRUE. FALSE with ERROR_FILE_NOT_FOUND
// when the program is not found, the errno of a failed fork or exec,
// ERROR_INVALID_PARAMETER for a non-null lpApplicationName, lpEnvironment or
// lpCurrentDirectory (unsupported), a null lpProcessInformation or an empty
// command line. Unlike Windows,
// lpProcessAttributes, lpThreadAttributes, bInheritHandles and
// lpStartupInfo are ignored: no other handle is ever inherited, and the
// child's standard streams are always the caller's.
BOOL CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine,
                    LPSECURITY_ATTRIBUTES lpProcessAttributes,
                    LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles,
                    DWORD dwCreationFlags, LPVOID lpEnvironment, LPCSTR lpCurrentDirectory,
                    LPSTARTUPINFOA lpStartupInfo, LPPROCESS_INFORMATION lpProcessInformation);
// STILL_ACTIVE while the child runs; once it has ended its exit code (the
// low 8 bits of its status), the code given to TerminateProcess, 0xC000013A
// after Ctrl+C, or 128 + the signal for another signal. STILL_ACTIVE for
// GetCurrentProcess(). FALSE with ERROR_INVALID_HANDLE for anything but a
// process handle, ERROR_INVALID_PARAMETER for a null lpExitCode. When the
// child was reaped behind the layer's back (SIGCHLD ignored, a wait for any
// child) its code is lost: FALSE with that wait's errno, and *lpExitCode set
// to the terminate code or 0. The first call after the end reaps the child.
BOOL GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode);
// Ends the child with SIGKILL; GetExitCodeProcess then reports uExitCode.
// TRUE once the signal is sent (the child may still be ending, as on
// Windows); a second call while it ends succeeds and keeps the first code.
// FALSE with ERROR_ACCESS_DENIED for a child that has already ended (as
// Windows), ERROR_INVALID_HANDLE for anything but a process handle. On
// GetCurrentProcess() it is ExitProcess(uExitCode).
BOOL TerminateProcess(HANDLE hProcess, UINT uExitCode);
// Lets a child created suspended go on to run its program and returns 1, its
// former suspend count, without waiting for it (an exec that fails then ends
// the child with code 127: Windows would have failed CreateProcessA). For any
// other thread handle, 0: it runs already. (DWORD)-1 with
// ERROR_INVALID_HANDLE for anything but a thread handle. Closing a suspended
// child's thread handle without resuming it ends the child unstarted, where
// Windows would leave it suspended.
DWORD ResumeThread(HANDLE hThread);
// The processors 0..63 that the process may run on, one bit each, and those
// the machine has (one processor group, as Windows gives without groups).
// For GetCurrentProcess() or a child's handle. FALSE with
// ERROR_INVALID_HANDLE for another handle, ERROR_ACCESS_DENIED for a child
// that has ended and been reaped, ERROR_INVALID_PARAMETER for a null pointer.
BOOL GetProcessAffinityMask(HANDLE hProcess, PDWORD_PTR lpProcessAffinityMask,
                            PDWORD_PTR lpSystemAffinityMask);
// Confines a child to the processors in the mask. Linux keeps the setting per
// thread: on a child created suspended (it has one thread, and its program
// inherits it) the whole child is confined, as Windows does for every
// thread; on a running child only its main thread and the threads that one
// starts later. FALSE with ERROR_INVALID_PARAMETER for an empty mask or one
// naming processors the machine lacks, ERROR_INVALID_HANDLE for anything but
// a child's handle (the layer does not move the calling process),
// ERROR_ACCESS_DENIED for a child that has ended and been reaped, the errno
// of a refused change.
BOOL SetProcessAffinityMask(HANDLE hProcess, DWORD_PTR dwProcessAffinityMask);
// The pseudo handle of the calling process (INVALID_HANDLE_VALUE, the same
// bits as Windows' (HANDLE)-1); it needs no closing.
HANDLE GetCurrentProcess();
// The calling process's id (its pid), as Windows.
DWORD GetCurrentProcessId();
// The class nearest to the process's Linux scheduling, always one of the six
// SCHED_RR/FIFO real time, SCHED_IDLE idle, else by nice value: >= 15 idle,
// 5..14 below normal, -4..4 normal, -14..-5 above normal, <= -15 high. 0 with ERROR_INVALID_HANDLE
// for anything but a process handle or GetCurrentProcess(), ERROR_ACCESS_DENIED for a child that
// has ended and been reaped, the errno when the scheduling cannot be read.
DWORD GetPriorityClass(HANDLE hProcess);
// Ends the process at once with uExitCode: no static destructors run (other
// threads may still be at work), stdout and stderr of the C library are
// flushed, the names of the shared-memory blocks only this process holds
// and the socket files of its thread queues are removed, as Windows closes an
// ending process's handles. Never returns.
[[noreturn]] void ExitProcess(UINT uExitCode);
// Releases the object behind a handle of the layer: a process handle (the
// child runs on), a thread handle (the thread runs on), a shared-memory
// handle (the name ends with its last holder) or a standard-stream handle
// (the descriptor stays open). Closing GetCurrentProcess()'s pseudo handle
// does nothing and succeeds, as Windows. FALSE with ERROR_INVALID_HANDLE for
// null, a handle already closed and anything not made by the layer, as
// Windows: a handle is a slot of the process's handle table with a
// generation, not an address, so a stale one leads to nothing. The same holds
// for every call that takes a handle.
BOOL CloseHandle(HANDLE hObject);
// The process's command line in Windows-1251, rebuilt from argv so that the
// programs' own splitting gives back the same words: words with blanks or
// control characters are quoted; a double quote inside a word is dropped
// (the rules cannot express it). Read once; the text stays valid until the
// process ends. Never fails. Windows gives the command line as it was passed.
LPSTR GetCommandLineA();
// The full path of the program file (hModule must be null, the main module),
// in Windows-1251, zero-terminated. Returns its length without the
// terminator. A path that does not fit is cut to nSize - 1 characters and
// nSize is returned with ERROR_INSUFFICIENT_BUFFER, as Windows; nSize 0
// gives 0 and the same error. 0 with ERROR_INVALID_HANDLE for another
// module, with the errno when the path cannot be read.
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
// clock. Creation and exit times are not kept and are returned as 0. A
// thread that has barely run reads a small number, 0 on Windows until its
// first tick: a reading, not a failure. FALSE with the errno only where the
// kernel gives no thread clock.
BOOL GetThreadTimes(HANDLE hThread, LPFILETIME lpCreationTime, LPFILETIME lpExitTime,
                    LPFILETIME lpKernelTime, LPFILETIME lpUserTime);
// Sleep(0) gives up the rest of the time slice; Sleep(n) waits at least n ms
// on the monotonic clock without using the processor, and a signal handler
// does not shorten it; INFINITE never returns. As Windows.
void Sleep(DWORD dwMilliseconds);
// Milliseconds since the system started (the monotonic clock) in 32 bits,
// wrapping after 49.7 days, as Windows.
DWORD GetTickCount();
// The local time of day and date, from the C library's time zone (TZ read at
// the first call), to the millisecond. A leap second reads as second 59.
// As Windows otherwise; never fails.
void GetLocalTime(SYSTEMTIME* lpSystemTime);
// The same for UTC.
void GetSystemTime(SYSTEMTIME* lpSystemTime);
// Nanoseconds of the monotonic clock; always TRUE, as on every Windows since
// XP. The frequency is 10^9 (Windows: 10^7 on most systems): divide by
// QueryPerformanceFrequency, never assume it.
BOOL QueryPerformanceCounter(LARGE_INTEGER* lpPerformanceCount);
BOOL QueryPerformanceFrequency(LARGE_INTEGER* lpFrequency);

// ---- The user's own place for named objects ------------------------------------
// Thread queues and named blocks are files in a folder only their user can
// create, enter or read, as Windows keeps them per session (a fixed name in
// /tmp, /dev/shm or the abstract socket namespace could be taken first by any
// local user). The place is, in this order:
//   1. $XDG_RUNTIME_DIR/herdlab when XDG_RUNTIME_DIR is an absolute path;
//   2. $HOME/.herdlab when HOME is an absolute path (su, cron and a bare
//      setpriv leave XDG_RUNTIME_DIR unset).
// A missing one is made with mode 0700. One that is not a real folder of the
// user with no access for group and others, or whose parent belongs to
// another user (root aside) or is writable by others without the sticky bit,
// is refused: never used, changed or removed; the next choice is tried (so
// is a path longer than 72 bytes: a socket's path must fit sockaddr_un). With
// no usable choice the layer says on standard error what it refused, and
// calls on named objects fail with ERROR_ACCESS_DENIED (a choice was refused)
// or ERROR_PATH_NOT_FOUND (none was set or could be made); a queue cannot be
// made then, and posts fail with ERROR_INVALID_THREAD_ID. Programs that do
// not use this library find the place the same way.

// ---- Thread messages -----------------------------------------------------------
// A thread's queue is an AF_UNIX datagram socket bound to the file
// "herdlab-msg-<uid>-<tid>" in the user's own place (above); a message is one
// 24-byte little-endian datagram: uint32 message, uint32 zero, uint64 wParam,
// int64 lParam. Programs that do not use this library may speak it. The socket
// file goes with its queue; one left by a killed process is removed by the
// next queue of that name, once nothing listens on it. A thread gets
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
// errno when the queue cannot be created or read (the place's error when
// the user has no place). Datagrams from other users
// or of the wrong size are dropped unseen. Differs from Windows: there are no
// windows, so hWnd and the filter range are ignored and every message is
// taken in arrival order.
BOOL GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax);

// ---- Named shared memory -------------------------------------------------------
// A named block is the file "herdlab-map-<uid>-<name>" in the user's own place
// (above), each name byte outside [A-Za-z0-9._-] written as "%XX"; files not
// owned by the user or not mode 0600 are refused (ERROR_ACCESS_DENIED), never
// used, resized or removed. Only named,
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
// ERROR_ACCESS_DENIED for a refused object or place, ERROR_PATH_NOT_FOUND
// for no place; ENAMETOOLONG for a name longer than the file system takes;
// else the errno. Security attributes are
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

// A handle for descriptor 0, 1 or 2, as Windows. The handle names the
// descriptor, open or not: a closed stream shows at the first call that uses
// it. INVALID_HANDLE_VALUE with ERROR_INVALID_HANDLE for any other number.
HANDLE GetStdHandle(DWORD nStdHandle);
// FILE_TYPE_CHAR for a terminal or other character device, FILE_TYPE_PIPE
// for a pipe or socket, FILE_TYPE_DISK for a file; FILE_TYPE_UNKNOWN with
// ERROR_INVALID_HANDLE for a closed descriptor or a handle that is not a
// standard stream. As Windows.
DWORD GetFileType(HANDLE hFile);
// Writes all bytes of a standard stream, in one write call where the system
// allows it (a pipe takes up to 4096 bytes at once), and retries after
// signals and a full non-blocking pipe. TRUE when all were written; FALSE
// with the errno (EPIPE = 32 for a reader gone, without SIGPIPE ending the
// process; Windows says ERROR_NO_DATA, 232) and the count written so far.
// ERROR_INVALID_HANDLE for a handle that is not a standard stream,
// ERROR_INVALID_PARAMETER for overlapped output or a null buffer.
BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, void* lpOverlapped);
// Reads up to the given count from a standard stream, retrying after
// signals. TRUE with the count read; 0 read means the end of input, for a
// file, a pipe whose writer closed and a terminal alike (Windows fails some
// of these with ERROR_HANDLE_EOF or ERROR_BROKEN_PIPE; the layer never
// reports those two numbers). FALSE with the errno otherwise, errors as
// WriteFile.
BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, void* lpOverlapped);
// Always FALSE with ERROR_INVALID_HANDLE, unlike Windows on a console: a
// Linux terminal takes bytes, not UTF-16, so callers that write UTF-16 only
// to a console write encoded bytes with WriteFile instead.
BOOL GetConsoleMode(HANDLE hConsoleHandle, LPDWORD lpMode);
// Writes UTF-16 units to a standard stream encoded in GetConsoleOutputCP(),
// in one WriteFile call; TRUE with the count of units. Works on any standard
// stream, console or not (Windows needs a console). Errors as WriteFile, and
// ERROR_INVALID_PARAMETER for a null buffer.
BOOL WriteConsoleW(HANDLE hConsoleOutput, const void* lpBuffer, DWORD nNumberOfCharsToWrite,
                   LPDWORD lpNumberOfCharsWritten, LPVOID lpReserved);
// The code page that text written to standard output must be in: the
// locale's codeset (65001 for UTF-8, 20866 KOI8-R, 866, 28595 ISO-8859-5,
// 1251), 65001 when the locale names none of these. Never fails. Windows
// gives the console's code page, and 0 without a console.
UINT GetConsoleOutputCP();
// Sets the terminal's title with an escape sequence when standard output is a
// terminal, each control character of the title written as '?'. Otherwise does
// nothing. Always TRUE (Windows fails without a console).
BOOL SetConsoleTitleA(LPCSTR lpConsoleTitle);

// Code pages: 1251 (also CP_ACP, the process's ANSI code page), 866, 20866,
// 28595 and CP_UTF8. WCHAR holds UTF-16 code units; every character these
// code pages know lies in the BMP. Windows-1251 byte 0x98 is U+0098, as
// Windows maps it, so every byte round-trips.
#define CP_ACP 0u
#define CP_UTF8 65001u
// Bytes of `CodePage` to UTF-16 units, as Windows. cbMultiByte -1 converts
// through the zero terminator, included. cchWideChar 0 returns the count
// needed and writes nothing. Returns the count written; 0 with
// ERROR_INSUFFICIENT_BUFFER when it does not fit (nothing written), with
// ERROR_INVALID_PARAMETER for an unknown code page, a null or empty input or
// a negative size. dwFlags are ignored; malformed UTF-8 becomes U+FFFD, as
// Windows without MB_ERR_INVALID_CHARS.
int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar);
// UTF-16 units to bytes of `CodePage`, sizes and errors as
// MultiByteToWideChar. A character the code page lacks becomes
// lpDefaultChar[0] ('?' when null) and sets *lpUsedDefaultChar; both must be
// null for CP_UTF8 (ERROR_INVALID_PARAMETER otherwise), where a lone
// surrogate becomes U+FFFD. dwFlags are ignored and there is no best-fit
// mapping (Windows maps some characters to look-alikes).
int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                        LPBOOL lpUsedDefaultChar);

// ---- Locale ------------------------------------------------------------------
// The first call sets the C library's locale from the environment
// (setlocale(LC_ALL, "")); the separators then come from that locale.
#define LOCALE_USER_DEFAULT 0x0400u
#define LOCALE_SDECIMAL 0x0000000Eu
#define LOCALE_STIME 0x0000001Eu
// The user's decimal separator (LOCALE_SDECIMAL; "." when the locale names
// none) or time separator (LOCALE_STIME, the text after the hour in the
// locale's time format; ":" when none), in Windows-1251, zero-terminated.
// Locale is ignored: always the user's. cchData 0 returns the size needed,
// terminator included. Returns the count written with the terminator; 0 with
// ERROR_INSUFFICIENT_BUFFER when it does not fit, ERROR_INVALID_PARAMETER for
// a null buffer or a negative size, ERROR_INVALID_FLAGS for any other
// LCType. As Windows for these two types.
int GetLocaleInfoA(LCID Locale, LCTYPE LCType, LPSTR lpLCData, int cchData);
