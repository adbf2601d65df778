// herdcheck: checks feeder children (tusker2, tusker6 as students write
// them) in one command.
//
//   herdcheck [--set 2|6] [--json FILE] CHILD...
//
// For each CHILD program the checker plays the feeder's side of the FeedRing
// with the names, command line and ring rules of the data set (6: the named
// elephants, the default; 2: the numbered processes), twice: once with a
// steady feeder, once with a slow one. It prints the seven checks of each
// child, then a table of all children, and writes the same as JSON on
// request. Exit code: 0 when every child passed every check, 1 when some did
// not, 2 for a wrong command line or a JSON file that cannot be opened, 3
// when the JSON file could not be written.
//
// Several children run side by side, each under a name of its own (one
// lane per name), so a class is checked in a fraction of the time. Each
// child's waiting is measured by its own processor time, which the others do
// not change.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "child_process_unit.h"
#include "command_line_unit.h"
#include "cp1251_unit.h"
#include "curtime_unit.h"
#include "errors_unit.h"
#include "feeder_data_2.h"
#include "feeder_data_6.h"
#include "format_unit.h"
#include "locale_unit.h"
#include "myProcedure_unit.h"
#include "report_unit.h"
#include "ring_watch_unit.h"
#include "win32.h"

namespace {

// ---- Texts ------------------------------------------------------------------

constexpr std::string_view kUsage[] = {
    "Использование: herdcheck [--set 2|6] [--json ФАЙЛ] ПРОГРАММА..."_cp1251,
    "  Проверяет дочерние программы кормушки, играя за кормушку."_cp1251,
    "  --set 6      слоны Tandy, Aun, ... (tusker6 для herdboss6), по умолчанию"_cp1251,
    "  --set 2      процесс 1, процесс 2, ... (tusker2 для herdboss2)"_cp1251,
    "  --json ФАЙЛ  записать результаты в ФАЙЛ (JSON, UTF-8)"_cp1251,
    "  Код выхода: 0 - все проверки пройдены, 1 - нет, 2 - ошибка в командной строке."_cp1251,
};
constexpr std::string_view kGreetingLine =
    "%s - Проверка детей кормушки herdboss%d: программ - %d, одновременно - до %d"_cp1251;
constexpr std::string_view kBusyBlockLine =
    "%s - Блок «%s» занят другой программой или недоступен (ошибка %d), жду"_cp1251;
constexpr std::string_view kJsonOpenFailure =
    "herdcheck: не удалось открыть файл «%s» для записи (ошибка %d)"_cp1251;
constexpr std::string_view kJsonWriteFailure = "herdcheck: не удалось записать файл «%s»"_cp1251;

// ---- Limits -----------------------------------------------------------------

constexpr int kMostLanes = 4;
constexpr DWORD kPollMs = 1;
constexpr DWORD kFirstPortionMs = 10000;  // start-up included, generous for Wine
constexpr DWORD kQuietMs = 3000;          // no portion taken although there was food
constexpr DWORD kRunBaseMs = 15000;       // a run's limit: this plus kMsPerPortion a portion
constexpr DWORD kMsPerPortion = 500;
constexpr std::size_t kMostOutputBytes = 1024 * 1024;
constexpr DWORD kBusyRetryMs = 1000;
constexpr DWORD kMostBusyWaitMs = 60000;

constexpr int kExitUsage = 2;
constexpr int kExitJsonWrite = 3;

// ---- Command line -----------------------------------------------------------

struct Settings {
    int dataSet = 6;
    std::string jsonPath;
    std::vector<std::string> programs;
    bool help = false;
    std::string error;  // Windows-1251; empty when the command line is fine
};

Settings ReadSettings(const std::vector<std::string>& words) {
    Settings settings;
    bool optionsEnded = false;
    for (std::size_t i = 1; i < words.size() && settings.error.empty(); ++i) {
        const std::string& word = words[i];
        if (optionsEnded || word.empty() || word[0] != '-') {
            settings.programs.push_back(word);
        } else if (word == "--") {
            optionsEnded = true;
        } else if (word == "--help" || word == "-h") {
            settings.help = true;
        } else if (word == "--set") {
            const std::string value = i + 1 < words.size() ? words[++i] : "";
            if (value != "2" && value != "6") {
                settings.error = "herdcheck: после --set нужно 2 или 6"_cp1251;
            }
            settings.dataSet = value == "2" ? 2 : 6;
        } else if (word == "--json") {
            if (i + 1 >= words.size()) {
                settings.error = "herdcheck: после --json нужно имя файла"_cp1251;
            } else {
                settings.jsonPath = words[++i];
            }
        } else {
            settings.error =
                FormatText("herdcheck: неизвестный параметр «%s»"_cp1251, {std::string_view(word)});
        }
    }
    if (settings.error.empty() && !settings.help && settings.programs.empty()) {
        settings.error = "herdcheck: не указана ни одна программа"_cp1251;
    }
    return settings;
}

void WriteErrorLine(std::string_view text) {
    WriteConvertedText(STD_ERROR_HANDLE, std::string(text) + "\r\n");
}

// ---- Runs ---------------------------------------------------------------------

enum class RunKind { kSteady, kSlow };

struct CheckRun {
    HANDLE block = nullptr;
    unsigned char* ring = nullptr;
    ChildProcess child;
    FeedingPlan plan;
    RingWatch watch;
    DWORD startTick = 0;
    std::size_t outputBytes = 0;
    DWORD hungerStartTick = 0;
    double hungerStartCpu = 0;
    RunOutcome outcome;
};

// One name of the data set and the child running under it.
struct Lane {
    const ElephantRecord* row = nullptr;
    int child = -1;  // index into the children, -1 when free
    RunKind kind = RunKind::kSteady;
    bool running = false;
    DWORD retryTick = 0;
    DWORD busySinceTick = 0;
    bool busyReported = false;
    CheckRun run;
};

struct ChildCheck {
    RunOutcome steady;
    ChildReport report;
    bool judged = false;
};

const FeederBuildData& BuildOf(int dataSet) {
    return dataSet == 2 ? kNumberedProcessesBuild : kNamedElephantsBuild;
}

// The rows a child can run as: a weight with a fraction, so that a child that
// ignores the decimal separator shows it, smallest rations first, so that a
// check is short.
std::vector<const ElephantRecord*> LaneRows(const FeederBuildData& build) {
    std::vector<const ElephantRecord*> rows;
    for (const ElephantRecord& row : build.herd) {
        if (MisreadRation(row.weight) != RationOf(row.weight)) {
            rows.push_back(&row);
        }
    }
    std::stable_sort(rows.begin(), rows.end(), [](const auto* a, const auto* b) {
        return RationOf(a->weight) < RationOf(b->weight);
    });
    rows.resize(std::min<std::size_t>(rows.size(), kMostLanes));
    return rows;
}

FeedingPlan PlanOf(RunKind kind, const ElephantRecord& row) {
    FeedingPlan plan;
    plan.supply = RationOf(row.weight) + kExtraPortions;
    if (kind == RunKind::kSlow) {
        plan.pauses = kSlowFeederPauses;
    }
    return plan;
}

DWORD RunLimitMs(const FeedingPlan& plan) {
    DWORD pauses = 0;
    for (std::int32_t pause : plan.pauses) {
        pauses += static_cast<DWORD>(pause);
    }
    return kRunBaseMs + pauses + kMsPerPortion * static_cast<DWORD>(plan.supply);
}

double SecondsBetween(DWORD from, DWORD to) {
    return static_cast<double>(to - from) / 1000.0;
}

// Creates the lane's block under its name, fresh and cleared. A name that
// exists already belongs to someone else (a feeder running meanwhile): the
// checker never shares a block.
bool CreateRing(CheckRun& run, const std::string& blockName, DWORD& error) {
    run.block = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kRingSlots,
                                   blockName.c_str());
    error = GetLastError();
    if (run.block != nullptr && error == ERROR_ALREADY_EXISTS) {
        CloseHandle(run.block);
        run.block = nullptr;
    }
    if (run.block == nullptr) {
        return false;
    }
    run.ring = static_cast<unsigned char*>(
        MapViewOfFile(run.block, FILE_MAP_ALL_ACCESS, 0, 0, kRingSlots));
    if (run.ring == nullptr) {
        error = GetLastError();
        CloseHandle(run.block);
        run.block = nullptr;
        return false;
    }
    for (int slot = 0; slot < kRingSlots; ++slot) {
        StoreSlot(run.ring, slot, kEmptySlot);
    }
    return true;
}

void ReleaseRing(CheckRun& run) {
    if (run.ring != nullptr) {
        UnmapViewOfFile(run.ring);
        run.ring = nullptr;
    }
    if (run.block != nullptr) {
        CloseHandle(run.block);
        run.block = nullptr;
    }
}

std::string CommandLineOf(const FeederBuildData& build, const ElephantRecord& row) {
    return FeederChildCommandLine(build.childProgramName, row);
}

enum class LaneRing { kOpen, kBusy, kGivenUp };

// Creates the lane's block for its next run. A busy name is tried again
// later; after a minute of waiting the run is judged as not started.
LaneRing OpenLaneRing(Lane& lane, DWORD now) {
    lane.run = CheckRun{};
    DWORD error = 0;
    if (CreateRing(lane.run, FeedRingName(ElephantName(*lane.row)), error)) {
        lane.busyReported = false;
        return LaneRing::kOpen;
    }
    if (!lane.busyReported) {
        PrintLine(kBusyBlockLine,
                  {CurrentTimeText(), ElephantName(*lane.row), static_cast<std::int32_t>(error)});
        lane.busyReported = true;
        lane.busySinceTick = now;
    }
    lane.run.outcome.startError = error;
    return now - lane.busySinceTick < kMostBusyWaitMs ? LaneRing::kBusy : LaneRing::kGivenUp;
}

// Starts the lane's child on its open ring; false when it does not start.
bool StartRun(Lane& lane, const FeederBuildData& build, const std::string& program) {
    CheckRun& run = lane.run;
    run.plan = PlanOf(lane.kind, *lane.row);
    run.startTick = GetTickCount();
    const std::vector<std::string> words = CommandLineWords(CommandLineOf(build, *lane.row));
    if (!StartChild(program, words, run.child, run.outcome.startError)) {
        ReleaseRing(run);
        return false;
    }
    run.outcome.end = RunEnd::kExited;
    run.watch = NewRingWatch(run.plan, run.startTick);
    return true;
}

void EndWaiting(CheckRun& run, DWORD now) {
    run.outcome.waitingSeconds += SecondsBetween(run.hungerStartTick, now);
    run.outcome.waitingCpuSeconds += ChildCpuSeconds(run.child) - run.hungerStartCpu;
}

// Since when the child has taken nothing although it could have: food has
// waited, or, with all food placed, since its last portion.
DWORD QuietSinceTick(const RingWatch& watch) {
    return FoodWaiting(watch) ? watch.foodSinceTick : watch.lastEatenTick;
}

// Why the checker must end the child now, or kNone.
StopReason StopReasonOf(const CheckRun& run, DWORD now) {
    if (run.outputBytes > kMostOutputBytes) {
        return StopReason::kFlooded;
    }
    const RingWatch& watch = run.watch;
    const bool food = FoodWaiting(watch);
    if (watch.eaten == 0 && food && now - watch.foodSinceTick > kFirstPortionMs) {
        return StopReason::kQuiet;
    }
    const bool fedOut = watch.placed == run.plan.supply;
    if (watch.eaten > 0 && (food || fedOut) && now - QuietSinceTick(watch) > kQuietMs) {
        return StopReason::kQuiet;
    }
    if (now - run.startTick > RunLimitMs(run.plan)) {
        return StopReason::kTimeLimit;
    }
    return StopReason::kNone;
}

// Records the run's outcome and ends the child if it still runs. A wait
// still open counts only while the child can be measured: one that has
// ended and been reaped has no processor time left to read.
void FinishRun(CheckRun& run, DWORD now) {
    if (run.watch.hungry && run.child.running) {
        EndWaiting(run, now);
    }
    RunOutcome& outcome = run.outcome;
    outcome.eaten = run.watch.eaten;
    outcome.supply = run.plan.supply;
    outcome.wrongWrite = run.watch.wrongWrite;
    outcome.orderFault = run.watch.orderFault;
    outcome.secondsAfterLastPortion = SecondsBetween(run.watch.lastEatenTick, now);
    outcome.runSeconds = SecondsBetween(run.startTick, now);
    ReleaseChild(run.child);
    ReleaseRing(run);
}

// One look at a running child; true when its run is over.
bool StepRun(CheckRun& run, DWORD now) {
    ChildEnd how;
    const bool ended = ChildEnded(run.child, how);  // before the ring: its last bites count
    run.outputBytes += DrainChildOutput(run.child);
    const WatchEvents events = WatchRing(run.ring, run.watch, run.plan, now);
    // A child that has just ended can no longer be measured.
    if (events.hungerBegan && !ended) {
        run.hungerStartTick = now;
        run.hungerStartCpu = ChildCpuSeconds(run.child);
    } else if (events.hungerEnded && !ended) {
        EndWaiting(run, now);
    }
    if (ended) {
        run.outcome.end = how.end;
        run.outcome.exitCode = how.exitCode;
        run.outcome.crashName = how.crashName;
        FinishRun(run, now);
        return true;
    }
    const StopReason stop = StopReasonOf(run, now);
    if (stop == StopReason::kNone) {
        return false;
    }
    run.outcome.quietSeconds = SecondsBetween(QuietSinceTick(run.watch), now);
    run.outcome.end = RunEnd::kStopped;
    run.outcome.stopReason = stop;
    FinishRun(run, now);
    return true;
}

// ---- The whole check ------------------------------------------------------------

struct Checker {
    const FeederBuildData* build = nullptr;
    std::vector<std::string> programs;
    std::vector<ChildCheck> children;
    std::vector<Lane> lanes;
    std::size_t nextChild = 0;
    std::size_t nextToPrint = 0;
};

void JudgeLaneChild(Checker& checker, Lane& lane) {
    ChildCheck& check = checker.children[static_cast<std::size_t>(lane.child)];
    check.report.program = checker.programs[static_cast<std::size_t>(lane.child)];
    check.report.commandLine = CommandLineOf(*checker.build, *lane.row);
    JudgeChild(*lane.row, check.steady, lane.run.outcome, check.report.results);
    check.judged = true;
    lane.child = -1;
}

bool AnyLaneRunning(const Checker& checker) {
    for (const Lane& lane : checker.lanes) {
        if (lane.running) {
            return true;
        }
    }
    return false;
}

// Moves the lane on: opens its ring, takes the next child when it has none
// (so a busy name never holds a child up while other lanes are free), starts
// and steps its runs.
void AdvanceLane(Checker& checker, Lane& lane, DWORD now) {
    if (lane.running) {
        if (!StepRun(lane.run, now)) {
            return;
        }
    } else {
        const bool wantsChild = lane.child < 0;
        if ((wantsChild && checker.nextChild == checker.programs.size()) ||
            now - lane.retryTick > 0x7FFFFFFFu) {  // no child left, or retryTick still ahead
            return;
        }
        const LaneRing ring = OpenLaneRing(lane, now);
        // A free lane that has waited long takes a child to fail only when no
        // other lane gets on, so the check ends instead of waiting for ever.
        if (ring == LaneRing::kBusy ||
            (ring == LaneRing::kGivenUp && wantsChild && AnyLaneRunning(checker))) {
            lane.retryTick = now + kBusyRetryMs;
            return;
        }
        if (wantsChild) {
            lane.child = static_cast<int>(checker.nextChild++);
            lane.kind = RunKind::kSteady;
        }
        lane.running =
            ring == LaneRing::kOpen &&
            StartRun(lane, *checker.build, checker.programs[static_cast<std::size_t>(lane.child)]);
        if (lane.running) {
            return;
        }
    }
    // The run is over.
    lane.running = false;
    if (lane.kind == RunKind::kSteady) {
        checker.children[static_cast<std::size_t>(lane.child)].steady = lane.run.outcome;
        lane.kind = RunKind::kSlow;
        lane.retryTick = now;
    } else {
        JudgeLaneChild(checker, lane);
    }
}

// Prints the judged children in the order they were named.
void PrintJudgedChildren(Checker& checker) {
    while (checker.nextToPrint < checker.children.size() &&
           checker.children[checker.nextToPrint].judged) {
        PrintLine("");
        for (const std::string& line :
             ChildReportLines(checker.children[checker.nextToPrint].report)) {
            PrintLine("%s", {std::string_view(line)});
        }
        ++checker.nextToPrint;
    }
}

std::vector<ChildReport> CheckChildren(const Settings& settings) {
    Checker checker;
    checker.build = &BuildOf(settings.dataSet);
    checker.programs = settings.programs;
    checker.children.resize(settings.programs.size());
    for (const ElephantRecord* row : LaneRows(*checker.build)) {
        Lane lane;
        lane.row = row;
        checker.lanes.push_back(lane);
    }
    PrintLine(kGreetingLine, {CurrentTimeText(), settings.dataSet,
                              static_cast<std::int32_t>(settings.programs.size()),
                              static_cast<std::int32_t>(checker.lanes.size())});
    while (checker.nextToPrint < checker.children.size()) {
        for (Lane& lane : checker.lanes) {
            AdvanceLane(checker, lane, GetTickCount());
        }
        PrintJudgedChildren(checker);
        Sleep(kPollMs);
    }
    std::vector<ChildReport> reports;
    for (const ChildCheck& check : checker.children) {
        reports.push_back(check.report);
    }
    return reports;
}

int RunCheck() {
    const Settings settings = ReadSettings(CommandLineWords(GetCommandLineA()));
    if (settings.help || !settings.error.empty()) {
        if (!settings.error.empty()) {
            WriteErrorLine(settings.error);
        }
        for (std::string_view line : kUsage) {
            if (settings.help) {
                PrintLine("%s", {line});
            } else {
                WriteErrorLine(line);
            }
        }
        return settings.help ? 0 : kExitUsage;
    }
    // Opened first, so that a wrong path is known before a long check.
    std::FILE* json = nullptr;
    if (!settings.jsonPath.empty()) {
        json = std::fopen(NativePath(settings.jsonPath).c_str(), "wb");
        if (json == nullptr) {
            WriteErrorLine(FormatText(kJsonOpenFailure, {std::string_view(settings.jsonPath),
                                                         static_cast<std::int32_t>(errno)}));
            return kExitUsage;
        }
    }
    PrepareChildren();
    const std::vector<ChildReport> reports = CheckChildren(settings);
    PrintLine("");
    for (const std::string& line : TableLines(reports)) {
        PrintLine("%s", {std::string_view(line)});
    }
    if (json != nullptr) {
        const std::string text = JsonReport(settings.dataSet, reports);
        const bool written = std::fwrite(text.data(), 1, text.size(), json) == text.size();
        if (std::fclose(json) != 0 || !written) {
            WriteErrorLine(FormatText(kJsonWriteFailure, {std::string_view(settings.jsonPath)}));
            return kExitJsonWrite;
        }
    }
    bool allPassed = true;
    for (const ChildReport& report : reports) {
        allPassed = allPassed && AllPassed(report.results);
    }
    return allPassed ? 0 : 1;
}

}  // namespace

int main() {
    ReadLocaleSettings();
    int status = 0;
    const int errorStatus =
        RunProgram(ReportForm::kStandardError, [&status] { status = RunCheck(); });
    return errorStatus != 0 ? errorStatus : status;
}
