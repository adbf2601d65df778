// herdcheck run from end to end: the sample children and the students'
// example pass every check for both data sets; children with one fault each,
// checked side by side in one run, fail exactly the check meant for them;
// children doing one harmful thing each are contained and fail only for it,
// and the JUnit file matches the run; the result files are written whatever
// becomes of standard output; a wrong command line or points file is refused.
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <regex>
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
    "ends_when_fed", "waits_politely",    "survives_slow_feeder", "stays_contained",
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
// as a teacher does in the folder of the class's programs. Under Wine it
// takes its turn with the feeder tests, whose block names it shares there
// (on Linux each child's block is in a place of its own), and leaves none of
// them behind. With `ordinaryUserFolder` it runs from there (a copy of the programs that
// user may run) and, as root, as user nobody, as a teacher's ordinary
// account would.
harness::Session RunChecker(const std::vector<std::string>& arguments, const std::string& locale,
                            const fs::path& ordinaryUserFolder = {}) {
    const bool asOrdinaryUser = !ordinaryUserFolder.empty();
    harness::Options options;
    options.arguments = arguments;
    options.locale = locale;
    options.workingDirectory =
        asOrdinaryUser ? ordinaryUserFolder.string()
                       : fs::path(harness::ProgramPath("herdcheck")).parent_path().string();
    std::string program = "herdcheck";
    fs::path runtime;  // nobody's own place for named objects, as a login would make it
    if (asOrdinaryUser) {
        options.programDirectory = ordinaryUserFolder.string();
    }
    if (asOrdinaryUser && geteuid() == 0) {
        std::string pattern = (fs::temp_directory_path() / "herdcheck-runtime-XXXXXX").string();
        runtime = mkdtemp(pattern.data());
        EXPECT_EQ(chown(runtime.c_str(), 65534, 65534), 0);
        options.programDirectory = "/usr/bin";
        options.arguments = {"--reuid=nobody",
                             "--regid=nogroup",
                             "--clear-groups",
                             "/usr/bin/env",
                             "XDG_RUNTIME_DIR=" + runtime.string(),
                             (ordinaryUserFolder / "herdcheck").string()};
        options.arguments.insert(options.arguments.end(), arguments.begin(), arguments.end());
        program = "setpriv";
    }
    std::optional<harness::FeederRunTurn> turn;
    if (harness::UnderRunner()) {
        turn.emplace();
    }
    // Blocks left by a killed program elsewhere may already be there; the
    // checker then waits or uses other names, and must add none.
    const std::vector<std::string> before = LeftoverLaneBlocks();
    harness::Session session = harness::Run(program, "", options, 180s);
    EXPECT_EQ(LeftoverLaneBlocks(), before) << session.outputText;
    if (!runtime.empty()) {
        fs::remove_all(runtime);
    }
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
    EXPECT_EQ(passedLines, 8 * children) << session.outputText;
    EXPECT_EQ(passedRows, children) << session.outputText;
}

// The command line the checker gave PROGRAM, from its heading line.
std::string CommandLineGiven(const std::string& output, const std::string& program) {
    const std::string heading = program + " (командная строка: ";
    for (const std::string& line : harness::Lines(output)) {
        if (line.starts_with(heading) && line.ends_with(")")) {
            return line.substr(heading.size(), line.size() - heading.size() - 1);
        }
    }
    return "missing";
}

int CountLinesWith(const std::string& output, const std::string& text) {
    const std::vector<std::string> lines = harness::Lines(output);
    return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
        return line.find(text) != std::string::npos;
    }));
}

// A child's row is taken by whichever lane's block name is free (another
// program may still hold one), so any row of the set will do.
TEST(Herdcheck, SampleChildrenAndTheStudentsExamplePassForBothDataSets) {
    const harness::Session elephants = RunChecker(
        {"tusker6", "student_tusker"}, harness::UnderRunner() ? "ru_RU.UTF-8" : "C.UTF-8");
    ExpectEveryCheckPassed(elephants, 2);
    EXPECT_TRUE(std::regex_match(CommandLineGiven(elephants.outputText, "tusker6"),
                                 std::regex("tusker6 [A-Za-z]+ \\d+ \\d+[.,]\\d\\d")))
        << elephants.outputText;

    // The numbered processes, with a decimal comma where the locale exists.
    const bool russian = harness::LocaleAvailable("ru_RU.UTF-8");
    const harness::Session processes = RunChecker({"--set", "2", "tusker2", "student_tusker"},
                                                  russian ? "ru_RU.UTF-8" : "C.UTF-8");
    ExpectEveryCheckPassed(processes, 2);
    const std::regex numbered(std::string("tusker2 процесс \\d+ \\d+ \\d+") +
                              (russian ? "," : "\\.") + "\\d\\d");
    EXPECT_TRUE(std::regex_match(CommandLineGiven(processes.outputText, "tusker2"), numbered))
        << processes.outputText;
}

bool PythonInstalled() {
    return std::system("python3 -c '' >/dev/null 2>&1") == 0;
}

// Correct children run by an interpreter pass: a Python child, which imports
// a module beside it, and a shell script that hands on to it, each opening
// its block through the layer's name rules (a Cyrillic name, escaped). The
// interpreter's bytecode cache is no harm of theirs, and none is made.
TEST(Herdcheck, ChildrenRunByAnInterpreterPass) {
    if (harness::UnderRunner()) {
        GTEST_SKIP() << "the interpreted children are Linux programs";
    }
    if (!PythonInstalled()) {
        GTEST_SKIP() << "python3 is not installed (scripts/install-deps.sh test installs it)";
    }
    const fs::path cache =
        fs::path(harness::ProgramPath("herdcheck")).parent_path() / "__pycache__";
    fs::remove_all(cache);
    const bool russian = harness::LocaleAvailable("ru_RU.UTF-8");
    const harness::Session session = RunChecker(
        {"--set", "2", "python_tusker.py", "shell_tusker.sh"}, russian ? "ru_RU.UTF-8" : "C.UTF-8");
    ExpectEveryCheckPassed(session, 2);
    EXPECT_FALSE(fs::exists(cache));
}

TEST(Herdcheck, EachFaultyChildFailsOnlyTheCheckMeantForIt) {
    if (harness::UnderRunner()) {
        GTEST_SKIP() << "the faulty children are checked natively";
    }
    if (!harness::LocaleAvailable("ru_RU.UTF-8")) {
        GTEST_SKIP() << "locale ru_RU.UTF-8 (decimal comma) is not installed";
    }
    const std::map<std::string, std::string> meantFor = {
        {"faulty_spins", "waits_politely"},
        {"faulty_out_of_order", "ring_order"},
        {"faulty_writes_two", "takes_only_placed"},
        {"faulty_one_too_many", "exact_ration"},
        {"faulty_one_too_few", "exact_ration"},
        {"faulty_never_ends", "ends_when_fed"},
        {"faulty_crashes", "ends_when_fed"},
        {"faulty_ignores_comma", "finds_block"},
        // Only a feeder places portions: the checker first takes it for
        // another program's, checks it again, then holds it to the child.
        {"faulty_puts_portion", "survives_slow_feeder"},
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
        // The out-of-order child shows its fault only when the checker
        // refills a slot before the child has emptied the ring. A busy machine
        // may hold the checker back through the whole steady run; the slow
        // run then shows it, and the slow-feeder check names it.
        const bool orderSeenOnlySlow =
            meant == "ring_order" && ResultOf(line, meant) == "passed" &&
            line.find(
                "\"survives_slow_feeder\": {\"result\": \"failed\", \"detail\": "
                "\"порядок кольца:") != std::string::npos;
        // The putting child's ring is empty only while the slow feeder
        // pauses, unless a busy machine holds the steady feeder back.
        const bool putSeenSteady =
            program == "faulty_puts_portion" && ResultOf(line, "takes_only_placed") == "failed";
        for (const std::string& key : kCheckKeys) {
            const std::string result = ResultOf(line, key);
            if (orderSeenOnlySlow && (key == meant || key == "survives_slow_feeder")) {
                continue;
            }
            if (putSeenSteady && (key == meant || key == "takes_only_placed")) {
                continue;
            }
            if (key == meant) {
                EXPECT_EQ(result, "failed") << program << ": " << key << "\n" << line;
            } else {
                EXPECT_NE(result, "failed") << program << ": " << key << "\n" << line;
                EXPECT_NE(result, "missing") << program << ": " << key;
            }
        }
    }
    const std::string putter = ChildLine(json, "faulty_puts_portion");
    EXPECT_NE(putter.find("записано значение 1 в пустой слот"), std::string::npos) << putter;
    EXPECT_EQ(CountLinesWith(session.outputText, "faulty_puts_portion: блок «"), 1)
        << session.outputText;
    // A child that floods its output is ended and judged for it.
    const std::string flooding = ChildLine(json, "faulty_floods");
    EXPECT_EQ(ResultOf(flooding, "ends_when_fed"), "failed") << flooding;
    EXPECT_NE(flooding.find("залил вывод"), std::string::npos) << flooding;
}

// The element names of an XML text in document order, with a check that it
// is well formed as far as the report needs: tags nest and close, attribute
// values are quoted, text holds no bare '<' or '&'.
bool WellFormed(const std::string& xml, std::vector<std::string>& elements) {
    std::vector<std::string> open;
    std::size_t at = xml.find("?>");
    if (!xml.starts_with("<?xml") || at == std::string::npos) {
        return false;
    }
    for (at += 2; at < xml.size();) {
        const std::size_t tag = xml.find('<', at);
        const std::string text = xml.substr(at, tag - at);
        if (text.find('>') != std::string::npos ||
            std::regex_search(text, std::regex("&(?!(amp|lt|gt|quot|apos);)"))) {
            return false;
        }
        if (tag == std::string::npos) {
            break;
        }
        const std::size_t end = xml.find('>', tag);
        if (end == std::string::npos) {
            return false;
        }
        const std::string inside = xml.substr(tag + 1, end - tag - 1);
        std::smatch match;
        if (std::regex_match(inside, match, std::regex(R"(/([\w-]+))"))) {
            if (open.empty() || open.back() != match[1]) {
                return false;
            }
            open.pop_back();
        } else if (std::regex_match(inside, match,
                                    std::regex(R"(([\w-]+)(\s+[\w-]+="[^"<]*")*\s*(/?))"))) {
            elements.push_back(match[1]);
            if (match[3].length() == 0) {
                open.push_back(match[1]);
            }
        } else {
            return false;
        }
        at = end + 1;
    }
    return open.empty();
}

int CountOf(const std::vector<std::string>& items, const std::string& item) {
    return static_cast<int>(std::count(items.begin(), items.end(), item));
}

// Processes still running from the programs in `folder`, by their file.
std::vector<std::string> ProcessesFrom(const fs::path& folder) {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        std::error_code error;
        const fs::path exe = fs::read_symlink(entry.path() / "exe", error);
        if (!error && exe.parent_path() == folder &&
            exe.filename().string().starts_with("harmful_")) {
            found.push_back(entry.path().filename().string() + " " + exe.string());
        }
    }
    return found;
}

// A loopback TCP listener and UDP socket on one port, to see whether
// anything reached them.
struct LoopbackTrap {
    int tcp = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    int udp = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    int port = 0;
    LoopbackTrap() {
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        bind(tcp, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(tcp, 4);
        getsockname(tcp, reinterpret_cast<sockaddr*>(&address), &length);
        bind(udp, reinterpret_cast<sockaddr*>(&address), sizeof address);
        port = ntohs(address.sin_port);
    }
    ~LoopbackTrap() {
        close(tcp);
        close(udp);
    }
    bool Reached() {
        char byte = 0;
        const int accepted = accept(tcp, nullptr, nullptr);
        if (accepted >= 0) {
            close(accepted);
        }
        return accepted >= 0 || recv(udp, &byte, 1, 0) >= 0;
    }
};

// Why the checker's header line says it does not see the children's calls
// (sockets, opens for writing); empty when it sees them.
std::string WhyCallsUnseen(const std::string& output) {
    if (output.find("нет слежения за вызовами") != std::string::npos) {
        return "herdcheck was built without its call watch (no libseccomp-dev)";
    }
    if (output.find("нет seccomp") != std::string::npos) {
        return "this machine offers no seccomp user notification";
    }
    return {};
}

// The JUnit file parses and tells the same as the JSON file of `children`.
void ExpectJunitTellsAsJson(const std::string& junit, const std::string& json, int children,
                            bool seesCalls) {
    std::vector<std::string> elements;
    EXPECT_TRUE(WellFormed(junit, elements)) << junit;
    EXPECT_EQ(CountOf(elements, "testsuite"), children);
    EXPECT_EQ(CountOf(elements, "testcase"), 8 * children);
    int failed = 0;
    for (std::size_t at = json.find("\"result\": \"failed\""); at != std::string::npos;
         at = json.find("\"result\": \"failed\"", at + 1)) {
        ++failed;
    }
    EXPECT_EQ(CountOf(elements, "failure"), failed);
    if (seesCalls) {
        EXPECT_NE(junit.find("<testsuite name=\"harmful_connects\" tests=\"8\" failures=\"1\""),
                  std::string::npos)
            << junit;
        EXPECT_NE(junit.find("пытался выйти в сеть (AF_INET)"), std::string::npos) << junit;
    }
}

TEST(Herdcheck, HarmfulChildrenAreContainedAndFailOnlyForTheirHarm) {
    if (harness::UnderRunner()) {
        GTEST_SKIP() << "the containment of the Linux build is checked natively";
    }
    const std::map<std::string, std::string> harmOf = {
        {"harmful_leaves_process", "оставил после себя процессы"},
        {"harmful_starts_many", "запустил больше 32 процессов"},
        {"harmful_writes_files", "пытался писать вне своей папки"},
        {"harmful_connects", "пытался выйти в сеть"},
        {"harmful_eats_memory", "превысил 512 МБ памяти"},
    };
    std::string pattern = (fs::temp_directory_path() / "herdcheck-harm-XXXXXX").string();
    const fs::path folder = mkdtemp(pattern.data());
    // The checker's own TMPDIR and its results: open to the checker run as nobody.
    chmod(folder.c_str(), 01777);
    LoopbackTrap trap;
    setenv("HERDCHECK_HARMFUL_PORT", std::to_string(trap.port).c_str(), 1);
    setenv("TMPDIR", folder.c_str(), 1);
    std::vector<std::string> arguments = {"--json", (folder / "class.json").string(), "--junit",
                                          (folder / "class.xml").string(), "tusker6"};
    for (const auto& [program, harm] : harmOf) {
        arguments.push_back(program);
    }
    // The programs, copied where nobody may run them (a build folder may be
    // closed to other users).
    const fs::path programs = folder / "programs";
    fs::create_directory(programs);
    chmod(programs.c_str(), 0755);
    std::vector<std::string> copied = {"herdcheck", "tusker6"};
    for (const auto& [program, harm] : harmOf) {
        copied.push_back(program);
    }
    for (const std::string& program : copied) {
        fs::copy_file(harness::ProgramPath(program), programs / program);
        chmod((programs / program).c_str(), 0755);
    }
    const harness::Session session = RunChecker(arguments, "C.UTF-8", programs);
    unsetenv("TMPDIR");
    EXPECT_EQ(session.exitCode, 1) << session.outputText << session.errorText;
    const std::string json = ReadFile(folder / "class.json");
    const std::string junit = ReadFile(folder / "class.xml");

    // A machine without Landlock or seccomp, or a herdcheck built without its
    // call watch, says so in the header line; what it cannot contain or see
    // is not expected then.
    const std::string callsUnseen = WhyCallsUnseen(session.outputText);
    const bool seesCalls = callsUnseen.empty();
    const bool confinesWrites = session.outputText.find("нет Landlock") == std::string::npos;
    const bool closesNetwork = session.outputText.find(", без сети") != std::string::npos;
    // A sanitizer build limits memory in all only (its shadow needs the address space).
    const bool sanitizerBuild = session.outputText.find("памяти в сумме") != std::string::npos;
    for (const auto& [program, harm] : harmOf) {
        const std::string line = ChildLine(json, program);
        if (!seesCalls && (program == "harmful_writes_files" || program == "harmful_connects")) {
            continue;
        }
        EXPECT_EQ(ResultOf(line, "stays_contained"), "failed") << program << "\n" << line;
        EXPECT_NE(line.find(harm), std::string::npos) << program << "\n" << line;
        // Where the kernel does not hold the child at the limit (a sanitizer
        // build has no address-space limit; without user namespaces there is
        // no process limit of its own), the checker ends it, and its feeding.
        // A sanitizer build's runtime also starts threads, which the process
        // limit counts: at the limit such a child may fail its own course.
        const bool endedOverLimit =
            (line.find("превысил предел процессов или памяти") != std::string::npos &&
             (program == "harmful_eats_memory" || program == "harmful_starts_many")) ||
            (sanitizerBuild && program == "harmful_starts_many");
        for (const std::string& key : kCheckKeys) {
            EXPECT_TRUE(key == "stays_contained" || ResultOf(line, key) == "passed" ||
                        ResultOf(line, key) == "not_judged" || endedOverLimit)
                << program << ": " << key << "\n"
                << line;
        }
    }
    EXPECT_NE(ChildLine(json, "tusker6").find("\"passed\": true"), std::string::npos) << json;
    // Nothing runs on, nothing was written outside the scratch folders (which
    // are gone), nothing reached the network.
    EXPECT_EQ(ProcessesFrom(programs), std::vector<std::string>{});
    const char* home = std::getenv("HOME");
    for (const fs::path& place :
         {fs::path("/tmp"), programs, fs::path(home != nullptr ? home : "/")}) {
        EXPECT_FALSE(confinesWrites && fs::exists(place / "herdcheck-harmful.txt")) << place;
    }
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().filename() != "place" && entry.path().filename() != "programs") {
            left.push_back(entry.path().filename().string());
        }
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"class.json", "class.xml"}));
    EXPECT_FALSE(closesNetwork && trap.Reached());

    ExpectJunitTellsAsJson(junit, json, static_cast<int>(harmOf.size()) + 1, seesCalls);
    if (HasFailure()) {  // the checker's own lines: busy blocks, second checks, start errors
        ADD_FAILURE() << "herdcheck printed:\n" << session.outputText << session.errorText;
    }
    fs::remove_all(folder);
    if (!seesCalls) {
        GTEST_SKIP() << "the rest was checked, but not the verdicts on harmful_connects and "
                        "harmful_writes_files: "
                     << callsUnseen << ", so their attempts are not seen";
    }
}

// What standard output of a checker run is: closed, a pipe whose reader has
// gone before the first line, a full disk.
enum class Output { kClosed, kNoReader, kFull };

// Runs herdcheck on the students' example with its standard output so, and
// returns its exit code; the checker's error output stays the test's.
int RunCheckerWithOutput(Output output, const std::vector<std::string>& arguments) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int pipeEnds[2] = {-1, -1};
    if (output == Output::kClosed) {
        posix_spawn_file_actions_addclose(&actions, STDOUT_FILENO);
    } else if (output == Output::kFull) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/full", O_WRONLY, 0);
    } else {
        EXPECT_EQ(pipe2(pipeEnds, O_CLOEXEC), 0);
        close(pipeEnds[0]);
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    }
    std::vector<std::string> words = {harness::ProgramPath("herdcheck")};
    words.insert(words.end(), arguments.begin(), arguments.end());
    words.push_back(harness::ProgramPath("student_tusker"));
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    harness::FeederRunTurn turn;
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    if (pipeEnds[1] >= 0) {
        close(pipeEnds[1]);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(Herdcheck, ResultFilesAreWrittenInFullWhateverBecomesOfTheOutput) {
    if (harness::UnderRunner()) {
        GTEST_SKIP() << "standard output's ends are the Linux build's";
    }
    std::string pattern = (fs::temp_directory_path() / "herdcheck-output-XXXXXX").string();
    const fs::path folder = mkdtemp(pattern.data());
    const struct {
        Output output;
        const char* name;
    } kRows[] = {
        {Output::kClosed, "closed"}, {Output::kNoReader, "no reader"}, {Output::kFull, "full"}};
    for (const auto& row : kRows) {
        const fs::path json = folder / "class.json";
        const fs::path junit = folder / "class.xml";
        const fs::path gradescope = folder / "results.json";
        const int exitCode =
            RunCheckerWithOutput(row.output, {"--json", json.string(), "--junit", junit.string(),
                                              "--gradescope", gradescope.string()});
        EXPECT_EQ(exitCode, 0) << row.name;
        const std::string jsonText = ReadFile(json);
        EXPECT_TRUE(jsonText.starts_with("{\n  \"dataSet\": 6,") && jsonText.ends_with("  ]\n}\n"))
            << row.name << "\n"
            << jsonText;
        EXPECT_NE(jsonText.find("\"passed\": true, \"score\": 8, \"maxScore\": 8"),
                  std::string::npos)
            << row.name;
        EXPECT_TRUE(ReadFile(junit).ends_with("</testsuites>\n")) << row.name;
        const std::string results = ReadFile(gradescope);
        EXPECT_TRUE(results.starts_with("{\n  \"score\": 8,") && results.ends_with("  ]\n}\n"))
            << row.name << "\n"
            << results;
    }
    fs::remove_all(folder);
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

    // A points file that is missing or wrong is refused before any check.
    std::string pattern = (fs::temp_directory_path() / "herdcheck-points-XXXXXX").string();
    const fs::path folder = mkdtemp(pattern.data());
    std::ofstream(folder / "points.txt") << "waits_politely 2\nwaits_slowly 1\n";
    // A folder and (on Linux) an endless file are refused too, not read as
    // no points.
    std::vector<fs::path> wrong = {folder / "points.txt", folder / "none.txt", folder};
    if (!harness::UnderRunner()) {
        wrong.push_back("/dev/zero");
    }
    for (const fs::path& points : wrong) {
        const harness::Session badPoints =
            RunChecker({"--points", points.string(), "tusker6"}, "C.UTF-8");
        EXPECT_EQ(badPoints.exitCode, 2) << points;
        EXPECT_NE(badPoints.errorText.find("файл баллов «" + points.string() + "»"),
                  std::string::npos)
            << badPoints.errorText;
        EXPECT_EQ(badPoints.outputText, "");
    }
    fs::remove_all(folder);

    // A result file that opens but cannot be written: a full disk (Linux;
    // Wine takes /dev/full for a file of that name).
    if (!harness::UnderRunner()) {
        const harness::Session unwritten =
            RunChecker({"--gradescope", "/dev/full", "tusker6"}, "C.UTF-8");
        EXPECT_EQ(unwritten.exitCode, 3) << unwritten.errorText;
    }

    const harness::Session missing = RunChecker({"no_such_child"}, "C.UTF-8");
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.outputText.find("не запустился, ошибка 2"), std::string::npos)
        << missing.outputText;
}

}  // namespace
