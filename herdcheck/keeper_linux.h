// The keeper: a small process of the checker's own between the checker and
// each child it checks, on Linux. Where the machine allows unprivileged user
// namespaces, its child is the first process of the child's own user,
// process and network namespaces and the child's parent: so everything the
// child starts ends with it, and the child has no network interface but a
// loopback that is down. Without them the keeper is the child's parent and
// takes in its orphans. Before the child's program runs, the keeper's fork
// of it limits processes and memory, confines its writes to its scratch
// folder with Landlock, and (in a build with libseccomp) a seccomp filter
// hands the keeper every socket the child asks for and every file it opens
// for writing. The child's XDG_RUNTIME_DIR leads its layer to the place of
// its own block inside its scratch folder. The keeper refuses the sockets, and notes what the child
// tried, for the checker's report.
//
// The keeper tells the checker what happens through a pipe of messages
// (keeper_news_linux.h). Its parts: the confinement before exec
// (keeper_confinement_linux.h), the watch of the child's calls
// (keeper_call_watch_linux.h) and the supervision (keeper_linux.cpp).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "containment_unit.h"

// What the machine and this build offer; probed once by the checker.
struct SandboxSupport {
    bool namespaces = false;      // unprivileged user, process and network namespaces
    int landlockAbi = 0;          // 0: none
    bool seccomp = false;         // a filter whose calls a supervisor answers
    bool callWatchBuilt = false;  // this herdcheck has the call watch (built with libseccomp)
};
SandboxSupport ProbeSandbox();

// The protection line of the report's header for what `support` offers
// (Windows-1251): "защита: ...", then what is missing after "не хватает:".
std::string ProtectionLine(const SandboxSupport& support);

// A build with AddressSanitizer or ThreadSanitizer (children included)
// reserves terabytes of address space for its shadow memory: there only the
// resident memory is limited, by the checker.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kAddressSpaceLimited = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool kAddressSpaceLimited = false;
#else
inline constexpr bool kAddressSpaceLimited = true;
#endif
#else
inline constexpr bool kAddressSpaceLimited = true;
#endif

inline constexpr std::uint64_t kMostChildMemoryBytes =
    static_cast<std::uint64_t>(kMostMemoryMegabytes) * 1024 * 1024;

struct KeeperPlan {
    const char* program = nullptr;  // absolute path
    char* const* argv = nullptr;
    int input = -1;                 // the child's standard input
    int output = -1;                // its standard output and error
    int report = -1;                // write end of the message pipe (close-on-exec)
    const char* scratch = nullptr;  // the child's own folder, its current folder
    const char* runtimeFolder =
        "";  // its XDG_RUNTIME_DIR, in the scratch folder: its block's place
    SandboxSupport support;
    uid_t uid = 0;  // the checker's user, mapped to itself inside the namespace
    gid_t gid = 0;
    pid_t checker = 0;
};

// Runs in the process the checker has just forked; never returns.
[[noreturn]] void RunKeeper(const KeeperPlan& plan);
