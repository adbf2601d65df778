// Feeder children that eat correctly but first do one harmful thing each,
// for the test of herdcheck's containment (Linux). The build compiles this
// source once and links it once per harm, as harmful_<harm>: the name it runs
// under says which harm it does. Then it becomes the sample child of its
// data set (the program its first word names, from its own folder), which
// eats its ration correctly, so that only the harm can fail it.
//
//   leaves_process  starts a grandchild in a session of its own that sleeps on
//   starts_many     starts 300 sleeping processes
//   writes_files    writes a file in the home folder, in /tmp and beside itself
//   connects        connects to 127.0.0.1 by TCP and sends a UDP datagram, to
//                   the port in HERDCHECK_HARMFUL_PORT (default 47821)
//   eats_memory     touches up to 3 GB of memory and holds it a moment
//
// The files and processes it makes carry "herdcheck-harmful" or its own name,
// so that the test can look for them.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr unsigned kSleepSeconds = 600;
constexpr int kProcessStorm = 300;
constexpr std::size_t kMemoryGoal = 3ull << 30;
constexpr std::size_t kMemoryChunk = 32u << 20;
constexpr useconds_t kHoldMemoryUs = 400000;  // long enough for the checker to look

std::string OwnPath() {
    char path[4096] = {};
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

void LeaveProcess() {
    if (fork() == 0) {
        setsid();
        if (fork() == 0) {
            sleep(kSleepSeconds);
        }
        _exit(0);
    }
}

void StartMany() {
    for (int started = 0; started < kProcessStorm; ++started) {
        if (fork() == 0) {
            sleep(kSleepSeconds);
            _exit(0);
        }
    }
}

void WriteFileAt(const std::string& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) {
        [[maybe_unused]] const ssize_t written = write(fd, "hostile\n", 8);
        close(fd);
    }
}

void WriteFiles() {
    const char* home = std::getenv("HOME");
    WriteFileAt(std::string(home != nullptr ? home : "/root") + "/herdcheck-harmful.txt");
    WriteFileAt("/tmp/herdcheck-harmful.txt");
    const std::string own = OwnPath();
    WriteFileAt(own.substr(0, own.rfind('/') + 1) + "herdcheck-harmful.txt");
}

void Connect() {
    const char* text = std::getenv("HERDCHECK_HARMFUL_PORT");
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(text != nullptr ? std::atoi(text) : 47821));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto* to = reinterpret_cast<const sockaddr*>(&address);
    const int tcp = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (tcp >= 0) {
        connect(tcp, to, sizeof address);
        close(tcp);
    }
    const int udp = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (udp >= 0) {
        sendto(udp, "hostile", 7, 0, to, sizeof address);
        close(udp);
    }
}

void EatMemory() {
    std::vector<char*> chunks;
    for (std::size_t taken = 0; taken < kMemoryGoal; taken += kMemoryChunk) {
        auto* chunk = static_cast<char*>(std::malloc(kMemoryChunk));
        if (chunk == nullptr) {
            break;
        }
        std::memset(chunk, 1, kMemoryChunk);
        chunks.push_back(chunk);
    }
    usleep(kHoldMemoryUs);
    for (char* chunk : chunks) {
        std::free(chunk);
    }
}

enum class Harm { kNone, kLeavesProcess, kStartsMany, kWritesFiles, kConnects, kEatsMemory };

struct NamedHarm {
    std::string_view program;
    Harm harm;
};
constexpr NamedHarm kNamedHarms[] = {
    {"harmful_leaves_process", Harm::kLeavesProcess}, {"harmful_starts_many", Harm::kStartsMany},
    {"harmful_writes_files", Harm::kWritesFiles},     {"harmful_connects", Harm::kConnects},
    {"harmful_eats_memory", Harm::kEatsMemory},
};

Harm HarmOf(std::string_view program) {
    for (const NamedHarm& named : kNamedHarms) {
        if (named.program == program) {
            return named.harm;
        }
    }
    return Harm::kNone;
}

void Do(Harm harm) {
    switch (harm) {
        case Harm::kLeavesProcess:
            LeaveProcess();
            break;
        case Harm::kStartsMany:
            StartMany();
            break;
        case Harm::kWritesFiles:
            WriteFiles();
            break;
        case Harm::kConnects:
            Connect();
            break;
        case Harm::kEatsMemory:
            EatMemory();
            break;
        case Harm::kNone:
            break;
    }
}

}  // namespace

int main(int, char** argv) {
    const std::string own = OwnPath();
    Do(HarmOf(std::string_view(own).substr(own.rfind('/') + 1)));
    // The sample child of the data set eats the ration.
    const std::string sample = own.substr(0, own.rfind('/') + 1) + argv[0];
    execv(sample.c_str(), argv);
    return 127;
}
