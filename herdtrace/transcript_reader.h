// Reading a console transcript of the course's launchers and their children:
// the encoding is recognised, the time-stamped lines are turned into lanes,
// phases and endings, and lines that fit nothing are kept for the report.
#pragma once

#include <string>
#include <string_view>

#include "trace_model.h"

namespace herdtrace {

enum class TextEncoding { kUtf8, kWindows1251, kCp866 };

// Valid UTF-8 is taken as UTF-8; other text as Windows-1251 or code page 866,
// whichever its bytes of Russian letters fit better.
TextEncoding GuessEncoding(std::string_view bytes);

// The text in UTF-8. Bytes the code page lacks become U+FFFD.
std::string ToUtf8(std::string_view bytes, TextEncoding encoding);

// Reads a transcript in any of the three encodings, with CR LF or LF line
// ends; a last line without its line end is read as far as it goes.
Trace ReadTranscript(std::string_view bytes);

}  // namespace herdtrace
