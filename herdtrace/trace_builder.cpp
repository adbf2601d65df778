// Building the trace from the programs' recognised lines: a lane per child,
// opened at its first line, its phases one after the other, how it ended,
// and the deadline its launcher kept.
#include "trace_builder.h"

#include <algorithm>
#include <string>
#include <vector>

#include "feeder_herds_unit.h"
#include "herdlab_toolkit.h"
#include "transcript_reader.h"

namespace herdtrace {

namespace {

namespace toolkit = herdlab_toolkit;

std::string FieldText(const FormatFields& fields, std::size_t index) {
    return std::string(fields.values[index]);
}

// A number printed in a column (%2d), without the blanks before it.
std::string FieldNumber(const FormatFields& fields, std::size_t index) {
    const std::string_view value = fields.values[index];
    return std::string(value.substr(std::min(value.find_first_not_of(' '), value.size())));
}

// The lane of the elephant or worker that value 0 names, as the lines name
// it: "Слон 3", "Процесс 2" (a worker's number without its column's blanks).
std::string ElephantLaneName(const FormatFields& fields) {
    return Utf8LineForms().elephantPrefix + FieldText(fields, 0);
}

std::string WorkerLaneName(const FormatFields& fields) {
    return Utf8LineForms().workerPrefix + FieldNumber(fields, 0);
}

// Keeps times increasing across midnight: a stamp half a day before the
// previous one belongs to the next day.
Millis Unwrap(TraceBuilder& builder, Millis timeOfDay) {
    Millis time = timeOfDay + builder.dayOffset;
    if (builder.lastTime != kNoTime && time < builder.lastTime - kDay / 2) {
        builder.dayOffset += kDay;
        time += kDay;
    }
    builder.lastTime = std::max(builder.lastTime, time);
    return time;
}

// The lane of a child already seen, by the name its lines give it.
Lane* FindLane(Trace& trace, const std::string& name) {
    for (Lane& lane : trace.lanes) {
        if (lane.name == name) {
            return &lane;
        }
    }
    return nullptr;
}

// The lane of a child, opened at its first line; null past kMostLanesDrawn
// children (more than a course transcript can hold).
Lane* LaneOf(Trace& trace, const std::string& name, const std::string& key, Millis time) {
    if (Lane* lane = FindLane(trace, name)) {
        return lane;
    }
    if (trace.lanes.size() >= kMostLanesDrawn) {
        return nullptr;
    }
    Lane lane;
    lane.name = name;
    lane.key = key;
    lane.firstLine = time;
    trace.lanes.push_back(lane);
    return &trace.lanes.back();
}

// Phases follow each other: a new one closes the one before, and the
// child's end closes the last. A null lane (past kMostLanesDrawn) is ignored.
void ClosePhase(Lane* lane, Millis time) {
    // Lines of different processes may arrive slightly out of order.
    if (lane != nullptr && !lane->phases.empty() && lane->phases.back().end == kNoTime) {
        lane->phases.back().end = std::max(time, lane->phases.back().start);
    }
}

void OpenPhase(Lane* lane, PhaseKind kind, Millis time) {
    if (lane != nullptr) {
        ClosePhase(lane, time);
        lane->phases.push_back(Phase{kind, time});
    }
}

void EndLane(Lane* lane, Ending ending, Millis time) {
    if (lane == nullptr || lane->ending != Ending::kUnknown) {
        return;  // a child ends once; later reports add nothing
    }
    ClosePhase(lane, time);
    lane->ending = ending;
    lane->endedAt = time;
}

// The class the child reports itself, by its Russian word.
void SetClass(Lane* lane, std::string_view classWord) {
    if (lane != nullptr) {
        lane->priorityIndex = toolkit::ClassIndexOfWord(classWord);
    }
}

// The launcher is the one whose children speak first.
void SetKind(Trace& trace, LauncherKind kind) {
    if (trace.kind == LauncherKind::kUnknown) {
        trace.kind = kind;
    }
}

// The launchers' lines: their start, the deadline, and ends they enforced.
void ApplyLauncherLine(TraceBuilder& builder, LineKind kind, const FormatFields& fields,
                       Millis time) {
    Trace& trace = builder.trace;
    switch (kind) {
        case LineKind::kLauncherStart:
            if (builder.launcherStart == kNoTime) {
                builder.launcherStart = time;
            }
            break;
        case LineKind::kHerdTimeUp:
            trace.deadline = time;
            trace.deadlineLabel = std::to_string(kHerdWaitMilliseconds / 1000) + " с";
            break;
        case LineKind::kMonitorTimeUp:
            trace.deadline = time;
            trace.deadlineLabel = FieldText(fields, 0) + " с";
            break;
        case LineKind::kHerdDestroyed:
        case LineKind::kFeederKilledElephant:
            EndLane(FindLane(trace, ElephantLaneName(fields)), Ending::kEnded, time);
            break;
        case LineKind::kWorkerForcedEnd:
            EndLane(FindLane(trace, WorkerLaneName(fields)), Ending::kEnded, time);
            break;
        case LineKind::kFeederKilledProcess:
            EndLane(FindLane(trace, FieldText(fields, 0)), Ending::kEnded, time);  // "процесс n"
            break;
        default:
            break;
    }
}

// An elephant's own lines: fields name, class.
void ApplyElephantLine(TraceBuilder& builder, LineKind kind, const FormatFields& fields,
                       Millis time) {
    SetKind(builder.trace, LauncherKind::kHerd);
    Lane* lane = LaneOf(builder.trace, ElephantLaneName(fields), FieldText(fields, 0), time);
    if (kind == LineKind::kElephantSearching) {
        SetClass(lane, fields.values[1]);
        OpenPhase(lane, PhaseKind::kSearching, time);
    } else if (kind == LineKind::kElephantFound) {
        OpenPhase(lane, PhaseKind::kDrinking, time);
    } else {
        EndLane(lane, Ending::kFinished, time);
    }
}

// A worker's own lines: fields number (printed in two columns), then class.
void ApplyWorkerLine(TraceBuilder& builder, LineKind kind, const FormatFields& fields,
                     Millis time) {
    SetKind(builder.trace, LauncherKind::kMonitor);
    const std::string number = FieldNumber(fields, 0);
    Lane* lane = LaneOf(builder.trace, WorkerLaneName(fields), number, time);
    switch (kind) {
        case LineKind::kWorkerStarted:
            SetClass(lane, fields.values[1]);
            break;
        case LineKind::kWorkerFirstStage:
            OpenPhase(lane, PhaseKind::kFirstStage, time);
            break;
        case LineKind::kWorkerFirstDone:
            ClosePhase(lane, time);
            break;
        case LineKind::kWorkerSecondStage:
            OpenPhase(lane, PhaseKind::kSecondStage, time);
            break;
        default:
            EndLane(lane, Ending::kFinished, time);
            break;
    }
}

// A feeder child's own lines: fields who ("процесс n" or "Слон name"), then
// the ration and the class. Its launcher passes "процесс n" or "name".
void ApplyFeedLine(TraceBuilder& builder, LineKind kind, const FormatFields& fields, Millis time) {
    SetKind(builder.trace, LauncherKind::kFeeder);
    const std::string who = FieldText(fields, 0);
    const std::string& elephant = Utf8LineForms().elephantPrefix;
    const std::string key = who.rfind(elephant, 0) == 0 ? who.substr(elephant.size()) : who;
    Lane* lane = LaneOf(builder.trace, who, key, time);
    if (kind == LineKind::kFeedStarted) {
        SetClass(lane, fields.values[2]);
        OpenPhase(lane, PhaseKind::kEating, time);
    } else if (kind == LineKind::kFeedProgress && lane != nullptr) {
        lane->feedTicks.push_back(time);
    } else if (kind == LineKind::kFeedDone) {
        EndLane(lane, Ending::kFinished, time);
    }
}

// A recognised line's effect on the trace, by whose line it is.
void Apply(TraceBuilder& builder, LineKind kind, const FormatFields& fields, Millis time) {
    switch (kind) {
        case LineKind::kElephantSearching:
        case LineKind::kElephantFound:
        case LineKind::kElephantDrunk:
            ApplyElephantLine(builder, kind, fields, time);
            break;
        case LineKind::kWorkerStarted:
        case LineKind::kWorkerFirstStage:
        case LineKind::kWorkerFirstDone:
        case LineKind::kWorkerSecondStage:
        case LineKind::kWorkerSecondDone:
            ApplyWorkerLine(builder, kind, fields, time);
            break;
        case LineKind::kFeedStarted:
        case LineKind::kFeedProgress:
        case LineKind::kFeedDone:
            ApplyFeedLine(builder, kind, fields, time);
            break;
        default:
            ApplyLauncherLine(builder, kind, fields, time);
            break;
    }
}

// Where a feeder child's name stands in the feeders' tables, which are
// their launch order; past them for a name neither has.
std::size_t FeederTablePlace(const std::string& key) {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> converted;
        for (const FeederBuildData* build : {&kNumberedProcessesBuild, &kNamedElephantsBuild}) {
            for (const ElephantRecord& row : build->herd) {
                converted.push_back(toolkit::Utf8FromCp1251(ElephantName(row)));
            }
        }
        return converted;
    }();
    return std::size_t(std::find(names.begin(), names.end(), key) - names.begin());
}

// Lanes in the launcher's table order: numbered children by number, a
// feeder's by its table; others as they first spoke.
void OrderLanes(Trace& trace) {
    std::vector<Lane>& lanes = trace.lanes;
    if (std::all_of(lanes.begin(), lanes.end(),
                    [](const Lane& lane) { return IsNumber(lane.key) && lane.key.size() < 9; })) {
        std::stable_sort(lanes.begin(), lanes.end(), [](const Lane& a, const Lane& b) {
            return std::stoi(a.key) < std::stoi(b.key);
        });
    } else if (trace.kind == LauncherKind::kFeeder) {
        std::stable_sort(lanes.begin(), lanes.end(), [](const Lane& a, const Lane& b) {
            return FeederTablePlace(a.key) < FeederTablePlace(b.key);
        });
    }
}

}  // namespace

void ApplyEventLine(TraceBuilder& builder, LineKind kind, const FormatFields& fields,
                    Millis timeOfDay) {
    const Millis time = Unwrap(builder, timeOfDay);
    Apply(builder, kind, fields, time);
    builder.trace.end = std::max(builder.trace.end, time);
}

void FinishTrace(TraceBuilder& builder) {
    Trace& trace = builder.trace;
    OrderLanes(trace);
    for (const Lane& lane : trace.lanes) {
        if (trace.start == kNoTime || lane.firstLine < trace.start) {
            trace.start = lane.firstLine;
        }
    }
    // The feeders print nothing at their deadline: it lies after their
    // greeting, give or take the launch of eight children.
    if (trace.kind == LauncherKind::kFeeder && builder.launcherStart != kNoTime) {
        trace.deadline = builder.launcherStart + kFeedingMilliseconds;
        trace.deadlineLabel = std::to_string(kFeedingMilliseconds / 1000) + " с";
    }
}

}  // namespace herdtrace
