// The messages of console errors and the unhandled-error report, both as a
// text and as a user sees it from a child program.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "errors_unit.h"

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>

#include <thread>
#include <vector>
#endif

namespace {

TEST(IoErrorMessage, SixNumbersHaveTextsOfTheirOwn) {
    EXPECT_EQ(IoErrorMessage(2), "File not found");
    EXPECT_EQ(IoErrorMessage(3), "Invalid filename");
    EXPECT_EQ(IoErrorMessage(4), "Too many open files");
    EXPECT_EQ(IoErrorMessage(5), "File access denied");
    EXPECT_EQ(IoErrorMessage(100), "Read beyond end of file");
    EXPECT_EQ(IoErrorMessage(101), "Disk full");
    EXPECT_EQ(IoErrorMessage(32), "I/O error 32");
    EXPECT_EQ(IoErrorMessage(0), "I/O error 0");
}

TEST(UnhandledErrorReport, HasTwoFormsThatDifferInLineEnds) {
    EXPECT_EQ(UnhandledErrorReport(ReportForm::kHerdLauncher, "EInOutError", "herdboss1.exe",
                                   0x0040A1B2, "Invalid numeric input"),
              "Exception EInOutError in module herdboss1.exe at 0040A1B2.\n"
              "Invalid numeric input.\r\n");
    EXPECT_EQ(UnhandledErrorReport(ReportForm::kStandardError, "EConvertError", "tusker1",
                                   0xDEADBEEF, "'abc' is not a valid integer value"),
              "Exception EConvertError in module tusker1 at DEADBEEF.\r\n"
              "'abc' is not a valid integer value.\r\n"
              "\r\n");
}

TEST(UnhandledErrorReport, AddsAFullStopOnlyWhenMissing) {
    const std::string report =
        UnhandledErrorReport(ReportForm::kHerdLauncher, "EConvertError", "p", 0, "'4.' is wrong.");
    EXPECT_EQ(report.substr(report.find('\n') + 1), "'4.' is wrong.\r\n");
    const std::string empty = UnhandledErrorReport(ReportForm::kHerdLauncher, "E", "p", 0, "");
    EXPECT_EQ(empty.substr(empty.find('\n') + 1), ".\r\n");
}

#ifndef _WIN32
struct ChildResult {
    std::string out;
    std::string err;
    int exitCode = -1;
};

std::string ReadAll(int fd) {
    std::string bytes;
    char block[4096];
    ssize_t count = 0;
    while ((count = read(fd, block, sizeof block)) > 0) {
        bytes.append(block, static_cast<std::size_t>(count));
    }
    close(fd);
    return bytes;
}

// Runs the helper program with the given arguments and standard input text.
ChildResult RunReportChild(std::vector<std::string> args, const std::string& input) {
    int in[2], out[2], err[2];
    if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) {
        return {};
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) {
            close(fd);
        }
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(HERDLAB_REPORT_CHILD));
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        setenv("LC_ALL", "C.UTF-8", 1);
        execv(HERDLAB_REPORT_CHILD, argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    if (write(in[1], input.data(), input.size()) < 0) {
        // The child may end before reading; its result tells.
    }
    close(in[1]);
    ChildResult result;
    std::thread errReader([&] { result.err = ReadAll(err[0]); });
    result.out = ReadAll(out[0]);
    errReader.join();
    int status = 0;
    waitpid(pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

const std::regex kLine1(
    R"(Exception (EInOutError|EConvertError) in module report_child at [0-9A-F]{8}\.)");

// Splits off line 1 at its line end and checks its form.
std::string AfterLine1(const std::string& report, const std::string& lineEnd) {
    const std::size_t end = report.find(lineEnd);
    if (end == std::string::npos) {
        return "<no line end>";
    }
    EXPECT_TRUE(std::regex_match(report.substr(0, end), kLine1)) << report;
    return report.substr(end + lineEnd.size());
}

TEST(UnhandledErrorReport, HerdFormGoesUnconvertedToStandardOutput) {
    const ChildResult bad = RunReportChild({"herd", "input"}, "abc\n");
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_EQ(bad.err, "");
    const std::string first = "Перед ошибкой\r\n";
    ASSERT_EQ(bad.out.substr(0, first.size()), first);
    EXPECT_NE(bad.out.find("EInOutError"), std::string::npos);
    EXPECT_EQ(AfterLine1(bad.out.substr(first.size()), "\n"), "Invalid numeric input.\r\n");

    // The Windows-1251 bytes of the argument reach the output as they are.
    const ChildResult word = RunReportChild({"herd", "convert", "слон"}, "");
    EXPECT_EQ(word.exitCode, 1);
    EXPECT_EQ(AfterLine1(word.out.substr(first.size()), "\n"),
              "'\xF1\xEB\xEE\xED' is not a valid integer value.\r\n");
}

TEST(UnhandledErrorReport, OtherProgramsReportConvertedOnStandardError) {
    const ChildResult word = RunReportChild({"stderr", "convert", "слон"}, "");
    EXPECT_EQ(word.exitCode, 1);
    EXPECT_EQ(word.out, "Перед ошибкой\r\n");
    EXPECT_NE(word.err.find("EConvertError"), std::string::npos);
    EXPECT_EQ(AfterLine1(word.err, "\r\n"), "'слон' is not a valid integer value.\r\n\r\n");

    const ChildResult missing = RunReportChild({"stderr", "convert"}, "");
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(AfterLine1(missing.err, "\r\n"), "'' is not a valid integer value.\r\n\r\n");

    // End of input is no error: the child goes on and ends normally.
    const ChildResult ended = RunReportChild({"stderr", "input"}, "");
    EXPECT_EQ(ended.exitCode, 0);
    EXPECT_EQ(ended.out, "Перед ошибкой\r\nПосле чтения\r\n");
    EXPECT_EQ(ended.err, "");
}
#endif

}  // namespace
