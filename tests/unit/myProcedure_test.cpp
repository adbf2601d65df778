// Console output: conversion, one write per line, the priority menu, and a
// failed write reported as an error.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "cp1251_unit.h"
#include "errors_unit.h"
#include "myProcedure_unit.h"
#include "stdout_capture.h"

#ifndef _WIN32
#include <fcntl.h>

namespace {

TEST(PrintLine, ConvertsToUtf8AndEndsWithCrLf) {
    StdoutCapture capture;
    StartCapture(capture);
    PrintLine("%s - Слон %d поиск начал, приоритет - %s"_cp1251,
              {"9:05:07.042", 3, "выше среднего"_cp1251});
    PrintLine("");
    PrintPrompt("Число слонов (1-15): "_cp1251);
    EXPECT_EQ(StopCapture(capture),
              "9:05:07.042 - Слон 3 поиск начал, приоритет - выше среднего\r\n"
              "\r\n"
              "Число слонов (1-15): ");
}

TEST(PriorityMenu, PrintsSevenLinesExactly) {
    StdoutCapture capture;
    StartCapture(capture);
    PriorityMenu();
    EXPECT_EQ(StopCapture(capture),
              "№   Приоритет\r\n"
              "0   низкий.\r\n"
              "1   ниже среднего.\r\n"
              "2   нормальный.\r\n"
              "3   выше среднего.\r\n"
              "4   высокий.\r\n"
              "5   реального времени.\r\n");
}

// Two threads print at once into one pipe: every line arrives whole, and each
// thread's lines keep their order.
TEST(PrintLine, TwoThreadsNeverBreakALine) {
    constexpr int kLines = 10'000;
    StdoutCapture capture;
    StartCapture(capture);
    auto printer = [](int thread) {
        for (int i = 0; i < kLines; ++i) {
            PrintLine(
                "%s - Поток %d, строка %7d: ..........................................."_cp1251,
                {"12:00:00.000", thread, i});
        }
    };
    std::thread first(printer, 1);
    std::thread second(printer, 2);
    first.join();
    second.join();
    const std::string out = StopCapture(capture);

    int next[3] = {0, 0, 0};
    int broken = 0;
    std::size_t start = 0;
    while (start < out.size()) {
        const std::size_t end = out.find("\r\n", start);
        ASSERT_NE(end, std::string::npos) << "unterminated tail";
        const std::string line = out.substr(start, end - start);
        start = end + 2;
        int thread = 0;
        int number = -1;
        const std::string prefix = "12:00:00.000 - Поток ";
        if (line.rfind(prefix, 0) == 0 && line.size() > prefix.size()) {
            thread = line[prefix.size()] - '0';
            number = std::stoi(line.substr(line.find("строка ") + std::string("строка ").size()));
        }
        const bool whole = (thread == 1 || thread == 2) && number == next[thread] &&
                           line.size() == std::string(
                                              "12:00:00.000 - Поток 1, строка       0: "
                                              "...........................................")
                                              .size();
        if (!whole) {
            ++broken;
        } else {
            ++next[thread];
        }
    }
    EXPECT_EQ(broken, 0);
    EXPECT_EQ(next[1], kLines);
    EXPECT_EQ(next[2], kLines);
}

TEST(PrintLine, FailedWriteRaisesAnInputOutputError) {
    const int full = open("/dev/full", O_WRONLY);
    ASSERT_GE(full, 0);
    const int saved = dup(1);
    dup2(full, 1);
    close(full);
    std::string message;
    try {
        PrintLine("lost");
    } catch (const EInOutError& error) {
        message = error.message;
    }
    dup2(saved, 1);
    close(saved);
    // The disk is full: ENOSPC, or Windows' ERROR_DISK_FULL if the layer maps it.
    EXPECT_TRUE(message == "I/O error 28" || message == "I/O error 112") << message;
}

}  // namespace
#endif
