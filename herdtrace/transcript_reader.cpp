// The line forms of the three launchers and their children, and what each
// line means for the child's lane.
#include "transcript_reader.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <regex>
#include <string>
#include <vector>

#include "cp1251_unit.h"

namespace herdtrace {

const char* const kPriorityNames[6] = {"низкий",        "ниже среднего", "нормальный",
                                       "выше среднего", "высокий",       "реального времени"};

int PriorityIndexOf(const std::string& name) {
    for (int i = 0; i < 6; ++i) {
        if (name == kPriorityNames[i]) {
            return i;
        }
    }
    return -1;
}

namespace {

constexpr Millis kFeederDeadline = 30'000;
constexpr char32_t kReplacement = 0xFFFD;

// ---- Encodings -----------------------------------------------------------------

// Length of the UTF-8 sequence starting at `at`, 0 when it is not valid.
std::size_t Utf8SequenceLength(std::string_view bytes, std::size_t at) {
    const auto lead = static_cast<unsigned char>(bytes[at]);
    std::size_t length = 0;
    if (lead < 0x80) {
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
    } else {
        return 0;
    }
    if (at + length > bytes.size()) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((static_cast<unsigned char>(bytes[at + i]) & 0xC0) != 0x80) {
            return 0;
        }
    }
    return length;
}

bool IsUtf8(std::string_view bytes) {
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t length = Utf8SequenceLength(bytes, at);
        if (length == 0) {
            // A sequence cut by the end of a cut transcript is still UTF-8.
            return bytes.size() - at < 4 && static_cast<unsigned char>(bytes[at]) >= 0xC2;
        }
        at += length;
    }
    return true;
}

// Code page 866: А..Я а..п at 0x80..0xAF, р..я at 0xE0..0xEF, Ё ё at 0xF0 0xF1.
char32_t Cp866CodePoint(unsigned char byte) {
    if (byte < 0x80) {
        return byte;
    }
    if (byte <= 0xAF) {
        return 0x0410 + (byte - 0x80);
    }
    if (byte >= 0xE0 && byte <= 0xEF) {
        return 0x0440 + (byte - 0xE0);
    }
    if (byte == 0xF0) {
        return 0x0401;
    }
    if (byte == 0xF1) {
        return 0x0451;
    }
    if (byte == 0xFC) {
        return 0x2116;  // №
    }
    return kReplacement;  // box drawing and the rest: never in the programs' lines
}

char32_t Cp1251CodePoint(unsigned char byte) {
    if (byte < 0x80) {
        return byte;
    }
    const std::uint16_t codePoint = cp1251::kHighHalf[byte - 0x80];
    return codePoint == 0 ? kReplacement : codePoint;
}

void AppendUtf8(std::string& out, char32_t codePoint) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

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
            lane.priorityIndex = PriorityIndexOf(match[2]);
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
            lane.priorityIndex = PriorityIndexOf(match[2]);
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
            lane.priorityIndex = PriorityIndexOf(match[2]);
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
    if (IsUtf8(bytes)) {
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
    if (encoding == TextEncoding::kUtf8) {
        return std::string(bytes);
    }
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        AppendUtf8(out,
                   encoding == TextEncoding::kCp866 ? Cp866CodePoint(byte) : Cp1251CodePoint(byte));
    }
    return out;
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
