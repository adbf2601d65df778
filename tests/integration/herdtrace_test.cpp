// herdtrace run as a user runs it: the sampler's figures for children and
// grandchildren, PROGRAM's input, output and exit code passed through, Ctrl+C,
// wrong command lines, and every launcher of the course traced, the herd's
// picture rendered.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "../herdtrace/json_check.h"
#include "harness.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class Herdtrace : public ::testing::Test {
  protected:
    void SetUp() override {
        if (harness::UnderRunner()) {
            GTEST_SKIP() << "the test child is a Linux program";
        }
        folder = fs::temp_directory_path() /
                 ("herdtrace-test-" + std::to_string(getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(folder);
        picture = (folder / "run.svg").string();
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }

    harness::Options Traced(std::vector<std::string> command) {
        harness::Options options;
        options.arguments = {"-o", picture, "--"};
        options.arguments.insert(options.arguments.end(), command.begin(), command.end());
        return options;
    }

    std::string Picture() const {
        std::ifstream file(picture, std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    fs::path folder;
    std::string picture;
    const std::string child = harness::ProgramPath("herdtrace_test_child");
};

// The processor time the summary gives a child, in ms; -1 when absent.
double SummaryMilliseconds(const std::string& output, const std::string& name) {
    const std::regex line("  " + name + " +[^\\n]*процессор +(\\d+) мс");
    std::smatch match;
    return std::regex_search(output, match, line) ? std::stod(match[1]) : -1;
}

// True when herdtrace follows `count` processes of the test child, every
// one it runs: it holds each one's /proc/PID/stat open.
bool FollowsWholeTree(const harness::Session& session, const std::string& child,
                      std::size_t count) {
    std::vector<std::string> held;
    std::error_code error;
    for (const auto& fd :
         fs::directory_iterator("/proc/" + std::to_string(session.pid) + "/fd", error)) {
        std::error_code gone;
        held.push_back(fs::read_symlink(fd.path(), gone).string());
    }
    std::vector<pid_t> tree = harness::LiveProcessesNamed(session, child);
    std::erase(tree, session.pid);  // herdtrace's own command line names the child too
    return tree.size() == count && std::all_of(tree.begin(), tree.end(), [&](pid_t pid) {
               const std::string stat = "/proc/" + std::to_string(pid) + "/stat";
               return std::find(held.begin(), held.end(), stat) != held.end();
           });
}

// The burner's lane shows the BURN_MS it burned and the sleeper's almost
// nothing: both also pay a start-up of their own (30 to 150 ms in a
// ThreadSanitizer build), which the bounds allow for. A lane drawn by wall
// time would give the sleeper its whole sleep.
void ExpectBurnerAndSleeper(const std::string& output, const std::string& burner,
                            const std::string& sleeper, double burnMs) {
    const double burned = SummaryMilliseconds(output, burner);
    const double slept = SummaryMilliseconds(output, sleeper);
    ASSERT_GE(slept, 0) << output;
    EXPECT_LT(slept, 250) << output;
    EXPECT_NEAR(burned - slept, burnMs, 200) << output;
}

TEST_F(Herdtrace, SamplesChildrenAndGrandchildrenAndReturnsTheExitCode) {
    // tree: a child sleeping 1 s, and a middle child whose child burns 1 s.
    const harness::Session session =
        harness::Run("herdtrace", "", Traced({child, "top", "tree", "1000"}), 30s);
    EXPECT_EQ(session.exitCode, 3) << session.errorText;
    ExpectBurnerAndSleeper(session.outputText, "Слон burner", "Слон sleeper", 1000);
    const std::string svg = Picture();
    EXPECT_NE(svg.find("Слон burner — нормальный"), std::string::npos);
    EXPECT_NE(svg.find("<path d=\"M"), std::string::npos);  // the burner's share drawn
}

// --samples: the states come from samples even where the switch records
// are allowed (as root here), and the summary and the picture say so.
TEST_F(Herdtrace, SamplesOptionTakesTheStatesFromSamples) {
    harness::Options options = Traced({child, "top", "tree", "500"});
    options.arguments.insert(options.arguments.begin(), "--samples");
    const harness::Session session = harness::Run("herdtrace", "", options, 30s);
    EXPECT_EQ(session.exitCode, 3) << session.errorText;
    EXPECT_NE(session.outputText.find("по отсчётам каждые 10 мс"), std::string::npos)
        << session.outputText;
    EXPECT_EQ(session.outputText.find("точно: каждое переключение"), std::string::npos);
    ExpectBurnerAndSleeper(session.outputText, "Слон burner", "Слон sleeper", 500);
    EXPECT_NE(Picture().find("по отсчётам"), std::string::npos);
}

// Children that wait a second and more between their fork and their exec
// (as on a busy machine) are still matched to their lanes by name: the
// one that speaks first was forked second.
TEST_F(Herdtrace, ChildrenSlowToRunTheirProgramKeepTheirOwnLanes) {
    const harness::Session session =
        harness::Run("herdtrace", "", Traced({child, "top", "late", "1000"}), 30s);
    EXPECT_EQ(session.exitCode, 0) << session.errorText;
    ExpectBurnerAndSleeper(session.outputText, "Слон slower", "Слон slow", 1000);
}

TEST_F(Herdtrace, PassesTypingAndOutputThroughUnchanged) {
    // Control bytes, a title escape, bytes that are not UTF-8, Ctrl+Z, and
    // the end of input: what the child prints alone, it prints traced.
    const std::string typed = "5\r\n\x1a after Ctrl+Z\n\xC0\xFF no line end";
    harness::Options alone;
    alone.arguments = {"x", "echo"};
    const harness::Session direct = harness::Run("herdtrace_test_child", typed, alone, 10s);
    const harness::Session traced =
        harness::Run("herdtrace", typed, Traced({child, "x", "echo"}), 10s);
    ASSERT_EQ(direct.exitCode, 7);
    EXPECT_EQ(traced.exitCode, 7);
    ASSERT_GE(traced.outputText.size(), direct.outputText.size());
    EXPECT_EQ(traced.outputText.substr(0, direct.outputText.size()), direct.outputText);
    EXPECT_NE(traced.outputText.find("Рисунок: " + picture), std::string::npos);
}

TEST_F(Herdtrace, CtrlCEndsTheWholeRunAndTheRecordIsStillDrawn) {
    harness::Session session = harness::Start("herdtrace", Traced({child, "top", "tree", "20000"}));
    ASSERT_TRUE(harness::WaitForOutput(session, "Слон burner поиск начал", 10s));
    ASSERT_TRUE(harness::WaitForOutput(session, "Слон sleeper поиск начал", 10s));
    // herdtrace forwards the signal to the processes it follows: the whole
    // tree once it has found the grandchild too.
    ASSERT_TRUE(harness::WaitUntil(
        session, [&] { return FollowsWholeTree(session, child, 4); }, 10s));
    kill(session.pid, SIGINT);      // herdtrace alone, as a signal from outside
    harness::Finish(session, 10s);  // fails on processes left behind
    EXPECT_FALSE(session.timedOut);
    EXPECT_EQ(session.exitCode, 128 + SIGINT);  // PROGRAM's end, passed on
    const std::string svg = Picture();
    EXPECT_NE(svg.find("Слон sleeper — низкий"), std::string::npos);
    EXPECT_NE(svg.find("</svg>"), std::string::npos);
}

// --trace: the run's trace-event file parses and has a track per child,
// named as its lane in the picture; one that cannot be written is a failure.
TEST_F(Herdtrace, TraceFileOfARunParsesAndNamesItsChildren) {
    const std::string traceFile = (folder / "run.json").string();
    harness::Options options = Traced({child, "top", "tree", "300"});
    options.arguments.insert(options.arguments.begin(), {"--trace", traceFile});
    const harness::Session session = harness::Run("herdtrace", "", options, 30s);
    EXPECT_EQ(session.exitCode, 3) << session.errorText;
    EXPECT_NE(session.outputText.find("Файл для просмотрщика трасс: " + traceFile),
              std::string::npos);
    std::ifstream file(traceFile, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(file), {}};
    json_check::Value trace;
    std::size_t at = 0;
    ASSERT_TRUE(json_check::Parse(text, trace, at)) << "stops at " << at;
    std::vector<std::string> tracks;
    for (const json_check::Value& event : trace.Find("traceEvents")->items) {
        if (event.Text("name") == "process_name") {
            tracks.push_back(event.Find("args")->Text("name"));
        }
    }
    const std::string svg = Picture();
    for (const char* lane : {"Слон burner — нормальный", "Слон sleeper — низкий"}) {
        EXPECT_NE(std::find(tracks.begin(), tracks.end(), lane), tracks.end()) << lane;
        EXPECT_NE(svg.find(lane), std::string::npos) << lane;
    }

    options.arguments[1] = (folder / "no-folder" / "run.json").string();
    const harness::Session unwritable = harness::Run("herdtrace", "", options, 30s);
    EXPECT_EQ(unwritable.exitCode, 125);
    EXPECT_NE(unwritable.errorText.find("не удалось записать"), std::string::npos);
}

TEST_F(Herdtrace, WrongCommandLinesAndMissingFilesAreReported) {
    harness::Session session = harness::Run("herdtrace", "");
    EXPECT_EQ(session.exitCode, 2);
    EXPECT_NE(session.errorText.find("Использование"), std::string::npos);
    harness::Options both = Traced({child});
    both.arguments.insert(both.arguments.begin(), {"--from", "x.txt"});
    EXPECT_EQ(harness::Run("herdtrace", "", both).exitCode, 2);

    session = harness::Run("herdtrace", "", Traced({(folder / "no-such-program").string()}));
    EXPECT_EQ(session.exitCode, 127);
    EXPECT_NE(session.errorText.find("не удалось запустить"), std::string::npos);

    harness::Options missing;
    missing.arguments = {"--from", (folder / "missing.txt").string()};
    session = harness::Run("herdtrace", "", missing);
    EXPECT_EQ(session.exitCode, 125);
    EXPECT_NE(session.errorText.find("не удалось прочитать"), std::string::npos);

    // A picture that cannot be written is a failure, not a success.
    std::ofstream(folder / "t.txt") << "12:00:00.000 - Слон 1 поиск начал, приоритет - высокий\n";
    harness::Options unwritable;
    unwritable.arguments = {"--from", (folder / "t.txt").string(), "-o",
                            (folder / "no-folder" / "x.svg").string()};
    session = harness::Run("herdtrace", "", unwritable);
    EXPECT_EQ(session.exitCode, 125);
    EXPECT_NE(session.errorText.find("не удалось записать"), std::string::npos);
}

// herdtrace granted CAP_PERFMON (permitted, as allow-priorities.sh grants
// it) and run by an ordinary user holds it in its effective set only while
// it opens the switch record, and the program it runs never holds it.
TEST_F(Herdtrace, GrantedRightIsNeverHeldByTheProgramNorKeptByHerdtrace) {
    if (geteuid() != 0 || std::system("command -v setcap >/dev/null") != 0) {
        GTEST_SKIP() << "needs root and setcap to set up the grant";
    }
    const fs::path copy = folder / "herdtrace";
    fs::copy_file(harness::ProgramPath("herdtrace"), copy);
    fs::permissions(folder, fs::perms::all);  // the user nobody writes the picture here
    const std::string grant = "setcap cap_perfmon+p '" + copy.string() + "'";
    ASSERT_EQ(std::system(grant.c_str()), 0);
    harness::Options options;
    options.programDirectory = "/usr/bin";
    options.arguments = {"--reuid=nobody",
                         "--regid=nogroup",
                         "--clear-groups",
                         copy.string(),
                         "-o",
                         picture,
                         "--",
                         child,
                         "x",
                         "caps"};
    const harness::Session session = harness::Run("setpriv", "", options, 30s);
    EXPECT_EQ(session.exitCode, 0) << session.errorText;
    // The program's own sets, then herdtrace's effective set while it runs.
    EXPECT_NE(session.outputText.find("own 0000000000000000 0000000000000000 parent "
                                      "0000000000000000"),
              std::string::npos)
        << session.outputText;
}

// The four launchers run side by side under herdtrace, each as a user
// would start it (answers typed, the shortest waits they allow, a 5 ms work
// unit): every child gets a lane with processor samples and a summary row.
// The monitor's 1 s wait would end a worker that a busy machine starts late
// before it has run: the monitor is held (stopped) from the start of its
// last worker until every worker has spoken, and its final line typed then.
struct LauncherRow {
    const char* program;
    const char* typed;
    std::vector<std::string> lanes;
    std::vector<std::string> spokenBeforeFinal = {};
    const char* final = "";
    const char* lastChild = nullptr;  // the launcher is held from its start until all have spoken
};

const LauncherRow kLaunchers[] = {
    {"herdboss1", "2\n0\n\x1a", {"Слон 1", "Слон 2"}},
    {"taskwarden",
     "3\n0\n1\n",
     {"Процесс 1", "Процесс 2", "Процесс 3"},
     {"Процесс  1 - запущен", "Процесс  2 - запущен", "Процесс  3 - запущен"},
     "\n",
     "stageworker 3 "},
    {"herdboss2",
     "",
     {"процесс 1", "процесс 2", "процесс 3", "процесс 4", "процесс 5", "процесс 6", "процесс 7",
      "процесс 8"}},
    {"herdboss6",
     "",
     {"Слон Tandy", "Слон Aun", "Слон Assam", "Слон Maya", "Слон BakZap", "Слон Hao", "Слон Hathy",
      "Слон Kitty"}},
};

// Waits until the session runs a process whose command line holds `child`,
// then stops that process's parent (the launcher); returns the parent's pid,
// 0 when the child never came.
pid_t StopParentOnceStarted(harness::Session& session, const std::string& child) {
    pid_t parent = 0;
    harness::WaitUntil(
        session,
        [&] {
            for (const pid_t pid : harness::LiveProcessesNamed(session, child)) {
                const std::string stat = harness::ProcessStat(pid);
                const std::size_t nameEnd = stat.rfind(')');
                parent = nameEnd == std::string::npos
                             ? 0
                             : static_cast<pid_t>(std::atoi(stat.c_str() + nameEnd + 4));
            }
            return parent > 0;
        },
        60s);
    if (parent > 0) {
        kill(parent, SIGSTOP);
    }
    EXPECT_GT(parent, 0) << "never started: " << child;
    return parent;
}

// The herd's picture: a lane per elephant with its class, the deadline, and
// a file rsvg-convert renders.
void ExpectHerdPicture(const std::string& picture, const std::string& output) {
    std::ifstream file(picture, std::ios::binary);
    const std::string svg{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    for (const char* elephant : {"Слон 1 — ", "Слон 2 — "}) {
        EXPECT_NE(svg.find(std::string(">") + elephant), std::string::npos) << elephant;
    }
    EXPECT_NE(svg.find("<g id=\"deadline\">"), std::string::npos);
    EXPECT_NE(svg.find("срок 25 с"), std::string::npos);
    EXPECT_NE(output.find("класса и времени окончания"), std::string::npos);
    const std::string png = picture + ".png";
    const std::string render = "rsvg-convert '" + picture + "' -o '" + png + "'";
    ASSERT_EQ(std::system(render.c_str()), 0) << "needs rsvg-convert (Debian: librsvg2-bin)";
    EXPECT_GT(fs::file_size(png), 1000u);
}

TEST_F(Herdtrace, EveryLauncherGetsProcessorDataInEveryChildsLane) {
    const harness::FeederRunTurn feederBlocks;
    setenv("HERDLAB_UNIT_MS", "5", 1);
    std::vector<harness::Session> sessions;
    for (const LauncherRow& row : kLaunchers) {
        harness::Options options = Traced({row.program});  // found beside herdtrace
        options.arguments[1] = (folder / (std::string(row.program) + ".svg")).string();
        sessions.push_back(harness::Start("herdtrace", options));
        harness::Send(sessions.back(), row.typed);
    }
    unsetenv("HERDLAB_UNIT_MS");
    for (std::size_t i = 0; i < sessions.size(); ++i) {
        const pid_t held = kLaunchers[i].lastChild == nullptr
                               ? 0
                               : StopParentOnceStarted(sessions[i], kLaunchers[i].lastChild);
        for (const std::string& spoken : kLaunchers[i].spokenBeforeFinal) {
            EXPECT_TRUE(harness::WaitForOutput(sessions[i], spoken, 60s)) << spoken;
        }
        if (held > 0) {
            kill(held, SIGCONT);
        }
        harness::Send(sessions[i], kLaunchers[i].final);
        harness::CloseInput(sessions[i]);
    }
    for (std::size_t i = 0; i < sessions.size(); ++i) {
        const LauncherRow& row = kLaunchers[i];
        harness::Finish(sessions[i], 120s);
        const std::string& output = sessions[i].outputText;
        EXPECT_EQ(sessions[i].exitCode, 0) << row.program << sessions[i].errorText;
        EXPECT_EQ(output.find("Непонятых строк"), std::string::npos) << row.program << output;
        for (const std::string& lane : row.lanes) {
            EXPECT_GE(SummaryMilliseconds(output, lane), 0)
                << row.program << ": " << lane << output;
        }
    }
    ExpectHerdPicture((folder / "herdboss1.svg").string(), sessions[0].outputText);
}

}  // namespace
