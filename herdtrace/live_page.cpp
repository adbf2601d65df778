// The live page: the run so far turned into a trace, drawn by RenderSvg as
// the SVG file is, and written as NAME.html and NAME.frame.js, each replaced
// whole.
#include "live_page.h"

#include <algorithm>

#include "herdlab_toolkit.h"
#include "live_page_assets.h"
#include "picture.h"
#include "program_lines_unit.h"
#include "summary.h"
#include "svg_parts.h"
#include "transcript_reader.h"

namespace herdtrace {

namespace {

namespace toolkit = herdlab_toolkit;

// A frame costs about a millisecond per lane, most of it drawing (a herd of
// 15 at its end: 4 ms): a new line is shown at the next report, and while
// nothing is printed the picture moves on twice a second, which keeps the
// cost of the page within 1 % of one processor.
constexpr std::chrono::milliseconds kNewsWait{kProgressInterval};
constexpr std::chrono::milliseconds kQuietWait{2 * kProgressInterval};
// Each frame reads the whole output again: for every this many bytes of it
// the next frame waits a second more, so a program that prints megabytes
// does not turn herdtrace into a busy reader (a course run prints a few
// kilobytes and gets every frame).
constexpr std::size_t kBytesPerSecondOfWait = 1 << 20;
// The page itself is written again only this often (and at the end): the
// page running its script takes every frame from the frame script; this is
// for a page opened or reloaded meanwhile, and one without scripts.
constexpr long long kFramesPerPage = 8;

// A time of day on the trace's clock, which counts on past midnight.
Millis OnTraceClock(Millis timeOfDay, const Trace& trace) {
    return trace.start != kNoTime && trace.start - timeOfDay > kDay / 2 ? timeOfDay + kDay
                                                                        : timeOfDay;
}

// The herd launcher prints its deadline only when it is reached; until
// then it is expected its 25 s after the first elephant's first line (the
// elephants start within a few milliseconds of the launcher's wait).
void ExpectHerdDeadline(Trace& trace) {
    if (trace.kind == LauncherKind::kHerd && trace.deadline == kNoTime) {
        trace.deadline = trace.start + kHerdWaitMilliseconds;
        trace.deadlineLabel = std::to_string(kHerdWaitMilliseconds / 1000) + " с";
    }
}

// The launcher's lesson in one line, for the top of the page.
std::string Lesson(LauncherKind kind) {
    switch (kind) {
        case LauncherKind::kHerd:
            return "Процессор получает старший класс, младшие ждут; через " +
                   std::to_string(kHerdWaitMilliseconds / 1000) + " с не успевших уничтожают.";
        case LauncherKind::kMonitor:
            return "По сроку монитор завершает работников на первом этапе, остальным велит "
                   "закончить.";
        case LauncherKind::kFeeder:
            return "Кормящий кормит процессы через общую память не дольше " +
                   std::to_string(kFeedingMilliseconds / 1000) + " с; не наевшихся он завершает.";
        case LauncherKind::kUnknown:
            break;
    }
    return "herdtrace: полоса на каждый процесс, запущенный программой.";
}

std::string WholeSeconds(Millis millis) {
    return std::to_string(std::max<Millis>(millis, 0) / 1000) + " с";
}

// Where the run stands: the time since the first child's first line and
// the deadline ahead, or that the run is over.
std::string Status(const Trace& trace, Millis now, bool ended) {
    if (ended) {
        return "Запуск окончен" +
               (trace.start == kNoTime ? std::string()
                                       : " (" + WholeSeconds(trace.end - trace.start) + ")") +
               ": рисунок полный, итог — под ним.";
    }
    if (trace.start == kNoTime) {
        return "Ждём первых строк запущенных процессов…";
    }
    std::string status = "Прошло " + WholeSeconds(now - trace.start);
    if (trace.deadline != kNoTime && now < trace.deadline) {
        status += " из " + WholeSeconds(trace.deadline - trace.start + 500);
    } else if (trace.deadline != kNoTime) {
        status += "; срок " + trace.deadlineLabel + " истёк";
    }
    return status + ". Страница обновляется сама.";
}

// The newest moment a line of the trace reported (for the page's own
// measure of how late it shows a line).
Millis NewestLine(const Trace& trace) {
    Millis newest = kNoTime;
    for (const Lane& lane : trace.lanes) {
        newest = std::max({newest, lane.firstLine, lane.endedAt});
        for (const Phase& phase : lane.phases) {
            newest = std::max(newest, phase.start);
        }
        for (const Millis tick : lane.feedTicks) {
            newest = std::max(newest, tick);
        }
    }
    return newest;
}

// The character that starts at `at`, which moves past it; U+FFFD for a
// byte that starts no well-formed UTF-8 sequence.
unsigned NextCharacter(std::string_view utf8, std::size_t& at) {
    const auto lead = static_cast<unsigned char>(utf8[at]);
    const std::size_t length = lead < 0x80 ? 1 : toolkit::Utf8SequenceLength(utf8, at);
    if (length == 0) {
        ++at;
        return 0xFFFD;
    }
    unsigned code = length == 1 ? lead : lead & (0x7Fu >> length);
    for (std::size_t i = 1; i < length; ++i) {
        code = (code << 6) | (static_cast<unsigned char>(utf8[at + i]) & 0x3Fu);
    }
    at += length;
    return code;
}

// "\\u" and four hex digits: a picture has thousands of them, so no printf.
void AppendEscape(std::string& out, unsigned code) {
    const char* const digits = "0123456789abcdef";
    const char escape[] = {'\\',
                           'u',
                           digits[(code >> 12) & 0xF],
                           digits[(code >> 8) & 0xF],
                           digits[(code >> 4) & 0xF],
                           digits[code & 0xF]};
    out.append(escape, sizeof escape);
}

// Inline in HTML the picture needs no XML declaration.
std::string WithoutDeclaration(const std::string& svg) {
    const std::size_t begin = svg.find("<svg");
    return begin == std::string::npos ? svg : svg.substr(begin);
}

// The frame script first: a page written with this frame then finds it
// there, or a newer one.
bool WriteFrame(LivePage& page, LiveFrame frame) {
    frame.number = ++page.frames;
    const std::size_t folderEnd = page.framePath.find_last_of("/\\");
    const std::string frameFile =
        folderEnd == std::string::npos ? page.framePath : page.framePath.substr(folderEnd + 1);
    const bool pageDue = frame.ended || frame.number % kFramesPerPage == 1;
    return toolkit::ReplaceFileWhole(page.framePath, FrameScript(frame)) &&
           (!pageDue || toolkit::ReplaceFileWhole(page.path, PageHtml(frame, frameFile)));
}

}  // namespace

std::string LivePagePath(const std::string& picture) {
    const std::string svg = ".svg";
    const bool svgName = picture.size() > svg.size() &&
                         picture.compare(picture.size() - svg.size(), svg.size(), svg) == 0;
    return (svgName ? picture.substr(0, picture.size() - svg.size()) : picture) + ".html";
}

LivePage OpenLivePage(const std::string& picture) {
    LivePage page;
    page.path = LivePagePath(picture);
    page.framePath = page.path.substr(0, page.path.size() - 5) + ".frame.js";
    return page;
}

Trace TraceSoFar(const TracedRun& soFar, Millis now) {
    Trace trace = ReadTranscript(soFar.output);
    AttachSamples(trace, soFar);
    if (trace.start == kNoTime) {
        return trace;
    }
    const Millis at = OnTraceClock(now, trace);
    for (Lane& lane : trace.lanes) {
        for (Phase& phase : lane.phases) {
            phase.end = phase.end == kNoTime ? std::max(at, phase.start) : phase.end;
        }
    }
    ExpectHerdDeadline(trace);
    trace.end = std::max({trace.end, at, trace.deadline});
    return trace;
}

LiveFrame MakeFrame(const Trace& trace, Millis now, bool ended) {
    LiveFrame frame;
    frame.ended = ended;
    frame.lesson = Lesson(trace.kind);
    frame.status = Status(trace, OnTraceClock(now, trace), ended);
    frame.svg = WithoutDeclaration(RenderSvg(trace));
    frame.summary = ended ? Summary(trace) : std::string();
    frame.newestLine = NewestLine(trace);
    return frame;
}

std::string ScriptString(std::string_view utf8) {
    std::string out = "\"";
    for (std::size_t at = 0; at < utf8.size();) {
        const unsigned code = NextCharacter(utf8, at);
        const bool plain = code >= 0x20 && code < 0x7F && code != '"' && code != '\\' &&
                           code != '<' && code != '>' && code != '&';
        if (plain) {
            out += char(code);
        } else if (code < 0x10000) {
            AppendEscape(out, code);
        } else {  // as a surrogate pair
            AppendEscape(out, 0xD800 + ((code - 0x10000) >> 10));
            AppendEscape(out, 0xDC00 + ((code - 0x10000) & 0x3FF));
        }
    }
    return out + "\"";
}

std::string PageHtml(const LiveFrame& frame, const std::string& frameFile) {
    const std::string state = frame.ended ? "ended" : "running";
    std::string page = "<!DOCTYPE html>\n<html lang=\"ru\" data-live=\"" + state +
                       "\" data-frame=\"" + std::to_string(frame.number) + "\" data-newest=\"" +
                       std::to_string(frame.newestLine) + "\" data-frame-file=\"" +
                       Escaped(frameFile) + "\">\n<head>\n<meta charset=\"utf-8\">\n";
    page += "<title>herdtrace — запуск вживую</title>\n";
    if (!frame.ended) {
        // Without scripts the page is read again from disk instead.
        page += "<noscript><meta http-equiv=\"refresh\" content=\"2\"></noscript>\n";
    }
    page += "<style>" + std::string(kLivePageStyle) + "</style>\n";
    page += "<script>" + std::string(kLivePageScript) + "</script>\n</head>\n<body>\n";
    page += "<p id=\"lesson\">" + Escaped(frame.lesson) + "</p>\n";
    page += "<p id=\"status\" role=\"status\">" + Escaped(frame.status) + "</p>\n";
    page += "<div id=\"picture\">\n" + frame.svg + "</div>\n";
    page += "<pre id=\"summary\"" + std::string(frame.summary.empty() ? " hidden" : "") + ">" +
            Escaped(frame.summary) + "</pre>\n";
    page += "<p id=\"whole\" hidden></p>\n</body>\n</html>\n";
    return page;
}

std::string FrameScript(const LiveFrame& frame) {
    return "herdtraceFrame({\"number\": " + std::to_string(frame.number) +
           ", \"ended\": " + (frame.ended ? "true" : "false") +
           ", \"newest\": " + std::to_string(frame.newestLine) +
           ",\n\"lesson\": " + ScriptString(frame.lesson) +
           ",\n\"status\": " + ScriptString(frame.status) +
           ",\n\"summary\": " + ScriptString(frame.summary) +
           ",\n\"svg\": " + ScriptString(frame.svg) + "});\n";
}

bool ShowSoFar(LivePage& page, const TracedRun& soFar, Millis now) {
    using namespace std::chrono;
    const auto began = steady_clock::now();
    const bool news = soFar.output.size() != page.outputShown;
    const auto wait =
        (news ? kNewsWait : kQuietWait) + seconds(soFar.output.size() / kBytesPerSecondOfWait);
    // The reports come every kProgressInterval, give or take a little.
    if (began - page.lastFrame + milliseconds(kProgressInterval / 5) < wait) {
        return true;
    }
    page.lastFrame = began;
    page.outputShown = soFar.output.size();
    return WriteFrame(page, MakeFrame(TraceSoFar(soFar, now), now, false));
}

bool ShowEnd(LivePage& page, const Trace& trace) {
    return WriteFrame(page, MakeFrame(trace, trace.end, true));
}

}  // namespace herdtrace
