// The lanes: which child runs under which name, and when.
#include "lanes_unit.h"

#include <algorithm>
#include <deque>

#include "check_run_unit.h"
#include "cp1251_unit.h"
#include "curtime_unit.h"
#include "feeder_herds_unit.h"
#include "myProcedure_unit.h"

namespace {

constexpr std::string_view kGreetingLine =
    "%s - Проверка детей кормушки herdboss%d: программ - %d, одновременно - до %d"_cp1251;
constexpr std::string_view kBusyBlockLine =
    "%s - Блок «%s» занят другой программой или недоступен (ошибка %d), жду"_cp1251;
constexpr std::string_view kRecheckLine = "%s - %s: не успел в срок, проверяю ещё раз, один"_cp1251;
constexpr std::string_view kForeignWriterLine =
    "%s - %s: блок «%s» использует другая программа, проверю ещё раз, когда он освободится"_cp1251;

// How many children are checked side by side: one in each lane, each under
// a name of the data set of its own.
constexpr int kMostChildrenAtOnce = 4;
constexpr DWORD kPollMs = 1;
constexpr DWORD kBusyRetryMs = 1000;
constexpr DWORD kMostBusyWaitMs = 60000;

// One name of the data set, whose ring the checker feeds, and the child
// being checked under it.
struct FeedingLane {
    const ElephantRecord* row = nullptr;
    int child = -1;  // index into the children, -1 when free
    FeederPace pace = FeederPace::kSteady;
    bool running = false;
    DWORD retryTick = 0;
    DWORD busySinceTick = 0;
    bool busyReported = false;
    bool awaitsFreeName = false;  // its run was ended by another program's writes: no time limit
    CheckRun run;
};

struct ChildCheck {
    RunOutcome steady;
    ChildReport report;
    bool rechecked = false;
    bool judged = false;
    // Runs ended for a portion the checker did not place while no other
    // program was seen holding the block: after one, such a portion counts
    // as the child's own wrong write.
    int unexplainedForeignStops = 0;
};

struct Checker {
    const FeederBuildData* build = nullptr;
    std::vector<std::string> programs;
    std::vector<ChildCheck> children;
    std::vector<FeedingLane> lanes;
    std::size_t nextChild = 0;
    std::deque<int> recheck;  // children to check again, alone
    std::size_t nextToPrint = 0;
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
    rows.resize(std::min<std::size_t>(rows.size(), kMostChildrenAtOnce));
    return rows;
}

std::string LaneCommandLine(const FeederBuildData& build, const ElephantRecord& row) {
    return FeederChildCommandLine(build.childProgramName, row);
}

enum class LaneRing { kOpen, kBusy, kGivenUp };

// Creates the lane's block for its next run. A busy name is tried again
// later; after a minute of waiting the run is judged as not started, unless
// another program took the name in the middle of the child's check: the
// child is then checked whenever the name is free again.
LaneRing OpenLaneRing(FeedingLane& lane, DWORD now) {
    lane.run = CheckRun{};
    DWORD error = 0;
    if (CreateRing(lane.run, FeedRingName(ElephantName(*lane.row)), error)) {
        lane.busyReported = false;
        lane.awaitsFreeName = false;
        return LaneRing::kOpen;
    }
    if (!lane.busyReported) {
        ShowLine(kBusyBlockLine,
                 {CurrentTimeText(), ElephantName(*lane.row), static_cast<std::int32_t>(error)});
        lane.busyReported = true;
        lane.busySinceTick = now;
    }
    lane.run.outcome.startError = error;
    return lane.awaitsFreeName || now - lane.busySinceTick < kMostBusyWaitMs ? LaneRing::kBusy
                                                                             : LaneRing::kGivenUp;
}

bool AnyLaneRunning(const Checker& checker) {
    return std::any_of(checker.lanes.begin(), checker.lanes.end(),
                       [](const FeedingLane& lane) { return lane.running; });
}

bool AnyOtherLaneBusy(const Checker& checker, const FeedingLane& self) {
    return std::any_of(
        checker.lanes.begin(), checker.lanes.end(),
        [&self](const FeedingLane& lane) { return &lane != &self && lane.child >= 0; });
}

// The child a free lane takes next: the next one named, else one to check
// again once every other lane is idle; -1 for none now.
int NextChildFor(const Checker& checker, const FeedingLane& lane) {
    if (checker.nextChild < checker.programs.size()) {
        return static_cast<int>(checker.nextChild);
    }
    if (!checker.recheck.empty() && !AnyOtherLaneBusy(checker, lane)) {
        return checker.recheck.front();
    }
    return -1;
}

void TakeChild(Checker& checker, FeedingLane& lane, int child) {
    if (checker.nextChild < checker.programs.size()) {
        ++checker.nextChild;
    } else {
        checker.recheck.pop_front();
    }
    lane.child = child;
    lane.pace = FeederPace::kSteady;
}

// Judges the lane's child after its slow run, or sends it back to be
// checked again alone when only time failed it the first time.
void JudgeLaneChild(Checker& checker, FeedingLane& lane) {
    ChildCheck& check = checker.children[static_cast<std::size_t>(lane.child)];
    const RunOutcome& slow = lane.run.outcome;
    const std::string& program = checker.programs[static_cast<std::size_t>(lane.child)];
    if (!check.rechecked && (FailedOnTime(check.steady) || FailedOnTime(slow))) {
        check.rechecked = true;
        checker.recheck.push_back(lane.child);
        ShowLine(kRecheckLine, {CurrentTimeText(), std::string_view(program)});
    } else {
        check.report.program = program;
        check.report.commandLine = LaneCommandLine(*checker.build, *lane.row);
        JudgeChild(*lane.row, check.steady, slow, check.report.results);
        check.judged = true;
    }
    lane.child = -1;
}

// Starts the lane's next run when its ring can be opened; false while the
// lane waits (for a busy name or for a child).
bool StartLaneRun(Checker& checker, FeedingLane& lane, DWORD now) {
    const bool wantsChild = lane.child < 0;
    const int child = wantsChild ? NextChildFor(checker, lane) : lane.child;
    if (child < 0 || now - lane.retryTick > 0x7FFFFFFFu) {  // no child, or retryTick still ahead
        return false;
    }
    const LaneRing ring = OpenLaneRing(lane, now);
    // A free lane that has waited long takes a child to fail only when no
    // other lane gets on, so the check ends instead of waiting for ever.
    if (ring == LaneRing::kBusy ||
        (ring == LaneRing::kGivenUp && wantsChild && AnyLaneRunning(checker))) {
        lane.retryTick = now + kBusyRetryMs;
        return false;
    }
    if (wantsChild) {
        TakeChild(checker, lane, child);
    }
    lane.run.stopOnForeignPortion =
        checker.children[static_cast<std::size_t>(lane.child)].unexplainedForeignStops == 0;
    lane.running =
        ring == LaneRing::kOpen && StartRun(lane.run, lane.pace, *lane.row,
                                            checker.programs[static_cast<std::size_t>(lane.child)],
                                            LaneCommandLine(*checker.build, *lane.row));
    return true;
}

// A run that another program fed into says nothing of the child: the lane
// runs it again, as soon as the name is free. True when it will.
bool RunAgainAfterForeignWrites(Checker& checker, FeedingLane& lane) {
    const RunOutcome& outcome = lane.run.outcome;
    if (outcome.end != RunEnd::kStopped || outcome.stopReason != StopReason::kForeignWriter) {
        return false;
    }
    ChildCheck& check = checker.children[static_cast<std::size_t>(lane.child)];
    check.unexplainedForeignStops += outcome.blockHeldElsewhere ? 0 : 1;
    ShowLine(kForeignWriterLine,
             {CurrentTimeText(),
              std::string_view(checker.programs[static_cast<std::size_t>(lane.child)]),
              ElephantName(*lane.row)});
    lane.awaitsFreeName = true;
    return true;
}

// Moves the lane on: opens its ring, takes the next child when it has none
// (so a busy name never holds a child up while other lanes are free), starts
// and steps its runs.
void AdvanceLane(Checker& checker, FeedingLane& lane, DWORD now) {
    const bool over =
        lane.running ? StepRun(lane.run, now) : StartLaneRun(checker, lane, now) && !lane.running;
    if (!over) {
        return;
    }
    lane.running = false;
    if (RunAgainAfterForeignWrites(checker, lane)) {
        lane.retryTick = now;
    } else if (lane.pace == FeederPace::kSteady) {
        checker.children[static_cast<std::size_t>(lane.child)].steady = lane.run.outcome;
        lane.pace = FeederPace::kSlow;
        lane.retryTick = now;
    } else {
        JudgeLaneChild(checker, lane);
    }
}

// Prints the judged children in the order they were named.
void PrintJudgedChildren(Checker& checker) {
    while (checker.nextToPrint < checker.children.size() &&
           checker.children[checker.nextToPrint].judged) {
        ShowLine("");
        for (const std::string& line :
             ChildReportLines(checker.children[checker.nextToPrint].report)) {
            ShowLine("%s", {std::string_view(line)});
        }
        ++checker.nextToPrint;
    }
}

}  // namespace

std::vector<ChildReport> CheckChildren(int dataSet, const std::vector<std::string>& programs) {
    Checker checker;
    checker.build = &BuildOf(dataSet);
    checker.programs = programs;
    checker.children.resize(programs.size());
    for (const ElephantRecord* row : LaneRows(*checker.build)) {
        FeedingLane lane;
        lane.row = row;
        checker.lanes.push_back(lane);
    }
    ShowLine(kGreetingLine, {CurrentTimeText(), dataSet, static_cast<std::int32_t>(programs.size()),
                             static_cast<std::int32_t>(checker.lanes.size())});
    ShowLine("%s", {std::string_view(ProtectionSummary())});
    while (checker.nextToPrint < checker.children.size()) {
        for (FeedingLane& lane : checker.lanes) {
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
