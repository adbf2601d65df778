// The herd as an ordinary user (Linux): one elephant edited to the real-time
// class, the launcher run as user nobody from a folder that user can read.
// Without any right the elephant honestly reports the normal class; with the
// launcher granted cap_sys_nice (what allow-priorities.sh does) it runs in
// real time. Setting this up needs root, so the tests skip elsewhere.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "harness.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// One elephant, edited: real time (5), age 60 (finds water at once), weight 1.
constexpr std::string_view kRealTimeElephant = "1\n1\n5\n60\n1\n1\n";

class HerdAsOrdinaryUser : public ::testing::Test {
  protected:
    void SetUp() override {
        if (harness::UnderRunner() || geteuid() != 0 ||
            std::system(
                "setpriv --reuid=nobody --regid=nogroup --clear-groups true >/dev/null 2>&1") !=
                0) {
            GTEST_SKIP() << "needs root and setpriv (Linux programs)";
        }
        std::string pattern = (fs::temp_directory_path() / "herd_rights_XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        chmod(folder_.c_str(), 0755);
        for (const char* program : {"herdboss1", "tusker1"}) {
            fs::copy_file(harness::ProgramPath(program), folder_ / program);
            chmod((folder_ / program).c_str(), 0755);
        }
    }
    void TearDown() override {
        if (!folder_.empty()) {
            fs::remove_all(folder_);
        }
    }

    // The class the elephant reports in its first line, run as nobody.
    std::string ElephantClassAsNobody() {
        harness::Options options;
        options.programDirectory = "/usr/bin";
        options.arguments = {"--reuid=nobody", "--regid=nogroup", "--clear-groups",
                             (folder_ / "herdboss1").string()};
        const harness::Session session = harness::Run("setpriv", kRealTimeElephant, options, 60s);
        EXPECT_EQ(session.exitCode, 0) << session.outputText << session.errorText;
        const std::string started = "Слон 1 поиск начал, приоритет - ";
        for (const std::string& line : harness::Lines(session.outputText)) {
            const std::size_t at = line.find(started);
            if (at != std::string::npos) {
                return line.substr(at + started.size());
            }
        }
        return "no elephant line in: " + session.outputText;
    }

    fs::path folder_;
};

TEST_F(HerdAsOrdinaryUser, WithoutTheGrantTheRealTimeElephantReportsNormal) {
    EXPECT_EQ(ElephantClassAsNobody(), "нормальный");
}

TEST_F(HerdAsOrdinaryUser, WithTheGrantTheRealTimeElephantRunsInRealTime) {
    if (std::system(
            ("setcap cap_sys_nice+ep " + (folder_ / "herdboss1").string() + " >/dev/null 2>&1")
                .c_str()) != 0) {
        GTEST_SKIP() << "setcap is missing or not allowed here";
    }
    EXPECT_EQ(ElephantClassAsNobody(), "реального времени");
}

}  // namespace
