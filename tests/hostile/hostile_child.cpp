// A misbehaving child for the hostile-input tests, written against the
// documented interfaces only (no herdlab code), as a foreign child is. What it
// does depends on the name it is started under:
//
//   stageworker  prints "worker-args" and its four arguments in one line, then
//                becomes the real worker ("real-stageworker" beside it), so a
//                test learns the monitor's message-thread id while the
//                workers behave as usual.
//   tusker6      a feeder child that misbehaves by its elephant's name:
//                  Aun     writes 2 into all eight slots (twice), then waits
//                  Assam   writes 0xFF into all eight slots (twice), then waits
//                  Maya    maps its block, unmaps it at once, then waits
//                  BakZap  ends at once
//                  Hao     truncates its block to 0 bytes, then waits
//                  others  eat every portion in ring order until fed
//                "Waits" means: sleeps until the feeder ends it.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../named_place.h"

namespace {

constexpr int kSlots = 8;

std::string BaseName(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

void WriteLine(const std::string& line) {
    const std::string text = line + "\n";
    if (write(1, text.data(), text.size()) < 0) {
        std::_Exit(3);
    }
}

[[noreturn]] void WaitToBeEnded() {
    for (;;) {
        pause();
    }
}

int RecordAndBecomeWorker(char** argv) {
    std::string line = "worker-args";
    for (int i = 1; argv[i] != nullptr; ++i) {
        line += ' ';
        line += argv[i];
    }
    WriteLine(line);
    const std::string self = argv[0];
    std::string real = "real-stageworker";
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length > 0) {
        const std::string own(path, static_cast<std::size_t>(length));
        real = own.substr(0, own.rfind('/') + 1) + real;
    }
    execv(real.c_str(), argv);
    WriteLine("worker-exec-failed " + real);
    return 1;
}

// The block's file: the escaped name, whose first byte is the name's length
// (below 32 for the names used here), in the user's place.
std::string BlockPath(const std::string& name) {
    char length[8];
    std::snprintf(length, sizeof length, "%%%02X", static_cast<unsigned>(name.size()));
    return named_place::BlockFile(length + name);
}

unsigned char* MapBlock(int fd) {
    void* view = mmap(nullptr, kSlots, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return view == MAP_FAILED ? nullptr : static_cast<unsigned char*>(view);
}

void FillSlots(unsigned char* ring, unsigned char value) {
    for (int slot = 0; slot < kSlots; ++slot) {
        std::atomic_ref<unsigned char>(ring[slot]).store(value);
    }
}

// The feeder's ration rule: 5 x weight x weight, rounded up.
long Ration(double weight) {
    return static_cast<long>(std::ceil(5.0 * weight * weight));
}

void Eat(unsigned char* ring, long ration) {
    int position = 0;
    for (long eaten = 0; eaten < ration;) {
        std::atomic_ref<unsigned char> slot(ring[position]);
        if (slot.load() == 1) {
            slot.store(0);
            position = (position + 1) % kSlots;
            ++eaten;
        } else {
            usleep(5000);
        }
    }
}

int FeederChild(int argc, char** argv) {
    if (argc < 4) {
        return 2;
    }
    const std::string name = argv[1];
    if (name == "BakZap") {
        return 0;
    }
    const int fd = open(BlockPath(name).c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        WriteLine(name + ": no block");
        return 1;
    }
    if (name == "Hao") {
        if (ftruncate(fd, 0) != 0) {
            WriteLine(name + ": truncate failed");
        }
        WaitToBeEnded();
    }
    unsigned char* ring = MapBlock(fd);
    if (ring == nullptr) {
        WriteLine(name + ": map failed");
        return 1;
    }
    if (name == "Aun" || name == "Assam") {
        // Once more after a moment: a portion the feeder placed right at
        // the start is overwritten too, so the test knows every slot's value.
        const unsigned char value = name == "Aun" ? 2 : 0xFF;
        FillSlots(ring, value);
        usleep(500000);
        FillSlots(ring, value);
        WaitToBeEnded();
    }
    if (name == "Maya") {
        munmap(ring, kSlots);
        close(fd);
        WaitToBeEnded();
    }
    Eat(ring, Ration(std::strtod(argv[3], nullptr)));
    WriteLine(name + ": fed");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string role = BaseName(argv[0]);
    if (role == "stageworker") {
        return RecordAndBecomeWorker(argv);
    }
    return FeederChild(argc, argv);
}
