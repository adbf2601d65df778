// The line forms of the three launchers and their children, and what each
// line means for the child's lane.
#include "transcript_reader.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <regex>
#include <string>
#include <vector>

#include "herdlab_toolkit.h"

namespace herdtrace {

namespace {

constexpr Millis kFeederDeadline = 30'000;
// ---- Line forms ----------------------------------------------------------------

enum class LineKind {
    kLauncherGreeting,  // herd launcher and feeders
    kListing,           // the herd launcher's list of elephants
    kMonitorGreeting,
    kElephantSearching,  // name, class
    kElephantFound,
    kElephantDrunk,
    kHerdTimeUp,
    kHerdDestroyed,   // number
    kReapedNormally,  // number (herd) or name (feeder of numbered processes)
    kWorkerStarted,   // number, class
    kWorkerFirstStage,
    kWorkerFirstDone,
    kWorkerSecondStage,
    kWorkerSecondDone,
    kWorkerForcedEnd,
    kWorkerNote,     // end order, waiting factor, reprieve: no change of phase
    kMonitorTimeUp,  // seconds
    kMonitorReaped,
    kFeedStarted,   // who, ration, class
    kFeedProgress,  // who, portions
    kFeedDone,
    kFeedNoRing,
    kFeederKilledProcess,   // name ("процесс n")
    kFeederKilledElephant,  // name after "Слон "
    kFeederReapedElephant,
};

struct LineForm {
    LineKind kind;
    std::regex pattern;
};

// The event text after "time - ". More specific forms come first: the feeder
// children's forms begin with any name.
const std::vector<LineForm>& LineForms() {
    static const std::vector<LineForm> forms = [] {
        const auto form = [](LineKind kind, const char* pattern) {
            return LineForm{kind, std::regex(pattern, std::regex::optimize)};
        };
        return std::vector<LineForm>{
            form(LineKind::kLauncherGreeting, "^Начало работы$"),
            form(LineKind::kListing, "^Процесс \\d+, возраст: -?\\d+, вес: -?[0-9.,]+\\.$"),
            form(LineKind::kMonitorGreeting, "^(МОНИТОР ПРОЦЕССОВ|НАЧАЛО РАБОТЫ)\\.$"),
            form(LineKind::kElephantSearching, "^Слон (.+) поиск начал, приоритет - (.*)$"),
            form(LineKind::kElephantFound, "^Слон (.+) нашел воду$"),
            form(LineKind::kElephantDrunk, "^Слон (.+) напился$"),
            form(LineKind::kHerdTimeUp, "^ВРЕМЯ ОЖИДАНИЯ ИСТЕКЛО$"),
            form(LineKind::kHerdDestroyed, "^процесс (.+) уничтожен\\.$"),
            form(LineKind::kFeederKilledProcess, "^процесс (.+) завершился принудительно$"),
            form(LineKind::kReapedNormally, "^процесс (.+) нормально завершился$"),
            form(LineKind::kFeederKilledElephant, "^Слон (.+) погиб$"),
            form(LineKind::kFeederReapedElephant, "^Слон (.+) нормально завершился$"),
            form(LineKind::kWorkerStarted, "^Процесс +(\\d+) - запущен, приоритет - (.*)\\.$"),
            form(LineKind::kWorkerFirstStage,
                 "^Процесс +(\\d+) - выполнение первого этапа \\(параметр -?\\d+\\)\\.\\.\\.$"),
            form(LineKind::kWorkerFirstDone, "^Процесс +(\\d+) - первый этап выполнен\\.$"),
            form(LineKind::kWorkerSecondStage,
                 "^Процесс +(\\d+) - выполнение второго этапа \\(параметр -?\\d+\\)\\.\\.\\.$"),
            form(LineKind::kWorkerSecondDone, "^Процесс +(\\d+) - второй этап выполнен\\.$"),
            form(LineKind::kWorkerForcedEnd, "^Процесс +(\\d+) - завершен принудительно\\.$"),
            form(LineKind::kWorkerNote,
                 "^Процесс +(\\d+) - (принял сообщение WM_MYTERM|фактор ожидания = \\d+|"
                 "получил отсрочку)\\.$"),
            form(LineKind::kMonitorReaped, "^Процесс +(\\d+) - нормально завершился\\.$"),
            form(LineKind::kMonitorTimeUp, "^ВРЕМЯ ОЖИДАНИЯ \\(([0-9.,]+) с\\.\\) ИСТЕКЛО\\.$"),
            form(LineKind::kFeedStarted, "^(.+) начал есть, рацион - -?\\d+, приоритет - (.*)$"),
            form(LineKind::kFeedProgress, "^(.+) съел \\d+ порций$"),
            form(LineKind::kFeedDone, "^(.+) наелся$"),
            form(LineKind::kFeedNoRing, "^(.+) не нашел свою общую память$"),
        };
    }();
    return forms;
}

// Lines without a time stamp that the programs print: prompts (with the
// answer a console copy shows after them), listings, menus, the process
// table, start failures and error reports, and typed answers.
bool IsUntimedProgramLine(const std::string& line) {
    static const std::regex known(
        "^(Введите .*|Введено некорректное значение\\..*|Доступные процессы:|"
        "Продолжаем работу\\.\\.\\.|-\\*+-|Процесс   Параметр .*|№   Приоритет|"
        "\\d   [а-я ]+\\.|Ввод параметров для -?\\d+ процесса:|Ошибка запуска .*|"
        "Exception .*|Invalid numeric input\\.|'.*' is not a valid [a-z ]+ value\\.|"
        "I/O error -?\\d+\\.|[ 0-9+$xXa-fA-F-]*| *-?\\d+ +-?\\d+ +-?\\d+)$",
        std::regex::optimize);
    return std::regex_match(line, known);
}

// ---- Building the trace ----------------------------------------------------------

struct Reader {
    Trace trace;
    Millis dayOffset = 0;
    Millis lastTime = kNoTime;
    Millis launcherStart = kNoTime;
};

// Time of a "h:mm:ss.zzz - " stamp (any one separator between the fields),
// and the event text after it.
bool SplitStamp(const std::string& line, Millis& time, std::string& event) {
    static const std::regex stamp("^(\\d{1,2})([^0-9 ])(\\d{2})\\2(\\d{2})\\.(\\d{3}) - (.*)$",
                                  std::regex::optimize);
    std::smatch match;
    if (!std::regex_match(line, match, stamp)) {
        return false;
    }
    const int hours = std::stoi(match[1]);
    const int minutes = std::stoi(match[3]);
    const int seconds = std::stoi(match[4]);
    if (hours > 23 || minutes > 59 || seconds > 59) {
        return false;
    }
    time = ((hours * 60 + minutes) * 60 + seconds) * Millis{1000} + std::stoi(match[5]);
    event = match[6];
    return true;
}

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

Lane* FindLane(Trace& trace, const std::string& name) {
    for (Lane& lane : trace.lanes) {
        if (lane.name == name) {
            return &lane;
        }
    }
    return nullptr;
}

Lane& LaneOf(Trace& trace, const std::string& name, const std::string& key, Millis time) {
    if (Lane* lane = FindLane(trace, name)) {
        return *lane;
    }
    Lane lane;
    lane.name = name;
    lane.key = key;
    lane.firstLine = time;
    trace.lanes.push_back(lane);
    return trace.lanes.back();
}

void ClosePhase(Lane& lane, Millis time) {
    // Lines of different processes may arrive slightly out of order.
    if (!lane.phases.empty() && lane.phases.back().end == kNoTime) {
        lane.phases.back().end = std::max(time, lane.phases.back().start);
    }
}

void OpenPhase(Lane& lane, PhaseKind kind, Millis time) {
    ClosePhase(lane, time);
    lane.phases.push_back(Phase{kind, time});
}

void EndLane(Lane* lane, Ending ending, Millis time) {
    if (lane == nullptr || lane->ending != Ending::kUnknown) {
        return;  // a child ends once; later reports add nothing
    }
    ClosePhase(*lane, time);
    lane->ending = ending;
    lane->endedAt = time;
}

void SetKind(Trace& trace, RunKind kind) {
    if (trace.kind == RunKind::kUnknown) {
        trace.kind = kind;
    }
}

std::string WorkerName(const std::string& number) {
    return "Процесс " + number;
}
std::string ElephantName(const std::string& name) {
    return "Слон " + name;
}

// A feeder child calls itself "процесс n" or "Слон name"; its launcher
// passes "процесс n" or "name".
std::string FeedKey(const std::string& who) {
    const std::string elephant = "Слон ";
    return who.rfind(elephant, 0) == 0 ? who.substr(elephant.size()) : who;
}

void Apply(Reader& reader, LineKind kind, const std::smatch& match, Millis time) {
    Trace& trace = reader.trace;
    const std::string first = match.size() > 1 ? match[1].str() : std::string();
    switch (kind) {
        case LineKind::kLauncherGreeting:
        case LineKind::kMonitorGreeting:
            if (reader.launcherStart == kNoTime) {
                reader.launcherStart = time;
            }
            break;
        case LineKind::kElephantSearching: {
            SetKind(trace, RunKind::kHerd);
            Lane& lane = LaneOf(trace, ElephantName(first), first, time);
            lane.priorityIndex = herdlab_toolkit::ClassIndexOfWord(match[2].str());
            OpenPhase(lane, PhaseKind::kSearching, time);
            break;
        }
        case LineKind::kElephantFound:
            OpenPhase(LaneOf(trace, ElephantName(first), first, time), PhaseKind::kDrinking, time);
            break;
        case LineKind::kElephantDrunk:
            EndLane(&LaneOf(trace, ElephantName(first), first, time), Ending::kFinished, time);
            break;
        case LineKind::kHerdTimeUp:
            trace.deadline = time;
            trace.deadlineLabel = "25 с";
            break;
        case LineKind::kHerdDestroyed:
            EndLane(FindLane(trace, ElephantName(first)), Ending::kEnded, time);
            break;
        case LineKind::kListing:
        case LineKind::kReapedNormally:
        case LineKind::kFeederReapedElephant:
        case LineKind::kMonitorReaped:
        case LineKind::kWorkerNote:
            break;  // says only that the child had ended or got a message
        case LineKind::kWorkerStarted: {
            SetKind(trace, RunKind::kMonitor);
            Lane& lane = LaneOf(trace, WorkerName(first), first, time);
            lane.priorityIndex = herdlab_toolkit::ClassIndexOfWord(match[2].str());
            break;
        }
        case LineKind::kWorkerFirstStage:
            OpenPhase(LaneOf(trace, WorkerName(first), first, time), PhaseKind::kFirstStage, time);
            break;
        case LineKind::kWorkerFirstDone:
            ClosePhase(LaneOf(trace, WorkerName(first), first, time), time);
            break;
        case LineKind::kWorkerSecondStage:
            OpenPhase(LaneOf(trace, WorkerName(first), first, time), PhaseKind::kSecondStage, time);
            break;
        case LineKind::kWorkerSecondDone:
            EndLane(&LaneOf(trace, WorkerName(first), first, time), Ending::kFinished, time);
            break;
        case LineKind::kWorkerForcedEnd:
            EndLane(FindLane(trace, WorkerName(first)), Ending::kEnded, time);
            break;
        case LineKind::kMonitorTimeUp:
            trace.deadline = time;
            trace.deadlineLabel = first + " с";
            break;
        case LineKind::kFeedStarted: {
            SetKind(trace, RunKind::kFeeder);
            Lane& lane = LaneOf(trace, first, FeedKey(first), time);
            lane.priorityIndex = herdlab_toolkit::ClassIndexOfWord(match[2].str());
            OpenPhase(lane, PhaseKind::kEating, time);
            break;
        }
        case LineKind::kFeedProgress:
            LaneOf(trace, first, FeedKey(first), time).feedTicks.push_back(time);
            break;
        case LineKind::kFeedDone:
        case LineKind::kFeedNoRing:
            EndLane(&LaneOf(trace, first, FeedKey(first), time), Ending::kFinished, time);
            break;
        case LineKind::kFeederKilledProcess:
            EndLane(FindLane(trace, first), Ending::kEnded, time);
            break;
        case LineKind::kFeederKilledElephant:
            EndLane(FindLane(trace, ElephantName(first)), Ending::kEnded, time);
            break;
    }
}

// True when the line was one of the programs' lines.
bool ReadLine(Reader& reader, const std::string& line) {
    Millis timeOfDay = 0;
    std::string event;
    if (!SplitStamp(line, timeOfDay, event)) {
        return line.find_first_not_of(' ') == std::string::npos || IsUntimedProgramLine(line);
    }
    for (const LineForm& form : LineForms()) {
        std::smatch match;
        if (std::regex_match(event, match, form.pattern)) {
            const Millis time = Unwrap(reader, timeOfDay);
            Apply(reader, form.kind, match, time);
            reader.trace.end = std::max(reader.trace.end, time);
            return true;
        }
    }
    return false;
}

void Finish(Reader& reader) {
    Trace& trace = reader.trace;
    // Numbered children in the launcher's table order; named ones as they
    // first spoke.
    if (std::all_of(trace.lanes.begin(), trace.lanes.end(),
                    [](const Lane& lane) { return IsNumber(lane.key) && lane.key.size() < 9; })) {
        std::stable_sort(trace.lanes.begin(), trace.lanes.end(), [](const Lane& a, const Lane& b) {
            return std::stoi(a.key) < std::stoi(b.key);
        });
    }
    for (const Lane& lane : trace.lanes) {
        if (trace.start == kNoTime || lane.firstLine < trace.start) {
            trace.start = lane.firstLine;
        }
    }
    // The feeders print nothing at their deadline: it lies 30 s after their
    // greeting, give or take the launch of eight children.
    if (trace.kind == RunKind::kFeeder && reader.launcherStart != kNoTime) {
        trace.deadline = reader.launcherStart + kFeederDeadline;
        trace.deadlineLabel = "30 с";
    }
}

}  // namespace

TextEncoding GuessEncoding(std::string_view bytes) {
    if (herdlab_toolkit::IsUtf8(bytes, true)) {
        return TextEncoding::kUtf8;
    }
    // Russian text is mostly small letters: Windows-1251 keeps them at
    // 0xE0..0xFF, code page 866 at 0xA0..0xAF and 0xE0..0xEF. Capitals lie
    // at 0xC0..0xDF and 0x80..0x9F respectively.
    long cp866 = 0;
    long cp1251 = 0;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80 && byte <= 0xAF) {
            ++cp866;
        } else if ((byte >= 0xC0 && byte <= 0xDF) || byte >= 0xF0) {
            ++cp1251;
        }
    }
    return cp866 > cp1251 ? TextEncoding::kCp866 : TextEncoding::kWindows1251;
}

std::string ToUtf8(std::string_view bytes, TextEncoding encoding) {
    switch (encoding) {
        case TextEncoding::kUtf8:
            return std::string(bytes);
        case TextEncoding::kCp866:
            return herdlab_toolkit::Utf8FromCodePage(bytes, herdlab_toolkit::kCodePage866);
        case TextEncoding::kWindows1251:
            break;
    }
    return herdlab_toolkit::Utf8FromCp1251(bytes);
}

Trace ReadTranscript(std::string_view bytes) {
    const std::string text = ToUtf8(bytes, GuessEncoding(bytes));
    Reader reader;
    int number = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(at, end - at);
        at = end + 1;
        ++number;
        while (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!ReadLine(reader, line)) {
            reader.trace.unread.push_back(UnreadLine{number, line});
        }
    }
    Finish(reader);
    return reader.trace;
}

}  // namespace herdtrace
