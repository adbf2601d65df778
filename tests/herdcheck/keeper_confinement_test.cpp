// Where a child may write, as the call watch judges an open for writing
// (Linux): its scratch folder (its block's place in it) and /dev/null,
// whatever the path's dots, doubled slashes or a folder whose name only
// starts like its own; never the user's own place, where a lesson's blocks
// of the same names live. What an interpreter tries on its own is not reported.
#include <string>

#include <gtest/gtest.h>

#include "keeper_confinement_linux.h"

namespace {

TEST(KeeperConfinement, AWriteIsAllowedOnlyInTheScratchFolderAndDevNull) {
    KeeperPlan plan;
    plan.scratch = "/tmp/herdcheck-ab12";
    plan.runtimeFolder = "/tmp/herdcheck-ab12/.runtime";
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
        {"/tmp/herdcheck-ab12/.runtime/herdlab/herdlab-map-1000-%05Tandy", true},  // its block
        {"/run/user/1000/herdlab/herdlab-map-1000-%05Tandy", false},  // a lesson's of its name
        {"/run/user/1000/herdlab", false},
        {"/home/t/class/__pycache__", true},  // refused, but the interpreter's, not reported
        {"/home/t/class/__pycache__/feed_ring.cpython-312.pyc.1234", true},
        {"/home/t/class/__pycache__x/f", false},
        {"/dev/tty", true},  // a shell's look for its terminal: refused, not reported
        {"/dev/tty1", false},
        {"/etc/passwd", false},
        {"/tmp/herdcheck-harmful.txt", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WriteAllowed(c.path, plan), c.allowed) << c.path;
    }
}

}  // namespace
