// The programs' lines as the transcript reader knows them: which formats of
// program_lines_unit.h move a lane and how, and which are read but change
// nothing. The tests check these tables against kProgramFormats.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "program_lines_unit.h"

namespace herdtrace {

enum class LineKind {
    kLauncherStart,  // greeting of the herd launcher, the feeders and the monitor
    kIgnored,        // a program's line that changes no lane
    kElephantSearching,
    kElephantFound,
    kElephantDrunk,
    kHerdTimeUp,
    kHerdDestroyed,
    kWorkerStarted,
    kWorkerFirstStage,
    kWorkerFirstDone,
    kWorkerSecondStage,
    kWorkerSecondDone,
    kWorkerForcedEnd,
    kMonitorTimeUp,
    kFeedStarted,
    kFeedProgress,
    kFeedDone,
    kFeederKilledProcess,
    kFeederKilledElephant,
};

struct LineForm {
    LineKind kind;
    std::string_view format;  // the program's own, Windows-1251
};

// The time-stamped lines. The feeder children's lines begin with any name,
// so they come last, after every form that begins with a constant.
inline constexpr LineForm kEventForms[] = {
    {LineKind::kLauncherStart, kHerdGreetingLine},
    {LineKind::kLauncherStart, kFeederGreetingLine},
    {LineKind::kLauncherStart, kMonitorHeadingLine},
    {LineKind::kLauncherStart, kMonitorStartLine},
    {LineKind::kIgnored, kHerdListingLine},
    {LineKind::kElephantSearching, kElephantSearchLine},
    {LineKind::kElephantFound, kElephantFoundLine},
    {LineKind::kElephantDrunk, kElephantDrunkLine},
    {LineKind::kHerdTimeUp, kHerdTimeUpLine},
    {LineKind::kHerdDestroyed, kHerdDestroyedLine},
    {LineKind::kIgnored, kHerdEndedLine},
    {LineKind::kFeederKilledProcess, kProcessFeederKilledLine},
    {LineKind::kIgnored, kProcessFeederEndedLine},
    {LineKind::kFeederKilledElephant, kElephantFeederKilledLine},
    {LineKind::kIgnored, kElephantFeederEndedLine},
    {LineKind::kWorkerStarted, kWorkerStartedLine},
    {LineKind::kWorkerFirstStage, kWorkerFirstStageLine},
    {LineKind::kWorkerFirstDone, kWorkerFirstDoneLine},
    {LineKind::kWorkerSecondStage, kWorkerSecondStageLine},
    {LineKind::kWorkerSecondDone, kWorkerSecondDoneLine},
    {LineKind::kWorkerForcedEnd, kWorkerForcedEndLine},
    {LineKind::kIgnored, kWorkerEndOrderLine},
    {LineKind::kIgnored, kWorkerWaitFactorLine},
    {LineKind::kIgnored, kWorkerReprieveLine},
    {LineKind::kIgnored, kMonitorEndedLine},
    {LineKind::kMonitorTimeUp, kMonitorTimeUpLine},
    {LineKind::kFeedStarted, kChildStartLine},
    {LineKind::kFeedProgress, kChildProgressLine},
    {LineKind::kFeedDone, kChildFedLine},
    {LineKind::kFeedDone, kChildNoRingLine},
    {LineKind::kFeedDone, kChildOrphanLine},
};

// What may follow the format of a line without a time stamp.
enum class UntimedEnd {
    kNothing,
    kTypedAnswer,  // a prompt: a console copy shows the typed answer after it
    kFullStop,     // line 2 of the error report: the message and its full stop
};

struct UntimedForm {
    std::string_view format;
    UntimedEnd end;
};

// Lines without a time stamp: prompts, listings, menus, the process table,
// start failures, and the two lines of the programs' error report.
inline constexpr UntimedForm kUntimedForms[] = {
    {kHerdCountPrompt, UntimedEnd::kTypedAnswer},
    {kHerdCountFallback, UntimedEnd::kNothing},
    {kHerdListingTitle, UntimedEnd::kNothing},
    {kHerdEditPrompt, UntimedEnd::kTypedAnswer},
    {kHerdNoEditLine, UntimedEnd::kNothing},
    {kHerdPriorityPrompt, UntimedEnd::kTypedAnswer},
    {kHerdAgePrompt, UntimedEnd::kTypedAnswer},
    {kHerdWeightPrompt, UntimedEnd::kTypedAnswer},
    {kHerdRejectedLine, UntimedEnd::kNothing},
    {kHerdStartFailedLine, UntimedEnd::kNothing},
    {kMonitorHeadingRule, UntimedEnd::kNothing},
    {kMonitorCountPrompt, UntimedEnd::kTypedAnswer},
    {kMonitorObservedPrompt, UntimedEnd::kTypedAnswer},
    {kMonitorEditHeading, UntimedEnd::kNothing},
    {kMonitorStage1Prompt, UntimedEnd::kTypedAnswer},
    {kMonitorStage2Prompt, UntimedEnd::kTypedAnswer},
    {kMonitorPriorityPrompt, UntimedEnd::kTypedAnswer},
    {kMonitorWaitPrompt, UntimedEnd::kTypedAnswer},
    {kMonitorStartFailedLine, UntimedEnd::kNothing},
    {kProcessTableHeading, UntimedEnd::kNothing},
    {kProcessTableRow, UntimedEnd::kNothing},
    {kPriorityMenuHeading, UntimedEnd::kNothing},
    {kPriorityMenuRow, UntimedEnd::kNothing},
    {kProcessFeederStartFailedLine, UntimedEnd::kNothing},
    {kElephantFeederStartFailedLine, UntimedEnd::kNothing},
    {kRingFailureLine, UntimedEnd::kNothing},
    {kErrorReportLine, UntimedEnd::kNothing},
    {kBadNumberMessage, UntimedEnd::kFullStop},
    {kNotAnIntegerMessage, UntimedEnd::kFullStop},
    {kNotAFloatMessage, UntimedEnd::kFullStop},
    {kIoErrorMessage, UntimedEnd::kFullStop},
};

// The forms in UTF-8, as the reader holds the transcript.
struct Utf8Forms {
    // The event forms without their time stamp, which is read apart.
    std::vector<std::pair<LineKind, std::string>> events;
    // The untimed forms as they stand in a line; true where a typed answer
    // may follow.
    std::vector<std::pair<std::string, bool>> untimed;
    std::string elephantPrefix;  // kElephantNamePrefix: "Слон "
    std::string workerPrefix;    // kWorkerNamePrefix: "Процесс "
};

// Converted once, at the first call.
const Utf8Forms& Utf8LineForms();

}  // namespace herdtrace
