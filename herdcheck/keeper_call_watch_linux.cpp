// The seccomp watch of the child's calls and the keeper's answers.
#include "keeper_call_watch_linux.h"

#ifdef HERDLAB_HAVE_SECCOMP

#include <fcntl.h>
#include <linux/seccomp.h>
#include <seccomp.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "keeper_confinement_linux.h"
#include "keeper_news_linux.h"

namespace {

// A path from the memory of the process that asked, page by page, so that
// a string ending just before an unmapped page is still read.
std::string PathOfCaller(pid_t pid, std::uint64_t address) {
    std::string path;
    constexpr std::uint64_t kPage = 4096;
    char buffer[kPage];
    while (path.size() < 1024) {
        const std::size_t chunk = kPage - address % kPage;
        iovec local = {buffer, chunk};
        iovec remote = {reinterpret_cast<void*>(address), chunk};
        const ssize_t got = process_vm_readv(pid, &local, 1, &remote, 1, 0);
        if (got <= 0) {
            break;
        }
        const std::size_t length = strnlen(buffer, static_cast<std::size_t>(got));
        path.append(buffer, length);
        if (length < static_cast<std::size_t>(got)) {
            break;
        }
        address += static_cast<std::uint64_t>(got);
    }
    return path;
}

// The path argument of a watched call, and the folder it is relative to.
std::uint64_t PathArgument(const seccomp_data& call, bool& relativeToFd) {
    const bool at = call.nr == SCMP_SYS(openat) || call.nr == SCMP_SYS(mkdirat);
    relativeToFd = at && static_cast<int>(call.args[0]) != AT_FDCWD;
    return at ? call.args[1] : call.args[0];
}

void NoteWrite(const KeeperPlan& plan, const seccomp_notif& request) {
    bool relativeToFd = false;
    const std::uint64_t address = PathArgument(request.data, relativeToFd);
    const std::string path = PathOfCaller(static_cast<pid_t>(request.pid), address);
    // Only what can be resolved here is reported; Landlock refuses the rest too.
    if (!path.empty() && !(relativeToFd && !path.starts_with("/")) && !WriteAllowed(path, plan)) {
        SendKeeperNews(plan.report, KeeperNews::kWroteOutside, 0, path.c_str());
    }
}

}  // namespace

bool CallWatchBuilt() {
    return true;
}

bool CallWatchOffered() {
    return seccomp_api_get() >= 5;  // the notify calls
}

// Every socket and every open for writing goes to the keeper.
int InstallCallWatch() {
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
    if (filter == nullptr) {
        return -1;
    }
    bool added =
        seccomp_rule_add(filter, SCMP_ACT_NOTIFY, SCMP_SYS(socket), 0) == 0 &&
        seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(io_uring_setup), 0) == 0 &&
        seccomp_rule_add(filter, SCMP_ACT_NOTIFY, SCMP_SYS(creat), 0) == 0 &&
        seccomp_rule_add(filter, SCMP_ACT_NOTIFY, SCMP_SYS(mkdir), 0) == 0 &&
        seccomp_rule_add(filter, SCMP_ACT_NOTIFY, SCMP_SYS(mkdirat), 0) == 0;
    for (const scmp_datum_t flag : {O_WRONLY, O_RDWR, O_CREAT}) {
        added = added &&
                seccomp_rule_add(filter, SCMP_ACT_NOTIFY, SCMP_SYS(open), 1,
                                 SCMP_A1(SCMP_CMP_MASKED_EQ, flag, flag)) == 0 &&
                seccomp_rule_add(filter, SCMP_ACT_NOTIFY, SCMP_SYS(openat), 1,
                                 SCMP_A2(SCMP_CMP_MASKED_EQ, flag, flag)) == 0;
    }
    const int listener = added && seccomp_load(filter) == 0 ? seccomp_notify_fd(filter) : -1;
    seccomp_release(filter);
    return listener;
}

// Answers one watched call: a socket is refused; an open or a folder is
// noted and left to the kernel, where Landlock decides.
void AnswerWatchedCall(const KeeperPlan& plan, int listener) {
    seccomp_notif* request = nullptr;
    seccomp_notif_resp* response = nullptr;
    if (seccomp_notify_alloc(&request, &response) != 0) {
        return;
    }
    if (seccomp_notify_receive(listener, request) == 0) {
        response->id = request->id;
        if (request->data.nr == SCMP_SYS(socket)) {
            const auto family = static_cast<int>(request->data.args[0]);
            if (family == AF_INET || family == AF_INET6 || family == AF_PACKET) {
                SendKeeperNews(plan.report, KeeperNews::kNetworkTried, family);
            }
            response->error = -EACCES;
        } else {
            NoteWrite(plan, *request);
            response->flags = SECCOMP_USER_NOTIF_FLAG_CONTINUE;
        }
        seccomp_notify_respond(listener, response);
    }
    seccomp_notify_free(request, response);
}

#else  // built without libseccomp: no watch

bool CallWatchBuilt() {
    return false;
}

bool CallWatchOffered() {
    return false;
}

int InstallCallWatch() {
    return -1;
}

void AnswerWatchedCall(const KeeperPlan&, int) {}

#endif
