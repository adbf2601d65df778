// Reading a transcript: each line is held against the formats the programs
// print from (program_lines_unit.h). The constant parts of a format must
// match exactly; the time stamp, names, numbers and class words between them
// are read out. A line is matched in one pass over it, whatever its length,
// and nothing of it is kept unless it goes into the report of unread lines.
#include "transcript_reader.h"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "feeder_data_2.h"
#include "feeder_data_6.h"
#include "herdlab_toolkit.h"
#include "program_lines_unit.h"

namespace herdtrace {

namespace {

namespace toolkit = herdlab_toolkit;

// ---- Line forms --------------------------------------------------------------------

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
constexpr LineForm kEventForms[] = {
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

// Lines without a time stamp: prompts (a console copy shows the typed
// answer after them), listings, menus, the process table, start failures,
// and the two lines of the programs' error report.
struct UntimedForm {
    std::string_view format;
    bool answerMayFollow;
};

constexpr UntimedForm kUntimedForms[] = {
    {kHerdCountPrompt, true},
    {kHerdCountFallback, false},
    {kHerdListingTitle, false},
    {kHerdEditPrompt, true},
    {kHerdNoEditLine, false},
    {kHerdPriorityPrompt, true},
    {kHerdAgePrompt, true},
    {kHerdWeightPrompt, true},
    {kHerdRejectedLine, false},
    {kHerdStartFailedLine, false},
    {kMonitorHeadingRule, false},
    {kMonitorCountPrompt, true},
    {kMonitorObservedPrompt, true},
    {kMonitorEditHeading, false},
    {kMonitorStage1Prompt, true},
    {kMonitorStage2Prompt, true},
    {kMonitorPriorityPrompt, true},
    {kMonitorWaitPrompt, true},
    {kMonitorStartFailedLine, false},
    {kProcessTableHeading, false},
    {kProcessTableRow, false},
    {kPriorityMenuHeading, false},
    {kPriorityMenuRow, false},
    {kProcessFeederStartFailedLine, false},
    {kElephantFeederStartFailedLine, false},
    {kRingFailureLine, false},
    // The error report of common/errors_unit.cpp, built from English words.
    {"Exception %s in module %s at %s.", false},
    {"Invalid numeric input.", false},
    {"'%s' is not a valid integer value.", false},
    {"'%s' is not a valid floating point value.", false},
    {"I/O error %d.", false},
};

// The forms in UTF-8, as the reader holds the transcript; the event forms
// without their "%s - " (the time stamp, read apart).
struct Utf8Forms {
    std::vector<std::pair<LineKind, std::string>> events;
    std::vector<std::pair<std::string, bool>> untimed;
};

const Utf8Forms& Forms() {
    static const Utf8Forms forms = [] {
        constexpr std::string_view kStampPart = "%s - ";
        Utf8Forms converted;
        for (const LineForm& form : kEventForms) {
            converted.events.emplace_back(
                form.kind, toolkit::Utf8FromCp1251(form.format.substr(kStampPart.size())));
        }
        for (const UntimedForm& form : kUntimedForms) {
            converted.untimed.emplace_back(toolkit::Utf8FromCp1251(form.format),
                                           form.answerMayFollow);
        }
        return converted;
    }();
    return forms;
}

// ---- Matching a format -------------------------------------------------------------

// What the conversions of a format read from a line, in order.
struct Fields {
    static constexpr std::size_t kMost = 4;
    std::array<std::string_view, kMost> values;
    std::size_t count = 0;

    std::string Text(std::size_t index) const { return std::string(values[index]); }
    // A number printed in a column (%2d), without the blanks before it.
    std::string Number(std::size_t index) const {
        const std::string_view value = values[index];
        return std::string(value.substr(std::min(value.find_first_not_of(' '), value.size())));
    }
};

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Where the run of digits at `at` ends.
std::size_t DigitsEnd(std::string_view text, std::size_t at) {
    while (at < text.size() && IsDigit(text[at])) {
        ++at;
    }
    return at;
}

// Where a number printed by %d (%2d, %7d: blanks before it), %f or %g that
// begins at `at` ends; `at` itself when there is none. A fraction has
// either decimal separator, as the locale gave it.
std::size_t NumberEnd(std::string_view text, std::size_t at, char conversion) {
    while (conversion == 'd' && at < text.size() && text[at] == ' ') {
        ++at;
    }
    const std::size_t sign = at < text.size() && text[at] == '-' ? at + 1 : at;
    std::size_t end = DigitsEnd(text, sign);
    if (end == sign) {
        return at;
    }
    if (conversion != 'd' && end + 1 < text.size() && (text[end] == '.' || text[end] == ',') &&
        IsDigit(text[end + 1])) {
        end = DigitsEnd(text, end + 1);
    }
    if (conversion == 'g' && end + 2 < text.size() && text[end] == 'e' &&
        (text[end + 1] == '+' || text[end + 1] == '-') && IsDigit(text[end + 2])) {
        end = DigitsEnd(text, end + 2);
    }
    return end;
}

// Where the text of a %s ends, given the constant part after it in the
// format: the first place that part appears, or, when it ends the format,
// the place it ends the line. npos when it does not appear.
std::size_t TextEnd(std::string_view text, std::size_t at, std::string_view following,
                    bool endsFormat) {
    if (following.empty()) {
        return text.size();
    }
    if (!endsFormat) {
        return text.find(following, at);
    }
    if (text.size() - at < following.size() ||
        text.substr(text.size() - following.size()) != following) {
        return std::string_view::npos;
    }
    return text.size() - following.size();
}

// True when `text` is a line of `format` (with `rest` allowed after it, a
// line beginning with one); the conversions' texts go to `fields`.
bool MatchFormat(std::string_view format, std::string_view text, Fields& fields,
                 bool rest = false) {
    fields.count = 0;
    std::size_t at = 0;
    for (std::size_t f = 0; f < format.size();) {
        const std::size_t percent = std::min(format.find('%', f), format.size());
        const std::string_view constant = format.substr(f, percent - f);
        if (text.substr(at, constant.size()) != constant) {
            return false;
        }
        at += constant.size();
        if (percent == format.size()) {
            break;
        }
        std::size_t conversion = percent + 1;
        while (conversion < format.size() && IsDigit(format[conversion])) {
            ++conversion;  // a width
        }
        if (conversion == format.size()) {
            return false;
        }
        f = conversion + 1;
        const std::size_t next = std::min(format.find('%', f), format.size());
        const std::size_t end =
            format[conversion] == 's'
                ? TextEnd(text, at, format.substr(f, next - f), next == format.size() && !rest)
                : NumberEnd(text, at, format[conversion]);
        if (end == std::string_view::npos || end < at || (format[conversion] != 's' && end == at)) {
            return false;
        }
        if (fields.count < Fields::kMost) {
            fields.values[fields.count++] = text.substr(at, end - at);
        }
        at = end;
    }
    return rest || at == text.size();
}

// ---- The time stamp ----------------------------------------------------------------

// Reads `count` digits at `at` into `value`.
bool ReadDigits(std::string_view line, std::size_t& at, std::size_t count, int& value) {
    if (line.size() - at < count || DigitsEnd(line, at) - at < count) {
        return false;
    }
    value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        value = value * 10 + (line[at++] - '0');
    }
    return true;
}

// The time of a "h:mm:ss.zzz - " stamp (one separator, the locale's, used
// twice) and the event text after it.
bool SplitStamp(std::string_view line, Millis& time, std::string_view& event) {
    std::size_t at = 0;
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
    int millis = 0;
    const bool twoDigitHour = line.size() > 1 && IsDigit(line[1]);
    if (!ReadDigits(line, at, twoDigitHour ? 2 : 1, hours) || at >= line.size()) {
        return false;
    }
    const char separator = line[at++];
    if (separator == ' ' || !ReadDigits(line, at, 2, minutes) || at >= line.size() ||
        line[at++] != separator || !ReadDigits(line, at, 2, seconds) || at >= line.size() ||
        line[at++] != '.' || !ReadDigits(line, at, 3, millis) || line.substr(at, 3) != " - ") {
        return false;
    }
    if (hours > 23 || minutes > 59 || seconds > 59) {
        return false;
    }
    time = ((hours * 60 + minutes) * 60 + seconds) * Millis{1000} + millis;
    event = line.substr(at + 3);
    return true;
}

// ---- Building the trace ------------------------------------------------------------

struct Reader {
    Trace trace;
    Millis dayOffset = 0;
    Millis lastTime = kNoTime;
    Millis launcherStart = kNoTime;
};

// Keeps times increasing across midnight: a stamp half a day before the
// previous one belongs to the next day.
Millis Unwrap(Reader& reader, Millis timeOfDay) {
    Millis time = timeOfDay + reader.dayOffset;
    if (reader.lastTime != kNoTime && time < reader.lastTime - kDay / 2) {
        reader.dayOffset += kDay;
        time += kDay;
    }
    reader.lastTime = std::max(reader.lastTime, time);
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
void ApplyLauncherLine(Reader& reader, LineKind kind, const Fields& fields, Millis time) {
    Trace& trace = reader.trace;
    switch (kind) {
        case LineKind::kLauncherStart:
            if (reader.launcherStart == kNoTime) {
                reader.launcherStart = time;
            }
            break;
        case LineKind::kHerdTimeUp:
            trace.deadline = time;
            trace.deadlineLabel = std::to_string(kHerdWaitMilliseconds / 1000) + " с";
            break;
        case LineKind::kMonitorTimeUp:
            trace.deadline = time;
            trace.deadlineLabel = fields.Text(0) + " с";
            break;
        case LineKind::kHerdDestroyed:
            EndLane(FindLane(trace, "Слон " + fields.Text(0)), Ending::kEnded, time);
            break;
        case LineKind::kWorkerForcedEnd:
            EndLane(FindLane(trace, "Процесс " + fields.Number(0)), Ending::kEnded, time);
            break;
        case LineKind::kFeederKilledProcess:
            EndLane(FindLane(trace, fields.Text(0)), Ending::kEnded, time);  // "процесс n"
            break;
        case LineKind::kFeederKilledElephant:
            EndLane(FindLane(trace, "Слон " + fields.Text(0)), Ending::kEnded, time);
            break;
        default:
            break;
    }
}

// An elephant's own lines: fields name, class.
void ApplyElephantLine(Reader& reader, LineKind kind, const Fields& fields, Millis time) {
    SetKind(reader.trace, LauncherKind::kHerd);
    Lane* lane = LaneOf(reader.trace, "Слон " + fields.Text(0), fields.Text(0), time);
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
void ApplyWorkerLine(Reader& reader, LineKind kind, const Fields& fields, Millis time) {
    SetKind(reader.trace, LauncherKind::kMonitor);
    const std::string number = fields.Number(0);
    Lane* lane = LaneOf(reader.trace, "Процесс " + number, number, time);
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
void ApplyFeedLine(Reader& reader, LineKind kind, const Fields& fields, Millis time) {
    SetKind(reader.trace, LauncherKind::kFeeder);
    const std::string who = fields.Text(0);
    const std::string elephant = "Слон ";
    const std::string key = who.rfind(elephant, 0) == 0 ? who.substr(elephant.size()) : who;
    Lane* lane = LaneOf(reader.trace, who, key, time);
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
void Apply(Reader& reader, LineKind kind, const Fields& fields, Millis time) {
    switch (kind) {
        case LineKind::kElephantSearching:
        case LineKind::kElephantFound:
        case LineKind::kElephantDrunk:
            ApplyElephantLine(reader, kind, fields, time);
            break;
        case LineKind::kWorkerStarted:
        case LineKind::kWorkerFirstStage:
        case LineKind::kWorkerFirstDone:
        case LineKind::kWorkerSecondStage:
        case LineKind::kWorkerSecondDone:
            ApplyWorkerLine(reader, kind, fields, time);
            break;
        case LineKind::kFeedStarted:
        case LineKind::kFeedProgress:
        case LineKind::kFeedDone:
            ApplyFeedLine(reader, kind, fields, time);
            break;
        default:
            ApplyLauncherLine(reader, kind, fields, time);
            break;
    }
}

// A typed answer a console copy shows on a line of its own: a number.
bool IsTypedAnswer(std::string_view line) {
    return line.find_first_not_of(" 0123456789+-$xXabcdefABCDEF") == std::string_view::npos;
}

// True for a line without a time stamp that a program prints, or an
// answer typed at a prompt.
bool IsUntimedProgramLine(std::string_view line) {
    Fields fields;
    for (const auto& [format, answerMayFollow] : Forms().untimed) {
        if (MatchFormat(format, line, fields, answerMayFollow)) {
            return true;
        }
    }
    return IsTypedAnswer(line);
}

// True when the line was one of the programs' lines.
bool ReadLine(Reader& reader, std::string_view line) {
    Millis timeOfDay = 0;
    std::string_view event;
    if (!SplitStamp(line, timeOfDay, event)) {
        return IsUntimedProgramLine(line);
    }
    Fields fields;
    for (const auto& [kind, format] : Forms().events) {
        if (MatchFormat(format, event, fields)) {
            const Millis time = Unwrap(reader, timeOfDay);
            Apply(reader, kind, fields, time);
            reader.trace.end = std::max(reader.trace.end, time);
            return true;
        }
    }
    return false;
}

// A line for the report (UTF-8): cut to kUnreadShownBytes at a
// character's start, with its length.
std::string ReportedText(std::string_view line, toolkit::TextEncoding encoding) {
    if (line.size() <= kUnreadShownBytes) {
        return toolkit::ToUtf8(line, encoding);
    }
    std::size_t end = kUnreadShownBytes;
    while (encoding == toolkit::TextEncoding::kUtf8 && end > 0 &&
           (static_cast<unsigned char>(line[end]) & 0xC0) == 0x80) {
        --end;
    }
    return toolkit::ToUtf8(line.substr(0, end), encoding) + "… (" + std::to_string(line.size()) +
           " байт)";
}

// Counts a line not understood; the first kMostUnreadKept are kept.
void NoteUnread(Trace& trace, int number, std::string_view line, toolkit::TextEncoding encoding) {
    ++trace.unreadCount;
    if (trace.unread.size() < kMostUnreadKept) {
        trace.unread.push_back(UnreadLine{number, ReportedText(line, encoding)});
    }
}

// True when the line was one of the programs' lines. It is converted on its
// own, so the transcript is never held twice; a line longer than any the
// programs print is not looked at.
bool ReadRawLine(Reader& reader, std::string_view line, toolkit::TextEncoding encoding) {
    if (line.size() > kLongestLine) {
        return false;
    }
    if (encoding == toolkit::TextEncoding::kUtf8) {
        return ReadLine(reader, line);
    }
    return ReadLine(reader, toolkit::ToUtf8(line, encoding));
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

// Once all lines are read: the lanes in order, the trace's start, and the
// feeders' deadline, which they do not print.
void Finish(Reader& reader) {
    Trace& trace = reader.trace;
    OrderLanes(trace);
    for (const Lane& lane : trace.lanes) {
        if (trace.start == kNoTime || lane.firstLine < trace.start) {
            trace.start = lane.firstLine;
        }
    }
    // The feeders print nothing at their deadline: it lies after their
    // greeting, give or take the launch of eight children.
    if (trace.kind == LauncherKind::kFeeder && reader.launcherStart != kNoTime) {
        trace.deadline = reader.launcherStart + kFeedingMilliseconds;
        trace.deadlineLabel = std::to_string(kFeedingMilliseconds / 1000) + " с";
    }
}

}  // namespace

Trace ReadTranscript(std::string_view bytes) {
    const toolkit::TextEncoding encoding = toolkit::GuessEncoding(bytes);
    Reader reader;
    int number = 0;
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t end = std::min(bytes.find('\n', at), bytes.size());
        std::string_view line = bytes.substr(at, end - at);
        at = end + 1;
        ++number;
        while (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (!ReadRawLine(reader, line, encoding)) {
            NoteUnread(reader.trace, number, line, encoding);
        }
    }
    Finish(reader);
    return reader.trace;
}

}  // namespace herdtrace
