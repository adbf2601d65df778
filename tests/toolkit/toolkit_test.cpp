// The tools' platform service: UTF-8 checks and code pages, the class words,
// and (Linux) a child's start failures, processor time and command line.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "herdlab_toolkit.h"

#ifdef _WIN32
#include "win32.h"
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <sstream>
#endif

namespace {

namespace toolkit = herdlab_toolkit;

TEST(Utf8, WellFormedSequencesOnly) {
    struct Row {
        std::string bytes;
        bool valid;
        bool validCutAtEnd;
    };
    const Row rows[] = {
        {"", true, true},
        {"Слон 1 €", true, true},
        {"\xF0\x9F\x90\x98", true, true},    // U+1F418, four bytes
        {"\xD0", false, true},               // a letter cut by the end
        {"\xE2\x82", false, true},           // a three-byte sign cut by the end
        {"\xD0 x", false, false},            // cut in the middle
        {"\xC0\xAF", false, false},          // overlong '/'
        {"\xE0\x80\xAF", false, false},      // overlong, three bytes
        {"\xED\xA0\x80", false, false},      // a surrogate
        {"\xF4\x90\x80\x80", false, false},  // beyond U+10FFFF
        {"\xF4\x90", false, false},          // cut, and beyond U+10FFFF already
        {"\x80", false, false},              // a stray continuation byte
        {"\xFF\xFE", false, false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(toolkit::IsUtf8(row.bytes), row.valid) << testing::PrintToString(row.bytes);
        EXPECT_EQ(toolkit::IsUtf8(row.bytes, true), row.validCutAtEnd)
            << testing::PrintToString(row.bytes);
    }
}

TEST(CodePages, EveryWindows1251ByteRoundTripsAndOthersBecomeQuestionMarks) {
    std::string all;
    for (int byte = 1; byte < 256; ++byte) {
        all += static_cast<char>(byte);
    }
    const std::string utf8 = toolkit::Utf8FromCp1251(all);
    EXPECT_TRUE(toolkit::IsUtf8(utf8));
    EXPECT_EQ(toolkit::Cp1251FromUtf8(utf8), all);
    EXPECT_EQ(toolkit::Utf8FromCp1251("\xD1\xEB\xEE\xED \xB9"), "Слон №");
    EXPECT_EQ(toolkit::Utf8FromCodePage("\x91\xAB\xAE\xAD", toolkit::kCodePage866), "Слон");
    EXPECT_EQ(toolkit::Cp1251FromUtf8("Слон 中 \xFF"), "\xD1\xEB\xEE\xED ? ?");
    // Past the pieces the platform calls take: nothing lost at the seams.
    const std::string longText(3 << 20, '\xE9');
    EXPECT_EQ(toolkit::Cp1251FromUtf8(toolkit::Utf8FromCp1251(longText)), longText);
}

TEST(ClassWords, AreTheProgramsTableAndReadBack) {
    EXPECT_EQ(toolkit::ClassWord(0), "низкий");
    EXPECT_EQ(toolkit::ClassWord(5), "реального времени");
    for (int index = 0; index < toolkit::kClassCount; ++index) {
        EXPECT_EQ(toolkit::ClassIndexOfWord(toolkit::ClassWord(index)), index);
    }
    EXPECT_EQ(toolkit::ClassWord(6), "");
    EXPECT_EQ(toolkit::ClassWord(-1), "");
    EXPECT_EQ(toolkit::ClassIndexOfWord("высокий "), -1);
    EXPECT_EQ(toolkit::ClassIndexOfWord(""), -1);
}

// A file replaced whole: the new content in the old one's place, nothing
// left beside it, and a failure that leaves no trace.
TEST(ReplaceFileWhole, PutsTheNewFileInPlaceAndLeavesNothingElse) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / "herdlab-replace-test";
    fs::remove_all(folder);
    fs::create_directories(folder);
    const std::string path = (folder / "page.html").string();
    for (const std::string& content :
         {std::string("first"), std::string(), std::string(1 << 20, 'x')}) {
        ASSERT_TRUE(toolkit::ReplaceFileWhole(path, content));
        std::ifstream file(path, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), content);
    }
    EXPECT_FALSE(toolkit::ReplaceFileWhole((folder / "missing" / "page.html").string(), "x"));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
    fs::remove_all(folder);
}

#ifdef _WIN32
DWORD WINAPI CloseSoon(LPVOID handle) {
    Sleep(50);  // a browser reading the page for a moment
    CloseHandle(handle);
    return 0;
}

// A reader that holds the old file open without letting it be replaced
// (as browsers do) only delays the replacement.
TEST(ReplaceFileWhole, WaitsForAReaderHoldingTheOldFile) {
    const std::string path =
        (std::filesystem::temp_directory_path() / "herdlab-held.html").string();
    ASSERT_TRUE(toolkit::ReplaceFileWhole(path, "old"));
    HANDLE reader = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    HANDLE closer = CreateThread(nullptr, 0, CloseSoon, reader, 0, nullptr);
    EXPECT_TRUE(toolkit::ReplaceFileWhole(path, "new"));
    WaitForSingleObject(closer, INFINITE);
    CloseHandle(closer);
    std::ifstream file(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), "new");
    file.close();
    std::filesystem::remove(path);
}
#endif

#ifndef _WIN32

int RefuseToRun(void* context) {
    return *static_cast<int*>(context);
}

TEST(StartChildProcess, ReportsTheExecsAndTheHooksFailure) {
    toolkit::ChildRequest request;
    request.program = "/no/such/program";
    request.words = {"x"};
    toolkit::StartedChild child;
    EXPECT_EQ(toolkit::StartChildProcess(request, child), std::uint32_t(ENOENT));
    int refusal = EPERM;
    request.program = "/bin/true";
    request.beforeExec = RefuseToRun;
    request.beforeExecContext = &refusal;
    EXPECT_EQ(toolkit::StartChildProcess(request, child), std::uint32_t(EPERM));
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a failed start leaves no child behind";
}

TEST(StartChildProcess, ChildIsReadThroughItsLifeAndItsWordsAreKept) {
    int input[2];
    int output[2];
    ASSERT_EQ(pipe2(input, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(output, O_CLOEXEC), 0);
    toolkit::ChildRequest request;
    request.program = "sh";  // on PATH
    request.words = {"sh", "-c", "echo started; read line", "процесс 1"};
    request.input = input[0];
    request.output = output[1];
    toolkit::StartedChild child;
    ASSERT_EQ(toolkit::StartChildProcess(request, child), 0u);
    char started[8] = {};
    ASSERT_EQ(read(output[0], started, 8), 8);  // "started\n": past its exec
    EXPECT_EQ(toolkit::ProcessWords(child.id), request.words);

    toolkit::ProcessWatch self;
    ASSERT_TRUE(toolkit::OpenProcessWatch(static_cast<unsigned long>(getpid()), self));
    std::vector<unsigned long> children;
    if (toolkit::ReadChildIds(self, children)) {
        EXPECT_NE(std::find(children.begin(), children.end(), child.id), children.end());
    }
    toolkit::ProcessWatch watch = toolkit::WatchChild(child);
    toolkit::ProcessorReading reading = toolkit::ReadProcessorTime(watch);
    EXPECT_TRUE(reading.valid && !reading.ended && reading.milliseconds >= 0);

    ASSERT_EQ(write(input[1], "\n", 1), 1);
    siginfo_t info{};
    ASSERT_EQ(waitid(P_PID, id_t(child.id), &info, WEXITED | WNOWAIT), 0);
    reading = toolkit::ReadProcessorTime(watch);
    EXPECT_TRUE(reading.valid && reading.ended) << "ended, not yet reaped";
    ASSERT_EQ(waitpid(pid_t(child.id), nullptr, 0), pid_t(child.id));
    EXPECT_FALSE(toolkit::ReadProcessorTime(watch).valid);
    toolkit::CloseProcessWatch(watch);
    toolkit::CloseProcessWatch(self);
    for (const int fd : {input[0], input[1], output[0], output[1]}) {
        close(fd);
    }
}

// What a shell under nohup, or a parent that blocks a signal, gives the
// program it starts: SIGHUP ignored, SIGUSR1 blocked. In the child, right
// before exec.
int GiveSignals(void*) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGHUP, &ignore, nullptr);
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR1);
    return sigprocmask(SIG_BLOCK, &blocked, nullptr) == 0 ? 0 : errno;
}

std::uint64_t Bit(int signal) {
    return std::uint64_t{1} << (signal - 1);
}

// The output of toolkit_signal_child `words`, started with the signals
// GiveSignals gives; empty when it did not end well.
std::string RunSignalChild(const std::vector<std::string>& words) {
    char self[PATH_MAX] = {};
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    const std::string path(self, std::size_t(length > 0 ? length : 0));
    int output[2];
    if (pipe2(output, O_CLOEXEC) != 0) {
        return {};
    }
    toolkit::ChildRequest request;
    request.program = path.substr(0, path.rfind('/') + 1) + "toolkit_signal_child";
    request.words = words;
    request.output = output[1];
    request.signals = toolkit::ChildSignals::kAllDefault;  // and then GiveSignals
    request.beforeExec = GiveSignals;
    toolkit::StartedChild child;
    const std::uint32_t error = toolkit::StartChildProcess(request, child);
    close(output[1]);
    std::string text;
    char buffer[256];
    for (ssize_t got; error == 0 && (got = read(output[0], buffer, sizeof buffer)) > 0;) {
        text.append(buffer, std::size_t(got));
    }
    close(output[0]);
    int status = -1;
    if (error == 0) {
        waitpid(pid_t(child.id), &status, 0);
    }
    return status == 0 ? text : std::string();
}

// The mask of a "SigBlk:" or "SigIgn:" line of /proc/PID/status.
std::uint64_t MaskOf(const std::string& report, const std::string& name) {
    std::istringstream lines(report);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with(name + ":")) {
            return std::stoull(line.substr(name.size() + 1), nullptr, 16);
        }
    }
    return ~std::uint64_t{0};
}

// A tool that was given SIGHUP ignored and SIGUSR1 blocked sets up its own
// signals (toolkit_signal_child "start"), then starts its program.
TEST(StartChildProcess, ProgramStartsWithTheSignalsItsModeGives) {
    const struct {
        const char* mode;
        std::uint64_t ignored;
        std::uint64_t blocked;
    } rows[] = {
        {"as-inherited", Bit(SIGHUP), Bit(SIGUSR1)},  // the tool's own changes do not pass on
        {"all-default", 0, 0},
    };
    // The tool's own state, through the same report.
    const std::string given = RunSignalChild({"toolkit_signal_child", "report"});
    ASSERT_EQ(MaskOf(given, "SigIgn"), Bit(SIGHUP)) << given;
    ASSERT_EQ(MaskOf(given, "SigBlk"), Bit(SIGUSR1)) << given;
    for (const auto& row : rows) {
        const std::string report = RunSignalChild({"toolkit_signal_child", "start", row.mode});
        EXPECT_EQ(MaskOf(report, "SigIgn"), row.ignored) << row.mode << ":\n" << report;
        EXPECT_EQ(MaskOf(report, "SigBlk"), row.blocked) << row.mode << ":\n" << report;
    }
}

#endif

}  // namespace
