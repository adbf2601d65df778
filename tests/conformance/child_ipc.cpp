// Roles of conformance_child for the thread-message and shared-memory tests.
// Like the other roles they answer through the exit code:
//
//   ipc-register NAME ID      0 when RegisterWindowMessageA(NAME) is ID, else 1
//   ipc-echo THREAD           a message thread posts kHello with its id in
//                             lParam to THREAD, then posts every message back
//                             to THREAD; WM_QUIT ends the process with the
//                             number of messages echoed
//   ipc-shm-write HEX         opens the block named by HEX (Windows-1251 bytes
//                             in hex) and writes 1..8 into its 8 slots; 0 when
//                             done, 2 when it cannot open, 3 cannot map
//   ipc-shm-exit HEX          creates the block and ends with ExitProcess(0)
//                             without closing it
//   ipc-shm-hold-marked HEX   creates the block, writes 1..8 into its slots
//                             and waits 30 s to be ended from outside; 2 when
//                             it cannot create or map the block
//   ipc-named-objects HEX     creates the block and posts a message to its own
//                             thread's queue and takes it: 0 when both work,
//                             100 + the error when the block cannot be made,
//                             150 + the error when the queue cannot
//   ipc-shm-hold HEX          (Linux) creates the block and waits up to 30 s
//                             for a signal
//   ipc-shm-hold-own-handler HEX
//                             (Linux) the same with its own SIGTERM handler,
//                             which ends the process with 42
//   ipc-shm-hold-ignoring-sigint HEX
//                             (Linux) ignores SIGINT, creates the block,
//                             answers "alive" to a line on its standard
//                             input and ends normally at the input's end,
//                             without closing the block
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "child_roles.h"
#include "ipc_test_support.h"
#include "win32.h"

#ifndef _WIN32
#include <signal.h>
#include <unistd.h>
#endif

namespace {

std::atomic<DWORD> echoTarget{0};

DWORD WINAPI EchoMessages(LPVOID) {
    const DWORD target = echoTarget.load();
    // The test's thread may not have its queue yet: keep announcing.
    for (int attempt = 0; attempt < 1000; ++attempt) {
        if (PostThreadMessageA(target, ipc_test::kHello, 0,
                               static_cast<LPARAM>(GetCurrentThreadId()))) {
            break;
        }
        Sleep(10);
    }
    MSG message{};
    UINT echoed = 0;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        PostThreadMessageA(target, message.message, message.wParam, message.lParam);
        ++echoed;
    }
    ExitProcess(echoed);
}

int Echo(DWORD target) {
    echoTarget.store(target);
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, EchoMessages, nullptr, 0, &id);
    if (thread == nullptr) {
        return 2;
    }
    Sleep(30000);  // the message thread ends the process
    return 3;
}

int WriteSlots(const std::string& name) {
    HANDLE block = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name.c_str());
    if (block == nullptr) {
        return 2;
    }
    auto* slots = static_cast<unsigned char*>(MapViewOfFile(block, FILE_MAP_ALL_ACCESS, 0, 0, 8));
    if (slots == nullptr) {
        return 3;
    }
    for (int i = 0; i < 8; ++i) {
        slots[i] = static_cast<unsigned char>(i + 1);
    }
    UnmapViewOfFile(slots);
    CloseHandle(block);
    return 0;
}

int HoldMarkedBlock(const std::string& name) {
    // Kept in statics: the handle and view are deliberately never released.
    static HANDLE block = nullptr;
    static unsigned char* slots = nullptr;
    block = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 8, name.c_str());
    if (block != nullptr) {
        slots = static_cast<unsigned char*>(MapViewOfFile(block, FILE_MAP_ALL_ACCESS, 0, 0, 8));
    }
    if (slots == nullptr) {
        return 2;
    }
    for (int i = 0; i < 8; ++i) {
        slots[i] = static_cast<unsigned char>(i + 1);
    }
    Sleep(30000);
    return 0;
}

int MakeNamedObjects(const std::string& name) {
    HANDLE block =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 8, name.c_str());
    if (block == nullptr) {
        return 100 + static_cast<int>(GetLastError());
    }
    MSG message{};
    if (!PostThreadMessageA(GetCurrentThreadId(), WM_USER, 7, 0)) {
        GetMessageA(&message, nullptr, 0, 0);  // gives the queue's own error
        return 150 + static_cast<int>(GetLastError());
    }
    const bool taken = GetMessageA(&message, nullptr, 0, 0) == TRUE && message.wParam == 7;
    CloseHandle(block);
    return taken ? 0 : 150;
}

#ifndef _WIN32

void ExitWith42(int) {
    _exit(42);
}

int HoldBlock(std::string_view role, const std::string& name) {
    // As a program started from a terminal, whatever the test runner ignores.
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    if (role == "ipc-shm-hold-own-handler") {
        signal(SIGTERM, ExitWith42);
    }
    const bool ignoring = role == "ipc-shm-hold-ignoring-sigint";
    if (ignoring) {
        signal(SIGINT, SIG_IGN);
    }
    // Kept in a static: the handle is deliberately never closed.
    static HANDLE block = nullptr;
    block = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 8, name.c_str());
    if (block == nullptr) {
        return 2;
    }
    if (ignoring) {
        // Any signal sent before the line has been dealt with once the read
        // of the line returns: the answer tells the test so.
        char line[16];
        if (std::fgets(line, sizeof line, stdin) == nullptr) {
            return 3;
        }
        std::fputs("alive\n", stdout);
        std::fflush(stdout);
        while (std::fgets(line, sizeof line, stdin) != nullptr) {
        }
        return 0;  // the block stays open: its name goes when the process exits
    }
    // Short sleeps: a sanitizer runtime delivers signals between calls.
    for (int waited = 0; waited < 30000; waited += 10) {
        Sleep(10);
    }
    return 0;  // the block stays open: its name goes when the process exits
}

#endif  // _WIN32

}  // namespace

int RunIpcRole(int argc, char** argv) {
    const std::string_view role = argc > 1 ? argv[1] : "";
    const std::string argument = argc > 2 ? argv[2] : "";
    if (role == "ipc-register" && argc > 3) {
        return RegisterWindowMessageA(argv[2]) == std::strtoul(argv[3], nullptr, 10) ? 0 : 1;
    }
    if (role == "ipc-echo") {
        return Echo(static_cast<DWORD>(std::strtoul(argument.c_str(), nullptr, 10)));
    }
    if (role == "ipc-shm-write") {
        return WriteSlots(ipc_test::BytesOfHex(argument));
    }
    if (role == "ipc-shm-exit") {
        const std::string name = ipc_test::BytesOfHex(argument);
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 8, name.c_str());
        ExitProcess(0);
    }
    if (role == "ipc-named-objects") {
        return MakeNamedObjects(ipc_test::BytesOfHex(argument));
    }
    if (role == "ipc-shm-hold-marked") {
        return HoldMarkedBlock(ipc_test::BytesOfHex(argument));
    }
#ifndef _WIN32
    if (role.starts_with("ipc-shm-hold")) {
        return HoldBlock(role, ipc_test::BytesOfHex(argument));
    }
#endif
    return -1;
}
