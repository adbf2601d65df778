// Priority index to class, and class to the children's names.
#include <gtest/gtest.h>

#include "cp1251_unit.h"
#include "priority_unit.h"

namespace {

TEST(ApplyPriorityIndex, MapsIndicesInPriorityOrderAndIgnoresOthers) {
    const DWORD expected[] = {64, 16384, 32, 32768, 128, 256};
    for (int i = 0; i < kPriorityCount; ++i) {
        DWORD priorityClass = 0;
        ApplyPriorityIndex(priorityClass, i);
        EXPECT_EQ(priorityClass, expected[i]) << i;
    }
    DWORD kept = NORMAL_PRIORITY_CLASS;
    for (std::int64_t index : {6LL, -1LL, 255LL, -256LL, 0x100000000LL}) {
        ApplyPriorityIndex(kept, index);
        EXPECT_EQ(kept, NORMAL_PRIORITY_CLASS) << index;
    }
}

TEST(PriorityName, NamesEverySixClassAndNothingElse) {
    EXPECT_EQ(PriorityName(REALTIME_PRIORITY_CLASS), "реального времени"_cp1251);
    EXPECT_EQ(PriorityName(IDLE_PRIORITY_CLASS), "низкий"_cp1251);
    EXPECT_EQ(PriorityName(HIGH_PRIORITY_CLASS), "высокий"_cp1251);
    EXPECT_EQ(PriorityName(ABOVE_NORMAL_PRIORITY_CLASS), "выше среднего"_cp1251);
    EXPECT_EQ(PriorityName(0), "");  // a failed query
    EXPECT_EQ(PriorityName(0x20 | 0x40), "");
}

}  // namespace
