// Where a child may write, as the call watch judges an open for writing
// (Linux): its scratch folder, its block and /dev/null, whatever the path's
// dots, doubled slashes or a folder whose name only starts like its own.
#include <string>

#include <gtest/gtest.h>

#include "keeper_confinement_linux.h"

namespace {

TEST(KeeperConfinement, AWriteIsAllowedOnlyInTheScratchFolderTheBlockAndDevNull) {
    KeeperPlan plan;
    plan.scratch = "/tmp/herdcheck-ab12";
    plan.block = "/run/user/1000/herdlab/herdlab-map-1000-%05Tandy";
    const struct {
        const char* path;
        bool allowed;
    } cases[] = {
        {"out.txt", true},  // relative: from the scratch folder, its current folder
        {"./sub/../out.txt", true},
        {"/tmp/herdcheck-ab12", true},  // the folder itself (a folder made in it)
        {"//tmp//herdcheck-ab12//deep/x", true},
        {"/../tmp/herdcheck-ab12/x", true},  // ".." above the root stays at the root
        {"../escape.txt", false},
        {"sub/../../escape.txt", false},
        {"/tmp/herdcheck-ab12x/f", false},  // a name that only starts like the folder's
        {"/tmp/herdcheck-ab12/../herdcheck-ab12x/f", false},
        {"/dev/null", true},
        {"/dev/../dev/null", true},
        {"/dev/zero", false},
        {"/run/user/1000/herdlab/herdlab-map-1000-%05Tandy", true},
        {"/run/user/1000/herdlab", true},  // the block's folder, which the layer makes sure of
        {"/run/user/1000/herdlab/herdlab-map-1000-%03Aun", false},  // another child's block
        {"/etc/passwd", false},
        {"/tmp/herdcheck-harmful.txt", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WriteAllowed(c.path, plan), c.allowed) << c.path;
    }

    // Without a block (none could be found) only the folder and /dev/null.
    plan.block = "";
    EXPECT_FALSE(WriteAllowed("/run/user/1000/herdlab/herdlab-map-1000-%05Tandy", plan));
    EXPECT_FALSE(WriteAllowed("/run/user/1000/herdlab", plan));
    EXPECT_TRUE(WriteAllowed("out.txt", plan));
}

}  // namespace
