// herdtrace --trace: the whole run as a trace-event file (a JSON object
// with "traceEvents"), which Perfetto's viewer (ui.perfetto.dev) and
// chrome://tracing open. A track per child named as its lane, with its
// phases on one row and its states on another; a track per processor with
// whoever held it. Times in microseconds.
#pragma once

#include <string>

#include "trace_model.h"

namespace herdtrace {

std::string TraceEventJson(const Trace& trace);

// A string as a JSON string: quotes, backslashes and control characters
// escaped, bytes that are not UTF-8 replaced by U+FFFD (the names come from
// the transcript, which any program may print).
std::string JsonString(const std::string& text);

}  // namespace herdtrace
