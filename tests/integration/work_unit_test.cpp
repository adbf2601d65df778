// HERDLAB_UNIT_MS: one busy unit of an elephant becomes n ms of its own
// processor time, for an elephant started by hand and for one started by the
// herd launcher, which passes its environment on. Unset or invalid values
// leave the fixed count of iterations, a few milliseconds per unit.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "harness.h"

namespace {

using namespace std::chrono_literals;

// Milliseconds since midnight of the time stamp opening the first line that
// holds `text`.
std::optional<int> StampOfLineWith(const std::string& transcript, const std::string& text) {
    static const std::regex stamp(R"(^(\d{1,2}):(\d{2}):(\d{2})\.(\d{3}) - )");
    for (const std::string& line : harness::Lines(transcript)) {
        std::smatch match;
        if (line.find(text) != std::string::npos && std::regex_search(line, match, stamp)) {
            return ((std::stoi(match[1]) * 60 + std::stoi(match[2])) * 60 + std::stoi(match[3])) *
                       1000 +
                   std::stoi(match[4]);
        }
    }
    return std::nullopt;
}

// Age 60: no search; weight 1: five drinking units. The elephant's own
// processor time, which a busy machine does not stretch as it does the clock.
double ElephantProcessorSeconds(const char* unitSetting) {
    harness::EnvironmentSetting setting("HERDLAB_UNIT_MS", unitSetting);
    harness::Options options;
    options.arguments = {"7", "60", "1.00"};
    harness::Session session = harness::Run("tusker1", "", options, 60s);
    EXPECT_EQ(session.exitCode, 0) << session.errorText;
    EXPECT_NE(session.outputText.find("Слон 7 напился"), std::string::npos);
    return session.processorSeconds;
}

TEST(WorkUnit, SetValueMakesEachUnitThatManyMillisecondsOfProcessorTime) {
    // Five units of 600 ms.
    const double used = ElephantProcessorSeconds("600");
    EXPECT_GE(used, 2.95);
    EXPECT_LT(used, 20.0);
}

TEST(WorkUnit, UnsetOrInvalidValuesKeepTheFixedCount) {
    // Taken as 900 ms, each of these would use 4.5 s; five fixed units take
    // well under a second in an optimised build and under two in a
    // sanitizer build.
    for (const char* setting : {static_cast<const char*>(nullptr), "", "0", "9000", "-900", "+900",
                                "900ms", " 900", "9e2"}) {
        EXPECT_LT(ElephantProcessorSeconds(setting), 3.5) << (setting ? setting : "(unset)");
    }
}

TEST(WorkUnit, ElephantsOfTheHerdLauncherInheritTheSetting) {
    harness::EnvironmentSetting setting("HERDLAB_UNIT_MS", "300");
    harness::Session session = harness::Start("herdboss1");
    // One elephant, made normal, 60 years old (no search) and of weight 1:
    // five drinking units, 1.5 s of processor time.
    harness::Send(session, "1\n1\n2\n60\n1\n");
    const bool drank = harness::WaitForOutput(session, "Слон 1 напился", 120s);
    harness::Finish(session, 1ms);  // no need to sit out the fixed wait
    ASSERT_TRUE(drank) << session.outputText;
    const auto found = StampOfLineWith(session.outputText, "Слон 1 нашел воду");
    const auto drunk = StampOfLineWith(session.outputText, "Слон 1 напился");
    ASSERT_TRUE(found && drunk) << session.outputText;
    const int drinking = (*drunk - *found + 86'400'000) % 86'400'000;  // across midnight
    EXPECT_GE(drinking, 1450);  // 1.5 s of processor time; a busy machine adds any amount
}

// The lesson's herd on one processor, as a teacher starts it: each elephant
// that drinks has spent its drinking units on the processor, also when it
// was started suspended and confined and its clock first read 0 (Windows
// charges a thread's time in ticks). Several runs, since a fresh thread's
// first reading is 0 only in some of its starts.
TEST(WorkUnit, EveryDrinkOfTheLessonHerdLastsItsUnits) {
    harness::EnvironmentSetting unit("HERDLAB_UNIT_MS", "40");
    harness::EnvironmentSetting cpus("HERDLAB_CPUS", "1");
    // The drinking units of elephants 1..5: weight x 5, rounded.
    constexpr int kDrinkingUnits[] = {8, 6, 24, 21, 22};
    int drinksSeen = 0;
    for (int run = 0; run < 3; ++run) {
        harness::Session session = harness::Start("herdboss1");
        harness::Send(session, "5\n0\n");
        harness::WaitForOutput(session, "ВРЕМЯ ОЖИДАНИЯ ИСТЕКЛО", 120s);
        harness::Send(session, "1\n");
        harness::Finish(session, 60s);
        for (int elephant = 1; elephant <= 5; ++elephant) {
            const std::string who = "Слон " + std::to_string(elephant) + " ";
            const auto found = StampOfLineWith(session.outputText, who + "нашел воду");
            const auto drunk = StampOfLineWith(session.outputText, who + "напился");
            if (!found || !drunk) {
                continue;  // still drinking at the deadline: ended by the launcher
            }
            ++drinksSeen;
            const int drinking = (*drunk - *found + 86'400'000) % 86'400'000;
            EXPECT_GE(drinking, 0.7 * kDrinkingUnits[elephant - 1] * 40)
                << "run " << run << ", elephant " << elephant << ":\n"
                << session.outputText;
        }
    }
    // About 10 s of work: on an idle processor every elephant drinks before
    // the deadline, on a busy one at least some do.
    EXPECT_GE(drinksSeen, 1);
}

}  // namespace
