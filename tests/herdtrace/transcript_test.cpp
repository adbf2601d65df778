// Reading console transcripts: every line the programs print, whole runs in
// the Linux and the Windows form and in the three encodings; cut, mixed,
// garbled and hostile transcripts.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "cp1251_unit.h"
#include "errors_unit.h"
#include "format_unit.h"
#include "herdlab_toolkit.h"
#include "line_forms.h"
#include "picture.h"
#include "priority_unit.h"
#include "program_lines_unit.h"
#include "transcript_reader.h"

namespace {

using namespace herdtrace;
namespace toolkit = herdlab_toolkit;

// A herd of three as herdboss1 prints it on Linux: elephant 2 (idle) is
// still searching at the deadline and is destroyed.
const std::string kHerd =
    "23:59:50.100 - Начало работы\n"
    "Введите количество процессов (1 до 15)>\n"
    "Доступные процессы:\n"
    "23:59:50.101 - Процесс 1, возраст: 3, вес: 1.70.\n"
    "23:59:50.101 - Процесс 2, возраст: 4, вес: 1.20.\n"
    "23:59:50.101 - Процесс 3, возраст: 40, вес: 4.80.\n"
    "Введите № процесса для редактирования параметров или 0 для продолжения работы>\n"
    "Продолжаем работу...\n"
    "23:59:50.200 - Слон 3 поиск начал, приоритет - высокий\n"
    "23:59:50.300 - Слон 1 поиск начал, приоритет - нормальный\n"
    "23:59:50.400 - Слон 2 поиск начал, приоритет - низкий\n"
    "23:59:51.200 - Слон 3 нашел воду\n"
    "23:59:52.000 - Слон 3 напился\n"
    "23:59:58.000 - Слон 1 нашел воду\n"
    "0:00:05.500 - Слон 1 напился\n"  // past midnight
    "0:00:15.101 - ВРЕМЯ ОЖИДАНИЯ ИСТЕКЛО\n"
    "0:00:15.102 - процесс 1 нормально завершился\n"
    "0:00:15.103 - процесс 2 уничтожен.\n"
    "0:00:15.103 - процесс 3 нормально завершился\n";

// The same text as a Windows console holds it: CR LF, and the code page.
std::string WindowsForm(const std::string& utf8, bool cp866) {
    std::string out;
    for (std::size_t at = 0; at < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[at]);
        std::uint32_t codePoint = lead;
        std::size_t length = 1;
        if (lead >= 0xE0) {
            codePoint =
                ((lead & 0x0F) << 12) | ((utf8[at + 1] & 0x3F) << 6) | (utf8[at + 2] & 0x3F);
            length = 3;
        } else if (lead >= 0xC0) {
            codePoint = ((lead & 0x1F) << 6) | (utf8[at + 1] & 0x3F);
            length = 2;
        }
        at += length;
        if (codePoint == '\n') {
            out += "\r\n";
        } else if (!cp866) {
            out += static_cast<char>(cp1251::ByteOf(codePoint));
        } else if (codePoint >= 0x0410 && codePoint <= 0x043F) {  // А..п
            out += static_cast<char>(0x80 + codePoint - 0x0410);
        } else if (codePoint >= 0x0440 && codePoint <= 0x044F) {  // р..я
            out += static_cast<char>(0xE0 + codePoint - 0x0440);
        } else if (codePoint == 0x2116) {
            out += static_cast<char>(0xFC);
        } else {
            out += static_cast<char>(codePoint);
        }
    }
    return out;
}

constexpr Millis kDay = 24 * 3600 * 1000;
constexpr Millis At(int h, int m, int s, int ms) {
    return ((h * 60 + m) * 60 + s) * 1000 + ms;
}

void ExpectHerd(const Trace& trace) {
    EXPECT_EQ(trace.kind, LauncherKind::kHerd);
    ASSERT_EQ(trace.lanes.size(), 3u);
    const Lane& one = trace.lanes[0];  // lanes in table order
    const Lane& two = trace.lanes[1];
    const Lane& three = trace.lanes[2];
    EXPECT_EQ(one.name, "Слон 1");
    EXPECT_EQ(one.key, "1");
    EXPECT_EQ(one.priorityIndex, 2);
    EXPECT_EQ(two.priorityIndex, 0);
    EXPECT_EQ(three.priorityIndex, 4);
    ASSERT_EQ(one.phases.size(), 2u);
    EXPECT_EQ(one.phases[0].kind, PhaseKind::kSearching);
    EXPECT_EQ(one.phases[1].kind, PhaseKind::kDrinking);
    EXPECT_EQ(one.phases[1].start, At(23, 59, 58, 0));
    EXPECT_EQ(one.phases[1].end, kDay + At(0, 0, 5, 500));  // counted on across midnight
    EXPECT_EQ(one.ending, Ending::kFinished);
    EXPECT_EQ(two.ending, Ending::kEnded);
    EXPECT_EQ(two.endedAt, kDay + At(0, 0, 15, 103));
    ASSERT_EQ(two.phases.size(), 1u);
    EXPECT_EQ(two.phases[0].end, two.endedAt);  // the search ends where it was cut off
    EXPECT_EQ(three.endedAt, At(23, 59, 52, 0));
    EXPECT_EQ(trace.start, At(23, 59, 50, 200));
    EXPECT_EQ(trace.deadline, kDay + At(0, 0, 15, 101));
    EXPECT_EQ(trace.deadlineLabel, "25 с");
    EXPECT_TRUE(trace.unread.empty()) << trace.unread[0].number << ": " << trace.unread[0].text;
}

TEST(Transcript, HerdInEveryEncodingAndLineEnd) {
    ExpectHerd(ReadTranscript(kHerd));
    const std::string windows1251 = WindowsForm(kHerd, false);
    const std::string cp866 = WindowsForm(kHerd, true);
    EXPECT_EQ(toolkit::GuessEncoding(windows1251), toolkit::TextEncoding::kWindows1251);
    EXPECT_EQ(toolkit::GuessEncoding(cp866), toolkit::TextEncoding::kCp866);
    ExpectHerd(ReadTranscript(windows1251));
    ExpectHerd(ReadTranscript(cp866));
    // A locale whose time separator is a full stop.
    std::string dotted = kHerd;
    for (std::size_t at = 0; (at = dotted.find(':', at)) != std::string::npos;) {
        if (at > 0 && std::isdigit(static_cast<unsigned char>(dotted[at - 1]))) {
            dotted[at] = '.';
        }
        ++at;
    }
    ExpectHerd(ReadTranscript(dotted));
}

TEST(Transcript, MonitorWorkersStagesEndOrdersAndWaitingTime) {
    const std::string monitor =
        "10:00:00.000 - МОНИТОР ПРОЦЕССОВ.\r\n"
        "-*******************************-\r\n"
        "10:00:00.001 - НАЧАЛО РАБОТЫ.\r\n"
        "\r\n"
        "Введите количество процессов (не больше 15): 3\r\n"
        "Процесс   Параметр первого этапа   Параметр второго этапа\r\n"
        "      1                     3300                     2300\r\n"
        "Введите время ожидания (в с.): 2,5\r\n"
        "10:00:01.000 - Процесс  1 - запущен, приоритет - реального времени.\r\n"
        "10:00:01.001 - Процесс  1 - выполнение первого этапа (параметр 3300)...\r\n"
        "10:00:01.010 - Процесс  2 - запущен, приоритет - ниже среднего.\r\n"
        "10:00:01.011 - Процесс  2 - выполнение первого этапа (параметр 100)...\r\n"
        "10:00:01.111 - Процесс  2 - первый этап выполнен.\r\n"
        "10:00:01.112 - Процесс  2 - выполнение второго этапа (параметр 200)...\r\n"
        "10:00:01.312 - Процесс  2 - второй этап выполнен.\r\n"
        "10:00:01.020 - Процесс 12 - запущен, приоритет - выше среднего.\r\n"
        "10:00:01.021 - Процесс 12 - выполнение первого этапа (параметр 10)...\r\n"
        "10:00:01.031 - Процесс 12 - первый этап выполнен.\r\n"
        "10:00:01.032 - Процесс 12 - выполнение второго этапа (параметр 1900)...\r\n"
        "\r\n"
        "10:00:03.500 - ВРЕМЯ ОЖИДАНИЯ (2,5 с.) ИСТЕКЛО.\r\n"
        "10:00:03.501 - Процесс  1 - завершен принудительно.\r\n"
        "10:00:03.502 - Процесс  2 - нормально завершился.\r\n"
        "10:00:03.503 - Процесс 12 - принял сообщение WM_MYTERM.\r\n"
        "10:00:03.503 - Процесс 12 - фактор ожидания = 571.\r\n"
        "10:00:03.504 - Процесс 12 - получил отсрочку.\r\n"
        "10:00:04.100 - Процесс 12 - второй этап выполнен.\r\n";
    const Trace trace = ReadTranscript(WindowsForm(monitor, true));
    EXPECT_EQ(trace.kind, LauncherKind::kMonitor);
    ASSERT_EQ(trace.lanes.size(), 3u);
    EXPECT_EQ(trace.lanes[0].name, "Процесс 1");
    EXPECT_EQ(trace.lanes[0].priorityIndex, 5);
    EXPECT_EQ(trace.lanes[0].ending, Ending::kEnded);
    EXPECT_EQ(trace.lanes[1].ending, Ending::kFinished);
    ASSERT_EQ(trace.lanes[1].phases.size(), 2u);
    EXPECT_EQ(trace.lanes[1].phases[1].kind, PhaseKind::kSecondStage);
    EXPECT_EQ(trace.lanes[2].key, "12");                  // after 2: table order, not text order
    EXPECT_EQ(trace.lanes[2].ending, Ending::kFinished);  // reprieved, then done
    EXPECT_EQ(trace.lanes[2].endedAt, At(10, 0, 4, 100));
    EXPECT_EQ(trace.deadline, At(10, 0, 3, 500));
    EXPECT_EQ(trace.deadlineLabel, "2,5 с");
    EXPECT_TRUE(trace.unread.empty()) << trace.unread[0].text;
}

TEST(Transcript, BothFeedersChildrenTicksAndDeadline) {
    const std::string numbered =
        "12:00:00.000 - Начало работы\n"
        "12:00:00.100 - процесс 1 начал есть, рацион - 15, приоритет - высокий\n"
        "12:00:00.200 - процесс 7 начал есть, рацион - 239, приоритет - низкий\n"
        "12:00:01.000 - процесс 1 съел 10 порций\n"
        "12:00:02.000 - процесс 1 наелся\n"
        "12:00:20.000 - процесс 7 съел 10 порций\n"
        "12:00:30.400 - процесс процесс 1 нормально завершился\n"
        "12:00:30.401 - процесс процесс 7 завершился принудительно\n";
    Trace trace = ReadTranscript(numbered);
    EXPECT_EQ(trace.kind, LauncherKind::kFeeder);
    ASSERT_EQ(trace.lanes.size(), 2u);
    EXPECT_EQ(trace.lanes[0].name, "процесс 1");
    EXPECT_EQ(trace.lanes[0].key, "процесс 1");  // what the feeder passes as its name
    EXPECT_EQ(trace.lanes[0].feedTicks.size(), 1u);
    EXPECT_EQ(trace.lanes[0].ending, Ending::kFinished);
    EXPECT_EQ(trace.lanes[1].ending, Ending::kEnded);
    EXPECT_EQ(trace.lanes[1].endedAt, At(12, 0, 30, 401));
    EXPECT_EQ(trace.deadline, At(12, 0, 30, 0));
    EXPECT_EQ(trace.deadlineLabel, "30 с");

    const std::string named =
        "12:00:00.000 - Начало работы\n"
        "12:00:00.100 - Слон Hathy начал есть, рацион - 239, приоритет - нормальный\n"
        "12:00:00.200 - Слон Tandy начал есть, рацион - 15, приоритет - ниже среднего\n"
        "12:00:02.000 - Слон Tandy наелся\n"
        "12:00:30.400 - Слон Tandy нормально завершился\n"
        "12:00:30.401 - Слон Hathy погиб\n";
    trace = ReadTranscript(WindowsForm(named, false));
    ASSERT_EQ(trace.lanes.size(), 2u);
    EXPECT_EQ(trace.lanes[0].name, "Слон Tandy");  // table order, not speaking order
    EXPECT_EQ(trace.lanes[0].key, "Tandy");
    EXPECT_EQ(trace.lanes[0].priorityIndex, 1);
    EXPECT_EQ(trace.lanes[1].ending, Ending::kEnded);
    EXPECT_TRUE(trace.unread.empty()) << trace.unread[0].text;
}

TEST(Transcript, CutMixedAndForeignLinesAreReportedByNumber) {
    std::string text = kHerd;
    text.insert(0, "make: Entering directory '/home/lab'\n");
    text += "12:00:00.000 - Something else happened\n";
    text += "0:00:16.000 - Слон 2 поис";  // cut in the middle of a line
    const Trace trace = ReadTranscript(text);
    ASSERT_EQ(trace.unread.size(), 3u);
    EXPECT_EQ(trace.unread[0].number, 1);
    EXPECT_EQ(trace.unread[1].text, "12:00:00.000 - Something else happened");
    EXPECT_EQ(trace.unread[2].number, 22);
    EXPECT_EQ(trace.lanes.size(), 3u);  // the herd is still read whole

    // Cut inside a two-byte letter: still UTF-8, the letter lost.
    const std::string cutLetter = kHerd + "0:00:16.000 - Сл\xD0";
    EXPECT_EQ(toolkit::GuessEncoding(cutLetter), toolkit::TextEncoding::kUtf8);
    EXPECT_EQ(ReadTranscript(cutLetter).lanes.size(), 3u);
}

// Every line the programs print, made from the formats they print from:
// each is read, and each child's line opens the lane it names.
TEST(Transcript, EveryProgramLineIsRead) {
    const std::string_view stamp = "12:00:00.000";
    const std::string_view high = kPriorityNames[4];
    const std::string_view tandy = "Tandy";
    const std::string_view process1 = "процесс 1"_cp1251;
    struct Row {
        std::string line;  // Windows-1251, as the programs hold it
        const char* lane;  // the lane it opens, or none
    };
    const Row rows[] = {
        {FormatText(kHerdGreetingLine, {stamp}), nullptr},
        {FormatText(kHerdCountPrompt) + "3", nullptr},
        {FormatText(kHerdCountFallback), nullptr},
        {FormatText(kHerdListingTitle), nullptr},
        {FormatText(kHerdListingLine, {stamp, 1, 3, 1.7}), nullptr},
        {FormatText(kHerdEditPrompt) + "0", nullptr},
        {FormatText(kHerdNoEditLine), nullptr},
        {FormatText(kHerdPriorityPrompt), nullptr},
        {FormatText(kHerdAgePrompt), nullptr},
        {FormatText(kHerdWeightPrompt), nullptr},
        {FormatText(kHerdRejectedLine), nullptr},
        {FormatText(kHerdStartFailedLine, {2}), nullptr},
        {FormatText(kPriorityMenuHeading), nullptr},
        {FormatText(kPriorityMenuRow, {4, high}), nullptr},
        {FormatText(kElephantSearchLine, {stamp, "3", high}), "Слон 3"},
        {FormatText(kElephantFoundLine, {stamp, "3"}), "Слон 3"},
        {FormatText(kElephantDrunkLine, {stamp, "4"}), "Слон 4"},
        {FormatText(kHerdTimeUpLine, {stamp}), nullptr},
        {FormatText(kHerdDestroyedLine, {stamp, 3}), nullptr},
        {FormatText(kHerdEndedLine, {stamp, 4}), nullptr},
        {FormatText(kMonitorHeadingLine, {stamp}), nullptr},
        {FormatText(kMonitorHeadingRule), nullptr},
        {FormatText(kMonitorStartLine, {stamp}), nullptr},
        {FormatText(kMonitorCountPrompt, {15}) + "3", nullptr},
        {FormatText(kProcessTableHeading), nullptr},
        {FormatText(kProcessTableRow, {1, 3300, 2300}), nullptr},
        {FormatText(kMonitorObservedPrompt) + "2", nullptr},
        {FormatText(kMonitorEditHeading, {2}), nullptr},
        {FormatText(kMonitorStage1Prompt, {3300}), nullptr},
        {FormatText(kMonitorStage2Prompt, {2300}), nullptr},
        {FormatText(kMonitorPriorityPrompt), nullptr},
        {FormatText(kMonitorWaitPrompt) + "2,5", nullptr},
        {FormatText(kMonitorStartFailedLine, {3, 2}), nullptr},
        {FormatText(kWorkerStartedLine, {stamp, 2, high}), "Процесс 2"},
        {FormatText(kWorkerFirstStageLine, {stamp, 12, 100}), "Процесс 12"},
        {FormatText(kWorkerFirstDoneLine, {stamp, 12}), "Процесс 12"},
        {FormatText(kWorkerSecondStageLine, {stamp, 12, 200}), "Процесс 12"},
        {FormatText(kWorkerSecondDoneLine, {stamp, 13}), "Процесс 13"},
        {FormatText(kMonitorTimeUpLine, {stamp, 2.5}), nullptr},
        {FormatText(kWorkerForcedEndLine, {stamp, 2}), nullptr},
        {FormatText(kMonitorEndedLine, {stamp, 12}), nullptr},
        {FormatText(kWorkerEndOrderLine, {stamp, 12}), nullptr},
        {FormatText(kWorkerWaitFactorLine, {stamp, 12, 571}), nullptr},
        {FormatText(kWorkerReprieveLine, {stamp, 12}), nullptr},
        {FormatText(kFeederGreetingLine, {stamp}), nullptr},
        {FormatText(kChildStartLine, {stamp, FormatText(kElephantChildWho, {tandy}), 15, high}),
         "Слон Tandy"},
        {FormatText(kChildStartLine, {stamp, FormatText(kProcessChildWho, {process1}), 15, high}),
         "процесс 1"},
        {FormatText(kChildProgressLine, {stamp, process1, 10}), "процесс 1"},
        {FormatText(kChildFedLine, {stamp, process1}), "процесс 1"},
        {FormatText(kChildNoRingLine, {stamp, "процесс 2"_cp1251}), "процесс 2"},
        {FormatText(kChildOrphanLine, {stamp, "Слон Aun"_cp1251}), "Слон Aun"},
        {FormatText(kProcessFeederEndedLine, {stamp, process1}), nullptr},
        {FormatText(kProcessFeederKilledLine, {stamp, process1}), nullptr},
        {FormatText(kElephantFeederEndedLine, {stamp, tandy}), nullptr},
        {FormatText(kElephantFeederKilledLine, {stamp, tandy}), nullptr},
        {FormatText(kProcessFeederStartFailedLine, {2}), nullptr},
        {FormatText(kElephantFeederStartFailedLine, {2}), nullptr},
        {FormatText(kRingFailureLine, {tandy, 5}), nullptr},
        // The error report as the programs write it, its empty line included.
        {UnhandledErrorReport(ReportForm::kStandardError, "EConvertError", "tusker1.exe",
                              0x0040A1B2, FormatText(kNotAnIntegerMessage, {"abc"})),
         nullptr},
        {UnhandledErrorReport(ReportForm::kHerdLauncher, "EInOutError", "herdboss1", 0xDEADBEEF,
                              kBadNumberMessage),
         nullptr},
        {UnhandledErrorReport(ReportForm::kStandardError, "EInOutError", "taskwarden", 1,
                              IoErrorMessage(4000000000u)),
         nullptr},
        {FormatText(kNotAFloatMessage, {"4,80"}) + ".", nullptr},
    };
    std::string transcript;
    for (const Row& row : rows) {
        transcript += row.line + "\r\n";
    }
    const Trace trace = ReadTranscript(transcript);
    EXPECT_EQ(trace.unreadCount, 0u) << trace.unread[0].number << ": " << trace.unread[0].text;
    for (const Row& row : rows) {
        if (row.lane != nullptr) {
            EXPECT_TRUE(std::any_of(trace.lanes.begin(), trace.lanes.end(), [&](const Lane& lane) {
                return lane.name == row.lane;
            })) << row.lane;
        }
    }
}

// The reader's forms and the one source of the programs' lines agree both
// ways: every line of kProgramFormats is a form of the reader (an event it
// reads or ignores, or a line without a time stamp), and the reader has no
// form of its own making.
TEST(Transcript, FormsAreTheProgramFormatsEveryOne) {
    const auto isEventForm = [](std::string_view format) {
        return std::any_of(std::begin(kEventForms), std::end(kEventForms),
                           [&](const LineForm& form) { return form.format == format; });
    };
    const auto isUntimedForm = [](std::string_view format, bool fullStop) {
        return std::any_of(
            std::begin(kUntimedForms), std::end(kUntimedForms), [&](const UntimedForm& form) {
                return form.format == format && (form.end == UntimedEnd::kFullStop) == fullStop;
            });
    };
    for (const ProgramFormat& entry : kProgramFormats) {
        const bool event = isEventForm(entry.format);
        const bool untimed = isUntimedForm(entry.format, entry.use == FormatUse::kErrorMessage);
        if (entry.use == FormatUse::kEventLine) {
            EXPECT_TRUE(event) << entry.name;
        } else if (entry.use == FormatUse::kUntimedLine || entry.use == FormatUse::kErrorMessage) {
            EXPECT_TRUE(untimed) << entry.name;
        } else {
            EXPECT_FALSE(event || untimed) << entry.name << " is no line of its own";
        }
    }
    const auto inTable = [](std::string_view format) {
        return std::any_of(std::begin(kProgramFormats), std::end(kProgramFormats),
                           [&](const ProgramFormat& entry) { return entry.format == format; });
    };
    for (const LineForm& form : kEventForms) {
        EXPECT_TRUE(inTable(form.format)) << toolkit::Utf8FromCp1251(form.format);
    }
    for (const UntimedForm& form : kUntimedForms) {
        EXPECT_TRUE(inTable(form.format)) << toolkit::Utf8FromCp1251(form.format);
    }
}

// Files no program wrote: a picture of what they hold, within the limits.
TEST(Transcript, HostileInputsStayWithinTheLimits) {
    const std::string search = "12:00:00.000 - Слон 1 поиск начал, приоритет - ";
    std::string manyElephants;
    for (int i = 0; i < 100; ++i) {
        manyElephants += "12:00:00.000 - Слон " + std::to_string(i) + " напился\n";
    }
    struct Row {
        std::string bytes;
        std::size_t lanes;
        std::size_t unread;
    };
    const Row rows[] = {
        {"", 0, 0},
        {"\r\r\n\n", 0, 0},
        {search + std::string(40000, 'x') + "\n", 0, 1},
        {std::string(200000, '\xE0'), 0, 1},  // one line, no line end
        {std::string("\0\xFF\n\x01\x80\n", 6), 0, 2},
        {manyElephants, kMostLanesDrawn, 0},
        {"12:00:00.000 - Процесс 99999999999999999999 - первый этап выполнен.\n", 1, 0},
        {"12:00:00.000 - ВРЕМЯ ОЖИДАНИЯ (1e+300 с.) ИСТЕКЛО.\n", 0, 0},
    };
    for (const Row& row : rows) {
        const Trace trace = ReadTranscript(row.bytes);
        EXPECT_EQ(trace.lanes.size(), row.lanes) << row.bytes.substr(0, 80);
        EXPECT_EQ(trace.unreadCount, row.unread) << row.bytes.substr(0, 80);
        for (const UnreadLine& line : trace.unread) {
            EXPECT_LE(line.text.size(), kUnreadShownBytes * 3 + 40);
        }
    }
    // Every other line a day later: a picture spanning years stays small.
    std::string years;
    for (int i = 0; i < 2000; ++i) {
        years += (i % 2 == 0 ? "23:00:00.000" : "0:00:00.000") + std::string(" - Слон 1 напился\n");
    }
    EXPECT_LT(RenderSvg(ReadTranscript(years)).size(), 20000u);
    std::string unreadMany;
    for (std::size_t i = 0; i < kMostUnreadKept + 5; ++i) {
        unreadMany += "?\n";
    }
    const Trace many = ReadTranscript(unreadMany);
    EXPECT_EQ(many.unread.size(), kMostUnreadKept);
    EXPECT_EQ(many.unreadCount, kMostUnreadKept + 5);
}

TEST(Transcript, GarbageNeverCrashesTheReader) {
    std::mt19937 random(20261209);
    for (int round = 0; round < 200; ++round) {
        std::string garbage(random() % 3000, '\0');
        for (char& c : garbage) {
            c = static_cast<char>(random());
        }
        if (round % 2 == 0) {  // pieces of real lines among the noise
            garbage.insert(random() % (garbage.size() + 1), kHerd.substr(random() % kHerd.size()));
        }
        const Trace trace = ReadTranscript(garbage);
        for (const Lane& lane : trace.lanes) {
            for (const Phase& phase : lane.phases) {
                EXPECT_TRUE(phase.end == kNoTime || phase.end >= phase.start);
            }
        }
    }
    // Bad time stamps are not times.
    const Trace bad =
        ReadTranscript("25:00:00.000 - Слон 1 напился\n9:61:00.000 - Слон 1 напился\n");
    EXPECT_TRUE(bad.lanes.empty());
    EXPECT_EQ(bad.unread.size(), 2u);
}

}  // namespace

namespace {

// A console transcript of the Windows build run under Wine (three
// elephants, all in the normal class there, as Wine ignores the classes).
TEST(Transcript, WindowsBuildRunUnderWine) {
    std::ifstream file(HERDTRACE_TEST_DATA "/wine_herdboss1.txt", std::ios::binary);
    ASSERT_TRUE(file);
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    for (const std::string& form : {text, WindowsForm(text, true)}) {
        const Trace trace = ReadTranscript(form);
        EXPECT_EQ(trace.kind, LauncherKind::kHerd);
        ASSERT_EQ(trace.lanes.size(), 3u);
        for (const Lane& lane : trace.lanes) {
            EXPECT_EQ(lane.priorityIndex, 2) << lane.name;
            EXPECT_EQ(lane.ending, Ending::kFinished) << lane.name;
            EXPECT_EQ(lane.phases.size(), 2u) << lane.name;
        }
        EXPECT_EQ(trace.start, At(12, 33, 32, 759));
        EXPECT_EQ(trace.deadline, At(12, 33, 57, 708));
        EXPECT_TRUE(trace.unread.empty()) << trace.unread[0].text;
    }
}

}  // namespace
