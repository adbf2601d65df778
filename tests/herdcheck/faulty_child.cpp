// Feeder children with one deliberate fault each, for herdcheck's tests. The
// build compiles this source once and links it once per fault, as
// faulty_<fault>: the name the child runs under says which fault it has.
// Under any other name it is a correct child.
//
//   spins           polls an empty slot without pausing
//   out_of_order    takes the lowest full slot instead of the next in the ring
//   writes_two      writes 2 instead of 0 into the third slot it empties
//   one_too_many    eats its ration and one more
//   one_too_few     stops one portion short of its ration
//   never_ends      eats its ration and then waits for ever
//   crashes         aborts at once
//   ignores_comma   reads the weight with a point only, so "1,70" reads as 1
//   floods          eats correctly but writes output without end
//   puts_portion    the first time its next slot is empty, puts a 1 of its
//                   own four slots ahead (only a feeder places portions)
//
// The name may take several words: all words but the last two (age, weight).
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "command_line_unit.h"
#include "feed_ring_unit.h"
#include "locale_unit.h"
#include "number_text_unit.h"
#include "win32.h"

namespace {

enum class Fault {
    kNone,
    kSpins,
    kOutOfOrder,
    kWritesTwo,
    kOneTooMany,
    kOneTooFew,
    kNeverEnds,
    kCrashes,
    kIgnoresComma,
    kFloods,
    kPutsPortion,
};

struct NamedFault {
    std::string_view program;
    Fault fault;
};
constexpr NamedFault kNamedFaults[] = {
    {"faulty_spins", Fault::kSpins},           {"faulty_out_of_order", Fault::kOutOfOrder},
    {"faulty_writes_two", Fault::kWritesTwo},  {"faulty_one_too_many", Fault::kOneTooMany},
    {"faulty_one_too_few", Fault::kOneTooFew}, {"faulty_never_ends", Fault::kNeverEnds},
    {"faulty_crashes", Fault::kCrashes},       {"faulty_ignores_comma", Fault::kIgnoresComma},
    {"faulty_floods", Fault::kFloods},         {"faulty_puts_portion", Fault::kPutsPortion},
};

// The fault that the program's own file name gives.
Fault OwnFault() {
    char path[1024] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string_view program(path, length < sizeof path ? length : 0);
    program.remove_prefix(program.find_last_of("\\/") + 1);  // npos + 1 is 0
    if (program.ends_with(".exe")) {
        program.remove_suffix(4);
    }
    for (const NamedFault& named : kNamedFaults) {
        if (named.program == program) {
            return named.fault;
        }
    }
    return Fault::kNone;
}

const Fault kFault = OwnFault();

constexpr DWORD kPollPause = 5;
constexpr DWORD kEatingPause = 10;  // after each portion, so the feeder refills meanwhile
constexpr int kWrongWriteAt = 3;    // the portion written as 2
constexpr int kFloodChunks = 4;     // of 64 KiB after each portion

// The weight as a locale-blind program reads it: digits and a point only.
double PointOnlyWeight(const std::string& text) {
    double weight = 0;
    std::from_chars(text.data(), text.data() + text.size(), weight);
    return weight;
}

HANDLE block = nullptr;

unsigned char* OpenRing(const std::vector<std::string>& words) {
    std::string name;
    for (std::size_t word = 1; word + 2 < words.size(); ++word) {
        name += (word > 1 ? " " : "") + words[word];
    }
    block = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, FeedRingName(name).c_str());
    if (block == nullptr) {
        return nullptr;
    }
    return static_cast<unsigned char*>(MapViewOfFile(block, FILE_MAP_ALL_ACCESS, 0, 0, kRingSlots));
}

// The slot to eat from next, or -1 while there is nothing to eat there.
int NextSlot(unsigned char* ring, int position) {
    if (kFault == Fault::kOutOfOrder) {
        for (int slot = 0; slot < kRingSlots; ++slot) {
            if (LoadSlot(ring, slot) == kFullSlot) {
                return slot;
            }
        }
        return -1;
    }
    return LoadSlot(ring, position) == kFullSlot ? position : -1;
}

void WaitForFood(unsigned char* ring, int position) {
    static bool put = false;
    if (kFault == Fault::kPutsPortion && !put) {
        StoreSlot(ring, (position + 4) % kRingSlots, kFullSlot);
        put = true;
    }
    if (kFault != Fault::kSpins) {
        Sleep(kPollPause);
    }
}

// Far more output after each portion than a checker takes in a run.
void Flood() {
    static const std::string kChunk(64 * 1024, 'f');
    for (int chunk = 0; chunk < kFloodChunks; ++chunk) {
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), kChunk.data(), static_cast<DWORD>(kChunk.size()),
                  &written, nullptr);
    }
}

void Eat(unsigned char* ring, std::int32_t portions) {
    int position = 0;
    for (std::int32_t eaten = 0; eaten < portions;) {
        const int slot = NextSlot(ring, position);
        if (slot < 0) {
            WaitForFood(ring, position);
            continue;
        }
        ++eaten;
        StoreSlot(ring, slot,
                  kFault == Fault::kWritesTwo && eaten == kWrongWriteAt ? 2 : kEmptySlot);
        position = NextRingPosition(slot);
        if (kFault == Fault::kFloods) {
            Flood();
        }
        Sleep(kEatingPause);
    }
}

int Run() {
    if (kFault == Fault::kCrashes) {
        std::abort();
    }
    const std::vector<std::string> words = CommandLineWords(GetCommandLineA());
    if (words.size() < 4) {
        return 2;
    }
    unsigned char* ring = OpenRing(words);
    if (ring == nullptr) {
        return 1;
    }
    const double weight =
        kFault == Fault::kIgnoresComma ? PointOnlyWeight(words.back()) : TextToFloat(words.back());
    std::int32_t portions = RationOf(weight);
    portions += kFault == Fault::kOneTooMany ? 1 : 0;
    portions -= kFault == Fault::kOneTooFew ? 1 : 0;
    Eat(ring, portions);
    while (kFault == Fault::kNeverEnds) {
        Sleep(1000);
    }
    // Released, so that only the fault under test shows (a leak checker
    // would otherwise change the exit code).
    UnmapViewOfFile(ring);
    CloseHandle(block);
    return 0;
}

}  // namespace

int main() {
    ReadLocaleSettings();
    return Run();
}
