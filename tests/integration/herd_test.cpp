// The herd launcher herdboss1 and its elephant tusker1, run as a user runs
// them: answers typed into a pipe, the console transcript checked line by line.
//
// Most launcher tests run a copy of herdboss1 from a temporary folder, so the
// platform's program search finds no tusker1 (every start fails and the
// launcher ends at once) or finds the recording child under that name (which
// prints the command line and class it was given).
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "harness.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

// The launcher's texts, as the console shows them (UTF-8).
const std::string kGreeting = "Начало работы";
const std::string kCountPrompt = "Введите количество процессов (1 до 15)>";
const std::string kCountFallback =
    "Введено некорректное значение. Используем настройки по умолчанию (15).";
const std::string kListingTitle = "Доступные процессы:";
const std::string kEditPrompt =
    "Введите № процесса для редактирования параметров или 0 для продолжения работы>";
const std::string kNoEdit = "Продолжаем работу...";
const std::string kPriorityPrompt = "Введите приоритет (0 до 5)>";
const std::string kAgePrompt = "Введите возраст (1 до 60)>";
const std::string kWeightPrompt = "Введите вес (1 до 40)>";
const std::string kRejected = "Введено некорректное значение. Используем настройки по умолчанию.";
const std::string kStartFailed = "Ошибка запуска процесса 2";  // 2: program not found
const std::string kTimeIsUp = "ВРЕМЯ ОЖИДАНИЯ ИСТЕКЛО";

// Built-in herd as listed: "Процесс n, возраст: a, вес: w." (point separator).
const std::vector<std::string> kListing = {
    "Процесс 1, возраст: 3, вес: 1.70.",    "Процесс 2, возраст: 4, вес: 1.20.",
    "Процесс 3, возраст: 40, вес: 4.80.",   "Процесс 4, возраст: 37, вес: 4.30.",
    "Процесс 5, возраст: 52, вес: 4.50.",   "Процесс 6, возраст: 14, вес: 3.20.",
    "Процесс 7, возраст: 42, вес: 6.90.",   "Процесс 8, возраст: 10, вес: 7.00.",
    "Процесс 9, возраст: 18, вес: 4.00.",   "Процесс 10, возраст: 48, вес: 10.00.",
    "Процесс 11, возраст: 40, вес: 6.90.",  "Процесс 12, возраст: 58, вес: 15.00.",
    "Процесс 13, возраст: 43, вес: 14.00.", "Процесс 14, возраст: 20, вес: 6.00.",
    "Процесс 15, возраст: 1, вес: 3.00.",
};

const std::vector<std::string> kFiveClasses = {"64", "16384", "32", "32768", "128"};

// One expected line: an event line (time stamp, " - ", text) or a plain one.
struct Expected {
    bool event;
    std::string text;
};
Expected Event(std::string text) {
    return {true, std::move(text)};
}
Expected Plain(std::string text) {
    return {false, std::move(text)};
}

void ExpectTranscript(const Lines& actual, const std::vector<Expected>& expected) {
    ASSERT_EQ(actual.size(), expected.size()) << ::testing::PrintToString(actual);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (expected[i].event) {
            EXPECT_TRUE(harness::IsEventLine(actual[i], expected[i].text))
                << "line " << i << ": " << actual[i];
        } else {
            EXPECT_EQ(actual[i], expected[i].text) << "line " << i;
        }
    }
}

// The dialogue up to the listing of `count` elephants.
std::vector<Expected> DialogueStart(bool countRejected, int count) {
    std::vector<Expected> lines = {Event(kGreeting), Plain(kCountPrompt)};
    if (countRejected) {
        lines.push_back(Plain(kCountFallback));
    }
    lines.push_back(Plain(kListingTitle));
    for (int i = 0; i < count; ++i) {
        lines.push_back(Event(kListing[i]));
    }
    lines.push_back(Plain(kEditPrompt));
    return lines;
}

void Append(std::vector<Expected>& lines, const std::vector<Expected>& more) {
    lines.insert(lines.end(), more.begin(), more.end());
}

std::vector<Expected> FailedStarts(int count) {
    return std::vector<Expected>(static_cast<std::size_t>(count), Plain(kStartFailed));
}

bool Privileged() {
    return geteuid() == 0 && !harness::UnderRunner();
}

// True when the process has ended (gone, or a zombie not yet waited for).
bool Ended(const std::string& pid) {
    const std::string text = harness::ProcessStat(std::stoi(pid));
    const std::size_t close = text.rfind(')');
    return text.empty() || (close != std::string::npos && text.substr(close + 2, 1) == "Z");
}

// A folder of its own holding a copy of the launcher and, when given, a
// child program under the name tusker1.
class HerdFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "herd_test_XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        CopyProgram("herdboss1", "herdboss1");
    }
    void TearDown() override { fs::remove_all(folder_); }

    void CopyProgram(const std::string& built, const std::string& as) {
        const std::string suffix = harness::UnderRunner() ? ".exe" : "";
        fs::copy_file(harness::ProgramPath(built), folder_ / (as + suffix));
    }
    void AddRecordingChild() { CopyProgram("herd_recording_child", "tusker1"); }

    harness::Options Options(std::string locale = "C.UTF-8") const {
        harness::Options options;
        options.locale = std::move(locale);
        options.programDirectory = folder_.string();
        options.workingDirectory = folder_.string();
        return options;
    }

    // A run whose every start fails: the launcher ends by itself, at once.
    harness::Session RunWithoutChild(std::string_view input) {
        harness::Session session = harness::Run("herdboss1", input, Options(), 30s);
        EXPECT_FALSE(session.timedOut);
        EXPECT_EQ(session.exitCode, 0);
        EXPECT_EQ(session.errorText, "");
        return session;
    }

    fs::path folder_;
};

using HerdDialogue = HerdFolder;

TEST_F(HerdDialogue, WithoutChildProgramEveryStartFailsAndTheLauncherEndsAtOnce) {
    // The input stays open: the launcher must end without asking for more.
    harness::Session session = harness::Start("herdboss1", Options());
    harness::Send(session, "3\n0\n");
    EXPECT_FALSE(harness::StillRunningAfter(session, 15s)) << "waits although nothing started";
    harness::Finish(session, 5s);
    EXPECT_EQ(session.exitCode, 0);
    EXPECT_LT(session.seconds, 15.0);

    std::vector<Expected> expected = DialogueStart(false, 3);
    Append(expected, {Plain(kNoEdit)});
    Append(expected, FailedStarts(3));
    ExpectTranscript(harness::Lines(session.outputText), expected);
    EXPECT_EQ(session.outputText.find(kTimeIsUp), std::string::npos);
}

// One typed dialogue and what follows the edit prompt. Every start fails,
// so each run ends right after the dialogue with one failure line per elephant.
struct DialogueCase {
    const char* input;
    bool countRejected;
    int count;
    std::vector<Expected> afterEditPrompt;
};

TEST_F(HerdDialogue, AnswersAreTakenOrReplacedByTheirFallbacks) {
    const std::vector<Expected> noEdit = {Plain(kNoEdit)};
    const std::vector<Expected> allRejected = {Plain(kPriorityPrompt), Plain(kRejected),
                                               Plain(kAgePrompt),      Plain(kRejected),
                                               Plain(kWeightPrompt),   Plain(kRejected)};
    const std::vector<DialogueCase> cases = {
        // Counts outside 1..15, words, fractions, too large numbers and a sign
        // before a hex prefix (refused by the launcher) give all 15.
        {"0\n0\n", true, 15, noEdit},
        {"16\n0\n", true, 15, noEdit},
        {"-1\n0\n", true, 15, noEdit},
        {"abc\n0\n", true, 15, noEdit},
        {"2.5\n0\n", true, 15, noEdit},
        {"+$3\n0\n", true, 15, noEdit},
        {"99999999999\n0\n", true, 15, noEdit},
        // The first number of the first non-blank line counts.
        {"3 7\n0\n", false, 3, noEdit},
        {"\n   \n  3  abc\n0\n", false, 3, noEdit},
        {"$3\n0\n", false, 3, noEdit},
        // The end of input answers 0 everywhere: 0 is a valid priority (idle),
        // but neither a count nor a position, age or weight.
        {"", true, 15, noEdit},
        {"3\n2\n",
         false,
         3,
         {Plain(kPriorityPrompt), Plain(kAgePrompt), Plain(kRejected), Plain(kWeightPrompt),
          Plain(kRejected)}},
        // Only the listed positions can be edited; the prompt is not repeated.
        {"3\n3\n5\n1\n1\n",
         false,
         3,
         {Plain(kPriorityPrompt), Plain(kAgePrompt), Plain(kWeightPrompt)}},
        {"3\n4\n1\n", false, 3, noEdit},
        {"3\n0\n1\n", false, 3, noEdit},
        {"3\n-1\n1\n", false, 3, noEdit},
        {"3\nx\n1\n", false, 3, noEdit},
        {"3\n+$1\n1\n", false, 3, noEdit},
        // Each rejected edit answer is followed by the next question.
        {"2\n1\n6\n0\n0\n", false, 2, allRejected},
        {"2\n1\n-1\n61\n41\n", false, 2, allRejected},
        {"2\n1\nabc\n+$A\n2.5\n", false, 2, allRejected},
        {"2\n1\n1e1\n60x\n$29\n", false, 2, allRejected},
    };
    for (const DialogueCase& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(std::string(c.input)));
        const harness::Session session = RunWithoutChild(c.input);
        std::vector<Expected> expected = DialogueStart(c.countRejected, c.count);
        Append(expected, c.afterEditPrompt);
        Append(expected, FailedStarts(c.count));
        ExpectTranscript(harness::Lines(session.outputText), expected);
    }
}

// What each child receives: the edited elephant's age and weight and the
// real-time class reach its command line, while the listing keeps the old
// values; the random classes stay within idle..high. The whole fixed wait
// follows; the edited child (age 60 keeps the recording child running) is
// ended and reported destroyed, the others finished, in table order. A final
// entry that is not a number ends the launcher with its error report.
TEST_F(HerdFolder, ChildrenReceiveTheEditedRowAndAWordEndsTheLauncherWithItsReport) {
    AddRecordingChild();
    harness::Session session = harness::Start("herdboss1", Options());
    harness::Send(session, "15\n2\n5\n$3C\n12\n");
    ASSERT_TRUE(harness::WaitForOutput(session, kTimeIsUp, 60s)) << session.outputText;
    ASSERT_TRUE(harness::WaitForOutput(session, "процесс 15 ", 10s)) << session.outputText;
    const Lines lines = harness::Lines(session.outputText);

    // The listing shows the row as it was before the edit.
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return harness::IsEventLine(line, kListing[1]);
    }));
    std::string lingeringPid;
    for (int number = 1; number <= 15; ++number) {
        const std::regex child("child " + std::to_string(number) +
                               " (\\S+) (\\S+) class (\\d+) pid (\\d+)");
        std::smatch match;
        const auto found = std::find_if(lines.begin(), lines.end(), [&](const std::string& line) {
            return std::regex_match(line, child);
        });
        ASSERT_NE(found, lines.end()) << "no child " << number;
        std::regex_match(*found, match, child);
        const std::string arguments = match[1].str() + " " + match[2].str();
        const std::string priorityClass = match[3].str();
        if (number == 2) {
            EXPECT_EQ(arguments, "60 12.00");
            lingeringPid = match[4].str();
            if (Privileged()) {
                EXPECT_EQ(priorityClass, "256");
            }
        } else {
            // "Процесс n, возраст: a, вес: w." gives "a w".
            const std::regex listed("Процесс \\d+, возраст: (\\d+), вес: (\\S+)\\.");
            std::smatch row;
            std::regex_match(kListing[number - 1], row, listed);
            EXPECT_EQ(arguments, row[1].str() + " " + row[2].str()) << number;
            if (Privileged()) {
                EXPECT_NE(std::find(kFiveClasses.begin(), kFiveClasses.end(), priorityClass),
                          kFiveClasses.end())
                    << number << ": " << priorityClass;
            }
        }
    }

    // The report: one line per child, in table order, after the time-out.
    const auto timeUp = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
        return harness::IsEventLine(line, kTimeIsUp);
    });
    ASSERT_NE(timeUp, lines.end());
    std::vector<Expected> report;
    for (int number = 1; number <= 15; ++number) {
        report.push_back(Event("процесс " + std::to_string(number) +
                               (number == 2 ? " уничтожен." : " нормально завершился")));
    }
    ExpectTranscript(Lines(timeUp + 1, lines.end()), report);

    // The destroyed child is really gone: at most a zombie that the
    // launcher, which never waits for its children, leaves behind.
    if (!harness::UnderRunner()) {
        EXPECT_TRUE(harness::WaitUntil(
            session, [&] { return Ended(lingeringPid); }, 10s))
            << "child 2 still runs";
    }

    harness::Send(session, "\n\nabc\n");
    harness::Finish(session, 10s);
    EXPECT_FALSE(session.timedOut);
    EXPECT_EQ(session.exitCode, 1);
    const std::string_view output = session.outputText;
    const std::size_t reportStart = output.find("Exception ");
    ASSERT_NE(reportStart, std::string::npos) << session.outputText;
    EXPECT_TRUE(std::regex_match(
        std::string(output.substr(reportStart)),
        std::regex("Exception EInOutError in module herdboss1(\\.exe)? at [0-9A-F]{8}\\.\n"
                   "Invalid numeric input\\.\r\n")))
        << output.substr(reportStart);
    EXPECT_EQ(session.errorText, "");
}

TEST_F(HerdFolder, CommaLocaleListsAndPassesWeightsWithAComma) {
    if (!harness::LocaleAvailable("ru_RU.UTF-8")) {
        GTEST_SKIP() << "locale ru_RU.UTF-8 is not installed";
    }
    AddRecordingChild();
    harness::Session session = harness::Start("herdboss1", Options("ru_RU.UTF-8"));
    harness::Send(session, "3\n0\n");
    ASSERT_TRUE(harness::WaitForOutput(session, "child 3 ", 20s)) << session.outputText;
    ASSERT_TRUE(harness::WaitForOutput(session, "child 1 ", 20s));
    ASSERT_TRUE(harness::WaitForOutput(session, "child 2 ", 20s));
    harness::Finish(session, 1ms);  // no need to sit out the fixed wait
    const Lines lines = harness::Lines(session.outputText);
    EXPECT_TRUE(harness::IsEventLine(lines[3], "Процесс 1, возраст: 3, вес: 1,70."));
    EXPECT_TRUE(harness::IsEventLine(lines[5], "Процесс 3, возраст: 40, вес: 4,80."));
    EXPECT_NE(session.outputText.find("child 3 40 4,80 class "), std::string::npos);
    EXPECT_NE(session.outputText.find("child 1 3 1,70 class "), std::string::npos);
}

// The real herd: three elephants (the first made real-time, old and light,
// so it finishes at once), the fixed wait, the report, the final entry.
TEST(HerdRun, ThreeElephantsRunTheirCourseAndAreReportedAfterTheFixedWait) {
    harness::Session session = harness::Start("herdboss1");
    const auto answered = std::chrono::steady_clock::now();
    harness::Send(session, "3\n1\n5\n60\n1\n");
    ASSERT_TRUE(harness::WaitForOutput(session, kTimeIsUp, 90s)) << session.outputText;
    const double waited =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - answered).count();
    EXPECT_GE(waited, 25.0);
    ASSERT_TRUE(harness::WaitForOutput(session, "процесс 3 ", 10s)) << session.outputText;

    // An empty line does not end the launcher; a number does.
    harness::Send(session, "\n");
    EXPECT_TRUE(harness::StillRunningAfter(session, 1500ms));
    harness::Send(session, "7\n");
    harness::Finish(session, 15s);
    EXPECT_FALSE(session.timedOut);
    EXPECT_EQ(session.exitCode, 0);
    EXPECT_EQ(session.errorText, "");

    const Lines lines = harness::Lines(session.outputText);
    const auto timeUp = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
        return harness::IsEventLine(line, kTimeIsUp);
    });
    ASSERT_NE(timeUp, lines.end());
    std::vector<std::string> report;  // the launcher's lines after the time-out, in order
    for (auto line = timeUp + 1; line != lines.end(); ++line) {
        if (line->find(" - процесс ") != std::string::npos) {
            report.push_back(*line);
        }
    }
    ASSERT_EQ(report.size(), 3u) << ::testing::PrintToString(lines);

    const std::vector<std::string> elephantEvents = {"нашел воду", "напился"};
    for (int number = 1; number <= 3; ++number) {
        const std::string name = "Слон " + std::to_string(number) + " ";
        const std::string normal = "процесс " + std::to_string(number) + " нормально завершился";
        const std::string destroyed = "процесс " + std::to_string(number) + " уничтожен.";
        const bool finished = harness::IsEventLine(report[number - 1], normal);
        EXPECT_TRUE(finished || harness::IsEventLine(report[number - 1], destroyed))
            << report[number - 1];

        // Line 1 names the class; lines 2 and 3 follow for an elephant that finished.
        const std::regex first(".* - " + name + "поиск начал, приоритет - (.*)");
        const auto found = std::find_if(lines.begin(), lines.end(), [&](const std::string& line) {
            return std::regex_match(line, first);
        });
        ASSERT_NE(found, lines.end()) << number;
        EXPECT_LT(found, timeUp);
        if (number == 1 && Privileged()) {
            EXPECT_TRUE(
                harness::IsEventLine(*found, name + "поиск начал, приоритет - реального времени"))
                << *found;
        }
        for (const std::string& event : elephantEvents) {
            const bool printed = std::any_of(lines.begin(), lines.end(), [&](const std::string& l) {
                return harness::IsEventLine(l, name + event);
            });
            if (finished) {
                EXPECT_TRUE(printed) << number << " " << event;
            }
        }
    }
    // The real-time elephant without a search and with 5 units of drinking
    // has long finished.
    EXPECT_TRUE(harness::IsEventLine(report[0], "процесс 1 нормально завершился")) << report[0];
}

// ---- tusker1 alone -------------------------------------------------------------

harness::Session RunElephant(std::vector<std::string> arguments, std::string locale = "C.UTF-8") {
    harness::Options options;
    options.arguments = std::move(arguments);
    options.locale = std::move(locale);
    return harness::Run("tusker1", "", options, 120s);
}

// The class name the elephant should show when started by this test.
std::string InheritedClassName() {
    return getpriority(PRIO_PROCESS, 0) == 0 || harness::UnderRunner() ? "нормальный" : "";
}

void ExpectElephantLines(const harness::Session& session, const std::string& name) {
    EXPECT_FALSE(session.timedOut);
    EXPECT_EQ(session.exitCode, 0);
    EXPECT_EQ(session.errorText, "");
    const Lines lines = harness::Lines(session.outputText);
    ASSERT_EQ(lines.size(), 3u) << session.outputText;
    const std::string className = InheritedClassName();
    if (!className.empty()) {
        EXPECT_TRUE(harness::IsEventLine(lines[0],
                                         "Слон " + name + " поиск начал, приоритет - " + className))
            << lines[0];
    }
    EXPECT_TRUE(harness::IsEventLine(lines[1], "Слон " + name + " нашел воду")) << lines[1];
    EXPECT_TRUE(harness::IsEventLine(lines[2], "Слон " + name + " напился")) << lines[2];
}

TEST(Elephant, PrintsItsThreeLinesAndEnds) {
    ExpectElephantLines(RunElephant({"3", "40", "4.80"}), "3");
    // Extra arguments are ignored; a quoted name keeps its blank.
    ExpectElephantLines(RunElephant({"Big Tusk", "58", "1", "extra"}), "Big Tusk");
}

TEST(Elephant, NameIsCutToSixteenCharacters) {
    ExpectElephantLines(RunElephant({"ABCDEFGHIJKLMNOPQRST", "60", "0"}), "ABCDEFGHIJKLMNOP");
    // Characters, not bytes: Russian letters take two bytes each in UTF-8.
    // Under Wine the Russian locale gives the Windows-1251 code page that the
    // programs are made for; another code page has no Russian letters.
    const std::string locale = harness::UnderRunner() ? "ru_RU.UTF-8" : "C.UTF-8";
    if (harness::LocaleAvailable(locale)) {
        ExpectElephantLines(RunElephant({"СлонСлонСлонСлонСлон", "60", "0"}, locale),
                            "СлонСлонСлонСлон");
    }
}

// Age 60 gives the search bound 0; older ages would make it negative. Weight
// 0 leaves out the drinking. With a unit of 1 s of processor time, any unit
// spent on a search would show in the elephant's processor time.
TEST(Elephant, OldElephantsFindWaterAtOnce) {
    setenv("HERDLAB_UNIT_MS", "1000", 1);
    for (const char* age : {"60", "61", "1000", "2147483647"}) {
        SCOPED_TRACE(age);
        const harness::Session session = RunElephant({"7", age, "0"});
        ExpectElephantLines(session, "7");
        EXPECT_LT(session.processorSeconds, 0.9) << "searched although the bound is 0";
    }
    unsetenv("HERDLAB_UNIT_MS");
}

TEST(Elephant, ArgumentThatDoesNotConvertEndsItWithTheReport) {
    struct Case {
        std::vector<std::string> arguments;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"3", "abc", "4.80"}, "'abc' is not a valid integer value."},
        {{"3", "abc", "x"}, "'abc' is not a valid integer value."},  // age comes first
        {{"3", "40", "4,80"}, "'4,80' is not a valid floating point value."},
        {{"3", "40"}, "'' is not a valid floating point value."},
        {{}, "'' is not a valid integer value."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        const harness::Session session = RunElephant(c.arguments);
        EXPECT_EQ(session.exitCode, 1);
        EXPECT_EQ(session.outputText, "");
        const Lines lines = harness::Lines(session.errorText);
        ASSERT_EQ(lines.size(), 3u) << session.errorText;
        EXPECT_TRUE(std::regex_match(
            lines[0],
            std::regex("Exception EConvertError in module tusker1(\\.exe)? at [0-9A-F]{8}\\.")))
            << lines[0];
        EXPECT_EQ(lines[1], c.message);
        EXPECT_EQ(lines[2], "");
    }
}

TEST(Elephant, CommaLocaleReadsWeightsWithACommaOnly) {
    if (!harness::LocaleAvailable("ru_RU.UTF-8")) {
        GTEST_SKIP() << "locale ru_RU.UTF-8 is not installed";
    }
    ExpectElephantLines(RunElephant({"3", "40", "4,80"}, "ru_RU.UTF-8"), "3");
    const harness::Session session = RunElephant({"3", "40", "4.80"}, "ru_RU.UTF-8");
    EXPECT_EQ(session.exitCode, 1);
    EXPECT_EQ(session.outputText, "");
    EXPECT_NE(session.errorText.find("'4.80' is not a valid floating point value."),
              std::string::npos)
        << session.errorText;
}

}  // namespace
