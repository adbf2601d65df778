// tusker2 and tusker6: sample children of the feeders, built from this one
// source. HERDLAB_TUSKER_NAME_WORDS says how many words the name takes on the
// command line: 2 for tusker2 ("процесс 1"), 1 for tusker6 ("Tandy").
//
// The child finds its FeedRing by the documented name (length byte + name),
// works out its ration by the feeder's rule and eats its portions in ring
// order, emptying each slot the feeder has filled. It eats at a pace of its
// own: the older, the slower. Once it has its ration it ends with status 0.
//
// A feeder killed outright leaves its children running. So a child that has
// had no portion for 35 s (longer than any feeder's 30 s deadline) prints
// "<time> - <who> остался без корма и завершился" and ends by itself with
// status 2. Status 1: its block was not found.
#include <cstdint>
#include <string>

#include "command_line_unit.h"
#include "curtime_unit.h"
#include "elephant_unit.h"
#include "errors_unit.h"
#include "feed_ring_unit.h"
#include "locale_unit.h"
#include "myProcedure_unit.h"
#include "number_text_unit.h"
#include "priority_unit.h"
#include "program_lines_unit.h"
#include "win32.h"

#if HERDLAB_TUSKER_NAME_WORDS == 2
constexpr int kNameWords = 2;
constexpr std::string_view kWhoFormat = kProcessChildWho;
#else
constexpr int kNameWords = 1;
constexpr std::string_view kWhoFormat = kElephantChildWho;
#endif

namespace {

constexpr std::string_view kStartLine = kChildStartLine;
constexpr std::string_view kProgressLine = kChildProgressLine;
constexpr std::string_view kFedLine = kChildFedLine;
constexpr std::string_view kNoRingLine = kChildNoRingLine;
constexpr std::string_view kOrphanLine = kChildOrphanLine;

// The block exists before the child starts; a few short retries cover a
// platform that is slow to show it.
constexpr int kOpenAttempts = 10;
constexpr DWORD kOpenRetryPause = 50;

// While the slot at the ring position is still empty, look again this often.
constexpr DWORD kPollPause = 10;

// Without a portion for this long, the feeder is gone: the child ends.
constexpr DWORD kOrphanAfter = 35000;
constexpr int kOrphanStatus = 2;

// The pace: 40 + 4 x age ms between portions. Every pace of the built-in herd
// is faster than the feeder's pass (about 0.4 s), so the feeder sets the pace
// and the small rations are eaten well within the 30 s.
constexpr std::int32_t kBasePause = 40;
constexpr std::int32_t kPausePerYear = 4;
constexpr std::int32_t kOldestAge = 100;  // ages beyond this eat no slower

constexpr int kProgressEvery = 10;

std::string childName;
std::int32_t childAge = 0;
double childWeight = 0;
std::string who;  // "Слон Tandy", "процесс 1"

HANDLE ringHandle = nullptr;
unsigned char* ring = nullptr;

void ReadArguments() {
    childName = CommandArgument(1);
    for (int word = 2; word <= kNameWords; ++word) {
        childName += ' ';
        childName += CommandArgument(word);
    }
    // The feeder's names have at most 16 characters; so has the block's name.
    if (childName.size() > static_cast<std::size_t>(kElephantNameLimit)) {
        childName.resize(kElephantNameLimit);
    }
    childAge = TextToInteger(CommandArgument(kNameWords + 1));
    childWeight = TextToFloat(CommandArgument(kNameWords + 2));
    who = FormatText(kWhoFormat, {std::string_view(childName)});
}

bool OpenRing() {
    const std::string blockName = FeedRingName(childName);
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
        ringHandle = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, blockName.c_str());
        if (ringHandle != nullptr) {
            ring = static_cast<unsigned char*>(
                MapViewOfFile(ringHandle, FILE_MAP_ALL_ACCESS, 0, 0, kRingSlots));
            if (ring != nullptr) {
                return true;
            }
            CloseHandle(ringHandle);
            ringHandle = nullptr;
        }
        Sleep(kOpenRetryPause);
    }
    return false;
}

DWORD EatingPause() {
    const std::int32_t age = childAge < 0 ? 0 : (childAge > kOldestAge ? kOldestAge : childAge);
    return static_cast<DWORD>(kBasePause + kPausePerYear * age);
}

// Empties slots in ring order until the ration is eaten. False when no
// portion came for kOrphanAfter ms.
bool Eat(std::int32_t ration) {
    std::int32_t eaten = 0;
    int position = 0;
    DWORD lastPortion = GetTickCount();
    while (eaten < ration) {
        if (LoadSlot(ring, position) != kFullSlot) {
            if (GetTickCount() - lastPortion >= kOrphanAfter) {  // wraps correctly
                return false;
            }
            Sleep(kPollPause);
            continue;
        }
        lastPortion = GetTickCount();
        StoreSlot(ring, position, kEmptySlot);
        position = NextRingPosition(position);
        ++eaten;
        if (eaten % kProgressEvery == 0) {
            PrintLine(kProgressLine, {CurrentTimeText(), std::string_view(who), eaten});
        }
        if (eaten < ration) {
            Sleep(EatingPause());
        }
    }
    return true;
}

int RunChild() {
    ReadArguments();
    if (!OpenRing()) {
        PrintLine(kNoRingLine, {CurrentTimeText(), std::string_view(who)});
        return 1;
    }
    const std::int32_t ration = RationOf(childWeight);
    PrintLine(kStartLine, {CurrentTimeText(), std::string_view(who), ration, OwnPriorityName()});
    const bool fed = Eat(ration);
    PrintLine(fed ? kFedLine : kOrphanLine, {CurrentTimeText(), std::string_view(who)});
    UnmapViewOfFile(ring);
    CloseHandle(ringHandle);
    return fed ? 0 : kOrphanStatus;
}

}  // namespace

int main() {
    ReadLocaleSettings();
    int status = 0;
    const int errorStatus =
        RunProgram(ReportForm::kStandardError, [&status] { status = RunChild(); });
    return errorStatus != 0 ? errorStatus : status;
}
