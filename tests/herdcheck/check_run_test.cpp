// A run that another program feeds into (Linux): a fake foreign writer puts
// a portion the checker did not place into a waiting child's block. The run
// ends at once, says so, and says whether the writer still held the block;
// told to, it counts the portion as the child's wrong write and goes on.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "check_run_unit.h"
#include "feeder_herds_unit.h"

namespace {

using namespace std::chrono_literals;

const ElephantRecord& kCheckedTandy = kNamedElephantsBuild.herd[0];

// A child that opens nothing and eats nothing: it only waits.
bool StartWaitingChild(CheckRun& run) {
    DWORD error = 0;
    return CreateRing(run, FeedRingName(ElephantName(kCheckedTandy)), error) &&
           StartRun(run, FeederPace::kSlow, kCheckedTandy, "/bin/sleep", "tusker6 30");
}

// Steps the run until it is over or `limit` has passed; true when over.
bool StepUntilOver(CheckRun& run, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (StepRun(run, GetTickCount())) {
            return true;
        }
        Sleep(1);
    }
    return false;
}

// The block's file, opened and held (a shared flock) as a program using the
// layer holds it.
int HoldBlockFile(const CheckRun& run) {
    const std::string place = ChildRuntimeFolder(run.child.scratch) + "/herdlab";
    for (const auto& entry : std::filesystem::directory_iterator(place)) {
        const int fd = open(entry.path().c_str(), O_RDWR | O_CLOEXEC);
        if (fd >= 0 && flock(fd, LOCK_SH) == 0) {
            return fd;
        }
    }
    return -1;
}

TEST(CheckRun, AForeignPortionEndsTheRunAndTellsWhetherItsWriterHeldTheBlock) {
    for (const bool writerHolds : {false, true}) {
        SCOPED_TRACE(writerHolds);
        CheckRun run;
        ASSERT_TRUE(StartWaitingChild(run));
        const int held = writerHolds ? HoldBlockFile(run) : -1;
        ASSERT_EQ(held >= 0, writerHolds);
        StoreSlot(run.block.ring, 6, kFullSlot);  // the slow feeder places nothing for 300 ms
        ASSERT_TRUE(StepUntilOver(run, 2s));
        EXPECT_EQ(run.outcome.end, RunEnd::kStopped);
        EXPECT_EQ(run.outcome.stopReason, StopReason::kForeignWriter);
        EXPECT_EQ(run.outcome.foreignPortion, 6);
        EXPECT_EQ(run.outcome.blockHeldElsewhere, writerHolds);
        EXPECT_TRUE(run.child.scratch.empty());  // released, the block's place with it
        if (held >= 0) {
            close(held);
        }
    }
}

TEST(CheckRun, ToldNotToStopItCountsAForeignPortionAsTheChildsWrongWrite) {
    CheckRun run;
    ASSERT_TRUE(StartWaitingChild(run));
    run.stopOnForeignPortion = false;
    StoreSlot(run.block.ring, 6, kFullSlot);
    EXPECT_FALSE(StepUntilOver(run, 200ms));
    EXPECT_EQ(run.watch.wrongWrite.slot, 6);
    EXPECT_TRUE(run.watch.wrongWrite.intoEmpty);
    EXPECT_EQ(LoadSlot(run.block.ring, 6), kEmptySlot);  // undone
    ReleaseChild(run.child);
    EXPECT_FALSE(ReleaseRing(run));
}

}  // namespace
