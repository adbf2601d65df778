// Reading a transcript line by line: a line with a time stamp is held
// against the programs' event forms and goes into the trace; one without
// against their other lines; what fits nothing is counted, and the first of
// those kept, for the report. Each line is converted on its own, so the
// transcript is never held twice.
#include "transcript_reader.h"

#include <algorithm>
#include <string>

#include "format_match_unit.h"
#include "herdlab_toolkit.h"
#include "line_forms.h"
#include "trace_builder.h"

namespace herdtrace {

namespace {

namespace toolkit = herdlab_toolkit;

// The time of day of a "h:mm:ss.zzz - " stamp and the event text after it.
bool SplitStamp(std::string_view line, Millis& timeOfDay, std::string_view& event) {
    constexpr std::string_view kAfterStamp = kEventStamp.substr(2);  // " - "
    std::size_t length = 0;
    if (!MatchTimeStamp(line, timeOfDay, length) || line.substr(length, 3) != kAfterStamp) {
        return false;
    }
    event = line.substr(length + kAfterStamp.size());
    return true;
}

// A typed answer a console copy shows on a line of its own: a number.
bool IsTypedAnswer(std::string_view line) {
    return line.find_first_not_of(" 0123456789+-$xXabcdefABCDEF") == std::string_view::npos;
}

// True for a line without a time stamp that a program prints, or an
// answer typed at a prompt.
bool IsUntimedProgramLine(std::string_view line) {
    FormatFields fields;
    for (const auto& [format, answerMayFollow] : Utf8LineForms().untimed) {
        if (MatchFormat(format, line, fields, answerMayFollow)) {
            return true;
        }
    }
    return IsTypedAnswer(line);
}

// True when the line was one of the programs' lines.
bool ReadLine(TraceBuilder& builder, std::string_view line) {
    Millis timeOfDay = 0;
    std::string_view event;
    if (!SplitStamp(line, timeOfDay, event)) {
        return IsUntimedProgramLine(line);
    }
    FormatFields fields;
    for (const auto& [kind, format] : Utf8LineForms().events) {
        if (MatchFormat(format, event, fields)) {
            ApplyEventLine(builder, kind, fields, timeOfDay);
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
bool ReadRawLine(TraceBuilder& builder, std::string_view line, toolkit::TextEncoding encoding) {
    if (line.size() > kLongestLine) {
        return false;
    }
    if (encoding == toolkit::TextEncoding::kUtf8) {
        return ReadLine(builder, line);
    }
    return ReadLine(builder, toolkit::ToUtf8(line, encoding));
}

}  // namespace

Trace ReadTranscript(std::string_view bytes) {
    const toolkit::TextEncoding encoding = toolkit::GuessEncoding(bytes);
    TraceBuilder builder;
    int number = 0;
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t end = std::min(bytes.find('\n', at), bytes.size());
        std::string_view line = bytes.substr(at, end - at);
        at = end + 1;
        ++number;
        while (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (!ReadRawLine(builder, line, encoding)) {
            NoteUnread(builder.trace, number, line, encoding);
        }
    }
    FinishTrace(builder);
    return builder.trace;
}

}  // namespace herdtrace
