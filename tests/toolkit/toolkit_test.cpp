// The tools' platform service: UTF-8 checks and code pages, the class words,
// and (Linux) a child's start failures, processor time and command line.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "herdlab_toolkit.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
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

#endif

}  // namespace
