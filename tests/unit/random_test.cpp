// The process's pseudo-random numbers.
#include <gtest/gtest.h>

#include <vector>

#include "random_unit.h"
#include "win32.h"

namespace {

TEST(RandomBelow, StaysInRangeAndCoversItEvenly) {
    SetRandomState(20240517);
    constexpr int kBuckets = 6;
    constexpr int kDraws = 60'000;
    std::vector<int> counts(kBuckets, 0);
    for (int i = 0; i < kDraws; ++i) {
        const std::int32_t r = RandomBelow(kBuckets);
        ASSERT_GE(r, 0);
        ASSERT_LT(r, kBuckets);
        ++counts[static_cast<std::size_t>(r)];
    }
    // Chi-square with 5 degrees of freedom; 20.5 is the 0.1% point.
    double chiSquare = 0;
    for (int count : counts) {
        const double expected = double(kDraws) / kBuckets;
        chiSquare += (count - expected) * (count - expected) / expected;
    }
    EXPECT_LT(chiSquare, 20.5);
}

TEST(RandomBelow, LargestBoundAndDegenerateBounds) {
    SetRandomState(1);
    for (int i = 0; i < 1000; ++i) {
        const std::int32_t r = RandomBelow(INT32_MAX);
        ASSERT_GE(r, 0);
        ASSERT_LT(r, INT32_MAX);
        EXPECT_EQ(RandomBelow(1), 0);
        EXPECT_EQ(RandomBelow(0), 0);
        EXPECT_EQ(RandomBelow(-8), 0);
    }
}

TEST(Reseed, UtcTimeOfDayIsMillisecondsSinceMidnight) {
    SYSTEMTIME before{};
    GetSystemTime(&before);
    Reseed(SeedSource::kUtcTimeOfDay);
    const std::uint32_t seed = RandomState();
    const std::uint32_t expected =
        ((before.wHour * 60u + before.wMinute) * 60u + before.wSecond) * 1000u +
        before.wMilliseconds;
    EXPECT_LT(seed, 86'400'000u);
    // Within a second of the clock read, unless midnight fell in between.
    EXPECT_TRUE(seed - expected < 1000u || seed < 1000u) << seed << " vs " << expected;
}

}  // namespace
