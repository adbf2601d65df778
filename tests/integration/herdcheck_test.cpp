// herdcheck run from end to end: the sample children and the students'
// example pass every check for both data sets; children with one fault each,
// checked side by side in one run, fail exactly the check meant for them;
// a wrong command line is refused.
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../named_place.h"
#include "harness.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::vector<std::string> kCheckKeys = {
    "finds_block",   "takes_only_placed", "ring_order",           "exact_ration",
    "ends_when_fed", "waits_politely",    "survives_slow_feeder",
};

// The blocks of the checker's lanes: Tandy, Aun, Hao, Maya and processes 1,
// 2, 6, 4, escaped as under /dev/shm.
const std::vector<std::string> kLaneBlocks = {
    "%05Tandy",
    "%03Aun",
    "%03Hao",
    "%04Maya",
    "%09%EF%F0%EE%F6%E5%F1%F1%201",
    "%09%EF%F0%EE%F6%E5%F1%F1%202",
    "%09%EF%F0%EE%F6%E5%F1%F1%206",
    "%09%EF%F0%EE%F6%E5%F1%F1%204",
};

std::vector<std::string> LeftoverLaneBlocks() {
    const std::string prefix = named_place::BlockPrefix();
    std::vector<std::string> leftovers;
    for (const std::string& name : harness::SharedMemoryNames()) {
        for (const std::string& block : kLaneBlocks) {
            // A file nobody holds is no name any more (the next lookup removes it).
            if (name == prefix + block && harness::SharedMemoryNameHeld(name)) {
                leftovers.push_back(name);
            }
        }
    }
    return leftovers;
}

// herdcheck runs in the programs' folder and names the children without one,
// as a teacher does in the folder of the class's programs. It takes its turn
// with the feeder tests, whose block names it shares, and leaves none of
// them behind.
harness::Session RunChecker(const std::vector<std::string>& arguments, const std::string& locale) {
    harness::Options options;
    options.arguments = arguments;
    options.locale = locale;
    options.workingDirectory = fs::path(harness::ProgramPath("herdcheck")).parent_path().string();
    harness::FeederRunTurn turn;
    // Blocks left by a killed program elsewhere may already be there; the
    // checker then waits or uses other names, and must add none.
    const std::vector<std::string> before = LeftoverLaneBlocks();
    harness::Session session = harness::Run("herdcheck", "", options, 180s);
    EXPECT_EQ(LeftoverLaneBlocks(), before) << session.outputText;
    return session;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The JSON line of one child (the report writes one child per line).
std::string ChildLine(const std::string& json, const std::string& program) {
    for (const std::string& line : harness::Lines(json)) {
        if (line.find("{\"program\": \"" + program + "\"") != std::string::npos) {
            return line;
        }
    }
    return {};
}

std::string ResultOf(const std::string& childLine, const std::string& key) {
    const std::string field = "\"" + key + "\": {\"result\": \"";
    const std::size_t at = childLine.find(field);
    if (at == std::string::npos) {
        return "missing";
    }
    const std::size_t start = at + field.size();
    return childLine.substr(start, childLine.find('"', start) - start);
}

void ExpectEveryCheckPassed(const harness::Session& session, int children) {
    EXPECT_EQ(session.exitCode, 0) << session.outputText << session.errorText;
    int passedLines = 0;
    int passedRows = 0;
    for (const std::string& line : harness::Lines(session.outputText)) {
        passedLines += line.find(": пройдена") != std::string::npos ? 1 : 0;
        passedRows += line.ends_with(" сдано") && !line.ends_with("не сдано") ? 1 : 0;
    }
    EXPECT_EQ(passedLines, 7 * children) << session.outputText;
    EXPECT_EQ(passedRows, children) << session.outputText;
}

TEST(Herdcheck, SampleChildrenAndTheStudentsExamplePassForBothDataSets) {
    const harness::Session elephants = RunChecker(
        {"tusker6", "student_tusker"}, harness::UnderRunner() ? "ru_RU.UTF-8" : "C.UTF-8");
    ExpectEveryCheckPassed(elephants, 2);
    EXPECT_NE(elephants.outputText.find("tusker6 Tandy 3 "), std::string::npos);

    // The numbered processes, with a decimal comma where the locale exists.
    const std::string locale = harness::LocaleAvailable("ru_RU.UTF-8") ? "ru_RU.UTF-8" : "C.UTF-8";
    const harness::Session processes =
        RunChecker({"--set", "2", "tusker2", "student_tusker"}, locale);
    ExpectEveryCheckPassed(processes, 2);
    EXPECT_NE(processes.outputText.find("tusker2 процесс 1 3 1"), std::string::npos);
}

TEST(Herdcheck, EachFaultyChildFailsOnlyTheCheckMeantForIt) {
    if (harness::UnderRunner()) {
        GTEST_SKIP() << "the faulty children are checked natively";
    }
    if (!harness::LocaleAvailable("ru_RU.UTF-8")) {
        GTEST_SKIP() << "locale ru_RU.UTF-8 (decimal comma) is not installed";
    }
    const std::map<std::string, std::string> meantFor = {
        {"faulty_spins", "waits_politely"},         {"faulty_out_of_order", "ring_order"},
        {"faulty_writes_two", "takes_only_placed"}, {"faulty_one_too_many", "exact_ration"},
        {"faulty_one_too_few", "exact_ration"},     {"faulty_never_ends", "ends_when_fed"},
        {"faulty_crashes", "ends_when_fed"},        {"faulty_ignores_comma", "finds_block"},
    };
    std::string pattern = (fs::temp_directory_path() / "herdcheck-json-XXXXXX").string();
    const fs::path folder = mkdtemp(pattern.data());
    const fs::path jsonPath = folder / "class.json";
    std::vector<std::string> arguments = {"--json", jsonPath.string(), "faulty_floods"};
    for (const auto& [program, check] : meantFor) {
        arguments.push_back(program);
    }
    const harness::Session session = RunChecker(arguments, "ru_RU.UTF-8");
    EXPECT_EQ(session.exitCode, 1) << session.outputText << session.errorText;
    const std::string json = ReadFile(jsonPath);
    fs::remove_all(folder);
    EXPECT_NE(json.find("\"passed\": false"), std::string::npos);

    for (const auto& [program, meant] : meantFor) {
        const std::string line = ChildLine(json, program);
        ASSERT_FALSE(line.empty()) << program << "\n" << json;
        for (const std::string& key : kCheckKeys) {
            const std::string result = ResultOf(line, key);
            if (key == meant) {
                EXPECT_EQ(result, "failed") << program << ": " << key << "\n" << line;
            } else {
                EXPECT_NE(result, "failed") << program << ": " << key << "\n" << line;
                EXPECT_NE(result, "missing") << program << ": " << key;
            }
        }
    }
    // A child that floods its output is ended and judged for it.
    const std::string flooding = ChildLine(json, "faulty_floods");
    EXPECT_EQ(ResultOf(flooding, "ends_when_fed"), "failed") << flooding;
    EXPECT_NE(flooding.find("залил вывод"), std::string::npos) << flooding;
}

TEST(Herdcheck, AWrongCommandLineIsRefusedAndAMissingProgramFails) {
    const harness::Session noChild = RunChecker({}, "C.UTF-8");
    EXPECT_EQ(noChild.exitCode, 2);
    EXPECT_NE(noChild.errorText.find("не указана ни одна программа"), std::string::npos);

    const harness::Session badSet = RunChecker({"--set", "3", "tusker6"}, "C.UTF-8");
    EXPECT_EQ(badSet.exitCode, 2);
    EXPECT_NE(badSet.errorText.find("--set"), std::string::npos);

    const harness::Session badJson =
        RunChecker({"--json", "/nonexistent-folder/x.json", "tusker6"}, "C.UTF-8");
    EXPECT_EQ(badJson.exitCode, 2);

    const harness::Session missing = RunChecker({"no_such_child"}, "C.UTF-8");
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.outputText.find("не запустился, ошибка 2"), std::string::npos)
        << missing.outputText;
}

}  // namespace
