// What a feeder's run must report, shared by the feeder tests and the tests
// that run a lesson beside other programs: the two builds' names and lines,
// the fates of the sample children, the check of a report against them, and
// the wait for a run's blocks.
#pragma once

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../named_place.h"
#include "harness.h"

namespace feeder_report {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

struct FeederBuild {
    std::string program;
    std::string child;
    std::vector<std::string> names;
    std::vector<std::string> blockNames;  // escaped as in /dev/shm/herdlab-map-<uid>-...
    std::string who;                      // word before the name in report lines
    std::string killed;                   // end of the line for a child the feeder ended
    std::string startFailure;             // start-failure line without the number
};

inline const FeederBuild kElephants = {
    "herdboss6",
    "tusker6",
    {"Tandy", "Aun", "Assam", "Maya", "BakZap", "Hao", "Hathy", "Kitty"},
    {"%05Tandy", "%03Aun", "%05Assam", "%04Maya", "%06BakZap", "%03Hao", "%05Hathy", "%05Kitty"},
    "Слон",
    "погиб",
    "Ошибка запуска Слона ",
};

// "процесс N" in Windows-1251 bytes, escaped: length 9 is a tab, %09.
inline const FeederBuild kProcesses = {
    "herdboss2",
    "tusker2",
    {"процесс 1", "процесс 2", "процесс 3", "процесс 4", "процесс 5", "процесс 6", "процесс 7",
     "процесс 8"},
    {"%09%EF%F0%EE%F6%E5%F1%F1%201", "%09%EF%F0%EE%F6%E5%F1%F1%202", "%09%EF%F0%EE%F6%E5%F1%F1%203",
     "%09%EF%F0%EE%F6%E5%F1%F1%204", "%09%EF%F0%EE%F6%E5%F1%F1%205", "%09%EF%F0%EE%F6%E5%F1%F1%206",
     "%09%EF%F0%EE%F6%E5%F1%F1%207", "%09%EF%F0%EE%F6%E5%F1%F1%208"},
    "процесс",
    "завершился принудительно",
    "Ошибка запуска процесса ",
};

// What the report must say of a child. The feeder fills a slot of each ring
// per pass of about 0.4 s, so the rations 15 and 25 are eaten within half the
// 30 s and those of 93 or more never. Rations of 45 and 52 take two thirds of
// it on an idle machine, and a busy one (slow child starts, long pauses)
// decides: a child reported as ended on its own must then have said it was fed.
// So it does for a small ration in the idle class, or a child that never
// said it began: on a busy machine the idle class may get no processor at all.
enum class Fate { kFed, kUnfed, kEither };
using Fates = std::array<Fate, 8>;
constexpr Fate kFed = Fate::kFed, kUnfed = Fate::kUnfed, kEither = Fate::kEither;
// Rations 15, 25, 169, 93, 102, 52, 239 and 45 with the sample children.
constexpr Fates kSampleFates = {kFed, kFed, kUnfed, kUnfed, kUnfed, kEither, kUnfed, kEither};

inline fs::path BlockFile(const std::string& escapedName) {
    return named_place::BlockFile(escapedName);
}

// Polls until every block of the build exists; false after `limit`. The
// callers allow 60 s: the blocks come within a second, but a sanitizer build
// on a busy machine takes seconds to start its eight children.
inline bool WaitForBlocks(harness::Session& session, const FeederBuild& build,
                          std::chrono::milliseconds limit) {
    if (harness::UnderRunner()) {
        return harness::StillRunningAfter(session, 1s);  // not visible from Linux
    }
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        bool all = true;
        for (const std::string& block : build.blockNames) {
            all = all && fs::exists(BlockFile(block));
        }
        if (all) {
            return true;
        }
        harness::StillRunningAfter(session, 20ms);
    }
    return false;
}

// The report lines in the order printed: each one names a child.
struct Report {
    std::vector<std::string> names;
    std::vector<bool> endedOnTheirOwn;
};

inline Report ReportOf(const FeederBuild& build, const std::vector<std::string>& lines) {
    Report report;
    for (const std::string& line : lines) {
        for (const std::string& name : build.names) {
            const std::string subject = build.who + " " + name + " ";
            if (harness::IsEventLine(line, subject + "нормально завершился")) {
                report.names.push_back(name);
                report.endedOnTheirOwn.push_back(true);
            } else if (harness::IsEventLine(line, subject + build.killed)) {
                report.names.push_back(name);
                report.endedOnTheirOwn.push_back(false);
            }
        }
    }
    return report;
}

// True when the child never said it began, or began in the idle class: the
// sample children say "<who> <name> начал есть, ..., приоритет - <class>",
// the stand-in "<name>: began, приоритет - <class>".
inline bool MayStarve(const std::vector<std::string>& lines, const FeederBuild& build,
                      const std::string& name) {
    for (const std::string& line : lines) {
        if (line.find(build.who + " " + name + " начал есть, ") != std::string::npos ||
            line.starts_with(name + ": began, ")) {
            return line.ends_with("приоритет - низкий");
        }
    }
    return true;
}

// Checks the report against the fates. A child has said it was fed when a
// line ends with `fedLine` after its name ("<name> наелся" from the sample
// children, "<name>: fed" from the stand-in).
inline void ExpectReport(const FeederBuild& build, const std::vector<std::string>& lines,
                         const Fates& fates, const std::string& fedLine) {
    const Report report = ReportOf(build, lines);
    ASSERT_EQ(report.names, build.names) << ::testing::PrintToString(lines);
    for (std::size_t i = 0; i < fates.size(); ++i) {
        const bool saidFed = std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
            return line.ends_with(" " + build.names[i] + fedLine) ||
                   line == build.names[i] + fedLine;
        });
        if (fates[i] == kEither || (fates[i] == kFed && MayStarve(lines, build, build.names[i]))) {
            EXPECT_TRUE(!report.endedOnTheirOwn[i] || saidFed) << build.names[i];
        } else {
            EXPECT_EQ(report.endedOnTheirOwn[i], fates[i] == kFed) << build.names[i];
        }
    }
}

}  // namespace feeder_report
