// Hostile input: whatever a user types, whatever a command line holds and
// whatever another process sends as a thread message or writes into a shared
// block, no program crashes, hangs or harms another process's data. Every run
// is bounded in time, ends with its documented status, prints nothing on
// standard error beyond the documented report (sanitizer reports included, in
// the sanitizer build), and leaves no process and no shared block behind.
//
// Launchers run as copies in temporary folders: without a child program every
// start fails and the launcher ends at once, and with the misbehaving child of
// tests/hostile under a child program's name the runs stay short. The two long
// runs (the feeder's 30 s, the herd's 25 s) come first, so that CTest starts
// them first and the rest runs beside them.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "../named_place.h"
#include "harness.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

// ---- Shared helpers ---------------------------------------------------------------

// A temporary folder holding copies of built programs under chosen names.
class Folder {
  public:
    Folder() {
        std::string pattern = (fs::temp_directory_path() / "herdlab-hostile-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ~Folder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    void Add(const std::string& built, const std::string& as) const {
        const std::string suffix = harness::UnderRunner() ? ".exe" : "";
        fs::copy_file(harness::ProgramPath(built), path_ / (as + suffix));
    }
    harness::Options Options() const {
        harness::Options options;
        options.programDirectory = path_.string();
        options.workingDirectory = path_.string();
        return options;
    }

  private:
    fs::path path_;
};

// Keeps the build folder out of the program search, so a launcher's copy
// finds only what its own folder holds.
void SearchOnlySystemFolders() {
    setenv("PATH", "/usr/bin:/bin", 1);
}

// Waits for the program's end (at most `limit`), then checks that it ended
// in time and left no process behind, and collects the rest of its output.
void FinishAlone(harness::Session& session, std::chrono::milliseconds limit) {
    harness::CloseInput(session);
    EXPECT_FALSE(harness::StillRunningAfter(session, limit)) << "still running: hangs";
    // Children ended a moment ago in the idle class go slowly on a busy machine.
    EXPECT_EQ(harness::LeftoverProcesses(session, harness::kLeftoverGrace), std::vector<pid_t>{})
        << "left behind";
    harness::Finish(session, 1s);
    EXPECT_FALSE(session.timedOut);
}

harness::Session RunAlone(std::string_view program, std::string_view input,
                          const harness::Options& options, std::chrono::milliseconds limit) {
    harness::Session session = harness::Start(program, options);
    harness::Send(session, input);
    FinishAlone(session, limit);
    return session;
}

// A text with NUL bytes, from a literal: all its bytes but the terminator.
template <std::size_t N>
std::string Bytes(const char (&text)[N]) {
    return std::string(text, N - 1);
}

int Count(const Lines& lines, const std::string& text) {
    return static_cast<int>(std::count(lines.begin(), lines.end(), text));
}

int EventIndex(const Lines& lines, const std::string& rest) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (harness::IsEventLine(lines[i], rest)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// The report of a conversion or input error on standard error: its two
// lines and the empty line (the message may be 100 000 characters long).
void ExpectErrorReport(const std::string& errorText, const std::string& kind,
                       const std::string& program) {
    const std::string head = "Exception " + kind + " in module " + program;
    EXPECT_EQ(errorText.rfind(head, 0), 0u) << errorText.substr(0, 300);
    const std::string end = ".\r\n\r\n";
    ASSERT_GE(errorText.size(), end.size());
    EXPECT_EQ(errorText.substr(errorText.size() - end.size()), end);
    std::size_t lineEnds = 0;
    for (std::size_t at = errorText.find("\r\n"); at != std::string::npos;
         at = errorText.find("\r\n", at + 2)) {
        ++lineEnds;
    }
    EXPECT_EQ(lineEnds, 3u) << errorText.substr(0, 300);
}

const std::string kLongLine(100000, '7');

// ---- Feeder children misbehaving ------------------------------------------------------

const Lines kElephants = {"Tandy", "Aun", "Assam", "Maya", "BakZap", "Hao", "Hathy", "Kitty"};

std::string BlockName(const std::string& elephant) {
    char length[4];
    std::snprintf(length, sizeof length, "%%%02X", static_cast<unsigned>(elephant.size()));
    return "herdlab-map-" + std::to_string(getuid()) + "-" + length + elephant;
}

// The block's page as the test maps it; the page outlives the name.
struct WatchedBlock {
    unsigned char* page = nullptr;
    long size = -1;
};

WatchedBlock WatchBlock(const std::string& elephant) {
    WatchedBlock watched;
    // Appended, not "/" + name: GCC 12 at -O3 warns falsely (-Wrestrict) on
    // that operator+.
    const std::string path = named_place::Folder() + "/" + BlockName(elephant);
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return watched;
    }
    struct stat status {};
    fstat(fd, &status);
    watched.size = static_cast<long>(status.st_size);
    void* page =
        mmap(nullptr, static_cast<std::size_t>(getpagesize()), PROT_READ, MAP_SHARED, fd, 0);
    close(fd);
    watched.page = page == MAP_FAILED ? nullptr : static_cast<unsigned char*>(page);
    return watched;
}

std::string Slots(const WatchedBlock& block) {
    std::string text;
    for (int slot = 0; slot < 8; ++slot) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X", block.page[slot]);
        text += hex;
    }
    return text;
}

// The blocks of a run with the misbehaving children, once they all exist
// and Aun and Assam have marked every slot of theirs (a busy machine starts
// the children late), or as they are after `limit`. Hao's block is truncated: a page of it
// cannot be read.
std::vector<WatchedBlock> BlocksOnceMarked(harness::Session& session,
                                           std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        std::vector<WatchedBlock> blocks;
        for (const std::string& elephant : kElephants) {
            blocks.push_back(elephant == "Hao" ? WatchedBlock{} : WatchBlock(elephant));
        }
        bool ready = true;
        for (std::size_t i = 0; i < blocks.size(); ++i) {
            ready = ready && (kElephants[i] == "Hao" || blocks[i].page != nullptr);
        }
        ready = ready && Slots(blocks[1]) == "0202020202020202" &&
                Slots(blocks[2]) == "FFFFFFFFFFFFFFFF";
        if (ready || std::chrono::steady_clock::now() >= end) {
            return blocks;
        }
        for (const WatchedBlock& block : blocks) {
            if (block.page != nullptr) {
                munmap(block.page, static_cast<std::size_t>(getpagesize()));
            }
        }
        harness::StillRunningAfter(session, 100ms);
    }
}

// One 30-second run of herdboss6 with the misbehaving child as tusker6 (see
// tests/hostile): slots set to 2 or 0xFF stay as the child left them, an
// early unmap leaves a full ring, a child that ends at once or truncates its
// block harms nobody. The well-behaved Tandy and Kitty are fed; the feeder
// reports every child, writes nothing past the 8 bytes, ends every child
// still running, removes every name and ends with status 0.
TEST(HostileFeederChildren, FeederOutlivesMisbehavingChildrenAndReleasesEverything) {
    if (harness::UnderRunner()) {
        GTEST_SKIP() << "the misbehaving child is a Linux program";
    }
    SearchOnlySystemFolders();
    Folder folder;
    folder.Add("herdboss6", "herdboss6");
    folder.Add("hostile_child", "tusker6");
    harness::FeederRunTurn turn;
    harness::Session session = harness::Start("herdboss6", folder.Options());
    ASSERT_TRUE(harness::WaitForOutput(session, "Начало работы", 5s));
    EXPECT_TRUE(harness::StillRunningAfter(session, 4s));
    const std::vector<WatchedBlock> blocks = BlocksOnceMarked(session, 20s);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        SCOPED_TRACE(kElephants[i]);
        if (kElephants[i] != "Hao") {
            ASSERT_NE(blocks[i].page, nullptr);
            EXPECT_EQ(blocks[i].size, 8);
        }
    }
    EXPECT_EQ(Slots(blocks[1]), "0202020202020202");
    EXPECT_EQ(Slots(blocks[2]), "FFFFFFFFFFFFFFFF");

    FinishAlone(session, 45s);
    EXPECT_EQ(session.exitCode, 0);
    EXPECT_EQ(session.errorText, "");
    EXPECT_LT(session.seconds, 40.0);
    const Lines lines = harness::Lines(session.outputText);
    // Kitty's ration of 45 takes two thirds of the 30 s on an idle machine; a
    // busy one may leave it uneaten, but she is reported as ended on her own
    // only when she has said she was fed.
    const bool kittyEnded = EventIndex(lines, "Слон Kitty нормально завершился") >= 0;
    EXPECT_TRUE(!kittyEnded || std::find(lines.begin(), lines.end(), "Kitty: fed") != lines.end());
    const std::vector<bool> endedOnTheirOwn = {true, false, false, false,
                                               true, false, false, kittyEnded};
    int previous = -1;
    for (std::size_t i = 0; i < kElephants.size(); ++i) {
        const std::string line =
            "Слон " + kElephants[i] + (endedOnTheirOwn[i] ? " нормально завершился" : " погиб");
        const int index = EventIndex(lines, line);
        EXPECT_GT(index, previous) << line << "\n" << session.outputText;
        previous = std::max(previous, index);
    }
    EXPECT_EQ(previous, static_cast<int>(lines.size()) - 1) << "printed after the report";

    EXPECT_EQ(Slots(blocks[1]), "0202020202020202");
    EXPECT_EQ(Slots(blocks[2]), "FFFFFFFFFFFFFFFF");
    EXPECT_EQ(Slots(blocks[3]), "0101010101010101");  // unmapped early: eight portions
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        if (blocks[i].page == nullptr) {
            continue;
        }
        SCOPED_TRACE(kElephants[i]);
        const long page = getpagesize();
        EXPECT_EQ(std::count(blocks[i].page + 8, blocks[i].page + page, 0), page - 8)
            << "written past the 8 bytes";
        munmap(blocks[i].page, static_cast<std::size_t>(page));
    }
    // A name still held is left behind; it is removed, so that it cannot
    // disturb later runs. A file nobody holds is no name any more.
    const std::vector<std::string> names = harness::SharedMemoryNames();
    for (const std::string& elephant : kElephants) {
        const std::string name = BlockName(elephant);
        // Children ended a moment ago get a short while to let go.
        bool held = std::find(names.begin(), names.end(), name) != names.end() &&
                    harness::SharedMemoryNameHeld(name);
        for (int waited = 0; held && waited < 10000; waited += 20) {
            usleep(20000);
            held = harness::SharedMemoryNameHeld(name);
        }
        if (held) {
            ADD_FAILURE() << name << " left behind";
            unlink((named_place::Folder() + "/" + name).c_str());
        }
    }
}

// ---- herdboss1: console input -----------------------------------------------------------

const std::string kHerdCountPrompt = "Введите количество процессов (1 до 15)>";
const std::string kHerdCountFallback =
    "Введено некорректное значение. Используем настройки по умолчанию (15).";
const std::string kHerdEditPrompt =
    "Введите № процесса для редактирования параметров или 0 для продолжения работы>";
const std::string kHerdNoEdit = "Продолжаем работу...";
const std::string kHerdPriorityPrompt = "Введите приоритет (0 до 5)>";
const std::string kHerdAgePrompt = "Введите возраст (1 до 60)>";
const std::string kHerdWeightPrompt = "Введите вес (1 до 40)>";
const std::string kHerdRejected =
    "Введено некорректное значение. Используем настройки по умолчанию.";
const std::string kHerdStartFailed = "Ошибка запуска процесса 2";

// With a child started the launcher sits out its fixed wait, reports, and
// reads its final entry: NUL and control bytes are passed over and
// character 26 ends the input, which ends the launcher with status 0.
TEST(HostileHerdInput, FinalEntryOfControlBytesAndCharacter26EndsWithStatus0) {
    Folder folder;
    folder.Add("herdboss1", "herdboss1");
    folder.Add("herd_recording_child", "tusker1");
    harness::Session session = harness::Start("herdboss1", folder.Options());
    harness::Send(session, Bytes("1\n\0\x01\x02 0\n"));
    ASSERT_TRUE(harness::WaitForOutput(session, "процесс 1 нормально завершился", 40s))
        << session.outputText;
    harness::Send(session, Bytes("\0\0\r\n\t\x01\x1a"
                                 "5\n"));
    harness::Send(session, "abc\n");  // after the end of input: never read
    FinishAlone(session, 30s);
    EXPECT_EQ(session.exitCode, 0);
    EXPECT_EQ(session.errorText, "");
    EXPECT_EQ(session.outputText.find("Exception"), std::string::npos);
}

// What the dialogue makes of one typed input: the count taken, and the plain
// lines that follow the edit prompt (every start then fails).
struct HerdCase {
    std::string name;
    std::string input;
    int count;
    Lines afterEditPrompt;
};

TEST(HostileHerdInput, EveryAnswerFallsBackAndTheLauncherEndsWithStatus0) {
    const Lines noEdit = {kHerdNoEdit};
    const Lines priorityAccepted = {kHerdPriorityPrompt, kHerdAgePrompt, kHerdRejected,
                                    kHerdWeightPrompt, kHerdRejected};
    const Lines allRejected = {kHerdPriorityPrompt, kHerdRejected,     kHerdAgePrompt,
                               kHerdRejected,       kHerdWeightPrompt, kHerdRejected};
    const Lines allTaken = {kHerdPriorityPrompt, kHerdAgePrompt, kHerdWeightPrompt};
    const std::vector<HerdCase> cases = {
        // Binary bytes are one bad token; NUL bytes separate like blanks.
        {"binary", "\x01\x7f\xff\xfe\x80\xc3(\n\x1b[2J\n", 15, noEdit},
        {"nul", Bytes("\0\0 3\0junk\n\0\0\n"), 3, noEdit},
        {"long line",
         kLongLine + "\n2\n",
         15,
         {kHerdPriorityPrompt, kHerdAgePrompt, kHerdRejected, kHerdWeightPrompt, kHerdRejected}},
        {"long blank line", std::string(100000, ' ') + "2\n0\n", 2, noEdit},
        // Character 26 ends the input, even in the middle of an answer.
        {"ctrl-z in answer",
         "1\x1a"
         "5\n1\n",
         1, noEdit},
        {"ctrl-z in edit",
         "2\n1\n4\x1a"
         "0\n30\n",
         2,
         {kHerdPriorityPrompt, kHerdAgePrompt, kHerdRejected, kHerdWeightPrompt, kHerdRejected}},
        // The end of input at each prompt answers 0 there and everywhere after.
        {"end at count", "", 15, noEdit},
        {"end at edit", "3\n", 3, noEdit},
        {"end at priority", "3\n1\n", 3, priorityAccepted},
        {"end at age", "3\n1\n2\n", 3, priorityAccepted},
        {"end at weight",
         "3\n1\n2\n10\n",
         3,
         {kHerdPriorityPrompt, kHerdAgePrompt, kHerdWeightPrompt, kHerdRejected}},
        // Numbers just outside every range.
        {"count 16", "16\n0\n", 15, noEdit},
        {"count 2^31", "2147483648\n0\n", 15, noEdit},
        {"count -2^31-1", "-2147483649\n0\n", 15, noEdit},
        {"edit count+1", "3\n4\n", 3, noEdit},
        {"edit -2^31", "3\n-2147483648\n", 3, noEdit},
        {"edits above", "2\n2\n6\n61\n41\n", 2, allRejected},
        {"edits below", "2\n2\n-1\n0\n0\n", 2, allRejected},
        {"edits 2^31", "2\n2\n2147483648\n2147483648\n2147483648\n", 2, allRejected},
        {"edits at the limits", "2\n2\n5\n60\n40\n", 2, allTaken},
    };
    SearchOnlySystemFolders();
    Folder folder;
    folder.Add("herdboss1", "herdboss1");
    for (const HerdCase& c : cases) {
        SCOPED_TRACE(c.name);
        harness::Session session = RunAlone("herdboss1", c.input, folder.Options(), 15s);
        EXPECT_EQ(session.exitCode, 0);
        EXPECT_EQ(session.errorText, "");
        const Lines lines = harness::Lines(session.outputText);
        // Greeting, count prompt, [fallback], title, the listing, edit prompt;
        // every count of 15 here is the fallback.
        const bool rejected = c.count == 15;
        const std::size_t head = 4 + (rejected ? 1 : 0) + static_cast<std::size_t>(c.count);
        ASSERT_EQ(lines.size(), head + c.afterEditPrompt.size() + static_cast<std::size_t>(c.count))
            << session.outputText.substr(0, 2000);
        EXPECT_EQ(lines[1], kHerdCountPrompt);
        EXPECT_EQ(lines[2] == kHerdCountFallback, rejected);
        EXPECT_EQ(lines[head - 1], kHerdEditPrompt);
        EXPECT_EQ(Lines(lines.begin() + static_cast<long>(head),
                        lines.begin() + static_cast<long>(head + c.afterEditPrompt.size())),
                  c.afterEditPrompt);
        EXPECT_EQ(Count(lines, kHerdStartFailed), c.count);
    }
}

// ---- taskwarden: console input ----------------------------------------------------------

const std::string kMonitorStartFailed = "ПРОЦЕССА № 2.";  // "ОШИБКА ЗАПУСКА %2d ПРОЦЕССА № 2."

// A typed input and what the monitor makes of it without a worker program:
// `workers` start failures and status 0, or the input-error report and 1.
struct MonitorCase {
    std::string name;
    std::string input;
    int workers;  // -1: the input-error report ends the monitor
};

TEST(HostileMonitorInput, EveryAnswerIsClampedOrEndsWithTheReport) {
    const std::vector<MonitorCase> cases = {
        {"binary", "\x01\xff\xfe\x80\n", -1},
        {"nul", Bytes("\0\0 2\0junk\n\0\n\0\n"), 2},
        {"long line", kLongLine + "\n", -1},
        {"long blank line", std::string(100000, ' ') + "3\n0\n0\n", 3},
        {"ctrl-z in answer",
         "2\x1a"
         "3\n9\n",
         2},
        {"ctrl-z in wait",
         "1\n0\n1\x1a"
         "00\n",
         1},
        // The end of input at each prompt answers 0 there and everywhere after.
        {"end at count", "", 1},
        {"end at observed", "3\n", 3},
        {"end at stage 1", "3\n1\n", 3},
        {"end at stage 2", "3\n1\n5\n", 3},
        {"end at priority", "3\n1\n5\n6\n", 3},
        {"end at wait", "3\n1\n5\n6\n3\n", 3},
        // Numbers just outside every range are clamped; 2^31 is no number.
        {"count 16", "16\n0\n0\n", 15},
        {"count 0", "0\n0\n0\n", 1},
        {"count -1", "-1\n16\n0\n", 1},
        {"count 2^31", "2147483648\n0\n0\n", -1},
        {"observed 16", "15\n16\n0\n", 15},
        {"observed -1", "2\n-1\n0\n", 2},
        {"stages and priority", "2\n2\n0\n-2147483648\n6\n0\n", 2},
        {"stage 2^31", "2\n2\n2147483648\n", -1},
        {"priority -1", "2\n2\n1\n1\n-1\n0\n", 2},
        {"wait -1", "1\n0\n-1\n", 1},
    };
    SearchOnlySystemFolders();
    Folder folder;
    folder.Add("taskwarden", "taskwarden");
    for (const MonitorCase& c : cases) {
        SCOPED_TRACE(c.name);
        harness::Session session = RunAlone("taskwarden", c.input, folder.Options(), 15s);
        const Lines lines = harness::Lines(session.outputText);
        int failures = 0;
        for (const std::string& line : lines) {
            failures += line.find(kMonitorStartFailed) != std::string::npos ? 1 : 0;
        }
        if (c.workers < 0) {
            EXPECT_EQ(session.exitCode, 1);
            ExpectErrorReport(session.errorText, "EInOutError", "taskwarden");
            EXPECT_NE(session.errorText.find("\r\nInvalid numeric input.\r\n"), std::string::npos);
            EXPECT_EQ(failures, 0);
        } else {
            EXPECT_EQ(session.exitCode, 0);
            EXPECT_EQ(session.errorText, "");
            EXPECT_EQ(failures, c.workers) << session.outputText.substr(0, 3000);
        }
    }
}

// The monitor's folder with the recording worker as stageworker and the real
// worker beside it: the workers behave as usual, and each prints its
// arguments first ("worker-args <number> <stage 1> <stage 2> <thread id>").
void AddRecordingWorkers(const Folder& folder) {
    folder.Add("taskwarden", "taskwarden");
    folder.Add("hostile_child", "stageworker");
    folder.Add("stageworker", "real-stageworker");
}

// A negative waiting time is taken as 0: the timeout follows at once and
// shows 0 seconds; the worker, not yet registered, runs to its end.
TEST(HostileMonitorInput, LowestWaitingTimeIsClampedTo0) {
    if (harness::UnderRunner()) {
        GTEST_SKIP() << "the recording worker is a Linux program";
    }
    SearchOnlySystemFolders();
    Folder folder;
    AddRecordingWorkers(folder);
    harness::Session session = harness::Start("taskwarden", folder.Options());
    harness::Send(session, "1\n1\n1\n1\n2\n-2147483648\n");
    ASSERT_TRUE(harness::WaitForOutput(session, "второй этап выполнен.", 20s))
        << session.outputText << session.errorText;
    harness::Send(session, "\n");
    FinishAlone(session, 10s);
    EXPECT_EQ(session.exitCode, 0);
    EXPECT_EQ(session.errorText, "");
    EXPECT_GE(EventIndex(harness::Lines(session.outputText), "ВРЕМЯ ОЖИДАНИЯ (0 с.) ИСТЕКЛО."), 0)
        << session.outputText;
}

// A waiting time of 4294968 s would wrap to 704 ms if multiplied unclamped
// into 32 bits; clamped to 2147483 s it keeps the monitor waiting. (The
// timeout line of the clamped value would come after 24 days.)
TEST(HostileMonitorInput, HugeWaitingTimeIsClampedWithoutOverflow) {
    if (harness::UnderRunner()) {
        GTEST_SKIP() << "the recording worker is a Linux program";
    }
    SearchOnlySystemFolders();
    Folder folder;
    AddRecordingWorkers(folder);
    harness::Session session = harness::Start("taskwarden", folder.Options());
    harness::Send(session, "1\n1\n1\n1\n2\n4294968\n");
    ASSERT_TRUE(harness::WaitForOutput(session, "второй этап выполнен.", 20s))
        << session.outputText << session.errorText;
    EXPECT_TRUE(harness::StillRunningAfter(session, 1500ms));
    EXPECT_EQ(session.outputText.find("ВРЕМЯ ОЖИДАНИЯ"), std::string::npos) << session.outputText;
    harness::Finish(session, 1ms);
    EXPECT_EQ(session.errorText, "");
}

// ---- Children started by hand --------------------------------------------------------

// A command line and the end it must have: status 0 with `lines` lines on
// standard output; status 1 with the conversion report and no output; or,
// for a sample child that finds no block, status 1 with its one line.
struct ArgumentCase {
    std::string program;
    std::vector<std::string> arguments;
    int status;
    int lines;
    std::string shows;  // printed verbatim, on standard output or error
};

TEST(HostileArguments, ChildrenEndWithStatus0OrTheirReport) {
    const std::string longName(100000, 'N');
    const std::string notUtf8 = "\xff\xfe\xc3";
    const std::vector<ArgumentCase> cases = {
        // tusker1: name, age, weight.
        {"tusker1", {}, 1, 0, ""},
        {"tusker1", {"", "", ""}, 1, 0, ""},
        {"tusker1", {longName, "60", "0"}, 0, 3, "Слон NNNNNNNNNNNNNNNN поиск начал"},
        {"tusker1", {"%s%d%f%g%n%25d%", "60", "0"}, 0, 3, "Слон %s%d%f%g%n%25d% поиск начал"},
        {"tusker1", {notUtf8, "60", "-1e308"}, 0, 3, ""},
        {"tusker1", {"n", "-1", "0"}, 0, 3, ""},
        {"tusker1", {"n", "2147483647", "1e-300"}, 0, 3, ""},
        {"tusker1", {"n", "2147483648", "0"}, 1, 0, ""},
        {"tusker1", {"n", "60", "1e999"}, 1, 0, ""},
        {"tusker1", {"n", notUtf8, "0"}, 1, 0, ""},
        {"tusker1", {"n", "60", longName}, 1, 0, ""},
        // stageworker: number, stage 1, stage 2, monitor's thread id.
        {"stageworker", {}, 1, 0, ""},
        {"stageworker", {"1", "1", "1"}, 1, 0, ""},
        {"stageworker", {"1", "-5", "-2147483648", "0"}, 0, 5, ""},
        {"stageworker", {"2147483647", "0", "1", "-1"}, 0, 5, ""},
        {"stageworker", {"-2147483648", "1", "0", "2147483647", longName}, 0, 5, ""},
        {"stageworker", {"1", "1", "1", "2147483648"}, 1, 0, ""},
        {"stageworker", {notUtf8, "1", "1", "0"}, 1, 0, ""},
        {"stageworker", {"1", longName, "1", "0"}, 1, 0, ""},
        {"stageworker",
         {"%s%d%n%999999999d%", "1", "1", "0"},
         1,
         0,
         "\r\n'%s%d%n%999999999d%' is not a valid integer value.\r\n"},
        // The sample children end with status 1 when they find no block.
        {"tusker6", {}, 1, 0, ""},
        {"tusker6", {"Tandy", "x", "1"}, 1, 0, ""},
        {"tusker6", {longName, "-1", "-1"}, 1, 1, "Слон NNNNNNNNNNNNNNNN не нашел"},
        {"tusker6", {"%s%d%n%9999d", "1", "1"}, 1, 1, "Слон %s%d%n%9999d не нашел"},
        {"tusker6", {notUtf8, "2147483647", "1e300"}, 1, 1, ""},
        {"tusker2", {"процесс"}, 1, 0, ""},
        {"tusker2", {"процесс", "1", "3", notUtf8}, 1, 0, ""},
        {"tusker2", {notUtf8, "1", "3", "1.70"}, 1, 1, ""},
    };
    for (const ArgumentCase& c : cases) {
        SCOPED_TRACE(c.program + " " + ::testing::PrintToString(c.arguments).substr(0, 80));
        harness::Options options;
        options.arguments = c.arguments;
        harness::Session session = RunAlone(c.program, "", options, 15s);
        EXPECT_EQ(session.exitCode, c.status);
        EXPECT_EQ(static_cast<int>(harness::Lines(session.outputText).size()), c.lines)
            << session.outputText.substr(0, 500);
        EXPECT_NE((session.outputText + session.errorText).find(c.shows), std::string::npos);
        if (c.status == 0 || c.lines > 0) {
            EXPECT_EQ(session.errorText, "");
        } else {
            ExpectErrorReport(session.errorText, "EConvertError", c.program);
        }
    }
}

// A sample child that finds its block (planted here under a name no feeder
// uses) and a ration of 0 is fed at once: status 0.
TEST(HostileArguments, SampleChildWithItsBlockAndNoRationEndsWithStatus0) {
    if (harness::UnderRunner()) {
        GTEST_SKIP() << "the block is planted as the Linux layer names it";
    }
    const std::string name = "hostile-" + std::to_string(getpid());
    char length[4];
    std::snprintf(length, sizeof length, "%%%02X", static_cast<unsigned>(name.size()));
    named_place::MadeFolder();
    const std::string block = named_place::BlockFile(length + name);
    const int fd = open(block.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0) << block;
    fchmod(fd, 0600);
    ASSERT_EQ(ftruncate(fd, 8), 0);
    flock(fd, LOCK_SH);  // a block's creator holds it while it is in use
    harness::Options options;
    options.arguments = {name, "-2147483648", "0"};
    harness::Session session = RunAlone("tusker6", "", options, 15s);
    unlink(block.c_str());
    close(fd);
    EXPECT_EQ(session.exitCode, 0);
    EXPECT_EQ(session.errorText, "");
    EXPECT_TRUE(
        harness::IsEventLine(harness::Lines(session.outputText).back(), "Слон " + name + " наелся"))
        << session.outputText;
}

// ---- Thread messages --------------------------------------------------------------------

constexpr std::uint32_t kWmUser = 1024;

// The registered ids: 0xC000 | (FNV-1a-32 of the upper-cased name & 0x3FFF).
std::uint32_t RegisteredId(std::string_view name) {
    std::uint32_t hash = 2166136261u;
    for (const char c : name) {
        hash ^= static_cast<unsigned char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        hash *= 16777619u;
    }
    return 0xC000u | (hash & 0x3FFFu);
}
const std::uint32_t kWmMyUsr1 = RegisteredId("WM_MYUSR1");
const std::uint32_t kWmMyTerm = RegisteredId("WM_MYTERM");
const std::uint32_t kWmMyUsr2 = RegisteredId("WM_MYUSR2");

sockaddr_un QueueAddress(std::uint32_t threadId, socklen_t& length) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const int used = std::snprintf(address.sun_path, sizeof address.sun_path, "%s",
                                   named_place::QueueSocket(threadId).c_str());
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + used);
    return address;
}

std::string Datagram(std::uint32_t message, std::uint64_t wParam, std::int64_t lParam) {
    std::string bytes(24, '\0');
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<char>(message >> (8 * i));
    }
    for (int i = 0; i < 8; ++i) {
        bytes[8 + i] = static_cast<char>(wParam >> (8 * i));
        bytes[16 + i] = static_cast<char>(static_cast<std::uint64_t>(lParam) >> (8 * i));
    }
    return bytes;
}

struct Message {
    std::uint32_t message;
    std::uint64_t wParam;
    std::int64_t lParam;
};

// A queue of the test's own, bound under a thread id no real thread has.
class TestQueue {
  public:
    TestQueue() : id_(3000000000u + static_cast<std::uint32_t>(getpid())) {
        fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const timeval limit{2, 0};
        setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        named_place::MadeFolder();
        socklen_t length = 0;
        const sockaddr_un address = QueueAddress(id_, length);
        bound_ = bind(fd_, reinterpret_cast<const sockaddr*>(&address), length) == 0;
    }
    ~TestQueue() {
        close(fd_);
        if (bound_) {
            unlink(named_place::QueueSocket(id_).c_str());
        }
    }
    TestQueue(const TestQueue&) = delete;
    TestQueue& operator=(const TestQueue&) = delete;

    bool bound() const { return bound_; }
    std::uint32_t id() const { return id_; }

    // Sends raw bytes to thread `threadId`'s queue; false when it is gone.
    // A full queue (ten datagrams) makes the send wait, for at most 2 s.
    bool Send(std::uint32_t threadId, const std::string& bytes) const {
        socklen_t length = 0;
        const sockaddr_un address = QueueAddress(threadId, length);
        return sendto(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL,
                      reinterpret_cast<const sockaddr*>(&address), length) >= 0;
    }

    // Sends a datagram with `count` descriptors attached (copies of the
    // test's standard input), as any sender on the socket may.
    bool SendWithDescriptors(std::uint32_t threadId, const std::string& bytes, int count) const {
        socklen_t length = 0;
        sockaddr_un address = QueueAddress(threadId, length);
        iovec data{const_cast<char*>(bytes.data()), bytes.size()};
        std::vector<int> descriptors(static_cast<std::size_t>(count), 0);
        std::vector<char> control(CMSG_SPACE(sizeof(int) * descriptors.size()));
        msghdr header{};
        header.msg_name = &address;
        header.msg_namelen = length;
        header.msg_iov = &data;
        header.msg_iovlen = 1;
        header.msg_control = control.data();
        header.msg_controllen = control.size();
        cmsghdr* part = CMSG_FIRSTHDR(&header);
        part->cmsg_level = SOL_SOCKET;
        part->cmsg_type = SCM_RIGHTS;
        part->cmsg_len = CMSG_LEN(sizeof(int) * descriptors.size());
        std::memcpy(CMSG_DATA(part), descriptors.data(), sizeof(int) * descriptors.size());
        return sendmsg(fd_, &header, MSG_NOSIGNAL) >= 0;
    }

    std::optional<Message> Receive(std::chrono::milliseconds limit) const {
        pollfd ready{fd_, POLLIN, 0};
        if (poll(&ready, 1, static_cast<int>(limit.count())) <= 0) {
            return std::nullopt;
        }
        unsigned char bytes[64];
        if (recv(fd_, bytes, sizeof bytes, 0) != 24) {
            return Message{0xFFFFFFFFu, 0, 0};  // not a message
        }
        auto value = [&](int at, int size) {
            std::uint64_t v = 0;
            for (int i = size - 1; i >= 0; --i) {
                v = (v << 8) | bytes[at + i];
            }
            return v;
        };
        return Message{static_cast<std::uint32_t>(value(0, 4)), value(8, 8),
                       static_cast<std::int64_t>(value(16, 8))};
    }

  private:
    std::uint32_t id_;
    int fd_ = -1;
    bool bound_ = false;
};

// Datagrams a program must not act on: the wrong sizes (carrying a real
// message id, so only the size check keeps them out), unknown messages, and
// messages with worker numbers outside 1..15 — including 2^32 + 1, which a
// number cut to 32 bits would read as worker 1. The monitor gets them for
// all three messages it handles; the worker, which acts on any end request
// or end order, for the two it does not handle. WM_QUIT (18) is left out: by
// contract it ends the receiving message loop.
std::vector<std::string> HostileDatagrams(bool forWorker) {
    const std::string usr1 = Datagram(kWmMyUsr1, 1, 0);
    const std::string term = Datagram(kWmMyTerm, 0, 0);
    std::vector<std::string> datagrams = {
        "",
        usr1.substr(0, 1),
        usr1.substr(0, 8),
        usr1.substr(0, 23),
        usr1 + "x",
        term + term,
        term + std::string(4096 - 24, '\xff'),
    };
    const std::uint64_t numbers[] = {0, 16, ~std::uint64_t{0}, std::uint64_t{1} << 31,
                                     (std::uint64_t{1} << 32) + 1};
    for (const std::uint32_t message :
         {std::uint32_t{0}, std::uint32_t{1}, kWmUser + 1, 0xBFFFu, 0xC000u, 0xFFFFFFFFu}) {
        datagrams.push_back(Datagram(message, 1, 1));
    }
    for (const std::uint64_t number : numbers) {
        for (const std::uint32_t message : {kWmUser, kWmMyUsr1, kWmMyUsr2}) {
            if (!forWorker || message != kWmMyUsr1) {
                datagrams.push_back(Datagram(message, number, -1));
            }
        }
    }
    return datagrams;
}

// Sends a datagram from a process of user "nobody" (65534); true when sent.
bool SendAsAnotherUser(std::uint32_t threadId, const std::string& bytes) {
    const pid_t pid = fork();
    if (pid == 0) {
        socklen_t length = 0;
        const sockaddr_un address = QueueAddress(threadId, length);
        const int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
        const bool sent = setgid(65534) == 0 && setuid(65534) == 0 &&
                          sendto(fd, bytes.data(), bytes.size(), 0,
                                 reinterpret_cast<const sockaddr*>(&address), length) >= 0;
        _exit(sent ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A real end request, whatever its parameters, is answered from the second
// stage with the worker's number. The answer is the first message the test
// receives, so nothing sent before the request was answered. The worker
// registers before its message thread has made its queue: the request is
// sent once the queue is there.
void ExpectEndRequestAnswered(harness::Session& session, TestQueue& queue, std::uint32_t worker) {
    const std::string request = Datagram(kWmMyUsr1, ~std::uint64_t{0}, -1);
    ASSERT_TRUE(harness::WaitUntil(
        session, [&] { return queue.Send(worker, request); }, 10s));
    const std::optional<Message> answer = queue.Receive(10s);
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(answer->message, kWmMyUsr2);
    EXPECT_EQ(answer->wParam, 5u);
    EXPECT_EQ(answer->lParam, 0);
}

// A worker started by hand with the test's queue as its monitor: garbage
// changes nothing, the worker still answers a real end request from its
// second stage and obeys the end order, ending with status 0. Its queue
// reads datagrams in the order they came, so an answer to a request sent
// after the garbage shows that all of it has been read.
TEST(HostileMessages, WorkerQueueIgnoresGarbageAndStillObeysTheProtocol) {
    if (harness::UnderRunner()) {
        GTEST_SKIP() << "datagram queues belong to the Linux layer";
    }
    TestQueue queue;
    ASSERT_TRUE(queue.bound());
    harness::Options options;
    options.arguments = {"5", "1", "2147483647",
                         std::to_string(static_cast<std::int32_t>(queue.id()))};
    harness::Session session = harness::Start("stageworker", options);

    const std::optional<Message> registration = queue.Receive(10s);
    ASSERT_TRUE(registration.has_value());
    EXPECT_EQ(registration->message, kWmUser);
    EXPECT_EQ(registration->wParam, 5u);
    const auto worker = static_cast<std::uint32_t>(registration->lParam);
    ASSERT_NE(worker, 0u);
    ASSERT_TRUE(harness::WaitForOutput(session, "выполнение второго этапа", 10s));
    // Answered once, the worker has its queue and its connection to ours:
    // its descriptors are counted from here.
    ExpectEndRequestAnswered(session, queue, worker);

    const auto openDescriptors = [&session] {
        const fs::path folder = "/proc/" + std::to_string(session.pid) + "/fd";
        return std::distance(fs::directory_iterator(folder), fs::directory_iterator());
    };
    const auto descriptorsBefore = openDescriptors();
    for (const std::string& datagram : HostileDatagrams(true)) {
        queue.Send(worker, datagram);
    }
    // Descriptors attached to datagrams must not pile up in the worker.
    int sentWithDescriptors = 0;
    for (int i = 0; i < 20; ++i) {
        sentWithDescriptors +=
            queue.SendWithDescriptors(worker, Datagram(kWmUser + 1, 0, 0), 8) ? 1 : 0;
    }
    EXPECT_EQ(sentWithDescriptors, 20);
    // An end request from another user cannot even reach the queue in the
    // user's own place (needs root to switch users).
    if (geteuid() == 0) {
        EXPECT_FALSE(SendAsAnotherUser(worker, Datagram(kWmMyUsr1, 0, 0)));
    }
    ExpectEndRequestAnswered(session, queue, worker);
    EXPECT_EQ(openDescriptors(), descriptorsBefore) << "descriptors received and kept";
    EXPECT_EQ(harness::Lines(session.outputText).size(), 4u) << session.outputText;

    // Far from the end of its 2^31 - 1 ms stage, the worker ends itself.
    ASSERT_TRUE(queue.Send(worker, Datagram(kWmMyTerm, std::uint64_t{1} << 31, -1)));
    FinishAlone(session, 30s);
    EXPECT_EQ(session.exitCode, 0);
    EXPECT_EQ(session.errorText, "");
    const Lines lines = harness::Lines(session.outputText);
    ASSERT_EQ(lines.size(), 7u) << session.outputText;
    EXPECT_TRUE(harness::IsEventLine(lines[4], "Процесс  5 - принял сообщение WM_MYTERM."));
    EXPECT_TRUE(std::regex_match(lines[5],
                                 std::regex(".* - Процесс  5 - фактор ожидания = 21474\\d{5}\\.")))
        << lines[5];
    EXPECT_TRUE(harness::IsEventLine(lines[6], "Процесс  5 - завершен принудительно."));
}

// Garbage sent to the monitor's message thread while it waits: no slot and no
// worker is touched. Worker 2 runs its course and is reported as ended;
// worker 1, observed, still gets the end request at the timeout, answers
// from its long second stage and ends itself; the monitor ends with 0. Once
// both workers have registered, the monitor is held (stopped) until worker 2
// has run its course and ended, so its wait cannot run out first on a busy
// machine.
TEST(HostileMessages, MonitorThreadIgnoresGarbageAndWorkersRunTheirCourse) {
    if (harness::UnderRunner()) {
        GTEST_SKIP() << "datagram queues belong to the Linux layer";
    }
    SearchOnlySystemFolders();
    Folder folder;
    AddRecordingWorkers(folder);
    harness::Session session = harness::Start("taskwarden", folder.Options());
    harness::Send(session, "2\n1\n1\n60000\n2\n40\n");
    // The two workers start in either order; wait for both whole lines.
    // Worker 2's class is drawn at random: in the idle class, on a busy
    // machine, a sanitizer build takes many seconds just to start, and the
    // monitor's 40 s must not run out before it has (it is held only then).
    for (const char* worker : {"worker-args 1 ", "worker-args 2 "}) {
        ASSERT_TRUE(harness::WaitForOutput(session, worker, 120s)) << session.outputText;
        const std::size_t start = session.outputText.find(worker);
        while (session.outputText.find('\n', start) == std::string::npos) {
            ASSERT_TRUE(harness::StillRunningAfter(session, 50ms)) << session.outputText;
        }
    }
    const std::regex recorded("worker-args 1 1 60000 (-?\\d+)");
    std::uint32_t monitor = 0;
    for (const std::string& line : harness::Lines(session.outputText)) {
        std::smatch match;
        if (std::regex_match(line, match, recorded)) {
            monitor = static_cast<std::uint32_t>(std::stol(match[1].str()));
        }
    }
    ASSERT_NE(monitor, 0u) << session.outputText;

    TestQueue queue;
    const std::vector<std::string> datagrams = HostileDatagrams(false);
    int delivered = 0;
    for (const std::string& datagram : datagrams) {
        delivered += queue.Send(monitor, datagram) ? 1 : 0;
    }
    EXPECT_EQ(delivered, static_cast<int>(datagrams.size())) << "monitor queue gone";
    // A worker registers before it prints that it has started.
    for (const char* started : {"Процесс  1 - запущен", "Процесс  2 - запущен"}) {
        ASSERT_TRUE(harness::WaitForOutput(session, started, 30s)) << session.outputText;
    }
    // Worker 2 runs for seconds yet (its second stage is 3250 ms). Once it
    // has ended, it is no live member of the group; while it is ending it
    // still is, though its command line is gone by then.
    const std::vector<pid_t> second = harness::LiveProcessesNamed(session, "stageworker 2 ");
    ASSERT_EQ(second.size(), 1u) << session.outputText;
    const auto secondGone = [&] {
        const std::vector<pid_t> live = harness::LiveProcessesNamed(session, "");
        return std::find(live.begin(), live.end(), second.front()) == live.end();
    };
    kill(session.pid, SIGSTOP);
    const bool secondEnded =
        harness::WaitForOutput(session, "Процесс  2 - второй этап выполнен.", 60s) &&
        harness::WaitUntil(session, secondGone, 60s);
    kill(session.pid, SIGCONT);
    ASSERT_TRUE(secondEnded) << session.outputText;

    ASSERT_TRUE(harness::WaitForOutput(session, "Процесс  1 - завершен принудительно.", 90s))
        << session.outputText << session.errorText;
    EXPECT_TRUE(harness::StillRunningAfter(session, 300ms)) << "must wait for Enter";
    harness::Send(session, "\n");
    FinishAlone(session, 10s);
    EXPECT_EQ(session.exitCode, 0);
    EXPECT_EQ(session.errorText, "");

    const Lines lines = harness::Lines(session.outputText);
    const int timeout = EventIndex(lines, "ВРЕМЯ ОЖИДАНИЯ (40 с.) ИСТЕКЛО.");
    ASSERT_GE(timeout, 0) << session.outputText;
    const int secondDone = EventIndex(lines, "Процесс  2 - второй этап выполнен.");
    EXPECT_GE(secondDone, 0);
    EXPECT_LT(secondDone, timeout);
    EXPECT_GT(EventIndex(lines, "Процесс  2 - нормально завершился."), timeout);
    const int received = EventIndex(lines, "Процесс  1 - принял сообщение WM_MYTERM.");
    EXPECT_GT(received, timeout);
    // Lines of the monitor and of worker 2 may come between the worker's own.
    int factor = -1;
    for (std::size_t i = 0; i < lines.size() && factor < 0; ++i) {
        factor = lines[i].find(" - Процесс  1 - фактор ожидания = ") != std::string::npos
                     ? static_cast<int>(i)
                     : -1;
    }
    EXPECT_GT(factor, received);
    EXPECT_GT(EventIndex(lines, "Процесс  1 - завершен принудительно."), factor);
    int forcedEnds = 0;
    for (const std::string& line : lines) {
        forcedEnds += line.find("завершен принудительно") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(forcedEnds, 1) << session.outputText;
    EXPECT_EQ(session.outputText.find("Процесс  1 - второй этап выполнен."), std::string::npos);
}

}  // namespace
