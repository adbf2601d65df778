// The feeders herdboss2 and herdboss6 run from end to end: with the sample
// children, with no child program, with a child that never eats, and ended by
// a signal. Also checks the blocks' names as a foreign child finds them.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../named_place.h"
#include "feeder_report.h"
#include "harness.h"

namespace {

using namespace feeder_report;

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// The build's block files under /dev/shm and the objects they name. Under
// Wine the blocks are Windows objects and never appear there.
using BlockFiles = std::map<std::string, ino_t>;

BlockFiles BlockFilesOf(const FeederBuild& build) {
    BlockFiles files;
    const std::string prefix = "herdlab-map-" + std::to_string(getuid()) + "-";
    for (const std::string& name : harness::SharedMemoryNames()) {
        for (const std::string& block : build.blockNames) {
            struct stat status;
            if (name == prefix + block && stat(BlockFile(block).c_str(), &status) == 0) {
                files[name] = status.st_ino;
            }
        }
    }
    return files;
}

// The build's names still alive that were not there, as the same objects,
// `before` the test's runs. A file nobody holds is no name any more (the next
// lookup removes it); children killed a moment ago get a short grace to let
// go. A feeder run by hand meanwhile has blocks of the same names, which are
// its own business.
std::vector<std::string> LiveNewBlocks(const FeederBuild& build, const BlockFiles& before) {
    std::vector<std::string> live;
    for (const auto& [name, object] : BlockFilesOf(build)) {
        const auto earlier = before.find(name);
        if ((earlier == before.end() || earlier->second != object) &&
            harness::SharedMemoryNameHeld(name)) {
            live.push_back(name);
        }
    }
    return live;
}

std::vector<std::string> LeftoverBlocks(const FeederBuild& build, const BlockFiles& before) {
    const auto end = std::chrono::steady_clock::now() + 10s;
    std::vector<std::string> leftovers = LiveNewBlocks(build, before);
    while (!leftovers.empty() && std::chrono::steady_clock::now() < end) {
        usleep(20000);
        leftovers = LiveNewBlocks(build, before);
    }
    return leftovers;
}

// A fresh folder holding a copy of the feeder and, optionally, a program
// copied under the child program's name.
fs::path FolderWithFeeder(const FeederBuild& build, const std::string& childSource) {
    std::string pattern = (fs::temp_directory_path() / "herdlab-feeder-XXXXXX").string();
    const fs::path folder = mkdtemp(pattern.data());
    const std::string extension = harness::UnderRunner() ? ".exe" : "";
    fs::copy_file(harness::ProgramPath(build.program), folder / (build.program + extension));
    if (!childSource.empty()) {
        fs::copy_file(harness::ProgramPath(childSource), folder / (build.child + extension));
    }
    return folder;
}

class FeederWithSamples : public testing::TestWithParam<const FeederBuild*> {};

// A whole run with the sample children: the blocks carry the documented
// names while feeding goes on, the small rations are eaten, the large ones
// end at the deadline, and nothing is left behind.
TEST_P(FeederWithSamples, FeedsUntilTheDeadlineReportsInTableOrderAndReleasesBlocks) {
    const FeederBuild& build = *GetParam();
    harness::FeederRunTurn turn;
    const BlockFiles before = BlockFilesOf(build);
    harness::Session session = harness::Start(build.program);
    EXPECT_TRUE(WaitForBlocks(session, build, 60s)) << "blocks not found as a foreign child would";
    harness::Finish(session, 60s);

    EXPECT_FALSE(session.timedOut);
    EXPECT_EQ(session.exitCode, 0);
    // It ends at its 30 s deadline: well before 55 s even when a sanitizer
    // build shares a busy machine (45 s seen), long before Finish gives up.
    EXPECT_LT(session.seconds, 55.0);
    EXPECT_GE(session.seconds, 25.0);  // the large rations keep it to the deadline
    const std::vector<std::string> lines = harness::Lines(session.outputText);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(harness::IsEventLine(lines[0], "Начало работы")) << lines[0];

    ExpectReport(build, lines, kSampleFates, " наелся");
    // Nothing is printed after the report.
    EXPECT_EQ(ReportOf(build, {lines.back()}).names, std::vector<std::string>{build.names[7]});
    EXPECT_TRUE(LeftoverBlocks(build, before).empty());
}

INSTANTIATE_TEST_SUITE_P(BothBuilds, FeederWithSamples, testing::Values(&kElephants, &kProcesses),
                         [](const testing::TestParamInfo<const FeederBuild*>& info) {
                             return info.param->program;
                         });

// Runs a copy of the feeder alone in a fresh folder: neither the feeder's
// folder, nor the current folder, nor PATH reaches a child program.
harness::Session RunWithoutChildren(const FeederBuild& build) {
    const std::string savedPath = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
    setenv("PATH", "/usr/bin:/bin", 1);
    const fs::path folder = FolderWithFeeder(build, "");
    harness::Options options;
    options.programDirectory = folder.string();
    options.workingDirectory = folder.string();
    harness::Session session = harness::Run(build.program, "", options, 20s);
    fs::remove_all(folder);
    setenv("PATH", savedPath.c_str(), 1);
    return session;
}

// Without the child program every start fails with error 2; the feeder
// neither feeds nor reports, ends with 0 at once and leaves no block behind.
// A block that cannot be created (a planted object of another mode, which
// the platform refuses) is reported with its error instead, and its child is
// not started.
TEST(Feeder, LaunchFailuresAreReportedAndEndTheRunAtOnce) {
    for (const FeederBuild* build : {&kElephants, &kProcesses}) {
        SCOPED_TRACE(build->program);
        harness::FeederRunTurn turn;
        const BlockFiles before = BlockFilesOf(*build);
        const harness::Session session = RunWithoutChildren(*build);
        EXPECT_EQ(session.exitCode, 0);
        EXPECT_LT(session.seconds, 5.0);
        const std::vector<std::string> lines = harness::Lines(session.outputText);
        ASSERT_EQ(lines.size(), 9u) << session.outputText;
        EXPECT_TRUE(harness::IsEventLine(lines[0], "Начало работы"));
        for (std::size_t i = 1; i < lines.size(); ++i) {
            EXPECT_EQ(lines[i], build->startFailure + "2");
        }
        EXPECT_TRUE(LeftoverBlocks(*build, before).empty());
    }
    if (harness::UnderRunner()) {
        return;  // planting a /dev/shm object belongs to the Linux build
    }
    harness::FeederRunTurn turn;
    const BlockFiles before = BlockFilesOf(kElephants);
    named_place::MadeFolder();
    const fs::path planted = BlockFile(kElephants.blockNames[0]);
    const int fd = open(planted.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << planted;
    fchmod(fd, 0644);
    close(fd);
    const harness::Session session = RunWithoutChildren(kElephants);
    fs::remove(planted);
    const std::vector<std::string> lines = harness::Lines(session.outputText);
    ASSERT_EQ(lines.size(), 9u) << session.outputText;
    EXPECT_EQ(lines[1], "Не удалось создать общую память «Tandy», ошибка 5");
    EXPECT_EQ(lines[2], kElephants.startFailure + "2");
    EXPECT_TRUE(LeftoverBlocks(kElephants, before).empty());
}

// The last line a watching child printed about itself.
std::string LastWatchLine(const std::vector<std::string>& lines, const std::string& name) {
    std::string last;
    for (const std::string& line : lines) {
        if (line.rfind(name + ": ", 0) == 0) {
            last = line;
        }
    }
    return last;
}

// Aun never eats: it gets its eight portions and nothing more. Maya empties
// slot 3 of her full ring once: the feeder waits at its ring position and does
// not refill slot 3. Their neighbours are fed all the same.
TEST(Feeder, ChildThatNeverEatsGetsEightPortionsWhileOthersAreFed) {
    const fs::path folder = FolderWithFeeder(kElephants, "feeder_test_child");
    harness::Options options;
    options.programDirectory = folder.string();
    harness::FeederRunTurn turn;
    const BlockFiles before = BlockFilesOf(kElephants);
    harness::Session session = harness::Start(kElephants.program, options);
    harness::Finish(session, 60s);
    fs::remove_all(folder);

    EXPECT_EQ(session.exitCode, 0);
    EXPECT_LT(session.seconds, 40.0);
    const std::vector<std::string> lines = harness::Lines(session.outputText);
    EXPECT_EQ(LastWatchLine(lines, "Aun"), "Aun: 11111111 8") << session.outputText;
    EXPECT_EQ(LastWatchLine(lines, "Maya"), "Maya: 11101111 8") << session.outputText;

    ExpectReport(kElephants, lines,
                 {kFed, kUnfed, kUnfed, kUnfed, kUnfed, kEither, kUnfed, kEither}, ": fed");
    EXPECT_TRUE(LeftoverBlocks(kElephants, before).empty());
}

// How many children have said that they began to eat a ration of 93 or
// more: they hold their blocks, and cannot eat their ration from one ring.
int BegunWithLargeRations(const std::string& output) {
    const std::string began = " начал есть, рацион - ";
    int count = 0;
    for (const std::string& line : harness::Lines(output)) {
        const std::size_t at = line.find(began);
        count += at != std::string::npos && std::atoi(line.c_str() + at + began.size()) >= 93;
    }
    return count;
}

// Lets the feeder feed until one child with a large ration has begun to eat
// (a child in the idle class may not start at all on a busy machine), then
// sends `signal` to `target` (the feeder, or its whole group) and waits up
// to 5 s for the feeder's end. Returns how many such children had begun by
// the signal; 0 when the blocks never appeared or none began.
int SignalWhileFeeding(harness::Session& session, pid_t target, int signal) {
    if (!WaitForBlocks(session, kElephants, 60s) ||
        !harness::WaitUntil(
            session, [&] { return BegunWithLargeRations(session.outputText) > 0; }, 25s)) {
        ADD_FAILURE() << "no child with a large ration began\n" << session.outputText;
        return 0;
    }
    const int begun = BegunWithLargeRations(session.outputText);
    kill(target, signal);
    for (int waited = 0; waited < 100 && harness::StillRunningAfter(session, 50ms);) {
        ++waited;
    }
    return begun;
}

// Ended during feeding by Ctrl+C reaching the whole group, the feeder and its
// children let go of the blocks and their names go. Ended alone by SIGTERM,
// the feeder leaves its children running, and they hold the names, as on
// Windows, until they end.
TEST(Feeder, EndedBySignalDuringFeedingLeavesNoBlocks) {
    if (harness::UnderRunner()) {
        GTEST_SKIP() << "signals and /dev/shm names belong to the Linux build";
    }
    for (const int signalNumber : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signalNumber);
        harness::FeederRunTurn turn;
        const BlockFiles before = BlockFilesOf(kElephants);
        harness::Session session = harness::Start(kElephants.program);
        const bool group = signalNumber == SIGINT;
        const int holding =
            SignalWhileFeeding(session, group ? -session.pid : session.pid, signalNumber);
        ASSERT_GT(holding, 0);
        if (!group) {
            // Finish ends the rest of the group: the children until then.
            // Those with a small ration may have eaten it from the full
            // ring meanwhile; those that need more than a ring and had
            // begun cannot have.
            EXPECT_GE(LeftoverBlocks(kElephants, before).size(), static_cast<std::size_t>(holding))
                << "the children hold them";
        }
        harness::Finish(session, 10s);
        EXPECT_FALSE(session.timedOut);
        EXPECT_TRUE(LeftoverBlocks(kElephants, before).empty());
    }
}

// A feeder killed outright with its children (a crash, kill -9 of the
// group) leaves its blocks' files, held by no one. The next run takes them
// for gone: it feeds fresh blocks, reports as usual, and leaves no file of
// either run behind.
TEST(Feeder, RunAfterAKilledRunReportsRightAndLeavesNoBlocks) {
    if (harness::UnderRunner()) {
        GTEST_SKIP() << "SIGKILL and /dev/shm names belong to the Linux build";
    }
    harness::FeederRunTurn turn;
    const BlockFiles before = BlockFilesOf(kElephants);
    harness::Session killed = harness::Start(kElephants.program);
    ASSERT_GT(SignalWhileFeeding(killed, -killed.pid, SIGKILL), 0);
    harness::Finish(killed, 10s);

    harness::Session next = harness::Start(kElephants.program);
    harness::Finish(next, 60s);
    EXPECT_EQ(next.exitCode, 0);
    const std::vector<std::string> lines = harness::Lines(next.outputText);
    ExpectReport(kElephants, lines, kSampleFates, " наелся");
    EXPECT_TRUE(LeftoverBlocks(kElephants, before).empty());
}

// A feeder killed alone leaves its children running, as on Windows. The
// sample children end by themselves once no portion has come for 35 s, each
// with a line saying so, and their blocks' names go with them.
TEST(Feeder, OrphanedSampleChildrenEndByThemselves) {
    if (harness::UnderRunner()) {
        GTEST_SKIP() << "SIGKILL of the feeder alone belongs to the Linux build";
    }
    harness::FeederRunTurn turn;
    const BlockFiles before = BlockFilesOf(kElephants);
    harness::Session session = harness::Start(kElephants.program);
    ASSERT_GT(SignalWhileFeeding(session, session.pid, SIGKILL), 0);
    // 35 s after its last portion each orphan ends; one in the idle class
    // needs a moment of processor time to notice, which a busy machine may
    // give it late.
    EXPECT_TRUE(harness::LeftoverProcesses(session, 120s).empty()) << "orphans still running";
    harness::Finish(session, 5s);

    int orphans = 0;
    for (const std::string& line : harness::Lines(session.outputText)) {
        for (const std::string& name : kElephants.names) {
            orphans +=
                harness::IsEventLine(line, "Слон " + name + " остался без корма и завершился");
        }
    }
    EXPECT_GT(orphans, 0) << session.outputText;  // the large rations cannot be eaten in 1.5 s
    EXPECT_TRUE(LeftoverBlocks(kElephants, before).empty());
}

}  // namespace
