// A stand-in for a feeder's child, for the tests. Copied into a folder beside
// a feeder under the child program's name, it behaves by the name it gets:
//
//   Aun   never eats; it watches its ring and keeps printing the slots and
//         how many portions arrived (slots seen turning from 0 to 1).
//   Maya  waits for a full ring, empties slot 3 once and then eats nothing
//         more; it prints the same. A feeder that looks ahead of its ring
//         position would fill slot 3 again.
//   else  eats every portion as soon as it arrives until it has its ration.
//
// Once it has its block it says so, with its class: "<name>: began, приоритет
// - <class>".
// The name may take several words: all words but the last two (age, weight).
#include <cstdint>
#include <string>
#include <vector>

#include "command_line_unit.h"
#include "cp1251_unit.h"
#include "errors_unit.h"
#include "feed_ring_unit.h"
#include "locale_unit.h"
#include "myProcedure_unit.h"
#include "number_text_unit.h"
#include "priority_unit.h"
#include "win32.h"

namespace {

constexpr DWORD kPollPause = 5;
constexpr DWORD kReportEvery = 250;  // ms between two watch lines
constexpr int kEmptiedSlot = 3;

std::string childName;
double childWeight = 0;
unsigned char* ring = nullptr;

void ReadArguments() {
    const std::vector<std::string> words = CommandLineWords(GetCommandLineA());
    for (std::size_t word = 1; word + 2 < words.size(); ++word) {
        childName += (word > 1 ? " " : "") + words[word];
    }
    TextToInteger(words.size() >= 3 ? words[words.size() - 2] : "");
    childWeight = TextToFloat(words.size() >= 2 ? words.back() : "");
}

bool OpenRing() {
    const std::string blockName = FeedRingName(childName);
    HANDLE block = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, blockName.c_str());
    if (block == nullptr) {
        return false;
    }
    ring = static_cast<unsigned char*>(MapViewOfFile(block, FILE_MAP_ALL_ACCESS, 0, 0, kRingSlots));
    return ring != nullptr;
}

void EatRation() {
    const std::int32_t ration = RationOf(childWeight);
    int position = 0;
    for (std::int32_t eaten = 0; eaten < ration;) {
        if (LoadSlot(ring, position) == kFullSlot) {
            StoreSlot(ring, position, kEmptySlot);
            position = NextRingPosition(position);
            ++eaten;
        } else {
            Sleep(kPollPause);
        }
    }
    PrintLine("%s: fed", {std::string_view(childName)});
}

// Prints "<name>: <slot bytes> <portions>" until the feeder ends the child.
void Watch(bool emptySlotOnce) {
    unsigned char seen[kRingSlots] = {};
    std::int32_t portions = 0;
    bool emptied = false;
    DWORD lastReport = GetTickCount();
    for (;;) {
        std::string slots;
        for (int slot = 0; slot < kRingSlots; ++slot) {
            const unsigned char value = LoadSlot(ring, slot);
            portions += seen[slot] == kEmptySlot && value != kEmptySlot ? 1 : 0;
            seen[slot] = value;
            slots += static_cast<char>('0' + value);
        }
        if (emptySlotOnce && !emptied && slots == "11111111") {
            StoreSlot(ring, kEmptiedSlot, kEmptySlot);
            seen[kEmptiedSlot] = kEmptySlot;
            emptied = true;
        }
        if (GetTickCount() - lastReport >= kReportEvery) {
            PrintLine("%s: %s %d",
                      {std::string_view(childName), std::string_view(slots), portions});
            lastReport = GetTickCount();
        }
        Sleep(kPollPause);
    }
}

void Run() {
    ReadArguments();
    if (!OpenRing()) {
        PrintLine("%s: no ring", {std::string_view(childName)});
        return;
    }
    PrintLine("%s: began, приоритет - %s"_cp1251, {std::string_view(childName), OwnPriorityName()});
    if (childName == "Aun") {
        Watch(false);
    } else if (childName == "Maya") {
        Watch(true);
    } else {
        EatRation();
    }
}

}  // namespace

int main() {
    ReadLocaleSettings();
    return RunProgram(ReportForm::kStandardError, Run);
}
