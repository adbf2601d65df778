// herdcheck and a herdboss6 lesson of the same user, side by side, started
// in either order (Linux). Each child herdcheck checks has a place for named
// objects of its own, so neither program meets the other's blocks of the
// same names: every correct child passes, herdcheck waits for no name, and
// the lesson reports what its own children did.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "feeder_report.h"
#include "harness.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Correct children: the project's own, and the Python one where Python is.
std::vector<std::string> CorrectChildren() {
    std::vector<std::string> children = {"tusker6"};
    if (std::system("python3 -c '' >/dev/null 2>&1") == 0) {
        children.push_back("python_tusker.py");
    }
    return children;
}

harness::Session StartChecker(const std::vector<std::string>& children) {
    harness::Options options;
    options.arguments = children;
    options.workingDirectory = fs::path(harness::ProgramPath("herdcheck")).parent_path().string();
    return harness::Start("herdcheck", options);
}

int LinesWith(const std::string& output, const std::string& text) {
    const std::vector<std::string> lines = harness::Lines(output);
    return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
        return line.find(text) != std::string::npos;
    }));
}

void ExpectAllPassedWithoutWaiting(const harness::Session& checker, int children) {
    EXPECT_EQ(checker.exitCode, 0) << checker.outputText << checker.errorText;
    EXPECT_EQ(LinesWith(checker.outputText, ": пройдена"), 8 * children) << checker.outputText;
    EXPECT_EQ(LinesWith(checker.outputText, "занят другой программой"), 0) << checker.outputText;
    EXPECT_EQ(LinesWith(checker.outputText, "использует другая программа"), 0)
        << checker.outputText;
}

TEST(SideBySide, ALessonAndHerdcheckInEitherOrderLeaveEachOtherAlone) {
    if (harness::UnderRunner()) {
        GTEST_SKIP() << "on Windows one session shares the names: there herdcheck waits for "
                        "them (unit tests of the foreign writer)";
    }
    const std::vector<std::string> children = CorrectChildren();
    for (const bool checkerFirst : {true, false}) {
        SCOPED_TRACE(checkerFirst ? "herdcheck first" : "lesson first");
        harness::FeederRunTurn turn;  // the lesson's names are the feeder tests' too
        harness::Session checker;
        harness::Session lesson;
        if (checkerFirst) {
            checker = StartChecker(children);
            ASSERT_TRUE(harness::WaitForOutput(checker, "защита: ", 20s)) << checker.outputText;
            lesson = harness::Start("herdboss6");
        } else {
            lesson = harness::Start("herdboss6");
            ASSERT_TRUE(feeder_report::WaitForBlocks(lesson, feeder_report::kElephants, 60s));
            checker = StartChecker(children);
        }
        harness::Finish(checker, 120s);
        harness::Finish(lesson, 60s);
        ExpectAllPassedWithoutWaiting(checker, static_cast<int>(children.size()));
        EXPECT_EQ(lesson.exitCode, 0);
        feeder_report::ExpectReport(feeder_report::kElephants, harness::Lines(lesson.outputText),
                                    feeder_report::kSampleFates, " наелся");
    }
}

}  // namespace
