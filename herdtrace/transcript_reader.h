// Reading a console transcript of the course's launchers and their children:
// the encoding is recognised (herdlab_toolkit::GuessEncoding), the
// time-stamped lines are turned into lanes, phases and endings, and lines
// that fit nothing are kept for the report.
#pragma once

#include <string>
#include <string_view>

#include "trace_model.h"

namespace herdtrace {

// Limits that keep any file harmless. The programs' lines hold at most 255
// characters (1,020 bytes in UTF-8); a longer line is reported unread.
// kMostLanesDrawn bounds the picture's height and the reader's memory for a
// file that is no course transcript (a launcher starts at most 15 children):
// lines of children past it are read but draw nothing. Of the unread lines
// the first kMostUnreadKept are kept for the report, each cut to
// kUnreadShownBytes; all are counted.
inline constexpr std::size_t kLongestLine = 4096;
inline constexpr std::size_t kMostLanesDrawn = 64;
inline constexpr std::size_t kMostUnreadKept = 1000;
inline constexpr std::size_t kUnreadShownBytes = 200;
// herdtrace --from reads no larger file (a day of lab runs is about 6 MB).
inline constexpr std::size_t kLargestTranscript = 64u << 20;

// Reads a transcript in any of the three encodings, with CR LF or LF line
// ends; a last line without its line end is read as far as it goes. Any
// bytes give a trace: what they hold of the programs' lines.
Trace ReadTranscript(std::string_view bytes);

}  // namespace herdtrace
