// The start-up dialogue: how many elephants, their listing, and the edit of
// one elephant's priority, age and weight. Every answer is read as a whole
// number; a rejected answer keeps a fixed fallback and the dialogue goes on.
#include <cstdint>
#include <optional>
#include <string_view>

#include "console_input_unit.h"
#include "curtime_unit.h"
#include "errors_unit.h"
#include "herd_launcher.h"
#include "myProcedure_unit.h"
#include "priority_unit.h"
#include "program_lines_unit.h"
#include "random_unit.h"

namespace {

constexpr std::string_view kGreeting = kHerdGreetingLine;
constexpr std::string_view kCountPrompt = kHerdCountPrompt;
constexpr std::string_view kCountFallback = kHerdCountFallback;
constexpr std::string_view kListingTitle = kHerdListingTitle;
constexpr std::string_view kListingLine = kHerdListingLine;
constexpr std::string_view kEditPrompt = kHerdEditPrompt;
constexpr std::string_view kNoEdit = kHerdNoEditLine;
constexpr std::string_view kPriorityPrompt = kHerdPriorityPrompt;
constexpr std::string_view kAgePrompt = kHerdAgePrompt;
constexpr std::string_view kWeightPrompt = kHerdWeightPrompt;
constexpr std::string_view kRejected = kHerdRejectedLine;

// The random draw covers idle to high; only the edit can choose real time.
constexpr std::int32_t kDrawnClasses = 5;
constexpr std::int32_t kHighestPriorityIndex = 5;
constexpr std::int32_t kOldestAge = 60;
constexpr std::int32_t kHeaviestWeight = 40;

// Prints the prompt as a whole line and reads the answer. An entry that is
// not a whole number (or a failed read) counts as a wrong answer: nothing.
std::optional<std::int32_t> Ask(std::string_view prompt) {
    PrintLine(prompt);
    try {
        return ReadInteger(IntegerRules::kSignBeforeHexRejected);
    } catch (const EInOutError&) {
        return std::nullopt;
    }
}

// The answer when it lies in first..last, else nothing.
std::optional<std::int32_t> AskInRange(std::string_view prompt, std::int32_t first,
                                       std::int32_t last) {
    const std::optional<std::int32_t> answer = Ask(prompt);
    if (answer && *answer >= first && *answer <= last) {
        return answer;
    }
    return std::nullopt;
}

void AskProcessCount() {
    const std::optional<std::int32_t> count = AskInRange(kCountPrompt, 1, kHerdSize);
    if (count) {
        ProcessCount = *count;
    } else {
        PrintLine(kCountFallback);
        ProcessCount = kHerdSize;
    }
}

// Prepares the slots of the elephants taking part and lists them. The drawn
// class is not shown.
void PrepareAndListSlots() {
    PrintLine(kListingTitle);
    for (std::int32_t i = 0; i < ProcessCount; ++i) {
        ChildSlot<HerdRecord>& slot = Slots[i];
        slot.params = &HerdTable[i];
        ApplyPriorityIndex(slot.priorityClass, RandomBelow(kDrawnClasses));
        slot.state = kNotStarted;
        const HerdRecord& row = *slot.params;
        PrintLine(kListingLine, {CurrentTimeText(), row.number, row.age, row.weight});
    }
}

// Three questions, always all three; a rejected answer keeps the old value.
void EditSlot(ChildSlot<HerdRecord>& slot) {
    if (const auto index = AskInRange(kPriorityPrompt, 0, kHighestPriorityIndex)) {
        ApplyPriorityIndex(slot.priorityClass, *index);
    } else {
        PrintLine(kRejected);
    }
    if (const auto age = AskInRange(kAgePrompt, 1, kOldestAge)) {
        slot.params->age = *age;
    } else {
        PrintLine(kRejected);
    }
    if (const auto weight = AskInRange(kWeightPrompt, 1, kHeaviestWeight)) {
        slot.params->weight = static_cast<double>(*weight);
    } else {
        PrintLine(kRejected);
    }
}

// Position n of the listing (1..ProcessCount) is edited; anything else,
// 0 as the prompt offers included, goes on without an edit.
void OfferEdit() {
    if (const auto position = AskInRange(kEditPrompt, 1, ProcessCount)) {
        EditSlot(Slots[*position - 1]);
    } else {
        PrintLine(kNoEdit);
    }
}

}  // namespace

void RunDialogue() {
    Reseed(SeedSource::kUtcTimeOfDay);
    PrintLine(kGreeting, {CurrentTimeText()});
    AskProcessCount();
    PrepareAndListSlots();
    OfferEdit();
}
