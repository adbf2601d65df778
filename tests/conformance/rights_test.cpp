// Priority classes for an ordinary user (Linux): without any right the
// higher classes fall back honestly; a launcher granted CAP_SYS_NICE gives
// its children every class while keeping the right out of its own effective
// set and out of every child; raised RLIMIT_NICE / RLIMIT_RTPRIO give what
// they allow without the grant.
//
// The user is nobody, by setpriv; setting it up needs root, so the tests
// skip elsewhere. nobody runs a copy of conformance_child named "launcher"
// from a folder it can read, which prints "launcher E P children C0..C5"
// (see child.cpp); its children are a plain copy beside it.
#ifndef _WIN32

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

const std::string kAsNobody = "setpriv --reuid=nobody --regid=nogroup --clear-groups ";

bool Succeeds(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// Standard output of a shell command.
std::string OutputOf(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
            output += buffer;
        }
        pclose(pipe);
    }
    return output;
}

class RightsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (geteuid() != 0 || !Succeeds(kAsNobody + "true")) {
            GTEST_SKIP() << "needs root and setpriv to run as user nobody";
        }
        std::string pattern = (fs::temp_directory_path() / "rights_test_XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        chmod(folder_.c_str(), 0755);
        const fs::path built =
            fs::read_symlink("/proc/self/exe").parent_path() / "conformance_child";
        for (const char* name : {"launcher", "conformance_child"}) {
            fs::copy_file(built, folder_ / name);
            chmod((folder_ / name).c_str(), 0755);
        }
    }
    void TearDown() override {
        if (!folder_.empty()) {
            fs::remove_all(folder_);
        }
    }

    std::string launcher() const { return (folder_ / "launcher").string(); }

    // The launcher's report, run as nobody after `prefix` (e.g. a prlimit),
    // with setpriv's `options`.
    std::string ReportAsNobody(const std::string& prefix = "",
                               const std::string& options = "") const {
        return OutputOf(prefix + kAsNobody + options + " " + launcher() + " classes-rights");
    }

    fs::path folder_;
};

TEST_F(RightsTest, WithoutAnyRightTheHigherClassesFallBackToNormal) {
    EXPECT_EQ(ReportAsNobody(), "launcher 0 0 children 0 1 2 2 2 2\n");
    // A launcher at nice 12 may not give nice 10 or lower; its children keep
    // its 12 (below normal) rather than dropping to idle.
    EXPECT_EQ(ReportAsNobody("nice -n 12 "), "launcher 0 0 children 0 1 1 1 1 1\n");
}

// The right is permitted to the launcher but effective only in each new
// child until its exec; no child keeps any capability.
TEST_F(RightsTest, GrantedLauncherGivesEveryClassAndNoChildKeepsTheRight) {
    if (!Succeeds("setcap cap_sys_nice+ep " + launcher())) {
        GTEST_SKIP() << "setcap is missing or not allowed here";
    }
    EXPECT_EQ(ReportAsNobody(), "launcher 0 1 children 0 1 2 3 4 5\n");
}

// A launcher started with the right as an ambient capability would pass it
// through every exec; its children must not get it.
TEST_F(RightsTest, AmbientRightOfTheLauncherDoesNotReachItsChildren) {
    EXPECT_EQ(ReportAsNobody("", "--inh-caps=+sys_nice --ambient-caps=+sys_nice"),
              "launcher 0 1 children 0 1 2 3 4 5\n");
}

// limits.conf's "nice" and "rtprio" for a group, as prlimit sets them: a
// class the limit does not quite reach gets the nearest nice value allowed.
TEST_F(RightsTest, ResourceLimitsGiveWhatTheyAllowWithoutTheGrant) {
    if (!Succeeds("prlimit --nice=40:40 --rtprio=1:1 true")) {
        GTEST_SKIP() << "prlimit cannot raise the limits here (no CAP_SYS_RESOURCE)";
    }
    // Nice down to -20: every nice-based class; real time falls back to high.
    EXPECT_EQ(ReportAsNobody("prlimit --nice=40:40 "), "launcher 0 0 children 0 1 2 3 4 4\n");
    // Nice down to -5 only: above normal, high and real time all get -5,
    // which is still above normal.
    EXPECT_EQ(ReportAsNobody("prlimit --nice=25:25 "), "launcher 0 0 children 0 1 2 3 3 3\n");
    // Real time allowed, nice not: high falls back to normal.
    EXPECT_EQ(ReportAsNobody("prlimit --rtprio=1:1 "), "launcher 0 0 children 0 1 2 2 2 5\n");
}

}  // namespace

#endif
