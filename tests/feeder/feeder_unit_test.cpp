// The feeder's data, block names, command lines, deadline and feeding visits,
// driven directly through the feeder's library.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <string>

#include "../named_place.h"
#include "command_line_unit.h"
#include "cp1251_unit.h"
#include "feeder_herds_unit.h"
#include "feeder_unit.h"
#include "format_unit.h"
#include "locale_unit.h"
#include "number_text_unit.h"
#include "priority_unit.h"

#ifndef _WIN32
#include <unistd.h>

#include <filesystem>
#endif

// The tests' own data set: names no real feeder uses, so a feeder running at
// the same time never shares a block with them, and a child program that
// exists nowhere.
const FeederBuildData kFeederBuild = {
    "feeder-absent-child",
    {
        HerdRow("unitTandy", 3, 1.7),
        HerdRow("тест 2"_cp1251, 4, 2.2),
        HerdRow("unitAssam", 40, 5.8),
        HerdRow("unitMaya", 37, 4.3),
        HerdRow("unitBakZap", 52, 4.5),
        HerdRow("unitHao", 14, 3.2),
        HerdRow("unitHathy", 42, 6.9),
        HerdRow("unitKitty", 10, 3.0),
    },
    "%s - greeting",
    "failure %d",
    "%s - %s ended",
    "%s - %s killed",
};

namespace {

constexpr std::int32_t kExpectedRations[kFeederHerdSize] = {15, 25, 169, 93, 102, 52, 239, 45};

// ---- Data of the two builds (their texts are checked by the runs) -----------

// The block name is read from the record's bytes, so the bytes after a name
// must be zero right up to the age field.
TEST(FeederData, NamesAreLengthByteThenCharactersThenZeroBytes) {
    for (const FeederBuildData* build : {&kNumberedProcessesBuild, &kNamedElephantsBuild}) {
        for (const ElephantRecord& row : build->herd) {
            unsigned char bytes[offsetof(ElephantRecord, age)];
            std::memcpy(bytes, &row, sizeof bytes);
            const std::size_t length = bytes[0];
            ASSERT_GT(length, 0u);
            ASSERT_LE(length, static_cast<std::size_t>(kElephantNameLimit));
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes + 1), length),
                      ElephantName(row));
            for (std::size_t i = 1 + length; i < sizeof bytes; ++i) {
                EXPECT_EQ(bytes[i], 0) << "byte " << i << " of " << ElephantName(row);
            }
        }
    }
}

// ---- The ration rule ----------------------------------------------------------

TEST(FeederRation, TableRationsRoundTheProductUpOnlyWhenItHasAFraction) {
    for (const FeederBuildData* build : {&kNumberedProcessesBuild, &kNamedElephantsBuild}) {
        std::int32_t total = 0;
        for (int i = 0; i < kFeederHerdSize; ++i) {
            EXPECT_EQ(RationOf(build->herd[i].weight), kExpectedRations[i]) << i;
            total += RationOf(build->herd[i].weight);
        }
        EXPECT_EQ(total, 740);
    }
    EXPECT_EQ(RationOf(3.0), 45);  // whole product: not raised
    EXPECT_EQ(RationOf(2.2), 25);  // 24.200000000000003
    EXPECT_EQ(RationOf(1.0), 5);
    EXPECT_EQ(RationOf(0.0), 0);
    EXPECT_EQ(RationOf(std::nan("")), 0);
    EXPECT_EQ(RationOf(1e10), std::numeric_limits<std::int32_t>::max());
    // The child reads the weight back from the feeder's two-decimal text.
    UseLocaleSettings({':', '.'});
    for (const ElephantRecord& row : kNamedElephantsBuild.herd) {
        EXPECT_EQ(RationOf(TextToFloat(FormatText("%f", {row.weight}))), RationOf(row.weight));
    }
}

// ---- Block names and command lines ----------------------------------------------

TEST(FeedRingName, IsLengthByteAndWindows1251CharactersOnBothSides) {
    // The feeder names a block from its table row, the child from the text it
    // receives: both go through the row's name, so they agree.
    EXPECT_EQ(FeedRingName(ElephantName(kNamedElephantsBuild.herd[0])), std::string("\x05Tandy"));
    EXPECT_EQ(FeedRingName(ElephantName(kNumberedProcessesBuild.herd[0])),
              std::string("\x09\xEF\xF0\xEE\xF6\xE5\xF1\xF1\x20\x31"));
    // A name of the full 16 characters has no zero byte after it; the name
    // must stop there, not run on into the age.
    ElephantRecord longest = HerdRow("abcdefghijklmnopqrstu", 0x41414141, 1.0);
    EXPECT_EQ(FeedRingName(ElephantName(longest)), std::string("\x10") + "abcdefghijklmnop");
}

std::string ChildCommandLine(const ElephantRecord& row) {
    return FeederChildCommandLine(kFeederBuild.childProgramName, row);
}

TEST(ChildCommandLine, IsProgramNameAgeAndTwoDecimalWeight) {
    UseLocaleSettings({':', '.'});
    EXPECT_EQ(ChildCommandLine(kFeederBuild.herd[0]), "feeder-absent-child unitTandy 3 1.70");
    // A name with a blank reaches the child as two words, unquoted.
    const std::string twoWords = ChildCommandLine(kFeederBuild.herd[1]);
    EXPECT_EQ(twoWords, std::string("feeder-absent-child ") + std::string("тест 2 4 2.20"_cp1251));
    EXPECT_EQ(CommandLineWords(twoWords).size(), 5u);
    UseLocaleSettings({':', ','});
    EXPECT_EQ(ChildCommandLine(kFeederBuild.herd[7]), "feeder-absent-child unitKitty 10 3,00");
    UseLocaleSettings({':', '.'});
}

// ---- Deadline -----------------------------------------------------------------

SYSTEMTIME TimeOfDay(WORD hour, WORD minute, WORD second, WORD millisecond) {
    SYSTEMTIME time{};
    time.wHour = hour;
    time.wMinute = minute;
    time.wSecond = second;
    time.wMilliseconds = millisecond;
    return time;
}

TEST(FeedingDeadline, EndsThirtySecondsLaterByTimeOfDayOrByTicks) {
    EXPECT_DOUBLE_EQ(DayFraction(TimeOfDay(12, 0, 0, 0)), 0.5);
    EXPECT_DOUBLE_EQ(DayFraction(TimeOfDay(0, 0, 0, 1)), 1.0 / 86400000.0);

    const double deadline = FeedingDeadline(DayFraction(TimeOfDay(9, 5, 7, 42)));
    const DWORD start = 5000;
    EXPECT_FALSE(FeedingTimeUp(DayFraction(TimeOfDay(9, 5, 37, 41)), deadline, start, start));
    EXPECT_TRUE(FeedingTimeUp(DayFraction(TimeOfDay(9, 5, 37, 43)), deadline, start, start));

    // Started just before midnight: the deadline lies beyond the day and the
    // time of day never reaches it; the ticks still end the feeding.
    const double lateDeadline = FeedingDeadline(DayFraction(TimeOfDay(23, 59, 50, 0)));
    ASSERT_GT(lateDeadline, 1.0);
    const double afterMidnight = DayFraction(TimeOfDay(0, 0, 19, 0));
    EXPECT_FALSE(FeedingTimeUp(afterMidnight, lateDeadline, start + 29999, start));
    EXPECT_TRUE(FeedingTimeUp(afterMidnight, lateDeadline, start + 30000, start));

    // The clock set back an hour, and the tick count wrapping meanwhile.
    const DWORD nearWrap = 0xFFFFF000u;
    const double earlier = DayFraction(TimeOfDay(8, 5, 7, 42));
    EXPECT_FALSE(FeedingTimeUp(earlier, deadline, nearWrap + 29999u, nearWrap));
    EXPECT_TRUE(FeedingTimeUp(earlier, deadline, nearWrap + 30000u, nearWrap));
}

// ---- Visits and the feeding loop ----------------------------------------------------

unsigned char rings[kFeederHerdSize][kRingSlots];

// Every child started, with an empty ring in test memory and `ration` left.
void SetUpFeeding(std::int32_t ration) {
    std::memset(rings, 0, sizeof rings);
    for (int i = 0; i < kFeederHerdSize; ++i) {
        FeedRingHandles[i] = nullptr;
        FeedRingViews[i] = rings[i];
        RemainingRations[i] = ration;
        RingPositions[i] = 0;
        ChildSlots[i].state = kStarted;
    }
    StartedCount = kFeederHerdSize;
}

int FullSlots(int child) {
    int full = 0;
    for (unsigned char slot : rings[child]) {
        full += slot == kFullSlot ? 1 : 0;
    }
    return full;
}

TEST(FeedingVisit, ChildThatNeverEatsGetsExactlyEightPortionsAndNoLookAhead) {
    SetUpFeeding(45);
    int placed = 0;
    for (int visit = 0; visit < 20; ++visit) {
        placed += VisitChild(2) ? 1 : 0;
    }
    EXPECT_EQ(placed, 8);
    EXPECT_EQ(FullSlots(2), 8);
    EXPECT_EQ(RingPositions[2], 0);
    EXPECT_EQ(RemainingRations[2], 45 - 8);
    EXPECT_EQ(UnfinishedCount(), kFeederHerdSize);

    // An empty slot elsewhere in the ring is not taken: only the slot at the
    // ring position counts.
    rings[2][3] = kEmptySlot;
    EXPECT_FALSE(VisitChild(2));
    EXPECT_EQ(rings[2][3], kEmptySlot);
    rings[2][0] = kEmptySlot;
    EXPECT_TRUE(VisitChild(2));
    EXPECT_EQ(rings[2][0], kFullSlot);
    EXPECT_EQ(RingPositions[2], 1);
    EXPECT_EQ(FullSlots(4), 0);  // the neighbours' rings are untouched
}

TEST(FeedingVisit, RationRunningOutCountsOnceAndEndsThePortions) {
    SetUpFeeding(45);
    RemainingRations[5] = 2;
    EXPECT_TRUE(VisitChild(5));
    rings[5][0] = kEmptySlot;  // eaten
    EXPECT_TRUE(VisitChild(5));
    EXPECT_EQ(RemainingRations[5], 0);
    EXPECT_EQ(UnfinishedCount(), kFeederHerdSize - 1);
    rings[5][1] = kEmptySlot;
    EXPECT_FALSE(VisitChild(5));
    EXPECT_FALSE(VisitChild(5));
    EXPECT_EQ(FullSlots(5), 0);
    EXPECT_EQ(UnfinishedCount(), kFeederHerdSize - 1);

    // A child that never started is not waited for, ration or not.
    ChildSlots[3].state = kNotStarted;
    EXPECT_EQ(UnfinishedCount(), kFeederHerdSize - 2);

    // A child whose block could not be made is visited without a write.
    FeedRingViews[6] = nullptr;
    EXPECT_FALSE(VisitChild(6));
    EXPECT_EQ(RemainingRations[6], 45);
}

// Rations within the ring are placed whether or not a child eats: the loop
// ends after the pass in which the last ration ran out, long before the 30 s
// deadline, and no child is overfed.
TEST(FeedingLoop, EndsAfterThePassInWhichTheLastRationRanOut) {
    SetUpFeeding(3);
    RemainingRations[4] = 1;
    const auto started = std::chrono::steady_clock::now();
    FeedHerd();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(15));
    EXPECT_EQ(UnfinishedCount(), 0);
    for (int child = 0; child < kFeederHerdSize; ++child) {
        EXPECT_EQ(FullSlots(child), child == 4 ? 1 : 3) << child;
    }
}

// ---- Launch and release -----------------------------------------------------------

#ifndef _WIN32
std::filesystem::path BlockFile(const std::string& escapedName) {
    return named_place::BlockFile(escapedName);
}
#endif

// The child program exists nowhere, so every start fails: the children stay
// not started, yet each has its cleared block, its ration and ring position.
TEST(FeederLaunch, FailedStartsLeaveClearedBlocksThatReleaseRemoves) {
    UseLocaleSettings({':', '.'});
    StartupInfo = {};
    StartupInfo.cb = sizeof(STARTUPINFOA);

    // A block left full by another instance of the build is cleared all the same.
    const std::string firstName = FeedRingName(ElephantName(kFeederBuild.herd[0]));
    HANDLE stale = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kRingSlots,
                                      firstName.c_str());
    ASSERT_NE(stale, nullptr);
    auto* staleView =
        static_cast<unsigned char*>(MapViewOfFile(stale, FILE_MAP_ALL_ACCESS, 0, 0, kRingSlots));
    ASSERT_NE(staleView, nullptr);
    std::memset(staleView, kFullSlot, kRingSlots);

    EXPECT_EQ(LaunchFeederHerd(), 0);
    EXPECT_EQ(StartedCount, 0);
    for (int i = 0; i < kFeederHerdSize; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(ChildSlots[i].params, &kFeederBuild.herd[i]);
        EXPECT_EQ(ChildSlots[i].state, kNotStarted);
        bool drawable = false;
        for (int k = 0; k < 5; ++k) {
            drawable = drawable || ChildSlots[i].priorityClass == kPriorityClasses[k];
        }
        EXPECT_TRUE(drawable) << ChildSlots[i].priorityClass;
        EXPECT_EQ(RemainingRations[i], kExpectedRations[i]);
        EXPECT_EQ(RingPositions[i], 0);
        ASSERT_NE(FeedRingViews[i], nullptr);
        ASSERT_NE(FeedRingHandles[i], nullptr);
        for (int slot = 0; slot < kRingSlots; ++slot) {
            EXPECT_EQ(FeedRingViews[i][slot], kEmptySlot);
        }
    }
    for (int slot = 0; slot < kRingSlots; ++slot) {
        EXPECT_EQ(staleView[slot], kEmptySlot);
    }
#ifndef _WIN32
    EXPECT_TRUE(std::filesystem::exists(BlockFile("%09unitTandy")));
#endif
    ReleaseFeedRings();
    for (int i = 0; i < kFeederHerdSize; ++i) {
        EXPECT_EQ(FeedRingViews[i], nullptr);
        EXPECT_EQ(FeedRingHandles[i], nullptr);
    }
    UnmapViewOfFile(staleView);
    CloseHandle(stale);
#ifndef _WIN32
    EXPECT_FALSE(std::filesystem::exists(BlockFile("%09unitTandy")));
    EXPECT_FALSE(std::filesystem::exists(BlockFile("%09unitKitty")));
#endif
    ReleaseFeedRings();  // nothing left to release: every block is skipped
}

}  // namespace
