// The process monitor taskwarden and its staged worker stageworker, run as a
// user runs them: answers typed into a pipe, the console transcript checked
// line by line. The monitor's decisions at the timeout are made predictable
// through the observed worker: a first-stage parameter of 1 makes the first
// stage last 0 ms, so the second stage's parameter against the waiting time
// fixes how far the worker is from its end when the end order comes.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "harness.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

const std::string kCountPrompt = "Введите количество процессов (не больше 15): ";
const std::string kTableHeading = "Процесс   Параметр первого этапа   Параметр второго этапа";
const std::string kObservedPrompt =
    "Введите номер наблюдаемого процесса (если наблюдение не нужно, то любое число не из "
    "таблицы): ";
const std::string kWaitPrompt = "Введите время ожидания (в с.): ";

// The built-in table as printed ("%7d%25d%25d").
const Lines kTableRows = {
    "      1                     3300                     2300",
    "      2                     2250                     3250",
    "      3                     3500                     4500",
    "      4                     4120                     5120",
    "      5                     3310                     2250",
    "      6                     2050                     2600",
    "      7                     5150                     3169",
    "      8                     2240                     4269",
    "      9                     3400                     5369",
    "     10                     2120                     2069",
    "     11                     3210                     3169",
    "     12                     4150                     2269",
    "     13                     3110                     3369",
    "     14                     2400                     4069",
    "     15                     6300                     3130",
};

// "Процесс %2d - " for worker k.
std::string Worker(int k) {
    return std::string("Процесс ") + (k < 10 ? " " : "") + std::to_string(k) + " - ";
}

// Index of the first event line with `rest`, or -1.
int EventIndex(const Lines& lines, const std::string& rest) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (harness::IsEventLine(lines[i], rest)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// Index of the first line containing `text`, or -1.
int LineIndex(const Lines& lines, const std::string& text) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].find(text) != std::string::npos) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// The factor worker k printed, or -1 when it printed none.
long long PrintedFactor(const Lines& lines, int k) {
    const std::string marker = Worker(k) + "фактор ожидания = ";
    const int index = LineIndex(lines, marker);
    if (index < 0) {
        return -1;
    }
    const std::string& line = lines[static_cast<std::size_t>(index)];
    return std::stoll(line.substr(line.find(marker) + marker.size()));
}

// Milliseconds since midnight of an event line's stamp ("h:mm:ss.zzz - ..."),
// or of the local clock now.
long long StampOf(const std::string& line) {
    int hours = 0, minutes = 0, seconds = 0, millis = 0;
    std::sscanf(line.c_str(), "%d:%d:%d.%d", &hours, &minutes, &seconds, &millis);
    return ((hours * 60LL + minutes) * 60 + seconds) * 1000 + millis;
}

long long StampNow() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    return ((local.tm_hour * 60LL + local.tm_min) * 60 + local.tm_sec) * 1000 + millis;
}

// When worker k's second stage was due to end by itself: the stamp of its
// start plus its parameter (milliseconds), or -1 when it never began it.
long long SecondStageDue(const Lines& lines, int k) {
    const std::string marker = Worker(k) + "выполнение второго этапа (параметр ";
    const int index = LineIndex(lines, marker);
    if (index < 0) {
        return -1;
    }
    const std::string& line = lines[static_cast<std::size_t>(index)];
    return StampOf(line) + std::stoll(line.substr(line.find(marker) + marker.size()));
}

// Waits until no worker of the session is alive; false after `limit`.
bool WorkersGone(harness::Session& session, std::chrono::milliseconds limit) {
    return harness::WaitUntil(
        session, [&] { return harness::LiveProcessesNamed(session, "stageworker").empty(); },
        limit);
}

// The priority names a worker not observed may show: idle or below normal
// (Wine ignores the priority flags and runs every child in the normal class).
bool IsUnobservedPriority(const Lines& lines, int k) {
    const std::string started = Worker(k) + "запущен, приоритет - ";
    if (harness::UnderRunner()) {
        return EventIndex(lines, started + "нормальный.") >= 0;
    }
    return EventIndex(lines, started + "низкий.") >= 0 ||
           EventIndex(lines, started + "ниже среднего.") >= 0;
}

// Starts the monitor, answers its dialogue, and returns once `awaited` has
// appeared.
harness::Session StartMonitor(const std::string& answers, const std::string& awaited,
                              std::chrono::milliseconds limit) {
    harness::Session session = harness::Start("taskwarden");
    harness::Send(session, answers);
    EXPECT_TRUE(harness::WaitForOutput(session, awaited, limit))
        << "missing: " << awaited << "\n"
        << session.outputText << session.errorText;
    return session;
}

// Starts the monitor with `count` workers and holds it (stopped) from the
// launch of the last one until all have ended: its wait cannot run out
// first, however slowly a busy machine starts and runs them (workers not
// observed run in the idle class). Under Wine a worker needs its launcher until it runs
// its own code: the hold begins at the last one's start line there.
harness::Session StartHeldMonitor(const std::string& answers, int count) {
    harness::Session session = harness::Start("taskwarden");
    harness::Send(session, answers);
    const std::string last = "stageworker " + std::to_string(count) + " ";
    const auto launched = [&] {
        return session.outputText.find(Worker(count) + "запущен") != std::string::npos ||
               (!harness::UnderRunner() && !harness::LiveProcessesNamed(session, last).empty());
    };
    EXPECT_TRUE(harness::WaitUntil(session, launched, 30s)) << session.outputText;
    kill(session.pid, SIGSTOP);
    EXPECT_TRUE(WorkersGone(session, 90s)) << session.outputText;
    kill(session.pid, SIGCONT);
    return session;
}

// Presses Enter and checks the orderly end.
void EndMonitor(harness::Session& session) {
    EXPECT_TRUE(harness::StillRunningAfter(session, 300ms)) << "must wait for Enter";
    harness::Send(session, "\n");
    harness::Finish(session, 20s);
    EXPECT_FALSE(session.timedOut);
    EXPECT_EQ(session.exitCode, 0);
    EXPECT_EQ(session.errorText, "");  // neither the monitor nor a worker reported anything
}

// ---- Dialogue ---------------------------------------------------------------------

// The answers run up to the waiting-time prompt, where "x" ends the monitor
// with the input-error report before anything has started.
TEST(MonitorDialogue, CountIsClampedAndTheTableIsPrintedExactly) {
    struct Case {
        std::string count;
        std::size_t rows;
    };
    for (const Case& c : {Case{"0", 1}, Case{"-3", 1}, Case{"1", 1}, Case{"10", 10}, Case{"16", 15},
                          Case{"1000", 15}}) {
        const harness::Session run = harness::Run("taskwarden", c.count + "\n0\nx\n");
        EXPECT_EQ(run.exitCode, 1) << c.count;
        const Lines lines = harness::Lines(run.outputText);
        ASSERT_EQ(lines.size(), 8 + c.rows) << c.count << "\n" << run.outputText << run.errorText;
        EXPECT_TRUE(harness::IsEventLine(lines[0], "МОНИТОР ПРОЦЕССОВ."));
        EXPECT_EQ(lines[1], "-*******************************-");
        EXPECT_TRUE(harness::IsEventLine(lines[2], "НАЧАЛО РАБОТЫ."));
        EXPECT_EQ(lines[3], "");
        EXPECT_EQ(lines[4], kCountPrompt + kTableHeading) << c.count;
        for (std::size_t i = 0; i < c.rows; ++i) {
            EXPECT_EQ(lines[5 + i], kTableRows[i]) << c.count;
        }
        EXPECT_EQ(lines[5 + c.rows], "");
        // No worker observed: one empty line, then the waiting-time prompt.
        EXPECT_EQ(lines[6 + c.rows], kObservedPrompt);
        EXPECT_EQ(lines[7 + c.rows], kWaitPrompt);  // the input error ends the monitor here
        const std::string reportEnd = ".\r\nInvalid numeric input.\r\n\r\n";
        EXPECT_EQ(run.errorText.rfind("Exception EInOutError in module taskwarden", 0), 0u)
            << run.errorText;
        ASSERT_GE(run.errorText.size(), reportEnd.size());
        EXPECT_EQ(run.errorText.substr(run.errorText.size() - reportEnd.size()), reportEnd);
    }
    // Worker 10's row: 5 blanks and 10, 21 blanks and 2120, 21 blanks and 2069.
    EXPECT_EQ(kTableRows[9], std::string(5, ' ') + "10" + std::string(21, ' ') + "2120" +
                                 std::string(21, ' ') + "2069");
}

// Count 5 with observed worker 5: the prompts show 3310 and 2250; 0 and -7
// become 1 and priority -1 becomes the normal class, as worker 5's own lines
// show. The monitor held until all have ended, worker 5 is reported as ended.
TEST(MonitorDialogue, ObservedWorkerEditsAreClampedAndReachTheWorker) {
    harness::Session session = StartHeldMonitor("5\n5\n0\n-7\n-1\n3\n", 5);
    ASSERT_TRUE(harness::WaitForOutput(session, Worker(5) + "нормально завершился.", 30s))
        << session.outputText;
    EndMonitor(session);
    const Lines lines = harness::Lines(session.outputText);
    const int prompt = LineIndex(lines, kObservedPrompt);
    ASSERT_GE(prompt, 0);
    const Lines expected = {
        kObservedPrompt,
        "Ввод параметров для 5 процесса:",
        "Введите параметр первого этапа (по умолчанию 3310): "
        "Введите параметр второго этапа (по умолчанию 2250): №   Приоритет",
        "0   низкий.",
        "1   ниже среднего.",
        "2   нормальный.",
        "3   выше среднего.",
        "4   высокий.",
        "5   реального времени.",
        "",
        "Введите № приоритета: ",
        kWaitPrompt,
    };
    ASSERT_GE(lines.size(), prompt + expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(lines[prompt + i], expected[i]);
    }
    EXPECT_GE(EventIndex(lines, Worker(5) + "запущен, приоритет - нормальный."), 0);
    EXPECT_GE(EventIndex(lines, Worker(5) + "выполнение первого этапа (параметр 1)..."), 0);
    EXPECT_GE(EventIndex(lines, Worker(5) + "выполнение второго этапа (параметр 1)..."), 0);
    for (int k = 1; k <= 4; ++k) {
        EXPECT_TRUE(IsUnobservedPriority(lines, k)) << k;
        const std::string stage1 = kTableRows[k - 1].substr(28, 4);
        EXPECT_GE(
            EventIndex(lines, Worker(k) + "выполнение первого этапа (параметр " + stage1 + ")..."),
            0)
            << k;
    }
}

// ---- Launch and reaping -----------------------------------------------------------

// A copy of the monitor in a folder of its own, with a PATH that does not
// reach the build: no stageworker can be found.
TEST(MonitorLaunch, MissingWorkerProgramGivesErrorLinesAndAQuietEnd) {
    const fs::path folder =
        fs::temp_directory_path() / ("taskwarden-alone-" + std::to_string(getpid()));
    fs::create_directories(folder);
    const fs::path program = fs::path(harness::ProgramPath("taskwarden"));
    fs::copy_file(program, folder / program.filename(), fs::copy_options::overwrite_existing);
    setenv("PATH", "/usr/bin:/bin", 1);

    harness::Options options;
    options.programDirectory = folder.string();
    options.workingDirectory = folder.string();
    harness::Session session = harness::Start("taskwarden", options);
    harness::Send(session, "2\n0\n60\n");  // input stays open: no Enter is awaited
    EXPECT_FALSE(harness::StillRunningAfter(session, 30s)) << "must end without the 60 s wait";
    harness::Finish(session, 5s);
    fs::remove_all(folder);

    EXPECT_EQ(session.exitCode, 0) << session.errorText;
    const Lines lines = harness::Lines(session.outputText);
    const Lines tail = {kWaitPrompt, "", "ОШИБКА ЗАПУСКА  1 ПРОЦЕССА № 2.",
                        "",          "", "ОШИБКА ЗАПУСКА  2 ПРОЦЕССА № 2.",
                        ""};
    ASSERT_GE(lines.size(), tail.size()) << session.outputText;
    EXPECT_EQ(Lines(lines.end() - static_cast<long>(tail.size()), lines.end()), tail)
        << session.outputText;
    EXPECT_EQ(LineIndex(lines, "ВРЕМЯ ОЖИДАНИЯ"), -1);
}

// Workers 1..3, held until they have ended, are each reported as ended, in order.
TEST(MonitorLaunch, WorkersThatEndedInTimeAreReportedInTableOrder) {
    harness::Session session = StartHeldMonitor("3\n0\n10\n", 3);
    ASSERT_TRUE(harness::WaitForOutput(session, Worker(3) + "нормально завершился.", 30s))
        << session.outputText;
    EndMonitor(session);
    const Lines lines = harness::Lines(session.outputText);
    const int timeout = EventIndex(lines, "ВРЕМЯ ОЖИДАНИЯ (10 с.) ИСТЕКЛО.");
    ASSERT_GT(timeout, 0) << session.outputText;
    EXPECT_EQ(lines[timeout - 1], "");
    EXPECT_EQ(lines[timeout + 1], "");
    int previous = timeout;
    for (int k = 1; k <= 3; ++k) {
        const int ended = EventIndex(lines, Worker(k) + "нормально завершился.");
        EXPECT_GT(ended, previous) << k << "\n" << session.outputText;
        previous = ended;
        EXPECT_TRUE(IsUnobservedPriority(lines, k)) << k;
        EXPECT_LT(EventIndex(lines, Worker(k) + "второй этап выполнен."), timeout) << k;
    }
    EXPECT_EQ(LineIndex(lines, "принудительно"), -1);
    EXPECT_EQ(LineIndex(lines, "WM_MYTERM"), -1);
}

// ---- The end at the timeout ----------------------------------------------------------

// True when `line` is an event line whose text begins with `start`.
bool IsEventLineStarting(const std::string& line, const std::string& start) {
    return harness::IsEventLine(line.substr(0, line.find(" - ") + 3 + start.size()), start);
}

// A worker far from its end at the timeout is ended: still in a first stage
// drawn below 2,000,000,000 ms, by the monitor, and it prints nothing more;
// in a 60 s second stage, about 55 s from its end, by itself after the end
// order and its factor. The 5 s wait is the bound for the worker's start.
TEST(MonitorTimeout, WorkerFarFromItsEndIsEnded) {
    struct Case {
        std::string stages;
        Lines afterTimeout;
        long long leastFactor, mostFactor;  // -1: prints none
        std::string neverPrinted;
    };
    const Case cases[] = {
        {"2000000000\n1", {"завершен принудительно."}, -1, -1, "первый этап выполнен"},
        {"1\n60000",
         {"принял сообщение WM_MYTERM.", "фактор ожидания = ", "завершен принудительно."},
         50000,
         60000,
         "второй этап выполнен"},
    };
    for (const Case& c : cases) {
        harness::Session session = StartMonitor("1\n1\n" + c.stages + "\n2\n5\n",
                                                Worker(1) + "завершен принудительно.", 30s);
        if (!harness::UnderRunner()) {
            EXPECT_TRUE(WorkersGone(session, 10s)) << "the worker still runs";
        }
        EndMonitor(session);
        const Lines lines = harness::Lines(session.outputText);
        const int timeout = EventIndex(lines, "ВРЕМЯ ОЖИДАНИЯ (5 с.) ИСТЕКЛО.");
        ASSERT_GE(timeout, 0) << session.outputText;
        ASSERT_EQ(lines.size(), timeout + 2 + c.afterTimeout.size()) << session.outputText;
        for (std::size_t i = 0; i < c.afterTimeout.size(); ++i) {
            EXPECT_TRUE(IsEventLineStarting(lines[timeout + 2 + i], Worker(1) + c.afterTimeout[i]))
                << lines[timeout + 2 + i];
        }
        const long long factor = PrintedFactor(lines, 1);
        EXPECT_GE(factor, c.leastFactor);
        EXPECT_LE(factor, c.mostFactor);
        EXPECT_EQ(LineIndex(lines, c.neverPrinted), -1);
    }
}

// Puts every thread of the process ahead of the machine's other work (real
// time; needs root, otherwise nothing changes), so that a few messages
// between two programs are not held up by a busy machine.
void RunAheadOfOtherWork(pid_t pid) {
    const sched_param lowestRealTime{1};
    std::error_code gone;
    for (const auto& task :
         fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", gone)) {
        sched_setscheduler(std::stoi(task.path().filename().string()), SCHED_FIFO, &lowestRealTime);
    }
}

// The same for the monitor and every worker it runs now.
void RunMonitorAndWorkersAhead(const harness::Session& session) {
    RunAheadOfOtherWork(session.pid);
    for (const pid_t worker : harness::LiveProcessesNamed(session, "stageworker")) {
        RunAheadOfOtherWork(worker);
    }
}

// 0.6 s from the end of a 6 s second stage when the end order comes, the
// worker is reprieved and completes its stage. The monitor is held (stopped)
// once the worker's second stage has begun, and let go 0.6 s before its end:
// its 5 s wait has run out by then, whenever the worker started. The three
// messages that follow must pass within those 0.6 s: both programs run
// ahead of other work from then on.
TEST(MonitorTimeout, SecondStageWorkerNearItsEndIsReprieved) {
    if (harness::UnderRunner()) {
        GTEST_SKIP() << "a Windows program under Wine restarts its wait when held";
    }
    harness::Session session = StartMonitor(
        "1\n1\n1\n6000\n2\n5\n", Worker(1) + "выполнение второго этапа (параметр 6000)...", 30s);
    ASSERT_EQ(session.outputText.find("ИСТЕКЛО"), std::string::npos)
        << "the worker began its second stage only after the 5 s wait";
    kill(session.pid, SIGSTOP);
    RunMonitorAndWorkersAhead(session);
    const long long due = SecondStageDue(harness::Lines(session.outputText), 1);
    harness::WaitUntil(
        session, [&] { return StampNow() >= due - 600; }, 10s);
    kill(session.pid, SIGCONT);
    ASSERT_TRUE(harness::WaitForOutput(session, Worker(1) + "второй этап выполнен.", 30s))
        << session.outputText;
    EndMonitor(session);
    const Lines lines = harness::Lines(session.outputText);
    const int timeout = EventIndex(lines, "ВРЕМЯ ОЖИДАНИЯ (5 с.) ИСТЕКЛО.");
    ASSERT_GE(timeout, 0) << session.outputText;
    const int received = EventIndex(lines, Worker(1) + "принял сообщение WM_MYTERM.");
    ASSERT_GT(received, timeout) << session.outputText;
    const long long factor = PrintedFactor(lines, 1);
    EXPECT_GE(factor, 0);
    EXPECT_LE(factor, 1000);
    EXPECT_EQ(EventIndex(lines, Worker(1) + "получил отсрочку."), received + 2);
    EXPECT_EQ(EventIndex(lines, Worker(1) + "второй этап выполнен."), received + 3);
    EXPECT_EQ(LineIndex(lines, "принудительно"), -1);
}

// Fifteen workers at a 1 s timeout while the console's output is stopped
// (Ctrl+S) for three seconds just as the timeout line appears: the monitor's
// message thread waits in its first print while the answers to the end
// requests arrive together. Once output resumes every worker is dealt with:
// reported as ended at the timeout, ended by the monitor in its first stage,
// given the end order in its second, or it had finished its second stage
// while the console was stopped. A worker whose answer was lost runs on: it
// is blocked in its next print until output resumes, so it finishes later
// and with none of these lines.
TEST(MonitorTimeout, EveryWorkerIsDealtWithWhenTheConsoleStopsAtTheTimeout) {
    if (harness::UnderRunner()) {
        GTEST_SKIP() << "a terminal that the test stops belongs to the Linux build";
    }
    harness::Options options;
    options.terminal = true;
    harness::Session session = harness::Start("taskwarden", options);
    harness::Send(session, "15\n0\n1\n");  // fifteen workers, none observed, 1 s
    ASSERT_TRUE(harness::WaitForOutput(session, "ИСТЕКЛО.", 90s)) << session.outputText;
    harness::PressKeys(session, "\x13");
    // An idle-class worker on a busy machine may get no processor for
    // seconds: it would finish its stage late, as if its answer had been lost.
    // From here on the monitor and its workers run ahead of other work.
    RunMonitorAndWorkersAhead(session);
    EXPECT_TRUE(harness::StillRunningAfter(session, 3s));
    const long long resumed = StampNow();
    harness::PressKeys(session, "\x11");
    // Reprieved workers end within a second; a sanitizer build on a busy
    // machine needs more than 5 s for fifteen ends.
    EXPECT_TRUE(WorkersGone(session, 60s)) << "a worker still runs";
    EndMonitor(session);

    const Lines lines = harness::Lines(session.outputText);
    const int timeout = EventIndex(lines, "ВРЕМЯ ОЖИДАНИЯ (1 с.) ИСТЕКЛО.");
    ASSERT_GE(timeout, 0);
    const long long timedOut = StampOf(lines[static_cast<std::size_t>(timeout)]);
    for (int k = 1; k <= 15; ++k) {
        // A worker that started only after the timeout (an idle-class process
        // on a busy machine) may have registered after the reaping pass: it
        // gets no end request and runs to its end, as the protocol says.
        int started = EventIndex(lines, Worker(k) + "запущен, приоритет - низкий.");
        if (started < 0) {
            started = EventIndex(lines, Worker(k) + "запущен, приоритет - ниже среднего.");
        }
        if (started >= 0 && StampOf(lines[static_cast<std::size_t>(started)]) > timedOut) {
            continue;
        }
        const int finished = EventIndex(lines, Worker(k) + "второй этап выполнен.");
        const long long finishedAt =
            finished >= 0 ? StampOf(lines[static_cast<std::size_t>(finished)]) : -1;
        // A worker whose answer was lost finishes only once output resumes,
        // late; one that the reaping pass reached only then (it waits in its
        // own prints meanwhile) may have finished right on time.
        const bool dealtWith = EventIndex(lines, Worker(k) + "нормально завершился.") >= 0 ||
                               EventIndex(lines, Worker(k) + "завершен принудительно.") >= 0 ||
                               EventIndex(lines, Worker(k) + "принял сообщение WM_MYTERM.") >= 0 ||
                               (finished >= 0 && (finishedAt < resumed ||
                                                  finishedAt <= SecondStageDue(lines, k) + 250));
        EXPECT_TRUE(dealtWith) << "worker " << k << "\n" << session.outputText;
    }
}

// A folder holding a copy of the monitor and, as its `stageworker`, a script
// that waits until the file `go` exists there and then runs the real worker:
// the test decides when the worker may register.
std::filesystem::path MonitorWithHeldWorker() {
    namespace fs = std::filesystem;
    std::string pattern = (fs::temp_directory_path() / "held-worker-XXXXXX").string();
    const fs::path folder = mkdtemp(pattern.data());
    fs::copy_file(harness::ProgramPath("taskwarden"), folder / "taskwarden");
    const fs::path script = folder / "stageworker";
    std::FILE* file = std::fopen(script.c_str(), "w");
    std::fprintf(file, "#!/bin/sh\nwhile [ ! -e '%s/go' ]; do sleep 0.01; done\nexec '%s' \"$@\"\n",
                 folder.c_str(), harness::ProgramPath("stageworker").c_str());
    std::fclose(file);
    fs::permissions(script, fs::perms::owner_all);
    return folder;
}

// With a 0 s wait the monitor's reaping pass comes before the worker's
// registration, so the worker never learns of the timeout and runs to its
// end; the monitor prints nothing for it. The worker is held until the
// timeout line has been printed, so this holds however the machine schedules
// the two. Priority 6 falls back to the normal class.
TEST(MonitorTimeout, UnregisteredWorkerGetsNoEndRequest) {
    if (harness::UnderRunner()) {
        GTEST_SKIP() << "the held worker is a shell script, which a Windows monitor cannot start";
    }
    const std::filesystem::path folder = MonitorWithHeldWorker();
    harness::Options options;
    options.programDirectory = folder.string();
    harness::Session session = harness::Start("taskwarden", options);
    harness::Send(session, "1\n1\n1\n1500\n6\n0\n");
    ASSERT_TRUE(harness::WaitForOutput(session, "ВРЕМЯ ОЖИДАНИЯ (0 с.) ИСТЕКЛО.", 30s))
        << session.outputText << session.errorText;
    std::fclose(std::fopen((folder / "go").c_str(), "w"));
    EXPECT_TRUE(harness::WaitForOutput(session, Worker(1) + "второй этап выполнен.", 30s))
        << session.outputText << session.errorText;
    EndMonitor(session);
    std::filesystem::remove_all(folder);
    const Lines lines = harness::Lines(session.outputText);
    const int timeout = EventIndex(lines, "ВРЕМЯ ОЖИДАНИЯ (0 с.) ИСТЕКЛО.");
    EXPECT_GT(EventIndex(lines, Worker(1) + "запущен, приоритет - нормальный."), timeout);
    EXPECT_EQ(LineIndex(lines, "WM_MYTERM"), -1);
    EXPECT_EQ(LineIndex(lines, "принудительно"), -1);
    EXPECT_EQ(LineIndex(lines, "нормально завершился"), -1);
}

// ---- The worker alone --------------------------------------------------------------

TEST(StageWorkerAlone, RunsBothStagesAndEndsWithStatus0) {
    harness::Options options;
    options.arguments = {"7", "1000", "2000", "0"};
    const harness::Session run = harness::Run("stageworker", "", options, 30s);
    EXPECT_EQ(run.exitCode, 0) << run.errorText;
    EXPECT_EQ(run.errorText, "");
    EXPECT_GE(run.seconds, 1.9);  // the second stage lasts exactly 2000 ms
    const Lines lines = harness::Lines(run.outputText);
    ASSERT_EQ(lines.size(), 5u) << run.outputText;
    const std::string started = Worker(7) + "запущен, приоритет - ";
    const std::size_t nameAt = lines[0].find(started);
    ASSERT_NE(nameAt, std::string::npos) << lines[0];
    const std::string name = lines[0].substr(nameAt + started.size());
    EXPECT_TRUE(name == "низкий." || name == "ниже среднего." || name == "нормальный." ||
                name == "выше среднего." || name == "высокий." || name == "реального времени.")
        << name;
    EXPECT_TRUE(harness::IsEventLine(lines[0], started + name));
    EXPECT_TRUE(
        harness::IsEventLine(lines[1], Worker(7) + "выполнение первого этапа (параметр 1000)..."));
    EXPECT_TRUE(harness::IsEventLine(lines[2], Worker(7) + "первый этап выполнен."));
    EXPECT_TRUE(
        harness::IsEventLine(lines[3], Worker(7) + "выполнение второго этапа (параметр 2000)..."));
    EXPECT_TRUE(harness::IsEventLine(lines[4], Worker(7) + "второй этап выполнен."));
}

TEST(StageWorkerAlone, BadArgumentsAreReportedOnStandardErrorWithStatus1) {
    struct Case {
        std::vector<std::string> arguments;
        std::string message;
    };
    for (const Case& c :
         {Case{{"7", "1000", "2000"}, "'' is not a valid integer value."},
          Case{{}, "'' is not a valid integer value."},
          Case{{"7", "1x00", "2000", "0"}, "'1x00' is not a valid integer value."},
          Case{{"seven", "1", "2", "0"}, "'seven' is not a valid integer value."}}) {
        harness::Options options;
        options.arguments = c.arguments;
        const harness::Session run = harness::Run("stageworker", "", options, 10s);
        EXPECT_EQ(run.exitCode, 1) << c.message;
        EXPECT_EQ(run.outputText, "") << c.message;
        EXPECT_EQ(run.errorText.rfind("Exception EConvertError in module stageworker", 0), 0u)
            << run.errorText;
        EXPECT_NE(run.errorText.find("\r\n" + c.message + "\r\n\r\n"), std::string::npos)
            << run.errorText;
    }
}

}  // namespace
